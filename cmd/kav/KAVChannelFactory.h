// How the manager creates the event database and its four channels. The
// daemon always uses standard(); tests substitute constructors that throw to
// drive the start-up failure paths.
#pragma once

#include <functional>
#include <memory>

class EventDB;
class MessageReportingService;
class OrvEventReportingService;
class RemoteReportingService;
class EmailReportingService;

struct KAVChannelFactory {
    std::function<std::unique_ptr<EventDB>()> eventDB;
    std::function<std::unique_ptr<MessageReportingService>()> message;
    std::function<std::unique_ptr<OrvEventReportingService>()> orvEvent;
    std::function<std::unique_ptr<RemoteReportingService>()> remote;
    std::function<std::unique_ptr<EmailReportingService>()> email;

    static KAVChannelFactory standard();
};
