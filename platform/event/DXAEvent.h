// One event record, built from the packed (XDR name/value list) bytes of a door call.
//
// Every accessor returns 0 on success; a member the event does not carry
// (or carries with another type) yields ENOENT and leaves the output alone.
#pragma once

#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class DXAEvent {
public:
    // Decodes a copy of `bytes`; throws std::runtime_error on malformed input.
    DXAEvent(char* bytes, unsigned length);
    // Decodes `bytes`, taking them over instead of copying them.
    explicit DXAEvent(std::vector<char>&& bytes);
    ~DXAEvent();

    DXAEvent(const DXAEvent&) = delete;
    DXAEvent& operator=(const DXAEvent&) = delete;

    int getEventClass(std::string& value) const;
    int getEventCode(std::string& value) const;
    int getEventType(std::string& value) const;
    int getEventTimestamp(long& value) const;
    // The time as text: "YYYY-MM-DD HH:MM:SS UTC".
    int getEventTimestamp(std::string& value) const;
    int getDiagEngName(std::string& value) const;
    int getDiagEngVersion(std::string& value) const;
    int getDomainsAffected(std::string& value) const;
    int getEventSourcePlatformCSN(std::string& value) const;
    int getEventSourcePlatformModel(std::string& value) const;
    // The packed bytes the event was built from; they stay owned by the event.
    int getPackedEventPayload(char** payload, unsigned& length) const;
    int getEventClasses(std::list<std::string>& value) const;
    int getEventIndictment(std::list<std::string>& value) const;
    // The same lists without copying them: the views stay valid as long as
    // the event (an indictment item may be megabytes long).
    int viewEventClasses(std::vector<std::string_view>& value) const;
    int viewEventIndictment(std::vector<std::string_view>& value) const;

private:
    struct Members;
    std::unique_ptr<Members> m_members;
};
