#include "cmd/kav/KAVManager.h"

#include <cstdlib>
#include <exception>
#include <sstream>
#include <new>

#include "cmd/kav/ChannelOutcome.h"
#include "cmd/kav/HoldDowns.h"
#include "cmd/kav/channel/ChannelFailure.h"
#include "cmd/kav/journal/Forwarder.h"
#include "cmd/kav/journal/Journal.h"
#include "platform/event/DXAEvent.h"
#include "cmd/kav/email/EmailReportingService.h"
#include "platform/event/EventDB.h"
#include "platform/event/EventDBEntry.h"
#include "platform/log/LogStatement.h"
#include "cmd/kav/message/MessageReportingService.h"
#include "cmd/kav/frontend/OrvEventReportingService.h"
#include "cmd/kav/remote/RemoteReportingService.h"

using orv::event::SkippedEventDBEntry;
using orv::journal::ChannelResult;

namespace {

constexpr unsigned reportEventMethod = 0;
constexpr unsigned testEmailMethod = 1;
// With a journal only: the operator's retry and drop of pending deliveries.
constexpr unsigned retryMethod = 20;
constexpr unsigned dropMethod = 21;

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

// Whether the event goes to the channel: asked for and on (a channel that
// is off says so).
bool asks(bool wanted, bool enabled, const std::string& eventClass, const char* word)
{
    if (wanted && !enabled)
        logStatement(2, LogDest::trace(), "EVENT-CLASS: %s not sent to %s reporting because %s reporting disabled.",
            eventClass, word, word);
    return wanted && enabled;
}

// Hands the event to one channel if the entry asks for it, saying whether it
// went, and counts how the channel fared; how it ended.
template <typename Report>
ChannelResult offer(bool wanted, bool enabled, const std::string& eventClass, const char* word, Report report,
    KAVStats& stats, KAVStats::Channel channel)
{
    if (!asks(wanted, enabled, eventClass, word))
        return wanted ? ChannelResult::refused(std::string(word) + " reporting disabled") : ChannelResult::notAsked();
    logStatement(2, LogDest::trace(), "EVENT-CLASS: %s sent to %s reporting service.", eventClass, word);
    ChannelOutcome outcome;
    ChannelResult result = report();
    outcome.channelEnded(result);
    outcome.countIn(stats, channel);
    return result;
}

ChannelResult reportEmail(EmailReportingService& email, DXAEvent& event, const EventDBEntry* entry)
{
    ChannelResult result = ChannelResult::delivered();
    email.reportEmail(event, entry, result);
    return result;
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
    if (auto settings = orv::journal::JournalSettings::fromEnvironment(); settings.enabled()) {
        m_journal = std::make_unique<orv::journal::Journal>(std::move(settings));
        m_forwarder = std::make_unique<orv::journal::Forwarder>(*m_journal,
            [this](const orv::journal::Delivery& delivery, DXAEvent& event) { return deliverOnce(delivery, event); });
        m_forwarder->start();
        m_stats->setJournalSource([this] { return journalState(); });
    }
    logStatement(2, LogDest::trace(), "KAV init: Initialization complete.");
}

KAVManager::~KAVManager()
{
    logStatement(2, LogDest::trace(), "KAV shutdown: Shutdown start.");
    // The delivery threads end before the channels they use.
    m_forwarder.reset();
    m_journal.reset();
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
    if (m_forwarder && (methodId == retryMethod || methodId == dropMethod))
        return operatorCall(methodId);
    if (methodId != reportEventMethod && methodId != testEmailMethod) {
        logStatement(3, LogDest::trace(), UNRECOGNIZED_METHOD_ID, methodId);
        logStatement(3, LogDest::platform(), UNRECOGNIZED_METHOD_ID, methodId);
        return;
    }
    // The verdict goes in the reply's status; there is no reply data.
    doorReturn(static_cast<int>(dispatchEvent(methodId)));
}

KAVVerdict KAVManager::dispatchEvent(unsigned methodId)
{
    // The event takes the received bytes over: a parameter near the door's
    // size bound would otherwise be held two or three times at once.
    std::vector<char> bytes;
    takeParam(bytes);
    const bool empty = bytes.empty();
    std::unique_ptr<DXAEvent> event;
    try {
        event = std::make_unique<DXAEvent>(std::move(bytes));
    } catch (...) {
        m_stats->badEvent();
        eventObjectFailed();
        return empty ? KAVVerdict::EmptyParameter : KAVVerdict::NotAnEvent;
    }
    try {
        return methodId == reportEventMethod ? report(*event) : testEmail(*event);
    } catch (...) {
        eventObjectFailed();
    }
    return KAVVerdict::Taken;
}

int KAVManager::receiveEvent(DXAEvent& event, EventDBEntry*& entry, std::string& eventClass)
{
    return intake(event, entry, eventClass) == KAVVerdict::Taken ? 0 : -1;
}

KAVVerdict KAVManager::intake(DXAEvent& event, EventDBEntry*& entry, std::string& eventClass)
{
    m_stats->eventReceived();
    if (event.getEventClass(eventClass) != 0) {
        reportClassUnreadable(nullptr);
        return KAVVerdict::NoClass;
    }
    logStatement(2, LogDest::trace(), "EVENT-CLASS: %s; received for event reporting.", eventClass);
    // Without a database (it failed to load) every class counts as unknown.
    if (eventDB && eventDB->lookupEventDBEntry(event, entry) == 0)
        return KAVVerdict::Taken;
    m_stats->unknownClass();
    logStatement(4, LogDest::trace(), KAV_UNKNOWN_EVENT_CLASS, eventClass);
    logStatement(4, LogDest::platform(), KAV_UNKNOWN_EVENT_CLASS, eventClass);
    return KAVVerdict::UnknownClass;
}

void KAVManager::reportEvent(DXAEvent& event)
{
    report(event);
}

KAVVerdict KAVManager::report(DXAEvent& event)
{
    EventDBEntry* entry = nullptr;
    std::string eventClass;
    if (const KAVVerdict verdict = intake(event, entry, eventClass); verdict != KAVVerdict::Taken)
        return verdict;
    // The logs are written before the event is journaled: they are local,
    // and are not tried again.
    const ChannelResult message = offer(
        entry->reportViaMsg(), messageReportingEnabled, eventClass, "message",
        [&] { return messageReportingService->reportEventMessage(event, entry); }, *m_stats, KAVStats::Message);
    if (held(event, *entry, eventClass)) {
        if (m_forwarder)
            forward(event, entry, eventClass, message, orv::journal::State::Held);
        return KAVVerdict::Taken;
    }
    if (m_forwarder && forward(event, entry, eventClass, message))
        return KAVVerdict::Taken;
    offer(
        entry->reportViaOrvEvent(), orvEventReportingEnabled, eventClass, "ORV event",
        [&] { return orvEventReportingService->reportOrvEvent(event, entry); }, *m_stats, KAVStats::OrvEvent);
    offer(
        entry->reportViaRemote(), remoteReportingEnabled, eventClass, "remote",
        [&] { return remoteReportingService->reportRemoteEvent(event, entry); }, *m_stats, KAVStats::Remote);
    offer(
        entry->reportViaEmail(), emailReportingEnabled, eventClass, "email",
        [&] { return reportEmail(*emailReportingService, event, entry); }, *m_stats, KAVStats::Email);
    return KAVVerdict::Taken;
}

void KAVManager::testEmailReporting(DXAEvent& event)
{
    testEmail(event);
}

KAVVerdict KAVManager::testEmail(DXAEvent& event)
{
    EventDBEntry* entry = nullptr;
    std::string eventClass;
    if (const KAVVerdict verdict = intake(event, entry, eventClass); verdict != KAVVerdict::Taken)
        return verdict;
    if (!entry->reportViaEmail()) {
        logStatement(4, LogDest::trace(), KAV_INVALID_EMAIL_ATTEMPT, eventClass);
        logStatement(4, LogDest::platform(), KAV_INVALID_EMAIL_ATTEMPT, eventClass);
        return KAVVerdict::NotForEmail;
    }
    logStatement(2, LogDest::trace(), KAV_TEST_MSG, eventClass);
    logStatement(2, LogDest::platform(), KAV_TEST_MSG, eventClass);
    offer(
        true, emailReportingEnabled, eventClass, "email",
        [&] { return reportEmail(*emailReportingService, event, entry); }, *m_stats, KAVStats::Email);
    return KAVVerdict::Taken;
}

bool KAVManager::held(DXAEvent& event, EventDBEntry& entry, const std::string& eventClass)
{
    if (entry.holdDownSeconds() <= 0)
        return false;
    const std::string key = HoldDowns::keyOf(event);
    if (key.empty())
        return false;
    const std::chrono::seconds holdDown(entry.holdDownSeconds());
    const HoldDowns::Verdict verdict = m_holdDowns.check(key, holdDown, HoldDowns::Clock::now());
    if (verdict.held) {
        m_stats->eventHeld(eventClass);
        logStatement(2, LogDest::trace(), "EVENT-CLASS: %s; held back by its hold-down.", eventClass);
        return true;
    }
    if (verdict.heldBefore > 0) {
        std::string code;
        event.getEventCode(code);
        logStatement(2, LogDest::platform(), KAV_EVENTS_HELD, eventClass, code, std::to_string(verdict.heldBefore),
            KAVStats::utcTime(HoldDowns::Clock::to_time_t(verdict.heldSince)), std::to_string(holdDown.count()));
    }
    return false;
}

bool KAVManager::forward(DXAEvent& event, EventDBEntry* entry, const std::string& eventClass,
    const ChannelResult& message, orv::journal::State others)
{
    using orv::journal::Channel;
    orv::journal::NewEvent record;
    record.received = orv::journal::nowMillis();
    record.eventClass = eventClass;
    char* payload = nullptr;
    unsigned length = 0;
    if (event.getEventCode(record.code) != 0 || event.getPackedEventPayload(&payload, length) != 0)
        return false;
    record.packed.assign(payload, payload + length);
    if (message.kind() != ChannelResult::Kind::NotAsked)
        record.deliveries.push_back({ Channel::Message, std::nullopt,
            message.failed() ? orv::journal::State::GivenUp : orv::journal::State::Delivered,
            message.failed() ? std::optional<std::string>(message.why()) : std::nullopt });
    if (asks(entry->reportViaOrvEvent(), orvEventReportingEnabled, eventClass, "ORV event"))
        record.deliveries.push_back({ Channel::OrvEvent, std::nullopt, others });
    if (asks(entry->reportViaRemote(), remoteReportingEnabled, eventClass, "remote"))
        record.deliveries.push_back({ Channel::Remote, std::nullopt, others });
    if (asks(entry->reportViaEmail(), emailReportingEnabled, eventClass, "email")) {
        // One delivery per recipient line; without the control file, one
        // that mails whoever it selects when it can be read. A held copy
        // selects no one: one row stands for its recipients.
        std::vector<std::string> lines;
        if (others == orv::journal::State::Held || emailReportingService->selectRecipients(event, lines).failed())
            record.deliveries.push_back({ Channel::Email, std::nullopt, others });
        for (std::string& line : lines)
            record.deliveries.push_back({ Channel::Email, std::move(line) });
    }
    const bool pending = record.waits();
    if (!m_forwarder->accept(std::move(record)))
        return false;
    if (pending)
        logStatement(2, LogDest::trace(), "EVENT-CLASS: %s; journaled for delivery.", eventClass);
    return true;
}

ChannelResult KAVManager::deliverOnce(const orv::journal::Delivery& delivery, DXAEvent& event)
{
    using orv::journal::Channel;
    EventDBEntry* entry = nullptr;
    std::string eventClass;
    if (event.getEventClass(eventClass) != 0 || !eventDB || eventDB->lookupEventDBEntry(event, entry) != 0)
        return ChannelResult::refused("the class is no longer in the event database");
    // The message channel is written before the event is committed and
    // never waits for a delivery thread.
    switch (delivery.channel) {
    case Channel::Message:
        break;
    case Channel::OrvEvent:
        return offer(
            true, orvEventReportingEnabled, eventClass, "ORV event",
            [&] { return orvEventReportingService->reportOrvEvent(event, entry); }, *m_stats, KAVStats::OrvEvent);
    case Channel::Remote:
        return offer(
            true, remoteReportingEnabled, eventClass, "remote",
            [&] {
                return remoteReportingService->reportRemoteEvent(event, entry, m_forwarder->sequenceFor(delivery.id));
            },
            *m_stats, KAVStats::Remote);
    case Channel::Email:
        return offer(
            true, emailReportingEnabled, eventClass, "email",
            [&] {
                return delivery.recipient ? emailReportingService->mailOne(event, entry, *delivery.recipient)
                                          : reportEmail(*emailReportingService, event, entry);
            },
            *m_stats, KAVStats::Email);
    }
    return ChannelResult::notAsked();
}

nlohmann::json KAVManager::journalState() const
{
    using Health = orv::journal::Journal::Health;
    const auto pending = m_journal->use([](orv::journal::JournalStore& store) { return store.pendingCount(); });
    const auto& counts = m_forwarder->counts();
    return { { "state", m_journal->health() == Health::Ok ? "ok" : "degraded" }, { "pending", pending.value_or(0) },
        { "retried", counts.retried.load() }, { "deliveredAfterRetry", counts.deliveredAfterRetry.load() },
        { "givenUp", counts.givenUp.load() }, { "dropped", counts.dropped.load() },
        { "mailDeferred", counts.mailDeferred.load() } };
}

// The parameter: event ids separated by blanks, or "all" (retry only). The
// answer: how many deliveries it applied to, as text; status 2 for a
// parameter that is neither.
void KAVManager::operatorCall(unsigned methodId)
{
    std::vector<char> bytes;
    takeParam(bytes);
    std::istringstream words(std::string(bytes.begin(), bytes.end()));
    std::vector<int64_t> ids;
    bool all = false;
    for (std::string word; words >> word;) {
        char* end = nullptr;
        const long long id = std::strtoll(word.c_str(), &end, 10);
        if (word == "all" && methodId == retryMethod)
            all = true;
        else if (*end == '\0' && id > 0)
            ids.push_back(id);
        else
            return doorReturn(2);
    }
    int count = 0;
    if (all)
        count = m_forwarder->retryNow(std::nullopt);
    for (int64_t id : ids)
        count += methodId == retryMethod ? m_forwarder->retryNow(id) : m_forwarder->drop(id);
    const std::string answer = std::to_string(count);
    doorReturn(0, answer.data(), static_cast<unsigned>(answer.size()));
}
