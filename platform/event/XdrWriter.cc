#include "platform/event/XdrWriter.h"

#include <stdexcept>

namespace orv::event {

void XdrWriter::putRaw(std::string_view bytes)
{
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
}

void XdrWriter::putU32(uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        m_bytes.push_back(static_cast<char>((value >> shift) & 0xff));
}

void XdrWriter::putU64(uint64_t value)
{
    putU32(static_cast<uint32_t>(value >> 32));
    putU32(static_cast<uint32_t>(value));
}

void XdrWriter::putI64(int64_t value)
{
    putU64(static_cast<uint64_t>(value));
}

void XdrWriter::putString(std::string_view text)
{
    if (text.size() > UINT32_MAX)
        throw std::length_error("text too long for the packed form");
    putU32(static_cast<uint32_t>(text.size()));
    putOpaque(text);
}

void XdrWriter::putOpaque(std::string_view bytes)
{
    putRaw(bytes);
    m_bytes.resize(m_bytes.size() + (4 - bytes.size() % 4) % 4, '\0');
}

void XdrWriter::patchU32(size_t offset, uint32_t value)
{
    if (offset + 4 > m_bytes.size())
        throw std::out_of_range("patch beyond the written bytes");
    for (int i = 0; i < 4; ++i)
        m_bytes[offset + i] = static_cast<char>((value >> (24 - 8 * i)) & 0xff);
}

}
