#include "platform/sendevent/OrvEventFrame.h"

#include <nlohmann/json.hpp>

#include "platform/text/JsonText.h"

int OrvEventFrame::setEventSource(Source source)
{
    m_source = source;
    return 0;
}

int OrvEventFrame::setEventCode(int code)
{
    m_code = code;
    return 0;
}

int OrvEventFrame::setAsynchronous(bool asynchronous)
{
    m_asynchronous = asynchronous;
    return 0;
}

int OrvEventFrame::setTimeStamp(long timestamp)
{
    m_timestamp = timestamp;
    return 0;
}

int OrvEventFrame::setPriorityLevel(Priority priority)
{
    m_priority = priority;
    return 0;
}

int OrvEventFrame::setEventText(const char* text)
{
    m_text = text ? text : "";
    return 0;
}

std::vector<char> OrvEventFrame::encode() const
{
    std::string text;
    {
        // Gone before the bytes are copied out: a large event's text is
        // then held twice at most, not three times.
        const nlohmann::json frame = {
            { "source", m_source },
            { "eventCode", m_code },
            { "asynchronous", m_asynchronous },
            { "timestamp", m_timestamp },
            { "priority", m_priority },
            // Event texts come from other programs and may hold any byte but
            // NUL: one that is not UTF-8 travels as base64, never altered.
            { "text", orv::text::toJsonText(m_text) },
        };
        text = frame.dump();
    }
    return { text.begin(), text.end() };
}

OrvEventFrame OrvEventFrame::decode(const char* bytes, size_t length)
{
    auto frame = nlohmann::json::parse(bytes, bytes + length);
    OrvEventFrame result;
    result.m_source = frame.at("source").get<int>();
    result.m_code = frame.at("eventCode").get<int>();
    result.m_asynchronous = frame.at("asynchronous").get<bool>();
    result.m_timestamp = frame.at("timestamp").get<long>();
    result.m_priority = frame.at("priority").get<int>();
    result.m_text = orv::text::fromJsonText(frame.at("text"));
    return result;
}
