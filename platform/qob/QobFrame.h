// Framing of the proxy socket protocol: every message is a 4-byte big-endian
// byte count followed by that many bytes of JSON text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orv::qob {

// Larger frames are refused: a corrupt or hostile length must not make the
// reader allocate without bound.
inline constexpr size_t maxFrameBytes = 64 * 1024 * 1024;

std::string encodeFrame(std::string_view payload);
// The four bytes that go before a payload of `length` bytes.
std::string frameHeader(size_t length);

// The byte count announced by a frame's first four bytes.
size_t frameLength(const unsigned char* header);

// Blocking helpers for one descriptor. Both return false on end of stream,
// a time-out, an oversized frame or any other error; the stream is then out
// of step and must not be used again.
bool writeFrame(int fd, std::string_view payload);
bool readFrame(int fd, std::string& payload);

}
