#include "cmd/kav/KAVNotifier.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

#include "cmd/kav/KAVStats.h"
#include "cmd/kav/email/EmailReportingService.h"
#include "cmd/kav/remote/RemoteReportingService.h"
#include "platform/io/Heartbeat.h"
#include "platform/log/LogStatement.h"
#include "platform/sendevent/OrvSendEvent.h"

using orv::io::Heartbeat;

namespace {

constexpr std::chrono::seconds statusEvery { 5 };

std::chrono::milliseconds stuckAfter()
{
    const std::chrono::milliseconds longestStep
        = std::max({ std::chrono::milliseconds(std::chrono::seconds(EmailReportingService::scriptTimeout())),
            OrvSendEvent::peerTimeout(), 4 * RemoteReportingService::proxyTimeout() });
    return 2 * longestStep + std::chrono::minutes(1);
}

int seconds(Heartbeat::Clock::duration length)
{
    return static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(length).count());
}

// When the service manager is gone there is no one to tell: failures are
// not reported.
void tell(const std::string& state)
{
    (void)sd_notify(0, state.c_str());
}

}

std::unique_ptr<KAVNotifier> KAVNotifier::startIfManaged(std::shared_ptr<const KAVStats> stats)
{
    const char* socket = std::getenv("NOTIFY_SOCKET");
    if (socket == nullptr || *socket == '\0')
        return nullptr;
    return std::make_unique<KAVNotifier>(std::move(stats));
}

KAVNotifier::KAVNotifier(std::shared_ptr<const KAVStats> stats)
    : m_stats(std::move(stats))
    , m_stuckAfter(stuckAfter())
{
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0)
        m_pingEvery = std::chrono::microseconds(usec / 2);
    if (m_pingEvery.count() > 0)
        logStatement(2, LogDest::trace(), "Watchdog: a ping every %d ms while no thread is stuck for %d seconds.",
            static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(m_pingEvery).count()),
            seconds(m_stuckAfter));
    tell("READY=1\nSTATUS=" + m_stats->summary());
    m_thread = std::thread(&KAVNotifier::run, this);
}

KAVNotifier::~KAVNotifier()
{
    {
        orv::base::MutexLock lock(m_mutex);
        m_stop = true;
    }
    m_wake.notifyAll();
    m_thread.join();
}

void KAVNotifier::stopping()
{
    tell("STOPPING=1");
}

void KAVNotifier::reloading()
{
    tell("RELOADING=1");
}

void KAVNotifier::reloaded()
{
    tell("READY=1");
}

void KAVNotifier::run()
{
    using Clock = Heartbeat::Clock;
    const bool watchdog = m_pingEvery.count() > 0;
    Clock::time_point nextPing = Clock::now();
    Clock::time_point nextStatus = nextPing + statusEvery;
    std::optional<Heartbeat::Stall> stall;
    orv::base::MutexLock lock(m_mutex);
    while (!m_stop) {
        const Clock::time_point now = Clock::now();
        std::string message;
        if (watchdog && now >= nextPing) {
            nextPing = now + m_pingEvery;
            const std::optional<Heartbeat::Stall> seen = Heartbeat::stalled(now, m_stuckAfter);
            if (seen && !stall)
                logStatement(4, LogDest::trace(),
                    "Watchdog: pings withheld: a %s has been inside one step for %d seconds.", seen->kind,
                    seconds(seen->length));
            else if (!seen && stall)
                logStatement(3, LogDest::trace(), "Watchdog: no thread is stuck any more; pings resumed.");
            if (seen.has_value() != stall.has_value())
                nextStatus = now;
            stall = seen;
            if (!stall)
                message += "WATCHDOG=1\n";
        }
        if (now >= nextStatus) {
            nextStatus = now + statusEvery;
            message += "STATUS=";
            if (stall)
                message += "Stuck: a " + std::string(stall->kind) + " has been inside one step for "
                    + std::to_string(seconds(stall->length)) + " s. ";
            message += m_stats->summary();
        }
        if (!message.empty())
            tell(message);
        const Clock::time_point next = watchdog ? std::min(nextPing, nextStatus) : nextStatus;
        m_wake.waitFor(m_mutex, next - now);
    }
}
