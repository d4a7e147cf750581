// The daemon's journal: the store behind a lock, and what happens when the
// file cannot be used. A broken journal never stops reporting: an event it
// cannot take is reported as without a journal, one platform line says when
// that starts and one when it ends, and the file is tried again each
// minute. A damaged file is set aside and a new one started. Finished
// events are removed after the days kept, and the oldest of them first when
// the file is at its bound; above the bound new events go unjournaled.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "cmd/kav/journal/JournalSettings.h"
#include "cmd/kav/journal/JournalStore.h"
#include "platform/base/Mutex.h"

namespace orv::journal {

class Journal {
public:
    enum class Health { Off, Ok, Degraded };
    using Clock = std::function<Millis()>;

    // How long a broken journal is left alone, and how often finished
    // events are cleared out.
    static constexpr Millis retryMillis = 60'000;
    static constexpr Millis maintenanceMillis = 60'000;

    explicit Journal(JournalSettings settings, Clock clock = nowMillis);
    // Commits what is queued.
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    Health health() const;
    const JournalSettings& settings() const { return m_settings; }

    // The new event's id, or none: report it as without a journal.
    // `deliveryIds` as JournalStore::record gives them. Returns once the
    // event is committed; door threads that record at the same moment share
    // one transaction.
    std::optional<int64_t> record(const NewEvent& event, std::vector<int64_t>* deliveryIds = nullptr)
        EXCLUDES(m_queueMutex, m_mutex);
    // For an event none of whose deliveries is pending (its reports are all
    // made): committed in the background, so a crash before the commit
    // costs its record, not a report. Waits only while the queue is full.
    void recordLater(NewEvent event) EXCLUDES(m_queueMutex, m_mutex);
    // A delivery made, recorded in the background with the next commit. A
    // crash before it makes the delivery once more at the next start.
    void deliveredLater(int64_t deliveryId, Millis at) EXCLUDES(m_queueMutex, m_mutex);

    // Runs `action` on the store; none when the journal cannot be used now
    // or the action failed (which is reported as the journal's failure).
    template <typename Action> auto use(Action action) -> std::optional<std::invoke_result_t<Action, JournalStore&>>
    {
        orv::base::MutexLock lock(m_mutex);
        if (!ready())
            return std::nullopt;
        try {
            return action(*m_store);
        } catch (const JournalError& error) {
            broke(error);
        }
        return std::nullopt;
    }

    // Retries a broken file when its minute has passed, and clears out
    // finished events and silences ended a week ago when due; the delivery
    // threads call it now and then.
    void maintain();

    // The name a damaged file is kept under.
    static std::string corruptName(const std::string& path, Millis at);

private:
    // One change queued for the committer: an event a door thread waits
    // for, one it does not, or a delivery made.
    struct Waiter {
        std::optional<int64_t> id;
        bool done = false;
        orv::base::CondVar turn;
    };
    struct Write {
        const NewEvent* event = nullptr;
        std::vector<int64_t>* deliveryIds = nullptr;
        Waiter* waiter = nullptr;
        std::optional<NewEvent> owned;
        std::optional<std::pair<int64_t, Millis>> delivered;
    };
    // Changes committed in one transaction at the most, and queued at the
    // most before recordLater waits.
    static constexpr size_t maxBatch = 256;
    static constexpr size_t maxQueued = 4096;
    // How long the committer gathers changes no one waits for.
    static constexpr std::chrono::milliseconds gatherWindow { 2 };

    void wakeCommitter() REQUIRES(m_queueMutex);
    // The committer thread's loop.
    void commitQueued() EXCLUDES(m_queueMutex, m_mutex);
    // Commits the writes at the front of the queue, letting the queue's
    // lock go meanwhile.
    void commitBatch() REQUIRES(m_queueMutex) EXCLUDES(m_mutex);
    bool commit(std::vector<JournalStore::Recording>& records, const std::vector<std::pair<int64_t, Millis>>& delivered)
        EXCLUDES(m_mutex);
    bool ready() REQUIRES(m_mutex);
    void open() REQUIRES(m_mutex);
    void broke(const JournalError& error) REQUIRES(m_mutex);
    void setAside() REQUIRES(m_mutex);
    void removeOld(Millis now) REQUIRES(m_mutex);
    void checkBound(Millis now) REQUIRES(m_mutex);

    const JournalSettings m_settings;
    const Clock m_clock;
    // Changes wait here for the committer thread; taken before m_mutex.
    orv::base::Mutex m_queueMutex;
    orv::base::CondVar m_queued;
    orv::base::CondVar m_room;
    std::deque<Write> m_writes GUARDED_BY(m_queueMutex);
    bool m_stopping GUARDED_BY(m_queueMutex) = false;
    // A thread is committing a batch; one at a time keeps the queue's order.
    bool m_committing GUARDED_BY(m_queueMutex) = false;

    mutable orv::base::Mutex m_mutex;
    std::optional<JournalStore> m_store GUARDED_BY(m_mutex);
    Health m_health GUARDED_BY(m_mutex) = Health::Off;
    Millis m_retryAt GUARDED_BY(m_mutex) = 0;
    Millis m_maintainAt GUARDED_BY(m_mutex) = 0;
    bool m_atBound GUARDED_BY(m_mutex) = false;
    Millis m_boundCheckAt GUARDED_BY(m_mutex) = 0;

    // Last: it runs once everything above is made.
    std::thread m_committer;
};

}
