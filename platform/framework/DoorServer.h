// Serves doors: registered service objects, the doors that lead to them
// and the door threads, which take turns waiting for requests and each run
// the one they complete. The server owns its registered services and destroys them when it
// shuts down, after the last call has finished.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <vector>

#include "platform/base/Mutex.h"

class DoorService;

namespace orv::framework {
class DoorEndpoint;
class DoorThreadPool;
class Invocation;
class RequestReader;
}

class DoorServer {
public:
    DoorServer();
    virtual ~DoorServer();
    DoorServer(const DoorServer&) = delete;
    DoorServer& operator=(const DoorServer&) = delete;

    // Registers `service` under the number `value` and takes it over.
    // 0, or EINVAL for no service, EEXIST when the number is taken, EBUSY
    // once shut down; on failure the caller keeps the object.
    int registerObj(DoorService* service, int value);

    // Creates the door `doorName`, leading to the service registered under
    // `value`. 0, or an errno value (ENOENT no such service, EADDRINUSE a
    // live server has the door, EBUSY already serving, ...).
    int doorCreate(const char* doorName, int value);

    // Hooks: doorStart runs once on each door thread as it starts,
    // doorInvocation on the door thread before each call.
    virtual void doorStart();
    virtual void doorInvocation();

    // Tuning, mainly for tests; takes effect when serving starts.
    void setRequestTimeout(std::chrono::milliseconds timeout);
    void setDoorThreadCount(unsigned count);

    static constexpr std::chrono::milliseconds DEFAULT_REQUEST_TIMEOUT { 5000 };
    static constexpr unsigned DEFAULT_DOOR_THREADS = 8;

protected:
    // Starts the reader and the door threads; calls reach the services
    // from now on.
    void startServing();
    // Stops accepting, lets the calls already received finish, destroys the
    // services and removes the doors. Safe to call more than once.
    void shutDown();

private:
    struct Door;
    void runCall(orv::framework::Invocation& call);

    // shutDown() takes the services, doors, reader and pool out under the
    // lock and ends them outside it, where a call still running may take it.
    orv::base::Mutex m_mutex;
    std::map<int, std::unique_ptr<DoorService>> m_services GUARDED_BY(m_mutex);
    std::vector<Door> m_doors GUARDED_BY(m_mutex);
    bool m_serving GUARDED_BY(m_mutex) = false;
    bool m_shutDown GUARDED_BY(m_mutex) = false;
    std::chrono::milliseconds m_requestTimeout GUARDED_BY(m_mutex) = DEFAULT_REQUEST_TIMEOUT;
    unsigned m_doorThreads GUARDED_BY(m_mutex) = DEFAULT_DOOR_THREADS;
    std::atomic<unsigned> m_openConnections { 0 };
    std::unique_ptr<orv::framework::DoorThreadPool> m_pool GUARDED_BY(m_mutex);
    std::unique_ptr<orv::framework::RequestReader> m_reader GUARDED_BY(m_mutex);
};
