#include "cmd/kav/KAVStats.h"

std::string KAVStats::utcTime(time_t when)
{
    tm parts {};
    gmtime_r(&when, &parts);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
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

void KAVStats::eventHeld(const std::string& eventClass)
{
    m_held.fetch_add(1, std::memory_order_relaxed);
    orv::base::MutexLock lock(m_heldMutex);
    ++m_heldByClass[eventClass];
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
    result["held"] = m_held.load(std::memory_order_relaxed);
    {
        orv::base::MutexLock lock(m_heldMutex);
        result["heldByClass"] = nlohmann::json::object();
        for (const auto& [eventClass, count] : m_heldByClass)
            result["heldByClass"][eventClass] = count;
    }
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
