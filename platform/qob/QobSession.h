// One registration with the proxy: a request connection, on which calls are
// answered one at a time, and a command connection, on which the proxy sends
// commands that a thread of this session hands to the registered callbacks.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "FdGuard.h"

namespace qob {

struct Registration {
    std::string app;
    std::string version;
    std::vector<std::pair<std::string, int (*)()>> callbacks;
};

class QobSession {
public:
    // Connects and registers. The proxy's result is returned; for success and
    // "already registered" `session` is set and its command thread runs.
    static int open(const Registration& registration, std::shared_ptr<QobSession>& session);

    ~QobSession();
    QobSession(const QobSession&) = delete;
    QobSession& operator=(const QobSession&) = delete;

    // Sends one request and returns the proxy's result, or a communication
    // failure once the connection has broken.
    int request(const nlohmann::ordered_json& message);

    // Cuts both connections and waits for the command thread to end; from a
    // callback it only cuts them, and the thread ends after the callback.
    void stop();

private:
    struct CommandChannel;

    QobSession(FdGuard requestFd, std::shared_ptr<CommandChannel> channel);
    static void runCommands(std::shared_ptr<CommandChannel> channel);

    std::mutex m_requestMutex;
    FdGuard m_requestFd;
    bool m_broken = false; // guarded by m_requestMutex
    std::shared_ptr<CommandChannel> m_channel;
};

}
