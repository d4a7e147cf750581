#include "cmd/kav/KAVManager.h"

#include <cstdlib>
#include <exception>
#include <sstream>
#include <new>

#include "cmd/kav/ChannelOutcome.h"
#include "cmd/kav/HoldDowns.h"
#include "cmd/kav/KAVMethods.h"
#include "cmd/kav/channel/ChannelFailure.h"
#include "cmd/kav/journal/Forwarder.h"
#include "cmd/kav/journal/Journal.h"
#include "platform/event/DXAEvent.h"
#include "cmd/kav/email/EmailReportingService.h"
#include "platform/event/EventDB.h"
#include "platform/event/EventDBEntry.h"
#include "platform/io/Heartbeat.h"
#include "platform/log/LogStatement.h"
#include "cmd/kav/message/MessageReportingService.h"
#include "cmd/kav/frontend/OrvEventReportingService.h"
#include "cmd/kav/remote/RemoteReportingService.h"

using orv::event::SkippedEventDBEntry;
using orv::journal::ChannelResult;
using orv::journal::State;

namespace {

namespace method = kav::methods;

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
    // Each channel waits on its own peer, within that peer's deadline.
    orv::io::Heartbeat::beat();
    ChannelOutcome outcome;
    ChannelResult result = report();
    outcome.channelEnded(result);
    outcome.countIn(stats, channel);
    return result;
}

ChannelResult reportEmail(
    EmailReportingService& email, DXAEvent& event, const EventDBEntry* entry, int64_t heldBefore = 0)
{
    ChannelResult result = ChannelResult::delivered();
    email.reportEmail(event, entry, result, heldBefore);
    return result;
}

orv::journal::Millis millisOf(HoldDowns::Clock::time_point at)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
}

HoldDowns::Clock::time_point timeOf(orv::journal::Millis millis)
{
    return HoldDowns::Clock::time_point(std::chrono::milliseconds(millis));
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

// The channels after the message channel that the entry asks for, a bit
// each (Silences::bit).
unsigned peerChannels(EventDBEntry& entry)
{
    using orv::journal::Channel;
    return (entry.reportViaOrvEvent() ? Silences::bit(Channel::OrvEvent) : 0)
        | (entry.reportViaRemote() ? Silences::bit(Channel::Remote) : 0)
        | (entry.reportViaEmail() ? Silences::bit(Channel::Email) : 0);
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
        m_forwarder = std::make_unique<orv::journal::Forwarder>(
            *m_journal, [this](const orv::journal::Delivery& delivery, DXAEvent& event, int64_t heldBefore) {
                return deliverOnce(delivery, event, heldBefore);
            });
        restoreHoldDowns();
        m_forwarder->start();
        m_stats->setJournalSource([this] { return journalState(); });
        m_journal->use([this](orv::journal::JournalStore& store) {
            loadSilences(store);
            return true;
        });
    }
    logStatement(2, LogDest::trace(), "KAV init: Initialization complete.");
}

KAVManager::~KAVManager()
{
    logStatement(2, LogDest::trace(), "KAV shutdown: Shutdown start.");
    // The delivery threads end before the channels they use, and before
    // the pointer they reach the forwarder by is cleared.
    if (m_forwarder)
        m_forwarder->stop();
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
    if (m_forwarder && (methodId == method::retry || methodId == method::drop))
        return operatorCall(methodId);
    if (methodId == method::holdDownState)
        return holdDownCall();
    if (methodId == method::silenceAdd || methodId == method::silenceList || methodId == method::silenceExpire)
        return silenceCall(methodId);
    if (methodId != method::reportEvent && methodId != method::testEmail) {
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
        return methodId == method::reportEvent ? report(*event) : testEmail(*event);
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
    // Silences come before the hold-down, which sees only what they leave:
    // an event silenced on every channel it asks for after the message
    // channel neither starts a hold-down nor counts as held.
    const unsigned asked = peerChannels(*entry);
    const unsigned silent = silenced(event, asked, eventClass);
    HoldDownVerdict hold;
    if (silent == 0 || silent != asked)
        hold = holdDown(event, *entry, eventClass);
    if (hold.held) {
        if (m_forwarder)
            forward(event, entry, eventClass, message, hold, silent);
        return KAVVerdict::Taken;
    }
    if (m_forwarder && forward(event, entry, eventClass, message, hold, silent))
        return KAVVerdict::Taken;
    const auto wants
        = [&](bool wanted, orv::journal::Channel channel) { return wanted && (silent & Silences::bit(channel)) == 0; };
    offer(
        wants(entry->reportViaOrvEvent(), orv::journal::Channel::OrvEvent), orvEventReportingEnabled, eventClass,
        "ORV event", [&] { return orvEventReportingService->reportOrvEvent(event, entry); }, *m_stats,
        KAVStats::OrvEvent);
    offer(
        wants(entry->reportViaRemote(), orv::journal::Channel::Remote), remoteReportingEnabled, eventClass, "remote",
        [&] { return remoteReportingService->reportRemoteEvent(event, entry); }, *m_stats, KAVStats::Remote);
    offer(
        wants(entry->reportViaEmail(), orv::journal::Channel::Email), emailReportingEnabled, eventClass, "email",
        [&] { return reportEmail(*emailReportingService, event, entry, hold.heldBefore); }, *m_stats, KAVStats::Email);
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

KAVManager::HoldDownVerdict KAVManager::holdDown(DXAEvent& event, EventDBEntry& entry, const std::string& eventClass)
{
    HoldDownVerdict result;
    if (entry.holdDownSeconds() <= 0)
        return result;
    std::string key = HoldDowns::keyOf(event);
    if (key.empty())
        return result;
    const std::chrono::seconds holdDown(entry.holdDownSeconds());
    const HoldDowns::Verdict verdict = m_holdDowns.check(key, holdDown, HoldDowns::Clock::now());
    result.held = verdict.held;
    result.heldBefore = static_cast<int64_t>(verdict.heldBefore);
    if (m_journal)
        result.note = orv::journal::HoldDown { std::move(key), millisOf(verdict.reported), millisOf(verdict.until),
            holdDown.count(), verdict.held ? 1 : 0 };
    if (verdict.held) {
        m_stats->eventHeld(eventClass);
        logStatement(2, LogDest::trace(), "EVENT-CLASS: %s; held back by its hold-down.", eventClass);
        return result;
    }
    if (verdict.heldBefore > 0) {
        std::string code;
        event.getEventCode(code);
        logStatement(2, LogDest::platform(), KAV_EVENTS_HELD, eventClass, code, std::to_string(verdict.heldBefore),
            KAVStats::utcTime(HoldDowns::Clock::to_time_t(verdict.heldSince)), std::to_string(holdDown.count()));
    }
    return result;
}

void KAVManager::restoreHoldDowns()
{
    const auto kept
        = m_journal->use([](orv::journal::JournalStore& store) { return store.holdDowns(orv::journal::nowMillis()); });
    if (!kept)
        return;
    for (const orv::journal::HoldDown& holdDown : *kept)
        m_holdDowns.restore(holdDown.key, std::chrono::seconds(holdDown.seconds),
            { timeOf(holdDown.reported), timeOf(holdDown.until), static_cast<uint64_t>(holdDown.held) });
    if (!kept->empty())
        logStatement(2, LogDest::trace(), "Journal: %d hold-downs resumed.", static_cast<int>(kept->size()));
}

unsigned KAVManager::silenced(DXAEvent& event, unsigned asked, const std::string& eventClass)
{
    const Silences::Verdict verdict = m_silences.check(event, eventClass, asked);
    if (verdict.channels == 0)
        return 0;
    m_stats->eventSilenced(eventClass);
    std::string channels, ids;
    for (auto channel :
        { orv::journal::Channel::OrvEvent, orv::journal::Channel::Remote, orv::journal::Channel::Email })
        if (verdict.channels & Silences::bit(channel))
            channels += (channels.empty() ? "" : ", ") + std::string(orv::journal::channelName(channel));
    for (int64_t id : verdict.ids)
        ids += (ids.empty() ? "" : ", ") + std::to_string(id);
    logStatement(2, LogDest::trace(), "EVENT-CLASS: %s; held back from %s by silence %s.", eventClass, channels, ids);
    return verdict.channels;
}

bool KAVManager::forward(DXAEvent& event, EventDBEntry* entry, const std::string& eventClass,
    const ChannelResult& message, const HoldDownVerdict& hold, unsigned silenced)
{
    using orv::journal::Channel;
    const State others = hold.held ? State::Held : State::Pending;
    orv::journal::NewEvent record;
    record.received = orv::journal::nowMillis();
    record.eventClass = eventClass;
    record.heldBefore = hold.heldBefore;
    record.holdDown = hold.note;
    char* payload = nullptr;
    unsigned length = 0;
    if (event.getEventCode(record.code) != 0 || event.getPackedEventPayload(&payload, length) != 0)
        return false;
    record.packed.assign(payload, payload + length);
    if (message.kind() != ChannelResult::Kind::NotAsked)
        record.deliveries.push_back({ Channel::Message, std::nullopt,
            message.failed() ? orv::journal::State::GivenUp : orv::journal::State::Delivered,
            message.failed() ? std::optional<std::string>(message.why()) : std::nullopt });
    const auto stateOf
        = [&](Channel channel) { return (silenced & Silences::bit(channel)) != 0 ? State::Silenced : others; };
    if (asks(entry->reportViaOrvEvent(), orvEventReportingEnabled, eventClass, "ORV event"))
        record.deliveries.push_back({ Channel::OrvEvent, std::nullopt, stateOf(Channel::OrvEvent) });
    if (asks(entry->reportViaRemote(), remoteReportingEnabled, eventClass, "remote"))
        record.deliveries.push_back({ Channel::Remote, std::nullopt, stateOf(Channel::Remote) });
    if (asks(entry->reportViaEmail(), emailReportingEnabled, eventClass, "email")) {
        // One delivery per recipient line; without the control file, one
        // that mails whoever it selects when it can be read. A copy held
        // or silenced selects no one: one row stands for its recipients.
        std::vector<std::string> lines;
        const State email = stateOf(Channel::Email);
        if (email != State::Pending || emailReportingService->selectRecipients(event, lines).failed())
            record.deliveries.push_back({ Channel::Email, std::nullopt, email });
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

ChannelResult KAVManager::deliverOnce(const orv::journal::Delivery& delivery, DXAEvent& event, int64_t heldBefore)
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
                return delivery.recipient
                    ? emailReportingService->mailOne(event, entry, *delivery.recipient, heldBefore)
                    : reportEmail(*emailReportingService, event, entry, heldBefore);
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
        if (word == "all" && methodId == method::retry)
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
        count += methodId == method::retry ? m_forwarder->retryNow(id) : m_forwarder->drop(id);
    const std::string answer = std::to_string(count);
    doorReturn(0, answer.data(), static_cast<unsigned>(answer.size()));
}

// The parameter: a packed event. The answer: its class's hold-down and, if
// one holds the event's fault now, until when and how many it held so far,
// as JSON; status 1 for a parameter that is not an event of a known class.
void KAVManager::holdDownCall()
{
    std::vector<char> bytes;
    takeParam(bytes);
    nlohmann::json answer;
    try {
        DXAEvent event(std::move(bytes));
        std::string eventClass;
        EventDBEntry* entry = nullptr;
        if (event.getEventClass(eventClass) != 0 || !eventDB || eventDB->lookupEventDBEntry(event, entry) != 0)
            return doorReturn(1);
        answer = { { "holdDown", entry->holdDownSeconds() }, { "held", false } };
        if (entry->holdDownSeconds() > 0)
            if (const auto running = m_holdDowns.running(HoldDowns::keyOf(event), HoldDowns::Clock::now())) {
                answer["held"] = true;
                answer["heldUntil"] = KAVStats::utcTime(HoldDowns::Clock::to_time_t(running->until));
                answer["heldSoFar"] = running->held;
            }
    } catch (...) {
        return doorReturn(1);
    }
    const std::string text = answer.dump();
    doorReturn(0, text.data(), static_cast<unsigned>(text.size()));
}

void KAVManager::loadSilences(orv::journal::JournalStore& store)
{
    m_silences.replace(store.silences(orv::journal::nowMillis()));
}

// Parameters: add, the silence as JSON (class, code, domains, csn,
// channels, ends, comment); list, {"all": true|false}; expire, the id. The
// answer with status 0: add and expire, the silence's id as text; list,
// the silences as JSON. Other statuses: kav::methods::silenceStatus.
void KAVManager::silenceCall(unsigned methodId)
{
    namespace status = kav::methods::silenceStatus;
    using orv::journal::JournalStore;
    using orv::journal::Silence;
    if (!m_journal)
        return doorReturn(status::noJournal);
    std::vector<char> bytes;
    takeParam(bytes);
    const nlohmann::json request = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
    const orv::journal::Millis now = orv::journal::nowMillis();
    std::string answer;
    if (methodId == method::silenceAdd) {
        std::optional<Silence> silence = Silences::fromRequest(request, now);
        if (!silence)
            return doorReturn(status::malformed);
        const auto id = m_journal->use([&](JournalStore& store) {
            const int64_t id = store.addSilence(*silence);
            loadSilences(store);
            return id;
        });
        if (!id)
            return doorReturn(status::journalFailed);
        answer = std::to_string(*id);
        logStatement(3, LogDest::platform(), KAV_SILENCE_ADDED, answer, Silences::describe(*silence),
            orv::journal::isoTime(silence->ends), silence->comment);
    } else if (methodId == method::silenceExpire) {
        if (!request.is_number_integer())
            return doorReturn(status::malformed);
        const auto ended = m_journal->use([&](JournalStore& store) {
            auto silence = store.expireSilence(request.get<int64_t>(), now);
            loadSilences(store);
            return silence;
        });
        if (!ended)
            return doorReturn(status::journalFailed);
        if (!*ended)
            return doorReturn(status::notActive);
        answer = std::to_string((*ended)->id);
        logStatement(
            3, LogDest::platform(), KAV_SILENCE_EXPIRED, answer, Silences::describe(**ended), (*ended)->comment);
    } else {
        if (!request.is_object() || !request.contains("all") || !request.at("all").is_boolean())
            return doorReturn(status::malformed);
        const orv::journal::Millis since = request.at("all").get<bool>() ? now - orv::journal::silenceKeptMillis : now;
        const auto silences = m_journal->use([&](JournalStore& store) {
            loadSilences(store);
            return store.silences(since);
        });
        if (!silences)
            return doorReturn(status::journalFailed);
        nlohmann::json list = nlohmann::json::array();
        for (const Silence& silence : *silences)
            list.push_back(Silences::toJson(silence, now));
        answer = list.dump();
    }
    doorReturn(0, answer.data(), static_cast<unsigned>(answer.size()));
}
