#include "platform/event/DXAEvent.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <utility>

#include "platform/event/EventCodec.h"

namespace key = orv::event::key;

// Long texts of the members stay in the payload (unpackSharing): a text
// read from them goes through sharedText.
struct DXAEvent::Members {
    std::vector<char> payload;
    std::vector<orv::event::Member> members;

    std::string_view shared(const std::string& text) const { return orv::event::sharedText(text, payload.data()); }

    // The value of the named member if the event carries it with type T.
    // Found by name and type: a list whose names are unique per type may
    // carry the name again with another type.
    template <class T> const T* find(const char* name) const
    {
        for (const orv::event::Member& member : members) {
            const T* value = std::get_if<T>(&member.value);
            if (value && member.name == name)
                return value;
        }
        return nullptr;
    }

    int text(const char* name, std::string& value) const
    {
        const std::string* found = find<std::string>(name);
        if (!found)
            return ENOENT;
        value = shared(*found);
        return 0;
    }

    // A text list into `value` (texts copied out, or views of them).
    template <class List> int texts(const char* name, List& value) const
    {
        const std::vector<std::string>* found = find<std::vector<std::string>>(name);
        if (!found)
            return ENOENT;
        value.clear();
        for (const std::string& item : *found)
            value.emplace_back(shared(item));
        return 0;
    }
};

DXAEvent::DXAEvent(char* bytes, unsigned length)
    : m_members(std::make_unique<Members>())
{
    if (!bytes && length != 0)
        throw std::runtime_error("packed event without bytes");
    // Our own copy: the caller's buffer is released before the channels
    // that forward the payload are done with the event.
    if (length != 0)
        m_members->payload.assign(bytes, bytes + length);
    m_members->members = orv::event::unpackSharing(m_members->payload.data(), m_members->payload.size());
}

DXAEvent::DXAEvent(std::vector<char>&& bytes)
    : m_members(std::make_unique<Members>())
{
    m_members->payload = std::move(bytes);
    m_members->members = orv::event::unpackSharing(m_members->payload.data(), m_members->payload.size());
}

DXAEvent::~DXAEvent() = default;

int DXAEvent::getEventClass(std::string& value) const
{
    return m_members->text(key::eventClass, value);
}

int DXAEvent::getEventCode(std::string& value) const
{
    return m_members->text(key::code, value);
}

int DXAEvent::getEventType(std::string& value) const
{
    return m_members->text(key::type, value);
}

int DXAEvent::getEventTimestamp(long& value) const
{
    const int64_t* found = m_members->find<int64_t>(key::timestamp);
    if (!found)
        return ENOENT;
    if (!std::in_range<long>(*found))
        return EINVAL;
    value = static_cast<long>(*found);
    return 0;
}

int DXAEvent::getEventTimestamp(std::string& value) const
{
    const int64_t* found = m_members->find<int64_t>(key::timestamp);
    if (!found)
        return ENOENT;
    if (!std::in_range<time_t>(*found))
        return EINVAL;
    const time_t seconds = static_cast<time_t>(*found);
    tm parts {};
    if (!gmtime_r(&seconds, &parts))
        return EINVAL;
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d:%02d UTC",
        static_cast<long long>(parts.tm_year) + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
        parts.tm_sec);
    value = text;
    return 0;
}

int DXAEvent::getDiagEngName(std::string& value) const
{
    return m_members->text(key::diagEngName, value);
}

int DXAEvent::getDiagEngVersion(std::string& value) const
{
    return m_members->text(key::diagEngVersion, value);
}

int DXAEvent::getDomainsAffected(std::string& value) const
{
    return m_members->text(key::domainsAffected, value);
}

int DXAEvent::getEventSourcePlatformCSN(std::string& value) const
{
    return m_members->text(key::platformCSN, value);
}

int DXAEvent::getEventSourcePlatformModel(std::string& value) const
{
    return m_members->text(key::platformModel, value);
}

int DXAEvent::getPackedEventPayload(char** payload, unsigned& length) const
{
    if (!payload)
        return EINVAL;
    *payload = m_members->payload.data();
    length = static_cast<unsigned>(m_members->payload.size());
    return 0;
}

int DXAEvent::getEventClasses(std::list<std::string>& value) const
{
    return m_members->texts(key::classes, value);
}

int DXAEvent::getEventIndictment(std::list<std::string>& value) const
{
    return m_members->texts(key::indictment, value);
}

int DXAEvent::viewEventClasses(std::vector<std::string_view>& value) const
{
    return m_members->texts(key::classes, value);
}

int DXAEvent::viewEventIndictment(std::vector<std::string_view>& value) const
{
    return m_members->texts(key::indictment, value);
}
