#include "tools/orv-qob-proxy/ProxyServer.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/qob/ProxySocket.h"
#include "platform/qob/QobFrame.h"
#include "platform/io/SocketIo.h"
#include "platform/qob/qobimapi.h"

using orv::io::FdGuard;

namespace {

constexpr const char* statusCommand = "GETSTATUS";

}

ProxyServer::ProxyServer(std::string socketPath, CallLog& log, FailQueue& failures, std::string hang)
    : m_socketPath(std::move(socketPath))
    , m_log(log)
    , m_failures(failures)
    , m_hang(std::move(hang))
{
}

ProxyServer::~ProxyServer()
{
    if (m_listener.valid())
        unlink(m_socketPath.c_str());
}

// The socket is bound under a temporary name and renamed into place once it
// listens, so a client that finds the path can connect at once. A stale
// socket is replaced; any other file is left alone.
bool ProxyServer::listenOnSocket()
{
    std::string bound = m_socketPath + ".new" + std::to_string(getpid());
    sockaddr_un address {};
    if (orv::io::unixAddress(bound, address) != 0) {
        fprintf(stderr, "orv-qob-proxy: socket path too long: %s\n", m_socketPath.c_str());
        return false;
    }
    struct stat existing { };
    if (lstat(m_socketPath.c_str(), &existing) == 0 && !S_ISSOCK(existing.st_mode)) {
        fprintf(stderr, "orv-qob-proxy: %s exists and is not a socket\n", m_socketPath.c_str());
        return false;
    }
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(m_socketPath).parent_path(), ignored);
    unlink(bound.c_str());
    FdGuard fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid() || bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
        || listen(fd.get(), 16) != 0 || rename(bound.c_str(), m_socketPath.c_str()) != 0) {
        fprintf(stderr, "orv-qob-proxy: cannot listen on %s: %s\n", m_socketPath.c_str(), strerror(errno));
        unlink(bound.c_str());
        return false;
    }
    m_listener = std::move(fd);
    return true;
}

int ProxyServer::run()
{
    try {
        m_signals = std::make_unique<orv::framework::SignalPipe>(std::vector<int> { SIGUSR1, SIGTERM, SIGINT });
    } catch (const std::system_error& error) {
        fprintf(stderr, "orv-qob-proxy: cannot catch signals: %s\n", error.what());
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);
    if (!listenOnSocket())
        return 1;
    for (;;) {
        const int listener = m_hang == "accept" ? -1 : m_listener.get();
        std::vector<pollfd> fds { { m_signals->fd(), POLLIN, 0 }, { listener, POLLIN, 0 } };
        for (const auto& client : m_clients)
            fds.push_back({ client->fd.get(), POLLIN, 0 });
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        if ((fds[0].revents & POLLIN) && !handleSignals())
            return 0;
        if (fds[1].revents & POLLIN)
            acceptClient();
        // Clients accepted just now have no entry in `fds` yet.
        for (size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents)
                readClient(*m_clients[i - 2]);
        }
        dropClosingClients();
    }
}

// False when a terminating signal arrived.
bool ProxyServer::handleSignals()
{
    bool keepRunning = true;
    for (int signo = m_signals->next(); signo >= 0; signo = m_signals->next()) {
        if (signo == SIGUSR1)
            sendStatusCommand();
        else
            keepRunning = false;
    }
    return keepRunning;
}

void ProxyServer::acceptClient()
{
    int fd = accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    auto client = std::make_unique<Client>();
    client->fd.reset(fd);
    m_clients.push_back(std::move(client));
}

void ProxyServer::readClient(Client& client)
{
    char buffer[65536];
    ssize_t got = recv(client.fd.get(), buffer, sizeof buffer, 0);
    if (got <= 0) {
        client.closing = got == 0 || errno != EINTR;
        return;
    }
    client.decoder.append(buffer, static_cast<size_t>(got));
    std::string text;
    while (!client.closing && client.decoder.next(text)) {
        auto request = nlohmann::ordered_json::parse(text, nullptr, false);
        if (!request.is_object() || !request.contains("op") || !request["op"].is_string()) {
            client.closing = true;
            return;
        }
        handle(client, request);
    }
    if (client.decoder.failed())
        client.closing = true;
}

void ProxyServer::handle(Client& client, const nlohmann::ordered_json& request)
{
    std::string op = request["op"].get<std::string>();
    if (op == m_hang)
        return;
    if (op == "register")
        handleRegister(client, request);
    else if (op == "attach")
        handleAttach(client, request);
    else if (op == "senddata" || op == "sendstatus" || op == "close")
        handleCall(client, request, op);
    else
        reply(client, { { "rc", QOB_INVALID_PARAMETER } });
}

void ProxyServer::handleRegister(Client& client, const nlohmann::ordered_json& request)
{
    int rc = m_failures.take("register");
    long session = 0;
    if (rc == 0 || rc == QOB_ALREADY_REGISTERED) {
        session = ++m_lastSession;
        client.session = session;
    }
    record(request, "register", rc);
    reply(client, { { "rc", rc }, { "session", session } });
}

void ProxyServer::handleAttach(Client& client, const nlohmann::ordered_json& request)
{
    auto session = request.find("session");
    if (session == request.end() || !session->is_number_integer() || !sessionLive(session->get<long>())) {
        reply(client, { { "rc", QOB_IM_NOT_REGISTERED } });
        return;
    }
    client.attachedTo = session->get<long>();
    reply(client, { { "rc", 0 } });
}

void ProxyServer::handleCall(Client& client, const nlohmann::ordered_json& request, const std::string& call)
{
    int rc = client.session ? m_failures.take(call) : QOB_IM_NOT_REGISTERED;
    record(request, call, rc);
    reply(client, { { "rc", rc } });
    if (call == "close" && client.session)
        client.closing = true;
}

void ProxyServer::reply(Client& client, const nlohmann::ordered_json& answer)
{
    if (!orv::qob::writeFrame(client.fd.get(), answer.dump()))
        client.closing = true;
}

void ProxyServer::record(const nlohmann::ordered_json& request, const std::string& call, int rc)
{
    nlohmann::ordered_json line { { "call", call } };
    for (const auto& [key, value] : request.items()) {
        if (key != "op")
            line[key] = value;
    }
    line["rc"] = rc;
    m_log.write(line);
}

void ProxyServer::sendStatusCommand()
{
    std::string command = nlohmann::ordered_json { { "op", "command" }, { "name", statusCommand } }.dump();
    for (auto& client : m_clients) {
        if (client->attachedTo && !client->closing && sessionLive(client->attachedTo)
            && !orv::qob::writeFrame(client->fd.get(), command))
            client->closing = true;
    }
}

bool ProxyServer::sessionLive(long session) const
{
    return std::any_of(m_clients.begin(), m_clients.end(),
        [session](const auto& client) { return client->session == session && !client->closing; });
}

// A registration ends with its request connection; its command connection
// goes with it, which ends the client's command thread.
void ProxyServer::dropClosingClients()
{
    for (auto& client : m_clients) {
        if (client->attachedTo && !sessionLive(client->attachedTo))
            client->closing = true;
    }
    std::erase_if(m_clients, [](const auto& client) { return client->closing; });
}
