#include "QobSession.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <condition_variable>
#include <thread>

#include "ProxySocket.h"
#include "QobFrame.h"
#include "SocketIo.h"
#include "qobimapi.h"

namespace qob {

namespace {

// A proxy that stops answering must not hold a caller for ever.
constexpr int requestTimeoutSeconds = 10;

FdGuard connectToProxy()
{
    sockaddr_un address {};
    if (SocketIo::unixAddress(proxySocketPath(), address) != 0)
        return {};
    FdGuard fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid())
        return {};
    if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return {};
    return fd;
}

void setTimeouts(int fd)
{
    timeval timeout { requestTimeoutSeconds, 0 };
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

// One request and its answer; false when the connection failed or the answer
// is not an object with an integer "rc".
bool exchange(int fd, const nlohmann::ordered_json& message, nlohmann::json& answer)
{
    std::string text;
    if (!writeFrame(fd, message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))
        || !readFrame(fd, text))
        return false;
    answer = nlohmann::json::parse(text, nullptr, false);
    return answer.is_object() && answer.contains("rc") && answer["rc"].is_number_integer();
}

}

// Shared by the session and its command thread, which runs detached: a
// registration that is never closed must not leave a thread to join, and
// the thread outlives the session when a callback drops the last reference.
struct QobSession::CommandChannel {
    FdGuard fd;
    std::vector<std::pair<std::string, int (*)()>> callbacks;
    std::thread::id thread;
    std::mutex mutex;
    std::condition_variable ended;
    bool finished = false; // guarded by mutex
};

int QobSession::open(const Registration& registration, std::shared_ptr<QobSession>& session)
{
    FdGuard requestFd = connectToProxy();
    if (!requestFd.valid())
        return QOB_PROXY_COMM_FAILURE;
    setTimeouts(requestFd.get());

    nlohmann::ordered_json commands = nlohmann::ordered_json::array();
    for (const auto& callback : registration.callbacks)
        commands.push_back(callback.first);
    nlohmann::json answer;
    if (!exchange(requestFd.get(),
            { { "op", "register" }, { "app", registration.app }, { "version", registration.version },
                { "commands", commands } },
            answer))
        return QOB_PROXY_COMM_FAILURE;
    int rc = answer["rc"].get<int>();
    if (rc != QOB_SUCCESS && rc != QOB_ALREADY_REGISTERED)
        return rc;

    auto channel = std::make_shared<CommandChannel>();
    channel->fd = connectToProxy();
    channel->callbacks = registration.callbacks;
    nlohmann::json attached;
    if (!channel->fd.valid()
        || !exchange(channel->fd.get(), { { "op", "attach" }, { "session", answer.value("session", 0L) } },
            attached)
        || attached["rc"].get<int>() != QOB_SUCCESS)
        return QOB_PROXY_COMM_FAILURE;

    session.reset(new QobSession(std::move(requestFd), channel));
    return rc;
}

QobSession::QobSession(FdGuard requestFd, std::shared_ptr<CommandChannel> channel)
    : m_requestFd(std::move(requestFd))
    , m_channel(std::move(channel))
{
    std::thread thread(runCommands, m_channel);
    m_channel->thread = thread.get_id();
    thread.detach();
}

QobSession::~QobSession()
{
    stop();
}

void QobSession::runCommands(std::shared_ptr<CommandChannel> channel)
{
    std::string text;
    while (readFrame(channel->fd.get(), text)) {
        nlohmann::json command = nlohmann::json::parse(text, nullptr, false);
        if (!command.is_object() || command.value("op", "") != "command")
            continue;
        std::string name = command.value("name", "");
        for (const auto& callback : channel->callbacks) {
            if (callback.first == name)
                callback.second();
        }
    }
    std::lock_guard lock(channel->mutex);
    channel->finished = true;
    channel->ended.notify_all();
}

int QobSession::request(const nlohmann::ordered_json& message)
{
    std::lock_guard lock(m_requestMutex);
    if (m_broken)
        return QOB_PROXY_COMM_FAILURE;
    nlohmann::json answer;
    if (!exchange(m_requestFd.get(), message, answer)) {
        m_broken = true;
        return QOB_PROXY_COMM_FAILURE;
    }
    return answer["rc"].get<int>();
}

void QobSession::stop()
{
    ::shutdown(m_requestFd.get(), SHUT_RDWR);
    ::shutdown(m_channel->fd.get(), SHUT_RDWR);
    if (m_channel->thread == std::this_thread::get_id())
        return;
    std::unique_lock lock(m_channel->mutex);
    m_channel->ended.wait(lock, [this] { return m_channel->finished; });
}

}
