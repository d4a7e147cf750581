#include "platform/event/XdrReader.h"

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

uint64_t XdrReader::getU64()
{
    const uint64_t high = getU32();
    const uint64_t low = getU32();
    return (high << 32) | low;
}

int64_t XdrReader::getI64()
{
    return static_cast<int64_t>(getU64());
}

std::string XdrReader::getRaw(size_t count)
{
    require(count);
    std::string bytes(m_bytes + m_offset, count);
    m_offset += count;
    return bytes;
}

// Padding is refused unless zero: the bytes travel on as they arrived, and
// only zero padding lets a repacking give them back exactly.
void XdrReader::skipPadding(size_t length)
{
    const size_t padding = (4 - length % 4) % 4;
    require(padding);
    for (size_t i = 0; i < padding; ++i) {
        if (m_bytes[m_offset + i] != '\0')
            throw std::runtime_error("nonzero padding at byte " + std::to_string(m_offset + i));
    }
    m_offset += padding;
}

std::string XdrReader::getOpaque(size_t count)
{
    // Checked before anything is allocated: a lying length costs nothing.
    require(count + (4 - count % 4) % 4);
    std::string bytes = getRaw(count);
    skipPadding(count);
    return bytes;
}

std::string XdrReader::getString()
{
    return getOpaque(getU32());
}

std::string_view XdrReader::getStringView()
{
    const size_t count = getU32();
    require(count + (4 - count % 4) % 4);
    const std::string_view bytes(m_bytes + m_offset, count);
    m_offset += count;
    skipPadding(count);
    return bytes;
}

}
