// Collects bytes that arrive in arbitrary pieces and hands out the complete
// frames among them (see QobFrame.h), for readers that must not block.
#pragma once

#include <cstddef>
#include <string>

namespace orv::qob {

class FrameDecoder {
public:
    void append(const char* data, size_t length);

    // Moves the next complete frame's payload into `payload`; false when no
    // complete frame is buffered yet or the stream announced an oversized frame.
    bool next(std::string& payload);

    // True once an oversized frame was announced; the stream cannot be resynchronised.
    bool failed() const { return m_failed; }

private:
    std::string m_buffer;
    bool m_failed = false;
};

}
