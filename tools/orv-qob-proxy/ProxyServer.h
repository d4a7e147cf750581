// The stand-in proxy's event loop: accepts client connections on a Unix
// socket, answers their requests, records every call in the CallLog and, on
// SIGUSR1, sends the status command to every registered client. SIGTERM and
// SIGINT end it cleanly. One step may be left unanswered for ever (a proxy
// that hangs): "accept" leaves new connections in the listener's queue, a
// call name leaves that call without an answer.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/orv-qob-proxy/CallLog.h"
#include "tools/orv-qob-proxy/FailQueue.h"
#include "platform/qob/FrameDecoder.h"
#include "platform/framework/SignalPipe.h"
#include "platform/io/FdGuard.h"

class ProxyServer {
public:
    ProxyServer(std::string socketPath, CallLog& log, FailQueue& failures, std::string hang = {});
    ~ProxyServer();
    ProxyServer(const ProxyServer&) = delete;
    ProxyServer& operator=(const ProxyServer&) = delete;

    // Serves until a terminating signal arrives; the process exit status.
    int run();

private:
    struct Client {
        orv::io::FdGuard fd;
        orv::qob::FrameDecoder decoder;
        long session = 0; // request connection: its registration
        long attachedTo = 0; // command connection: the registration it serves
        bool closing = false;
    };

    bool listenOnSocket();
    void acceptClient();
    void readClient(Client& client);
    void handle(Client& client, const nlohmann::ordered_json& request);
    void handleRegister(Client& client, const nlohmann::ordered_json& request);
    void handleAttach(Client& client, const nlohmann::ordered_json& request);
    void handleCall(Client& client, const nlohmann::ordered_json& request, const std::string& call);
    void reply(Client& client, const nlohmann::ordered_json& answer);
    void record(const nlohmann::ordered_json& request, const std::string& call, int rc);
    void sendStatusCommand();
    bool sessionLive(long session) const;
    void dropClosingClients();
    bool handleSignals();

    std::string m_socketPath;
    CallLog& m_log;
    FailQueue& m_failures;
    const std::string m_hang;
    std::unique_ptr<orv::framework::SignalPipe> m_signals;
    orv::io::FdGuard m_listener;
    std::vector<std::unique_ptr<Client>> m_clients;
    long m_lastSession = 0;
};
