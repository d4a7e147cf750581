// The journal file: one SQLite database in WAL mode holding each accepted
// event, the state of each of its deliveries and the remote channel's
// sequence numbers. Every change is one SQLite transaction. Not safe for
// use by two threads at once; Journal serialises the daemon's use. Any
// failure of the library is thrown as a JournalError.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cmd/kav/journal/Checkpointer.h"
#include "cmd/kav/journal/JournalSettings.h"
#include "cmd/kav/journal/JournalTypes.h"
#include "cmd/kav/journal/Sqlite.h"

namespace orv::journal {

class JournalStore {
public:
    // The schema this code writes; files of an older one are brought up to
    // it when opened, files of a newer one are refused.
    static constexpr int schemaVersion = 2;

    enum class Access { Write, Read };

    // For writing: creates the folder and the file (mode 0600) when
    // missing. Given `writers` (the lock its owner holds around every use
    // of the store), it checkpoints on a thread of its own, taking that
    // lock for a moment each time; else SQLite checkpoints in the commits.
    // For reading (a reader beside the daemon), the file must exist.
    JournalStore(const std::string& path, SyncMode sync, orv::base::Mutex* writers = nullptr);
    JournalStore(const std::string& path, Access access);

    // Commits the event and a delivery per channel asked for; its id, and
    // the deliveries' ids in `deliveryIds` when given.
    int64_t record(const NewEvent& event, std::vector<int64_t>* deliveryIds = nullptr);

    // One event of a batch committed together.
    struct Recording {
        const NewEvent* event;
        std::vector<int64_t>* deliveryIds;
        int64_t id = 0;
    };
    // Commits every event of the batch, and the deliveries made (id and
    // when), in one transaction; each event's id into its Recording.
    void recordAll(std::vector<Recording>& batch, const std::vector<std::pair<int64_t, Millis>>& delivered = {});

    void delivered(int64_t deliveryId, Millis at);
    // One more failed try; the next one is due at `nextTry`.
    void failed(int64_t deliveryId, const std::string& error, Millis nextTry);
    void givenUp(int64_t deliveryId, const std::string& error, Millis at);
    // The event's pending deliveries dropped, or made due at `now`; how many.
    int drop(int64_t eventId, Millis at);
    int retry(int64_t eventId, Millis now);
    int retryAll(Millis now);

    // Pending deliveries, oldest event first, in channel order within one.
    std::vector<Delivery> pending();
    std::optional<EventRecord> event(int64_t eventId);
    std::vector<char> packed(int64_t eventId);
    // Recorded events received at or after `since`, newest first.
    std::vector<EventRecord> history(Millis since);
    int64_t pendingCount();

    // The next number of the named sequence, starting at 0.
    int64_t nextSequence(const std::string& name);
    // The delivery's number of the named sequence: taken at its first try
    // and the same at every later one.
    int64_t deliverySequence(int64_t deliveryId, const std::string& name);

    // Starts a fault's hold-down, or counts one more copy held by it (when
    // `held` is above 0); in the transaction of the event that did.
    void holdDownChanged(const HoldDown& holdDown);
    // The hold-downs still running at `now`, or over with copies held that
    // the next report is to count; the others are removed.
    std::vector<HoldDown> holdDowns(Millis now);
    // Removes the hold-downs over at `now` (as above); how many.
    int removeEndedHoldDowns(Millis now);

    // The operator's silences. A new one's id, never given again.
    int64_t addSilence(const Silence& silence);
    // Those that end after `endedAfter` (given now: the active ones), by id.
    std::vector<Silence> silences(Millis endedAfter);
    // Ends a silence still active at `now`; it as it is then, or none when
    // no such silence is active.
    std::optional<Silence> expireSilence(int64_t id, Millis now);
    // Removes the silences that ended before `before`; how many.
    int removeSilencesEndedBefore(Millis before);

    // Bytes in the file's used pages.
    int64_t usedBytes();
    // Removes events received before `before` none of whose deliveries is
    // pending or held; how many.
    int removeFinishedBefore(Millis before);
    // Removes up to `count` of the oldest finished events; how many.
    int removeOldestFinished(int count);

private:
    void open(const std::string& path, SyncMode sync, Access access, orv::base::Mutex* writers);
    void migrate();
    std::vector<Delivery> deliveries(Statement& query);
    std::vector<EventRecord> events(Statement& query);
    // The statement of `sql` (a literal: kept by its address), prepared at
    // its first use and reset for this one.
    Statement& prepared(const char* sql);

    // Declared before the connection, so that it is still there while the
    // connection closes; none for a reader.
    std::unique_ptr<Checkpointer> m_checkpointer;
    Database m_db;
    // Declared after the connection, so that they are finalized before it
    // closes.
    std::unordered_map<const char*, std::unique_ptr<Statement>> m_prepared;
};

}
