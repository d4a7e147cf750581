#include "platform/qob/FrameDecoder.h"

#include "platform/qob/QobFrame.h"

namespace orv::qob {

void FrameDecoder::append(const char* data, size_t length)
{
    if (!m_failed)
        m_buffer.append(data, length);
}

bool FrameDecoder::next(std::string& payload)
{
    if (m_failed || m_buffer.size() < 4)
        return false;
    size_t length = frameLength(reinterpret_cast<const unsigned char*>(m_buffer.data()));
    if (length > maxFrameBytes) {
        m_failed = true;
        m_buffer.clear();
        return false;
    }
    if (m_buffer.size() < 4 + length)
        return false;
    payload.assign(m_buffer, 4, length);
    m_buffer.erase(0, 4 + length);
    return true;
}

}
