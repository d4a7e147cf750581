#include "cmd/kav/KAVManager.h"

#include <exception>
#include <new>

#include "cmd/kav/ChannelOutcome.h"
#include "cmd/kav/channel/ChannelFailure.h"
#include "platform/event/DXAEvent.h"
#include "cmd/kav/email/EmailReportingService.h"
#include "platform/event/EventDB.h"
#include "platform/event/EventDBEntry.h"
#include "platform/log/LogStatement.h"
#include "cmd/kav/message/MessageReportingService.h"
#include "cmd/kav/frontend/OrvEventReportingService.h"
#include "cmd/kav/remote/RemoteReportingService.h"

using orv::event::SkippedEventDBEntry;

namespace {

constexpr unsigned reportEventMethod = 0;
constexpr unsigned testEmailMethod = 1;

// Creates one channel; a constructor that throws leaves the channel off.
template <typename Channel>
void createChannel(const std::function<std::unique_ptr<Channel>()>& create, std::unique_ptr<Channel>& channel,
    bool& enabled, const char* className, const char* word)
{
    logStatement(2, LogDest::trace(), "KAV init: Creating %s object.", className);
    try {
        channel = create();
    } catch (...) {
        channel.reset();
    }
    if (channel)
        return;
    enabled = false;
    logStatement(4, LogDest::trace(), KAV_INIT_CHANNEL_FAILED, word, word);
    logStatement(4, LogDest::platform(), KAV_INIT_CHANNEL_FAILED, word, word);
}

// Deletes one channel at shutdown, in the order the shutdown lines promise;
// a channel that is off was never made.
template <typename Channel> void deleteChannel(std::unique_ptr<Channel>& channel, bool enabled, const char* className)
{
    if (!enabled)
        return;
    logStatement(2, LogDest::trace(), "KAV shutdown: Deleting %s object.", className);
    channel.reset();
}

// Hands the event to one channel if the entry asks for it, saying whether it
// went, and counts how the channel fared.
template <typename Report>
void offer(bool wanted, bool enabled, const std::string& eventClass, const char* word, Report report, KAVStats& stats,
    KAVStats::Channel channel)
{
    if (!wanted)
        return;
    if (!enabled) {
        logStatement(2, LogDest::trace(), "EVENT-CLASS: %s not sent to %s reporting because %s reporting disabled.",
            eventClass, word, word);
        return;
    }
    logStatement(2, LogDest::trace(), "EVENT-CLASS: %s sent to %s reporting service.", eventClass, word);
    ChannelOutcome outcome;
    report();
    outcome.countIn(stats, channel);
}

// Errors about the door call itself name both their logs: a door thread's
// last selection may be the domain log of the event it reported before.
void eventObjectFailed()
{
    logStatement(4, LogDest::platform(), KAV_OBJ_INSTANT_FAILED, "DXAEvent");
    logStatement(4, LogDest::trace(), KAV_OBJ_INSTANT_FAILED, "DXAEvent");
}

// Whatever the factory throws: a file problem carries the path and the
// parser's reason, which an operator needs to mend the file.
std::unique_ptr<EventDB> createEventDB(const KAVChannelFactory& factory)
{
    try {
        return factory.eventDB();
    } catch (const std::exception& e) {
        logStatement(4, LogDest::trace(), "KAV init: %s", e.what());
    } catch (...) {
    }
    return nullptr;
}

void logSkippedEntries(const EventDB& eventDB)
{
    for (const SkippedEventDBEntry& skipped : eventDB.skippedEntries()) {
        logStatement(4, LogDest::trace(), "EVENT-CLASS: %s; event database entry skipped: %s.", skipped.eventClass,
            skipped.reason);
        logStatement(4, LogDest::platform(), KAV_EVENTDB_BAD_ENTRY, skipped.eventClass, skipped.reason);
    }
}

}

KAVManager::KAVManager()
    : KAVManager(KAVChannelFactory::standard())
{
}

KAVManager::KAVManager(const KAVChannelFactory& factory)
    : DoorService(true)
{
    logStatement(2, LogDest::trace(), "KAV init: Initialization start.");
    logStatement(2, LogDest::trace(), "KAV init: Creating EventDB object.");
    eventDB = createEventDB(factory);
    if (!eventDB) {
        messageReportingEnabled = orvEventReportingEnabled = remoteReportingEnabled = emailReportingEnabled = false;
        logStatement(4, LogDest::trace(), KAV_INIT_EVENTDB_FAILED);
        logStatement(4, LogDest::platform(), KAV_INIT_EVENTDB_FAILED);
        logStatement(2, LogDest::trace(), "KAV init: Initialization complete.");
        return;
    }
    logSkippedEntries(*eventDB);
    createChannel(
        factory.message, messageReportingService, messageReportingEnabled, "MessageReportingService", "message");
    createChannel(
        factory.orvEvent, orvEventReportingService, orvEventReportingEnabled, "OrvEventReportingService", "ORV event");
    createChannel(factory.remote, remoteReportingService, remoteReportingEnabled, "RemoteReportingService", "remote");
    createChannel(factory.email, emailReportingService, emailReportingEnabled, "EmailReportingService", "email");
    logStatement(2, LogDest::trace(), "KAV init: Initialization complete.");
}

KAVManager::~KAVManager()
{
    logStatement(2, LogDest::trace(), "KAV shutdown: Shutdown start.");
    logStatement(2, LogDest::trace(), "KAV shutdown: Deleting EventDB object.");
    eventDB.reset();
    deleteChannel(messageReportingService, messageReportingEnabled, "MessageReportingService");
    deleteChannel(orvEventReportingService, orvEventReportingEnabled, "OrvEventReportingService");
    deleteChannel(remoteReportingService, remoteReportingEnabled, "RemoteReportingService");
    deleteChannel(emailReportingService, emailReportingEnabled, "EmailReportingService");
    logStatement(2, LogDest::trace(), "KAV shutdown: Shutdown complete.");
}

void KAVManager::methodDispatch()
{
    unsigned methodId = getMethodID();
    logStatement(0, LogDest::trace(), "In methodDispatch(), methodID = %d", static_cast<int>(methodId));
    if (methodId != reportEventMethod && methodId != testEmailMethod) {
        logStatement(3, LogDest::trace(), UNRECOGNIZED_METHOD_ID, methodId);
        logStatement(3, LogDest::platform(), UNRECOGNIZED_METHOD_ID, methodId);
        return;
    }
    dispatchEvent(methodId);
    doorReturn();
}

void KAVManager::dispatchEvent(unsigned methodId)
{
    // The event takes the received bytes over: a parameter near the door's
    // size bound would otherwise be held two or three times at once.
    std::vector<char> bytes;
    takeParam(bytes);
    std::unique_ptr<DXAEvent> event;
    try {
        event = std::make_unique<DXAEvent>(std::move(bytes));
    } catch (...) {
        m_stats->badEvent();
        eventObjectFailed();
        return;
    }
    try {
        if (methodId == reportEventMethod)
            reportEvent(*event);
        else
            testEmailReporting(*event);
    } catch (...) {
        eventObjectFailed();
    }
}

int KAVManager::receiveEvent(DXAEvent& event, EventDBEntry*& entry, std::string& eventClass)
{
    m_stats->eventReceived();
    if (event.getEventClass(eventClass) != 0) {
        reportClassUnreadable(nullptr);
        return -1;
    }
    logStatement(2, LogDest::trace(), "EVENT-CLASS: %s; received for event reporting.", eventClass);
    // Without a database (it failed to load) every class counts as unknown.
    if (eventDB && eventDB->lookupEventDBEntry(event, entry) == 0)
        return 0;
    m_stats->unknownClass();
    logStatement(4, LogDest::trace(), KAV_UNKNOWN_EVENT_CLASS, eventClass);
    logStatement(4, LogDest::platform(), KAV_UNKNOWN_EVENT_CLASS, eventClass);
    return -1;
}

void KAVManager::reportEvent(DXAEvent& event)
{
    EventDBEntry* entry = nullptr;
    std::string eventClass;
    if (receiveEvent(event, entry, eventClass) != 0)
        return;
    offer(
        entry->reportViaMsg(), messageReportingEnabled, eventClass, "message",
        [&] { messageReportingService->reportEventMessage(event, entry); }, *m_stats, KAVStats::Message);
    offer(
        entry->reportViaOrvEvent(), orvEventReportingEnabled, eventClass, "ORV event",
        [&] { orvEventReportingService->reportOrvEvent(event, entry); }, *m_stats, KAVStats::OrvEvent);
    offer(
        entry->reportViaRemote(), remoteReportingEnabled, eventClass, "remote",
        [&] { remoteReportingService->reportRemoteEvent(event, entry); }, *m_stats, KAVStats::Remote);
    offer(
        entry->reportViaEmail(), emailReportingEnabled, eventClass, "email",
        [&] { emailReportingService->reportEmail(event, entry); }, *m_stats, KAVStats::Email);
}

void KAVManager::testEmailReporting(DXAEvent& event)
{
    EventDBEntry* entry = nullptr;
    std::string eventClass;
    if (receiveEvent(event, entry, eventClass) != 0)
        return;
    if (!entry->reportViaEmail()) {
        logStatement(4, LogDest::trace(), KAV_INVALID_EMAIL_ATTEMPT, eventClass);
        logStatement(4, LogDest::platform(), KAV_INVALID_EMAIL_ATTEMPT, eventClass);
        return;
    }
    logStatement(2, LogDest::trace(), KAV_TEST_MSG, eventClass);
    logStatement(2, LogDest::platform(), KAV_TEST_MSG, eventClass);
    offer(
        true, emailReportingEnabled, eventClass, "email", [&] { emailReportingService->reportEmail(event, entry); },
        *m_stats, KAVStats::Email);
}
