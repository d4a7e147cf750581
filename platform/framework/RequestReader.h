// The one thread that accepts door connections and assembles their
// requests. Waiting for slow or idle callers happens here, so the door
// threads only ever run complete calls. A request that is not complete by
// its deadline is dropped.
#pragma once

#include <poll.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "PendingRequest.h"
#include "SelfPipe.h"

class DoorService;
class Invocation;

class RequestReader {
public:
    struct Door {
        int listenFd;
        std::string name;
        DoorService* service;
    };
    using Deliver = std::function<void(std::unique_ptr<Invocation>)>;

    // Beyond this many open connections (pending or running) no more are
    // accepted until some finish; they wait in the listen backlog.
    static constexpr unsigned MAX_CONNECTIONS = 512;

    RequestReader(std::vector<Door> doors, std::chrono::milliseconds timeout, std::atomic<unsigned>& openCount,
                  Deliver deliver);
    ~RequestReader();
    RequestReader(const RequestReader&) = delete;
    RequestReader& operator=(const RequestReader&) = delete;

    void start();
    // Stops accepting, drops the requests still arriving and joins the thread.
    void stop();

private:
    void loop();
    int pollTimeout(PendingRequest::Clock::time_point now) const;
    bool accepting() const;
    void acceptFrom(const Door& door);
    void admit(int fd, const Door& door);
    void serviceReadable(const std::vector<pollfd>& fds, size_t firstPending);
    void dropExpired(PendingRequest::Clock::time_point now);

    std::vector<Door> m_doors;
    std::chrono::milliseconds m_timeout;
    std::atomic<unsigned>& m_openCount;
    Deliver m_deliver;
    SelfPipe m_wake;
    std::atomic<bool> m_stop { false };
    std::vector<std::unique_ptr<PendingRequest>> m_pending;
    std::thread m_thread;
};
