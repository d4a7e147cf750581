// The daemon's word to systemd when it runs as a Type=notify service, that
// is when NOTIFY_SOCKET names the service manager's socket: READY=1 once the
// doors are made, a STATUS= line of the counters every few seconds, and with
// WatchdogSec= a WATCHDOG=1 ping every half of it while no door thread or
// delivery thread is stuck (platform/io/Heartbeat.h). A process that stops
// altogether stops the pings as well, and systemd restarts it.
//
// A thread is stuck once it has been inside one step longer than twice the
// longest a step may legitimately take, plus a minute. The longest step is
// the greatest of a mail script's time limit, the front-end's deadline and
// four steps of the client library (connect, register, handshake, message);
// twice that covers a step that first waits for another thread's step on
// the same peer. With the default deadlines: 5 minutes.
#pragma once

#include <chrono>
#include <memory>
#include <thread>

#include "platform/base/Mutex.h"

class KAVStats;

class KAVNotifier {
public:
    // Says READY=1 with the first status line and starts the thread of
    // status lines and pings; nothing without NOTIFY_SOCKET.
    static std::unique_ptr<KAVNotifier> startIfManaged(std::shared_ptr<const KAVStats> stats);

    explicit KAVNotifier(std::shared_ptr<const KAVStats> stats);
    // Ends the thread; the pings go on until then, also while stopping.
    ~KAVNotifier();
    KAVNotifier(const KAVNotifier&) = delete;
    KAVNotifier& operator=(const KAVNotifier&) = delete;

    // Shutdown begins; a reload (SIGHUP) begins and ends. From any thread.
    static void stopping();
    static void reloading();
    static void reloaded();

private:
    void run();

    const std::shared_ptr<const KAVStats> m_stats;
    // Half of WatchdogSec=; zero without a watchdog.
    std::chrono::microseconds m_pingEvery { 0 };
    const std::chrono::milliseconds m_stuckAfter;
    orv::base::Mutex m_mutex;
    orv::base::CondVar m_wake;
    bool m_stop GUARDED_BY(m_mutex) = false;
    std::thread m_thread;
};
