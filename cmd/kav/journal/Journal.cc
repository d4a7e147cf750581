#include "cmd/kav/journal/Journal.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "platform/log/LogStatement.h"

namespace orv::journal {

namespace {

// Finished events removed per statement while the file is above its bound.
constexpr int removalBatch = 64;

constexpr Millis dayMillis = 86'400'000;

const char* failureWords(Failure failure)
{
    switch (failure) {
    case Failure::Full:
        return "file system full";
    case Failure::ReadOnly:
        return "cannot write";
    case Failure::Locked:
        return "locked by another process";
    case Failure::Corrupt:
        return "damaged";
    case Failure::Newer:
        return "written by a newer daemon";
    case Failure::Other:
        break;
    }
    return "error";
}

}

Journal::Journal(JournalSettings settings, Clock clock)
    : m_settings(std::move(settings))
    , m_clock(std::move(clock))
{
    if (!m_settings.enabled())
        return;
    {
        orv::base::MutexLock lock(m_mutex);
        m_health = Health::Ok;
        open();
    }
    m_committer = std::thread([this] { commitQueued(); });
}

Journal::~Journal()
{
    if (!m_committer.joinable())
        return;
    {
        orv::base::MutexLock lock(m_queueMutex);
        m_stopping = true;
    }
    m_queued.notifyOne();
    m_committer.join();
}

Journal::Health Journal::health() const
{
    orv::base::MutexLock lock(m_mutex);
    return m_health;
}

std::string Journal::corruptName(const std::string& path, Millis at)
{
    const time_t seconds = static_cast<time_t>(at / 1000);
    struct tm utc { };
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    return path + ".corrupt-" + stamp;
}

void Journal::open()
{
    try {
        m_store.emplace(m_settings.path, m_settings.sync, &m_mutex);
    } catch (const JournalError& error) {
        m_store.reset();
        broke(error);
        return;
    }
    if (m_health == Health::Degraded)
        logStatement(4, LogDest::platform(), KAV_JOURNAL_AVAILABLE, m_settings.path);
    logStatement(2, LogDest::trace(), "Journal %s open.", m_settings.path);
    m_health = Health::Ok;
    m_maintainAt = 0;
}

bool Journal::ready()
{
    if (m_store)
        return true;
    if (m_health == Health::Off || m_clock() < m_retryAt)
        return false;
    open();
    return m_store.has_value();
}

void Journal::broke(const JournalError& error)
{
    logStatement(4, LogDest::trace(), "Journal %s: %s", m_settings.path, error.what());
    m_store.reset();
    if (error.failure() == Failure::Corrupt) {
        setAside();
        try {
            m_store.emplace(m_settings.path, m_settings.sync, &m_mutex);
            return;
        } catch (const JournalError& again) {
            logStatement(4, LogDest::trace(), "Journal %s: %s", m_settings.path, again.what());
        }
    }
    if (m_health != Health::Degraded)
        logStatement(4, LogDest::platform(), KAV_JOURNAL_UNAVAILABLE, m_settings.path, failureWords(error.failure()));
    m_health = Health::Degraded;
    m_retryAt = m_clock() + retryMillis;
}

// The damaged file and its write-ahead log move aside together, so that
// whoever looks into it later sees what the daemon saw.
void Journal::setAside()
{
    const std::string kept = corruptName(m_settings.path, m_clock());
    std::rename(m_settings.path.c_str(), kept.c_str());
    std::rename((m_settings.path + "-wal").c_str(), (kept + "-wal").c_str());
    std::remove((m_settings.path + "-shm").c_str());
    logStatement(4, LogDest::platform(), KAV_JOURNAL_CORRUPT, m_settings.path, kept);
}

// A door thread that waits for its event commits the queue itself when no
// one else is committing, and otherwise waits to be done or to be next;
// the committer thread takes what is queued when no door thread waits.
std::optional<int64_t> Journal::record(const NewEvent& event, std::vector<int64_t>* deliveryIds)
{
    if (!m_committer.joinable())
        return std::nullopt;
    Waiter waiter;
    orv::base::MutexLock lock(m_queueMutex);
    Write write;
    write.event = &event;
    write.deliveryIds = deliveryIds;
    write.waiter = &waiter;
    m_writes.push_back(std::move(write));
    while (!waiter.done) {
        if (m_committing)
            waiter.turn.wait(m_queueMutex);
        else
            commitBatch();
    }
    return waiter.id;
}

void Journal::recordLater(NewEvent event)
{
    if (!m_committer.joinable())
        return;
    orv::base::MutexLock lock(m_queueMutex);
    while (m_writes.size() >= maxQueued && !m_stopping)
        m_room.wait(m_queueMutex);
    Write write;
    write.owned = std::move(event);
    m_writes.push_back(std::move(write));
    wakeCommitter();
}

void Journal::deliveredLater(int64_t deliveryId, Millis at)
{
    if (!m_committer.joinable())
        return;
    orv::base::MutexLock lock(m_queueMutex);
    Write write;
    write.delivered.emplace(deliveryId, at);
    m_writes.push_back(std::move(write));
    wakeCommitter();
}

// The committer is woken by the first change of an empty queue, and once
// more when there is a batch's worth.
void Journal::wakeCommitter()
{
    if (!m_committing && (m_writes.size() == 1 || m_writes.size() == maxBatch))
        m_queued.notifyOne();
}

// Changes no one waits for are gathered a moment before they are
// committed, so that a stream of them costs the committer one wake-up per
// batch rather than one per change.
void Journal::commitQueued()
{
    orv::base::MutexLock lock(m_queueMutex);
    while (true) {
        while ((m_writes.empty() || m_committing) && !m_stopping)
            m_queued.wait(m_queueMutex);
        if (m_stopping && m_writes.empty() && !m_committing)
            break;
        if (!m_stopping && !m_committing && m_writes.size() < maxBatch)
            m_queued.waitFor(m_queueMutex, gatherWindow);
        if (m_committing)
            m_queued.wait(m_queueMutex);
        else if (!m_writes.empty())
            commitBatch();
    }
}

// Whatever has queued while the last transaction ran goes into the next
// one, in the order it came.
void Journal::commitBatch()
{
    m_committing = true;
    std::vector<Write> batch;
    while (!m_writes.empty() && batch.size() < maxBatch) {
        batch.push_back(std::move(m_writes.front()));
        m_writes.pop_front();
    }
    m_room.notifyAll();
    m_queueMutex.unlock();

    std::vector<JournalStore::Recording> records;
    std::vector<std::pair<int64_t, Millis>> delivered;
    for (Write& write : batch) {
        if (write.event)
            records.push_back({ write.event, write.deliveryIds });
        else if (write.owned)
            records.push_back({ &*write.owned, nullptr });
        else if (write.delivered)
            delivered.push_back(*write.delivered);
    }
    const bool committed = commit(records, delivered);

    m_queueMutex.lock();
    size_t next = 0;
    for (Write& write : batch) {
        if (!write.event && !write.owned)
            continue;
        const int64_t id = records[next++].id;
        if (!write.waiter)
            continue;
        if (committed)
            write.waiter->id = id;
        write.waiter->done = true;
        write.waiter->turn.notifyOne();
    }
    m_committing = false;
    // The next to commit: a door thread that waits, else the committer.
    const auto waiting
        = std::find_if(m_writes.begin(), m_writes.end(), [](const Write& write) { return write.waiter != nullptr; });
    if (waiting != m_writes.end())
        waiting->waiter->turn.notifyOne();
    else if (!m_writes.empty() || m_stopping)
        m_queued.notifyOne();
}

bool Journal::commit(
    std::vector<JournalStore::Recording>& records, const std::vector<std::pair<int64_t, Millis>>& delivered)
{
    orv::base::MutexLock lock(m_mutex);
    if (!ready())
        return false;
    try {
        checkBound(m_clock());
        // Above the bound new events are reported as without a journal;
        // what was delivered is still recorded.
        if (m_atBound) {
            std::vector<JournalStore::Recording> none;
            m_store->recordAll(none, delivered);
            return false;
        }
        m_store->recordAll(records, delivered);
        return true;
    } catch (const JournalError& error) {
        for (JournalStore::Recording& recording : records)
            if (recording.deliveryIds)
                recording.deliveryIds->clear();
        broke(error);
    }
    return false;
}

void Journal::maintain()
{
    orv::base::MutexLock lock(m_mutex);
    if (!ready())
        return;
    try {
        const Millis now = m_clock();
        removeOld(now);
        checkBound(now);
    } catch (const JournalError& error) {
        broke(error);
    }
}

// Called under the lock with the store open, from maintain() only, so that
// no door thread does this work.
void Journal::removeOld(Millis now)
{
    if (now < m_maintainAt)
        return;
    m_maintainAt = now + maintenanceMillis;
    m_store->removeFinishedBefore(now - m_settings.keepDays * dayMillis);
    m_store->removeEndedHoldDowns(now);
    m_store->removeSilencesEndedBefore(now - silenceKeptMillis);
    m_boundCheckAt = 0;
}

// Called under the lock with the store open, before events are recorded:
// at most once a second, a look at the file's size, and while it is above
// its bound the removal of the oldest finished events.
void Journal::checkBound(Millis now)
{
    if (now < m_boundCheckAt)
        return;
    m_boundCheckAt = now + 1000;
    while (m_store->usedBytes() > m_settings.maxBytes)
        if (m_store->removeOldestFinished(removalBatch) == 0)
            break;
    const bool atBound = m_store->usedBytes() > m_settings.maxBytes;
    if (atBound == m_atBound)
        return;
    m_atBound = atBound;
    if (atBound)
        logStatement(4, LogDest::platform(), KAV_JOURNAL_FULL, m_settings.path, int(m_settings.maxBytes >> 20));
    else
        logStatement(4, LogDest::platform(), KAV_JOURNAL_ROOM, m_settings.path);
}

}
