// One registration with the proxy: a request connection, on which calls are
// answered one at a time, and a command connection, on which the proxy sends
// commands that a thread of this session hands to the registered callbacks.
//
// Every step (connect, registration, the command connection's handshake,
// each request) has a deadline of $QOB_PROXY_TIMEOUT seconds (10 by
// default). A session whose request failed or ran out of time is broken: it
// lets go of both connections and its command thread at once, since the
// caller will register anew rather than use it again.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/base/Mutex.h"
#include "platform/io/Deadline.h"
#include "platform/io/FdGuard.h"

namespace orv::qob {

struct Registration {
    std::string app;
    std::string version;
    std::vector<std::pair<std::string, int (*)()>> callbacks;
};

class QobSession {
public:
    // Connects and registers. The proxy's result is returned (or
    // QOB_PROXY_TIMED_OUT); for success and "already registered" `session`
    // is set and its command thread runs.
    static int open(const Registration& registration, std::shared_ptr<QobSession>& session);

    ~QobSession();
    QobSession(const QobSession&) = delete;
    QobSession& operator=(const QobSession&) = delete;

    // Sends one request and returns the proxy's result, a communication
    // failure once the connection has broken, or QOB_PROXY_TIMED_OUT when
    // no answer came in time (the proxy may still have acted on it).
    int request(const nlohmann::ordered_json& message);

    const std::string& app() const { return m_app; }
    bool broken();

    // Cuts both connections and waits for the command thread to end; from a
    // callback it only cuts them, and the thread ends after the callback.
    void stop();

    // The deadline of one step.
    static std::chrono::milliseconds stepTimeout();

private:
    struct CommandChannel;

    QobSession(std::string app, io::FdGuard requestFd, std::shared_ptr<CommandChannel> channel);
    static void runCommands(std::shared_ptr<CommandChannel> channel);
    void breakOff() REQUIRES(m_requestMutex);

    const std::string m_app;
    orv::base::Mutex m_requestMutex;
    io::FdGuard m_requestFd GUARDED_BY(m_requestMutex);
    bool m_broken GUARDED_BY(m_requestMutex) = false;
    std::shared_ptr<CommandChannel> m_channel;
};

}
