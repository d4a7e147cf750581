#include "cmd/kav/KAVStats.h"

#include "cmd/kav/journal/JournalTypes.h"

std::string KAVStats::utcTime(time_t when)
{
    return orv::journal::isoTime(static_cast<orv::journal::Millis>(when) * 1000);
}

KAVStats::KAVStats()
    : m_start(std::chrono::steady_clock::now())
{
}

const char* KAVStats::channelName(Channel channel)
{
    switch (channel) {
    case Message:
        return "message";
    case OrvEvent:
        return "orvEvent";
    case Remote:
        return "remote";
    case Email:
    case ChannelCount:
        break;
    }
    return "email";
}

void KAVStats::channelReported(Channel channel)
{
    m_channels[channel].reported.fetch_add(1, std::memory_order_relaxed);
}

void KAVStats::channelFailed(Channel channel, const std::string& text)
{
    m_channels[channel].failed.fetch_add(1, std::memory_order_relaxed);
    const time_t now = time(nullptr);
    orv::base::MutexLock lock(m_failureMutex);
    m_lastFailures[channel] = { now, text };
}

void KAVStats::ClassCount::add(const std::string& eventClass)
{
    m_total.fetch_add(1, std::memory_order_relaxed);
    orv::base::MutexLock lock(m_mutex);
    ++m_byClass[eventClass];
}

void KAVStats::ClassCount::into(nlohmann::json& result, const std::string& name) const
{
    result[name] = m_total.load(std::memory_order_relaxed);
    nlohmann::json& byClass = result[name + "ByClass"] = nlohmann::json::object();
    orv::base::MutexLock lock(m_mutex);
    for (const auto& [eventClass, count] : m_byClass)
        byClass[eventClass] = count;
}

nlohmann::json KAVStats::snapshot() const
{
    using std::chrono::duration_cast;
    using std::chrono::seconds;
    nlohmann::json result;
    result["uptimeSeconds"] = duration_cast<seconds>(std::chrono::steady_clock::now() - m_start).count();
    result["eventsReceived"] = m_received.load(std::memory_order_relaxed);
    result["unknownClass"] = m_unknownClass.load(std::memory_order_relaxed);
    result["badEvents"] = m_badEvents.load(std::memory_order_relaxed);
    m_held.into(result, "held");
    m_silenced.into(result, "silenced");
    result["journal"] = m_journalSource
        ? m_journalSource()
        : nlohmann::json { { "state", "off" }, { "pending", 0 }, { "retried", 0 }, { "deliveredAfterRetry", 0 },
              { "givenUp", 0 }, { "dropped", 0 }, { "mailDeferred", 0 } };
    nlohmann::json& channels = result["channels"];
    orv::base::MutexLock lock(m_failureMutex);
    for (int i = 0; i < ChannelCount; ++i) {
        const ChannelCounters& counters = m_channels[i];
        const LastFailure& last = m_lastFailures[i];
        nlohmann::json& channel = channels[channelName(static_cast<Channel>(i))];
        channel["reported"] = counters.reported.load(std::memory_order_relaxed);
        channel["failed"] = counters.failed.load(std::memory_order_relaxed);
        channel["lastFailure"] = nullptr;
        if (last.time != 0)
            channel["lastFailure"] = { { "time", utcTime(last.time) }, { "text", last.text } };
    }
    return result;
}

std::string KAVStats::summary() const
{
    const auto count
        = [](const std::atomic<uint64_t>& counter) { return std::to_string(counter.load(std::memory_order_relaxed)); };
    uint64_t reported = 0;
    uint64_t failed = 0;
    for (const ChannelCounters& counters : m_channels) {
        reported += counters.reported.load(std::memory_order_relaxed);
        failed += counters.failed.load(std::memory_order_relaxed);
    }
    return count(m_received) + " events received (" + count(m_unknownClass) + " of unknown class, "
        + std::to_string(m_held.total()) + " held, " + std::to_string(m_silenced.total()) + " silenced), "
        + count(m_badEvents) + " unreadable; " + std::to_string(reported) + " reports made, " + std::to_string(failed)
        + " failed";
}
