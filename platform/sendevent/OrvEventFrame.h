// One suite event frame as the front-end daemon receives it.
#pragma once

#include <string>
#include <vector>

class OrvEventFrame {
public:
    using Source = int;
    using Priority = int;

    int setEventSource(Source source);
    int setEventCode(int code);
    int setAsynchronous(bool asynchronous);
    int setTimeStamp(long timestamp);
    int setPriorityLevel(Priority priority);
    int setEventText(const char* text);

    Source eventSource() const { return m_source; }
    int eventCode() const { return m_code; }
    bool asynchronous() const { return m_asynchronous; }
    long timeStamp() const { return m_timestamp; }
    Priority priorityLevel() const { return m_priority; }
    const std::string& eventText() const { return m_text; }

    // The frame's wire form (a JSON object whose text is a JSON string when
    // it is UTF-8 and {"base64": ...} otherwise) and back; decode throws on
    // bad input.
    std::vector<char> encode() const;
    static OrvEventFrame decode(const char* bytes, size_t length);

private:
    Source m_source = 0;
    int m_code = 0;
    bool m_asynchronous = false;
    long m_timestamp = 0;
    Priority m_priority = 0;
    std::string m_text;
};
