// Appends big-endian XDR items (32-bit words, 64-bit integers, counted
// strings padded to a multiple of four bytes) to a growing byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace orv::event {

class XdrWriter {
public:
    void putRaw(std::string_view bytes);
    void putU32(uint32_t value);
    void putU64(uint64_t value);
    void putI64(int64_t value);
    // Length word, the bytes, then zero padding to the next word boundary.
    void putString(std::string_view text);
    // The bytes and zero padding, without a length word.
    void putOpaque(std::string_view bytes);

    size_t size() const { return m_bytes.size(); }
    // Overwrites a word written earlier, for sizes only known afterwards.
    void patchU32(size_t offset, uint32_t value);

    std::vector<char> take() { return std::move(m_bytes); }

private:
    std::vector<char> m_bytes;
};

}
