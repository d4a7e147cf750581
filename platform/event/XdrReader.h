// Reads big-endian XDR items from a byte range it does not own. Every read
// checks the remaining bytes first, so a short or lying input throws
// std::runtime_error instead of reading past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orv::event {

class XdrReader {
public:
    XdrReader(const char* bytes, size_t length)
        : m_bytes(bytes)
        , m_length(length)
    {
    }

    uint32_t getU32();
    uint64_t getU64();
    int64_t getI64();
    // A counted string; its padding must be zero bytes.
    std::string getString();
    // The same without copying: a view of the reader's bytes.
    std::string_view getStringView();
    // `count` bytes without a length word, then zero padding.
    std::string getOpaque(size_t count);
    // Raw bytes, no length word and no padding.
    std::string getRaw(size_t count);

    size_t offset() const { return m_offset; }
    size_t remaining() const { return m_length - m_offset; }

private:
    void require(size_t count) const;
    void skipPadding(size_t length);

    const char* m_bytes;
    size_t m_length;
    size_t m_offset = 0;
};

}
