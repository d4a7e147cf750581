#include "cmd/kav/journal/Journal.h"

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
    std::lock_guard lock(m_mutex);
    m_health = Health::Ok;
    open();
}

Journal::Health Journal::health() const
{
    std::lock_guard lock(m_mutex);
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
        m_store.emplace(m_settings.path, m_settings.sync);
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
            m_store.emplace(m_settings.path, m_settings.sync);
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

std::optional<int64_t> Journal::record(const NewEvent& event, std::vector<int64_t>* deliveryIds)
{
    std::lock_guard lock(m_mutex);
    if (!ready())
        return std::nullopt;
    try {
        checkBound(m_clock());
        if (m_atBound)
            return std::nullopt;
        return m_store->record(event, deliveryIds);
    } catch (const JournalError& error) {
        broke(error);
    }
    return std::nullopt;
}

void Journal::maintain()
{
    std::lock_guard lock(m_mutex);
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
    m_boundCheckAt = 0;
}

// Called under the lock with the store open, before each event is
// recorded: a look at the file's size, and while it is above its bound
// (at most once a second) the removal of the oldest finished events.
void Journal::checkBound(Millis now)
{
    if (m_atBound && now < m_boundCheckAt)
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
