// The message channel: the event's catalogued message to the platform log
// and to the log of every affected domain.
#pragma once

#include "cmd/kav/channel/ChannelResult.h"

class DXAEvent;
class EventDBEntry;

class MessageReportingService {
public:
    MessageReportingService() = default;
    virtual ~MessageReportingService() = default;

    // Refused when the entry or the event cannot make the message.
    orv::journal::ChannelResult reportEventMessage(DXAEvent& event, const EventDBEntry* entry);
};
