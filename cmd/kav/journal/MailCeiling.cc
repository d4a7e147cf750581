#include "cmd/kav/journal/MailCeiling.h"

namespace orv::journal {

MailCeiling::MailCeiling(int perMinute)
    : m_spacing(perMinute > 0 ? (60'000 + perMinute - 1) / perMinute : 0)
{
}

bool MailCeiling::take(Millis now)
{
    if (!on())
        return true;
    // A clock set back holds mail up by one spacing at the most.
    if (m_next > now + m_spacing)
        m_next = now + m_spacing;
    if (now < m_next)
        return false;
    m_next = now + m_spacing;
    return true;
}

}
