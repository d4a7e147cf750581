// The message channel: the event's catalogued message to the platform log
// and to the log of every affected domain.
#pragma once

class DXAEvent;
class EventDBEntry;

class MessageReportingService {
public:
    MessageReportingService() = default;
    virtual ~MessageReportingService() = default;

    void reportEventMessage(DXAEvent& event, const EventDBEntry* entry);
};
