// Where the door threads wait for work. Every idle door thread waits in
// next(), on one shared epoll set holding the doors' listening sockets and
// the connections whose requests are still arriving; the kernel hands each
// event to one of them. The thread that finds a request complete runs it
// itself, while the others go on waiting, so no call is handed from thread
// to thread. A connection whose request is not all there is parked in the
// set, so slow or idle callers never hold a door thread; one that is not
// complete by its deadline is dropped. When descriptors run out, accepting
// rests for a moment rather than waking a thread for the same waiting
// caller again and again.
#pragma once

#include <sys/epoll.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/Mutex.h"
#include "platform/io/FdGuard.h"
#include "platform/io/Status.h"
#include "platform/framework/PendingRequest.h"

class DoorService;

namespace orv::framework {

class RequestReader {
public:
    struct Door {
        int listenFd;
        std::string name;
        DoorService* service;
    };

    // Beyond this many open connections (pending or running) no more are
    // accepted until some finish; they wait in the listen backlog.
    static constexpr unsigned MAX_CONNECTIONS = 512;

    // Throws std::system_error when the kernel objects cannot be made.
    RequestReader(std::vector<Door> doors, std::chrono::milliseconds timeout, std::atomic<unsigned>& openCount);
    ~RequestReader();
    RequestReader(const RequestReader&) = delete;
    RequestReader& operator=(const RequestReader&) = delete;

    // Waits until a request is complete and leaves it in `request`, whose
    // buffer the calling thread reuses from call to call. False once
    // stopped.
    bool next(PendingRequest& request);
    // Stops accepting and wakes every waiting thread for good; requests
    // still arriving are dropped when the reader is destroyed.
    void stop();

private:
    using Clock = PendingRequest::Clock;
    enum class Kind : uint64_t { Wake, Timer, Door, Parked };

    bool accept(size_t index, PendingRequest& request);
    void acceptFailed(size_t index, const io::Status& failed) EXCLUDES(m_mutex);
    void dropWaitingCaller(int listenFd) REQUIRES(m_mutex);
    bool settle(PendingRequest& request);
    bool resume(uint64_t id, PendingRequest& request) EXCLUDES(m_mutex);
    void park(std::unique_ptr<PendingRequest> parked, uint64_t id) EXCLUDES(m_mutex);
    void timerFired() EXCLUDES(m_mutex);
    void armTimer(Clock::time_point at) REQUIRES(m_mutex);
    void watchDoor(size_t index);
    void pauseListening(Clock::time_point lookAgain) REQUIRES(m_mutex);
    void resumeListening() REQUIRES(m_mutex);
    bool admitting() const { return m_openCount.load(std::memory_order_relaxed) < MAX_CONNECTIONS; }

    std::vector<Door> m_doors;
    std::chrono::milliseconds m_timeout;
    std::atomic<unsigned>& m_openCount;
    io::FdGuard m_epoll;
    io::FdGuard m_wake;
    io::FdGuard m_timer;
    std::atomic<bool> m_stop { false };

    orv::base::Mutex m_mutex;
    std::map<uint64_t, std::unique_ptr<PendingRequest>> m_parked GUARDED_BY(m_mutex);
    uint64_t m_lastId GUARDED_BY(m_mutex) = 0;
    Clock::time_point m_timerAt GUARDED_BY(m_mutex) = Clock::time_point::max();
    bool m_listenPaused GUARDED_BY(m_mutex) = false;
    // After a failed accept the doors rest until then.
    Clock::time_point m_restUntil GUARDED_BY(m_mutex) = Clock::time_point::min();
    // Held open to be given up for a moment, so that a caller waiting while
    // descriptors have run out can be taken and closed.
    io::FdGuard m_spare GUARDED_BY(m_mutex);
    // Failed accepts since the last line that told of them, and its time.
    unsigned m_acceptFailures GUARDED_BY(m_mutex) = 0;
    Clock::time_point m_acceptReported GUARDED_BY(m_mutex) = Clock::time_point::min();
};

}
