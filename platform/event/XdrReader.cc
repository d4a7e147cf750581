#include "XdrReader.h"

#include <stdexcept>

namespace orv::event {

void XdrReader::require(size_t count) const
{
    if (count > remaining())
        throw std::runtime_error("packed event truncated at byte " + std::to_string(m_offset));
}

uint32_t XdrReader::getU32()
{
    require(4);
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<unsigned char>(m_bytes[m_offset + i]);
    m_offset += 4;
    return value;
}

int64_t XdrReader::getI64()
{
    const uint64_t high = getU32();
    const uint64_t low = getU32();
    return static_cast<int64_t>((high << 32) | low);
}

std::string XdrReader::getRaw(size_t count)
{
    require(count);
    std::string bytes(m_bytes + m_offset, count);
    m_offset += count;
    return bytes;
}

std::string XdrReader::getString()
{
    const size_t length = getU32();
    const size_t padded = length + (4 - length % 4) % 4;
    // Checked before anything is allocated: a lying length costs nothing.
    require(padded);
    std::string text = getRaw(length);
    m_offset += padded - length;
    return text;
}

}
