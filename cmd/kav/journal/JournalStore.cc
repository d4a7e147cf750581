#include "cmd/kav/journal/JournalStore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orv::journal {

namespace {

// How long a statement waits for another connection's lock before the
// journal counts as locked: long enough for a reader that opens the file
// beside the daemon (and may briefly lock it to rebuild its index), short
// enough that a door thread waits at most this once before the journal is
// set aside.
constexpr int busyMillis = 1000;

// Version 1: events, deliveries, sequences. The message channel's outcome
// is kept in the event's row: it is known when the event is committed and
// never changes, and a row of its own would cost every event three more
// pages written. Each later version adds its step to `migrate` and leaves
// the earlier ones as they are.
constexpr const char* schemaV1 = R"(
CREATE TABLE event (
    id INTEGER PRIMARY KEY,
    received INTEGER NOT NULL,
    class TEXT NOT NULL,
    code TEXT NOT NULL,
    packed BLOB NOT NULL,
    message TEXT,
    message_error TEXT
);
CREATE TABLE delivery (
    id INTEGER PRIMARY KEY,
    event INTEGER NOT NULL REFERENCES event(id) ON DELETE CASCADE,
    channel TEXT NOT NULL,
    recipient TEXT,
    state TEXT NOT NULL,
    tries INTEGER NOT NULL DEFAULT 0,
    next_try INTEGER,
    last_error TEXT,
    sequence INTEGER,
    changed INTEGER NOT NULL
);
CREATE INDEX delivery_event ON delivery(event);
CREATE INDEX delivery_state ON delivery(state, event);
CREATE TABLE sequence (
    name TEXT PRIMARY KEY,
    value INTEGER NOT NULL
);
PRAGMA user_version = 1;
)";

// Version 2: what the daemon remembers beyond its events. For the first
// report of a fault after its hold-down, how many copies were held before
// it. A fault's hold-down (its key, when it was last reported, until when later copies
// are held and how many were), so that it holds across a restart; and the
// operator's silences. A silence's id is never given again, not even once
// the newest one is removed: the operator quotes it.
constexpr const char* schemaV2 = R"(
ALTER TABLE event ADD COLUMN held_before INTEGER;
CREATE TABLE hold_down (
    key TEXT PRIMARY KEY,
    reported INTEGER NOT NULL,
    until INTEGER NOT NULL,
    seconds INTEGER NOT NULL,
    held INTEGER NOT NULL DEFAULT 0
) WITHOUT ROWID;
CREATE TABLE silence (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    class TEXT NOT NULL,
    code TEXT,
    domains TEXT,
    csn TEXT,
    channels TEXT NOT NULL,
    starts INTEGER NOT NULL,
    ends INTEGER NOT NULL,
    comment TEXT NOT NULL
);
PRAGMA user_version = 2;
)";

// The columns `events` reads, in its order.
constexpr const char* eventColumns
    = "SELECT id, received, class, code, message, message_error, held_before FROM event ";

constexpr const char* deliveryColumns
    = "SELECT id, event, channel, recipient, state, tries, next_try, last_error FROM delivery ";

// An event none of whose deliveries still waits. The newest event is kept
// whatever its state: the next id is one above the highest there is, so it
// keeps ids from being given again.
constexpr const char* finishedEvent
    = "NOT EXISTS (SELECT 1 FROM delivery d WHERE d.event = event.id AND d.state = 'pending') "
      "AND event.id < (SELECT max(id) FROM event)";

constexpr const char* silenceColumns
    = "SELECT id, class, code, domains, csn, channels, starts, ends, comment FROM silence ";

std::vector<Silence> silenceRows(Statement& query)
{
    std::vector<Silence> found;
    while (query.step()) {
        Silence silence;
        silence.id = query.integer(0);
        silence.eventClass = query.text(1);
        silence.code = query.optionalText(2);
        silence.domains = query.optionalText(3);
        silence.csn = query.optionalText(4);
        silence.channels = channelsFromList(query.text(5)).value_or(std::vector<Channel>());
        silence.starts = query.integer(6);
        silence.ends = query.integer(7);
        silence.comment = query.text(8);
        found.push_back(std::move(silence));
    }
    return found;
}

// The file and its folder exist, the file with mode 0600, before SQLite
// opens it; SQLite gives its -wal and -shm files the same mode.
void createFile(const std::string& path)
{
    const std::filesystem::path file(path);
    std::error_code error;
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), error);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int code = errno;
        throw JournalError(code == ENOSPC                                              ? Failure::Full
                : (code == EROFS || code == EACCES || code == EPERM || code == ENOENT) ? Failure::ReadOnly
                                                                                       : Failure::Other,
            path + ": " + std::strerror(code));
    }
    ::fchmod(fd, 0600);
    ::close(fd);
}

int64_t pragmaValue(sqlite3* db, const char* sql)
{
    Statement query(db, sql);
    return query.step() ? query.integer(0) : 0;
}

}

JournalStore::JournalStore(const std::string& path, SyncMode sync, orv::base::Mutex* writers)
{
    open(path, sync, Access::Write, writers);
}

JournalStore::JournalStore(const std::string& path, Access access)
{
    open(path, SyncMode::Normal, access, nullptr);
}

void JournalStore::open(const std::string& path, SyncMode sync, Access access, orv::base::Mutex* writers)
{
    if (access == Access::Write)
        createFile(path);
    const int flags = (access == Access::Write ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    m_db.reset(db);
    if (rc != SQLITE_OK)
        fail(m_db.get(), rc, path);
    sqlite3_extended_result_codes(m_db.get(), 1);
    sqlite3_busy_timeout(m_db.get(), busyMillis);
    execute(m_db.get(), "PRAGMA foreign_keys = ON");
    if (access == Access::Read) {
        if (pragmaValue(m_db.get(), "PRAGMA user_version") > schemaVersion)
            throw JournalError(Failure::Newer, path + ": written by a newer daemon");
        return;
    }
    // journal_mode answers with the mode it is in: a file another process
    // holds may stay in its old mode.
    std::string mode;
    {
        Statement query(m_db.get(), "PRAGMA journal_mode = WAL");
        if (query.step())
            mode = query.text(0);
    }
    if (mode != "wal")
        throw JournalError(Failure::Locked, path + ": cannot be switched to WAL mode");
    execute(m_db.get(), sync == SyncMode::Full ? "PRAGMA synchronous = FULL" : "PRAGMA synchronous = NORMAL");
    migrate();
    // A log that grew while a checkpoint could not finish is cut back to
    // this once it starts again from its beginning.
    execute(m_db.get(), "PRAGMA journal_size_limit = 16777216");
    if (writers) {
        m_checkpointer = std::make_unique<Checkpointer>(path, *writers);
        m_checkpointer->watch(m_db.get());
    }
}

void JournalStore::migrate()
{
    Transaction transaction(m_db.get());
    const int64_t version = pragmaValue(m_db.get(), "PRAGMA user_version");
    if (version > schemaVersion)
        throw JournalError(
            Failure::Newer, "the journal was written by a newer daemon (schema " + std::to_string(version) + ")");
    if (version < 1)
        execute(m_db.get(), schemaV1);
    if (version < 2)
        execute(m_db.get(), schemaV2);
    transaction.commit();
}

int64_t JournalStore::record(const NewEvent& event, std::vector<int64_t>* deliveryIds)
{
    std::vector<Recording> batch { { &event, deliveryIds } };
    recordAll(batch);
    return batch.front().id;
}

void JournalStore::recordAll(std::vector<Recording>& batch, const std::vector<std::pair<int64_t, Millis>>& made)
{
    Transaction transaction(m_db.get());
    for (const auto& [deliveryId, at] : made)
        delivered(deliveryId, at);
    for (Recording& recording : batch) {
        const NewEvent& event = *recording.event;
        const auto message = std::find_if(event.deliveries.begin(), event.deliveries.end(),
            [](const NewDelivery& delivery) { return delivery.channel == Channel::Message; });
        Statement& insertEvent
            = prepared("INSERT INTO event (received, class, code, packed, message, message_error, held_before) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?)");
        insertEvent.bind(1, event.received).bind(2, event.eventClass).bind(3, event.code).bind(4, event.packed);
        if (message != event.deliveries.end())
            insertEvent.bind(5, std::string(stateName(message->state))).bind(6, message->lastError);
        if (event.heldBefore > 0)
            insertEvent.bind(7, event.heldBefore);
        insertEvent.run();
        if (event.holdDown)
            holdDownChanged(*event.holdDown);
        recording.id = sqlite3_last_insert_rowid(m_db.get());
        for (const NewDelivery& delivery : event.deliveries) {
            if (delivery.channel == Channel::Message) {
                if (recording.deliveryIds)
                    recording.deliveryIds->push_back(0);
                continue;
            }
            Statement& insert = prepared("INSERT INTO delivery (event, channel, recipient, state, last_error, "
                                         "next_try, changed) VALUES (?, ?, ?, ?, ?, ?, ?)");
            insert.bind(1, recording.id)
                .bind(2, std::string(channelName(delivery.channel)))
                .bind(3, delivery.recipient)
                .bind(4, std::string(stateName(delivery.state)))
                .bind(5, delivery.lastError);
            if (delivery.state == State::Pending)
                insert.bind(6, event.received);
            insert.bind(7, event.received).run();
            if (recording.deliveryIds)
                recording.deliveryIds->push_back(sqlite3_last_insert_rowid(m_db.get()));
        }
    }
    transaction.commit();
}

Statement& JournalStore::prepared(const char* sql)
{
    auto& statement = m_prepared[sql];
    if (!statement)
        statement = std::make_unique<Statement>(m_db.get(), sql, true);
    else
        statement->reset();
    return *statement;
}

void JournalStore::holdDownChanged(const HoldDown& holdDown)
{
    if (holdDown.held > 0) {
        // Only the hold-down it was held by: a copy committed after the
        // next report started a new one is not counted in that.
        prepared("UPDATE hold_down SET held = held + 1 WHERE key = ? AND reported = ?")
            .bind(1, holdDown.key)
            .bind(2, holdDown.reported)
            .run();
        return;
    }
    prepared("INSERT OR REPLACE INTO hold_down (key, reported, until, seconds, held) VALUES (?, ?, ?, ?, 0)")
        .bind(1, holdDown.key)
        .bind(2, holdDown.reported)
        .bind(3, holdDown.until)
        .bind(4, holdDown.seconds)
        .run();
}

// A hold-down that held nothing is over at its end; one that held copies is
// kept one hold-down longer, for the next report to say how many.
int JournalStore::removeEndedHoldDowns(Millis now)
{
    Statement(
        m_db.get(), "DELETE FROM hold_down WHERE (CASE held WHEN 0 THEN until ELSE until + seconds * 1000 END) <= ?")
        .bind(1, now)
        .run();
    return sqlite3_changes(m_db.get());
}

std::vector<HoldDown> JournalStore::holdDowns(Millis now)
{
    Transaction transaction(m_db.get());
    removeEndedHoldDowns(now);
    Statement query(m_db.get(), "SELECT key, reported, until, seconds, held FROM hold_down");
    std::vector<HoldDown> found;
    while (query.step())
        found.push_back({ query.text(0), query.integer(1), query.integer(2), query.integer(3), query.integer(4) });
    transaction.commit();
    return found;
}

void JournalStore::delivered(int64_t deliveryId, Millis at)
{
    prepared("UPDATE delivery SET state = 'delivered', next_try = NULL, changed = ? WHERE id = ?")
        .bind(1, at)
        .bind(2, deliveryId)
        .run();
}

void JournalStore::failed(int64_t deliveryId, const std::string& error, Millis nextTry)
{
    prepared("UPDATE delivery SET tries = tries + 1, next_try = ?, last_error = ?, changed = ? "
             "WHERE id = ? AND state = 'pending'")
        .bind(1, nextTry)
        .bind(2, error)
        .bind(3, nowMillis())
        .bind(4, deliveryId)
        .run();
}

void JournalStore::givenUp(int64_t deliveryId, const std::string& error, Millis at)
{
    prepared("UPDATE delivery SET state = 'givenUp', tries = tries + 1, next_try = NULL, last_error = ?, changed = ? "
             "WHERE id = ? AND state = 'pending'")
        .bind(1, error)
        .bind(2, at)
        .bind(3, deliveryId)
        .run();
}

int JournalStore::drop(int64_t eventId, Millis at)
{
    Statement(m_db.get(),
        "UPDATE delivery SET state = 'dropped', next_try = NULL, changed = ? WHERE event = ? AND state = 'pending'")
        .bind(1, at)
        .bind(2, eventId)
        .run();
    return sqlite3_changes(m_db.get());
}

int JournalStore::retry(int64_t eventId, Millis now)
{
    Statement(m_db.get(), "UPDATE delivery SET next_try = ? WHERE event = ? AND state = 'pending'")
        .bind(1, now)
        .bind(2, eventId)
        .run();
    return sqlite3_changes(m_db.get());
}

int JournalStore::retryAll(Millis now)
{
    Statement(m_db.get(), "UPDATE delivery SET next_try = ? WHERE state = 'pending'").bind(1, now).run();
    return sqlite3_changes(m_db.get());
}

std::vector<Delivery> JournalStore::deliveries(Statement& query)
{
    std::vector<Delivery> found;
    while (query.step()) {
        Delivery delivery;
        delivery.id = query.integer(0);
        delivery.eventId = query.integer(1);
        delivery.channel = channelFromName(query.text(2)).value_or(Channel::Message);
        delivery.recipient = query.optionalText(3);
        delivery.state = stateFromName(query.text(4)).value_or(State::Held);
        delivery.tries = static_cast<int>(query.integer(5));
        delivery.nextTry = query.optionalInteger(6);
        delivery.lastError = query.optionalText(7);
        found.push_back(std::move(delivery));
    }
    return found;
}

std::vector<Delivery> JournalStore::pending()
{
    Statement query(m_db.get(), (std::string(deliveryColumns) + "WHERE state = 'pending' ORDER BY event, id").c_str());
    return deliveries(query);
}

std::vector<EventRecord> JournalStore::events(Statement& query)
{
    std::vector<EventRecord> found;
    Statement ofEvent(m_db.get(), (std::string(deliveryColumns) + "WHERE event = ? ORDER BY id").c_str());
    while (query.step()) {
        EventRecord record;
        record.id = query.integer(0);
        record.received = query.integer(1);
        record.eventClass = query.text(2);
        record.code = query.text(3);
        record.heldBefore = query.optionalInteger(6).value_or(0);
        if (const auto message = query.optionalText(4)) {
            Delivery delivery;
            delivery.eventId = record.id;
            delivery.state = stateFromName(*message).value_or(State::Delivered);
            delivery.lastError = query.optionalText(5);
            record.deliveries.push_back(std::move(delivery));
        }
        ofEvent.bind(1, record.id);
        for (Delivery& delivery : deliveries(ofEvent))
            record.deliveries.push_back(std::move(delivery));
        ofEvent.reset();
        found.push_back(std::move(record));
    }
    return found;
}

std::optional<EventRecord> JournalStore::event(int64_t eventId)
{
    Statement query(m_db.get(), (std::string(eventColumns) + "WHERE id = ?").c_str());
    query.bind(1, eventId);
    auto found = events(query);
    if (found.empty())
        return std::nullopt;
    return std::move(found.front());
}

std::vector<char> JournalStore::packed(int64_t eventId)
{
    Statement query(m_db.get(), "SELECT packed FROM event WHERE id = ?");
    query.bind(1, eventId);
    return query.step() ? query.blob(0) : std::vector<char>();
}

std::vector<EventRecord> JournalStore::history(Millis since)
{
    Statement query(m_db.get(), (std::string(eventColumns) + "WHERE received >= ? ORDER BY id DESC").c_str());
    query.bind(1, since);
    return events(query);
}

int64_t JournalStore::pendingCount()
{
    return pragmaValue(m_db.get(), "SELECT count(*) FROM delivery WHERE state = 'pending'");
}

int64_t JournalStore::nextSequence(const std::string& name)
{
    Transaction transaction(m_db.get());
    prepared("INSERT INTO sequence (name, value) VALUES (?, 0) ON CONFLICT (name) DO UPDATE SET value = value + 1")
        .bind(1, name)
        .run();
    Statement& query = prepared("SELECT value FROM sequence WHERE name = ?");
    query.bind(1, name);
    const int64_t value = query.step() ? query.integer(0) : 0;
    query.reset();
    transaction.commit();
    return value;
}

int64_t JournalStore::deliverySequence(int64_t deliveryId, const std::string& name)
{
    Statement& query = prepared("SELECT sequence FROM delivery WHERE id = ?");
    query.bind(1, deliveryId);
    if (query.step())
        if (const auto taken = query.optionalInteger(0)) {
            query.reset();
            return *taken;
        }
    query.reset();
    const int64_t value = nextSequence(name);
    prepared("UPDATE delivery SET sequence = ? WHERE id = ?").bind(1, value).bind(2, deliveryId).run();
    return value;
}

int64_t JournalStore::addSilence(const Silence& silence)
{
    Statement(m_db.get(),
        "INSERT INTO silence (class, code, domains, csn, channels, starts, ends, comment) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
        .bind(1, silence.eventClass)
        .bind(2, silence.code)
        .bind(3, silence.domains)
        .bind(4, silence.csn)
        .bind(5, channelList(silence.channels))
        .bind(6, silence.starts)
        .bind(7, silence.ends)
        .bind(8, silence.comment)
        .run();
    return sqlite3_last_insert_rowid(m_db.get());
}

std::vector<Silence> JournalStore::silences(Millis endedAfter)
{
    Statement query(m_db.get(), (std::string(silenceColumns) + "WHERE ends > ? ORDER BY id").c_str());
    query.bind(1, endedAfter);
    return silenceRows(query);
}

std::optional<Silence> JournalStore::expireSilence(int64_t id, Millis now)
{
    Transaction transaction(m_db.get());
    Statement query(m_db.get(), (std::string(silenceColumns) + "WHERE id = ? AND ends > ?").c_str());
    query.bind(1, id).bind(2, now);
    auto found = silenceRows(query);
    if (found.empty())
        return std::nullopt;
    Statement(m_db.get(), "UPDATE silence SET ends = ? WHERE id = ?").bind(1, now).bind(2, id).run();
    transaction.commit();
    found.front().ends = now;
    return std::move(found.front());
}

int JournalStore::removeSilencesEndedBefore(Millis before)
{
    Statement(m_db.get(), "DELETE FROM silence WHERE ends < ?").bind(1, before).run();
    return sqlite3_changes(m_db.get());
}

int64_t JournalStore::usedBytes()
{
    Statement& query = prepared("SELECT page_count - freelist_count, page_size FROM pragma_page_count, "
                                "pragma_freelist_count, pragma_page_size");
    const int64_t used = query.step() ? query.integer(0) * query.integer(1) : 0;
    query.reset();
    return used;
}

int JournalStore::removeFinishedBefore(Millis before)
{
    Statement(m_db.get(), (std::string("DELETE FROM event WHERE received < ? AND ") + finishedEvent).c_str())
        .bind(1, before)
        .run();
    return sqlite3_changes(m_db.get());
}

int JournalStore::removeOldestFinished(int count)
{
    Statement(m_db.get(),
        (std::string("DELETE FROM event WHERE id IN (SELECT id FROM event WHERE ") + finishedEvent
            + " ORDER BY id LIMIT ?)")
            .c_str())
        .bind(1, int64_t(count))
        .run();
    return sqlite3_changes(m_db.get());
}

}
