#include "cmd/kav/frontend/OrvEventReportingService.h"

#include <cerrno>
#include <string>

#include "cmd/kav/channel/ChannelFailure.h"
#include "platform/event/DXAEvent.h"
#include "platform/framework/DoorPath.h"
#include "platform/event/EventDBEntry.h"
#include "platform/log/LogStatement.h"
#include "platform/sendevent/OrvEventFrame.h"
#include "platform/sendevent/OrvSendEvent.h"

using orv::journal::ChannelResult;

namespace {

constexpr const char* channel = "ORV event";
constexpr OrvEventFrame::Source thisDaemon = 24;

std::string sendFailure(int rc)
{
    if (rc == ETIMEDOUT)
        return "front-end did not answer in time";
    if (rc == ECANCELED)
        return "cut short by shutdown";
    return "front-end call failed, rc = " + std::to_string(rc);
}

// Frame priority for a severity, or -1 for a value outside the enumeration.
int framePriority(orv::EventSeverity severity)
{
    return orv::byGrade(severity, { 4, 2, 1, 0 });
}

// The get-failed pair, as the result of buildFrame.
int failed(const std::string& eventClass, const char* item, const char* object)
{
    reportGetFailed(eventClass, item, object, channel);
    return -1;
}

}

OrvEventReportingService::OrvEventReportingService()
    : m_skip(OrvSendEvent::peerTimeout())
{
}

ChannelResult OrvEventReportingService::reportOrvEvent(DXAEvent& event, const EventDBEntry* entry)
{
    std::string eventClass;
    if (event.getEventClass(eventClass) != 0) {
        reportClassUnreadable(channel);
        return ChannelResult::refused("getEventClass failed");
    }

    // The sender is created before the frame, so it is destroyed after it.
    OrvSendEvent sender(TEO_DOOR, 0, 0);
    OrvEventFrame frame;
    if (buildFrame(event, entry, eventClass, frame) != 0)
        return ChannelResult::refused("the event cannot make a frame");
    return send(eventClass, sender, frame);
}

int OrvEventReportingService::buildFrame(
    DXAEvent& event, const EventDBEntry* entry, const std::string& eventClass, OrvEventFrame& frame)
{
    frame.setEventSource(thisDaemon);
    frame.setEventCode(0);
    frame.setAsynchronous(true);

    long timestamp = 0;
    if (event.getEventTimestamp(timestamp) != 0)
        return failed(eventClass, "EventTimestamp", "DXAEvent");
    frame.setTimeStamp(timestamp);

    orv::EventSeverity severity {};
    if (entry->getEventSeverity(severity) != 0)
        return failed(eventClass, "EventSeverity", "EventDBEntry");
    int priority = framePriority(severity);
    if (priority < 0) {
        logStatement(4, LogDest::trace(), "EVENT-CLASS: %s; eventSeverity %d from %s invalid, %s reporting aborted.",
            eventClass, static_cast<int>(severity), "EventDBEntry", channel);
        logStatement(4, LogDest::platform(), KAV_FAILED_REPORTING_ATTEMPT, eventClass, channel);
        return -1;
    }
    frame.setPriorityLevel(priority);

    std::string text = eventClass + ":";
    std::string code;
    if (event.getEventCode(code) != 0)
        return failed(eventClass, "EventCode", "DXAEvent");
    text += code;
    text += ':';
    std::string csn;
    if (event.getEventSourcePlatformCSN(csn) != 0)
        return failed(eventClass, "SourcePlatformCSN", "DXAEvent");
    text += csn;

    frame.setEventText(text.c_str());
    return 0;
}

ChannelResult OrvEventReportingService::send(const std::string& eventClass, OrvSendEvent& sender, OrvEventFrame& frame)
{
    if (long left = m_skip.secondsLeft(); left > 0) {
        logStatement(4, LogDest::trace(),
            "EVENT-CLASS: %s; TEO skipped for %ld more seconds after a time-out, ORV event reporting aborted.",
            eventClass, left);
        logStatement(4, LogDest::platform(), KAV_FAILED_REPORTING_ATTEMPT, eventClass, channel);
        return ChannelResult::retryable("front-end skipped after a time-out");
    }
    const int rc = sender.sendIt(&frame, 1);
    if (rc == 0)
        return ChannelResult::delivered();
    if (rc == ETIMEDOUT)
        m_skip.timedOut();
    logStatement(4, LogDest::trace(), "Failure to send ORV event to TEO, rc = %d.", rc);
    if (rc == ECANCELED)
        logStatement(4, LogDest::trace(), "EVENT-CLASS: %s; ORV event report cut short by shutdown.", eventClass);
    logStatement(4, LogDest::platform(), KAV_FAILED_REPORTING_ATTEMPT, eventClass, channel);
    return ChannelResult::retryable(sendFailure(rc));
}
