// One event class's entry of the event database. Values are kept as written
// in the file, out-of-range numbers included; an absent key makes its
// accessor return ENOENT.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/event/EventTypes.h"

class DXAEvent;

class EventDBEntry {
public:
    struct Fields {
        bool viaMsg = false;
        bool viaOrvEvent = false;
        bool viaRemote = false;
        bool viaEmail = false;
        std::optional<long long> severity;
        std::optional<long long> priority;
        std::optional<long long> reportingType;
        std::optional<std::string> reportingSubtype;
        std::optional<long long> messageNumber;
        std::optional<std::vector<std::string>> args;
        long long holdDown = 0; // seconds; 0: off
    };

    explicit EventDBEntry(Fields fields);

    bool reportViaMsg();
    bool reportViaOrvEvent();
    bool reportViaRemote();
    bool reportViaEmail();
    // Seconds during which repeats of a reported fault are held back; 0: none.
    long long holdDownSeconds() const { return m_fields.holdDown; }

    int getZEQMessageNumber(unsigned& value) const;
    int getNumberOfZEQArgs(unsigned& value) const;
    // Fills the argument's {member} placeholders from `event`; fails for an
    // index beyond the arguments or a placeholder the event cannot fill.
    int getZEQArg(const unsigned index, DXAEvent& event, std::string& value) const;
    int getEventSeverity(orv::EventSeverity& value) const;
    int getEventPriority(orv::EventPriority& value) const;
    int getEventReportingType(orv::EventReportingType& value) const;
    int getEventReportingSubtype(std::string& value) const;

private:
    Fields m_fields;
};
