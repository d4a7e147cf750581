#include "cmd/kav/message/MessageReportingService.h"

#include <string>
#include <utility>

#include "cmd/kav/channel/ChannelFailure.h"
#include "cmd/kav/channel/ChannelResult.h"
#include "platform/event/DXAEvent.h"
#include "platform/event/EventDBEntry.h"
#include "platform/log/LogStatement.h"
#include "platform/log/LogWatch.h"

using orv::journal::cannotRead;
using orv::journal::ChannelResult;

namespace {

constexpr unsigned maxArgs = 20;
constexpr const char* channel = "message";
constexpr const char* domainChannel = "domain message";

using Args = std::string[maxArgs];

// Log level of the event message, or -1 for a severity outside the enumeration.
int levelOf(orv::EventSeverity severity)
{
    return orv::byGrade(severity, { 2, 3, 4, 5 });
}

// The event message always goes out with exactly twenty text arguments.
// Whatever its level, it is the report itself, not a failure of it. Empty,
// or the file that did not take it and why.
std::string writeEventMessage(int level, LogDest dest, unsigned number, const Args& a)
{
    const orv::log::LogWatch::EventOutput report;
    logStatement(level, dest, EventMessageNumber { static_cast<int>(number) }, a[0], a[1], a[2], a[3], a[4], a[5], a[6],
        a[7], a[8], a[9], a[10], a[11], a[12], a[13], a[14], a[15], a[16], a[17], a[18], a[19]);
    return report.notWritten();
}

}

orv::journal::ChannelResult MessageReportingService::reportEventMessage(DXAEvent& event, const EventDBEntry* entry)
{
    std::string eventClass;
    if (event.getEventClass(eventClass) != 0) {
        reportClassUnreadable(channel);
        return ChannelResult::refused("getEventClass failed");
    }

    unsigned number = 0;
    if (entry->getZEQMessageNumber(number) != 0)
        return cannotRead(eventClass, "ZEQMessageNumber", "EventDBEntry", channel);

    unsigned count = 0;
    if (entry->getNumberOfZEQArgs(count) != 0)
        return cannotRead(eventClass, "NumberOfZEQArgs", "EventDBEntry", channel);

    if (count > maxArgs) {
        logStatement(4, LogDest::trace(), KAV_FAILED_REPORTING_ATTEMPT, eventClass, channel);
        logStatement(4, LogDest::trace(),
            "EventDBEntry calls for > 20 zeqArgs, MessageReportingService needs patch to support this.");
        logStatement(4, LogDest::platform(), KAV_FAILED_REPORTING_ATTEMPT, eventClass, channel);
        return ChannelResult::refused("more than 20 message arguments");
    }

    Args messageArgs;
    for (unsigned index = 0; index < count; ++index) {
        if (entry->getZEQArg(index, event, messageArgs[index]) != 0)
            return cannotRead(eventClass, "ZEQArg", "EventDBEntry", channel);
    }

    orv::EventSeverity severity {};
    if (entry->getEventSeverity(severity) != 0)
        return cannotRead(eventClass, "EventSeverity", "EventDBEntry", channel);

    setPlatformType();
    int level = levelOf(severity);
    if (level < 0) {
        logStatement(4, LogDest::trace(), "EVENT-CLASS: %s; eventSeverity %i from %s invalid, %s reporting aborted.",
            eventClass, static_cast<int>(severity), "EventDBEntry", channel);
        logStatement(4, LogDest::platform(), KAV_FAILED_REPORTING_ATTEMPT, eventClass, channel);
        return ChannelResult::refused("invalid severity");
    }

    // A message a log did not take is a report lost: the channel failed.
    std::string notWritten = writeEventMessage(level, LogDest::platform(), number, messageArgs);

    std::string domains;
    if (event.getDomainsAffected(domains) != 0)
        return cannotRead(eventClass, "affectedDomains", "DXAEvent", domainChannel);

    for (char letter : domains) {
        if (letter < 'A' || letter > 'R') {
            logStatement(4, LogDest::trace(),
                "EVENT-CLASS: %s; invalid affectedDomain (%c) from event, domain message reporting aborted.",
                eventClass, static_cast<int>(static_cast<unsigned char>(letter)));
            logStatement(4, LogDest::platform(), KAV_FAILED_REPORTING_ATTEMPT, eventClass, domainChannel);
            return ChannelResult::refused("invalid affected domain");
        }
        std::string lost = writeEventMessage(level, LogDest::domain(letter - 'A'), number, messageArgs);
        if (notWritten.empty())
            notWritten = std::move(lost);
    }
    if (!notWritten.empty())
        return ChannelResult::refused("event message not written to " + notWritten);
    return ChannelResult::delivered();
}
