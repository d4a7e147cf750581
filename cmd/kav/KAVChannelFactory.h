// How the manager creates the event database and its four channels. The
// daemon always uses standard(); tests substitute constructors that throw to
// drive the start-up failure paths.
#pragma once

#include <functional>

class EventDB;
class MessageReportingService;
class OrvEventReportingService;
class RemoteReportingService;
class EmailReportingService;

struct KAVChannelFactory {
    std::function<EventDB*()> eventDB;
    std::function<MessageReportingService*()> message;
    std::function<OrvEventReportingService*()> orvEvent;
    std::function<RemoteReportingService*()> remote;
    std::function<EmailReportingService*()> email;

    static KAVChannelFactory standard();
};
