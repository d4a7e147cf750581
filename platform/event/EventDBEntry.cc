#include "platform/event/EventDBEntry.h"

#include <cerrno>
#include <climits>
#include <utility>

#include "platform/event/ZEQArgTemplate.h"

namespace {

// Out-of-range values are handed on as written; only a value the int-sized
// enumeration cannot hold at all is refused.
template <class Enum> int toEnum(const std::optional<long long>& field, Enum& value)
{
    if (!field)
        return ENOENT;
    if (!std::in_range<int>(*field))
        return ERANGE;
    value = static_cast<Enum>(*field);
    return 0;
}

}

EventDBEntry::EventDBEntry(Fields fields)
    : m_fields(std::move(fields))
{
}

bool EventDBEntry::reportViaMsg()
{
    return m_fields.viaMsg;
}

bool EventDBEntry::reportViaOrvEvent()
{
    return m_fields.viaOrvEvent;
}

bool EventDBEntry::reportViaRemote()
{
    return m_fields.viaRemote;
}

bool EventDBEntry::reportViaEmail()
{
    return m_fields.viaEmail;
}

int EventDBEntry::getZEQMessageNumber(unsigned& value) const
{
    if (!m_fields.messageNumber)
        return ENOENT;
    // The number becomes a log message identifier: 0 would make the first
    // argument, which carries event data, a printf format, and numbers
    // below 1000 name the library's own messages.
    if (*m_fields.messageNumber < 1000 || *m_fields.messageNumber > INT_MAX)
        return ERANGE;
    value = static_cast<unsigned>(*m_fields.messageNumber);
    return 0;
}

int EventDBEntry::getNumberOfZEQArgs(unsigned& value) const
{
    if (!m_fields.args)
        return ENOENT;
    if (!std::in_range<unsigned>(m_fields.args->size()))
        return ERANGE;
    value = static_cast<unsigned>(m_fields.args->size());
    return 0;
}

int EventDBEntry::getZEQArg(const unsigned index, DXAEvent& event, std::string& value) const
{
    if (!m_fields.args)
        return ENOENT;
    if (index >= m_fields.args->size())
        return EINVAL;
    return orv::event::ZEQArgTemplate::fill((*m_fields.args)[index], event, value);
}

int EventDBEntry::getEventSeverity(orv::EventSeverity& value) const
{
    return toEnum(m_fields.severity, value);
}

int EventDBEntry::getEventPriority(orv::EventPriority& value) const
{
    return toEnum(m_fields.priority, value);
}

int EventDBEntry::getEventReportingType(orv::EventReportingType& value) const
{
    return toEnum(m_fields.reportingType, value);
}

int EventDBEntry::getEventReportingSubtype(std::string& value) const
{
    if (!m_fields.reportingSubtype)
        return ENOENT;
    value = *m_fields.reportingSubtype;
    return 0;
}
