#include "RequestReader.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Invocation.h"
#include "LogStatement.h"

namespace {

// While the connection cap holds accepting back, look again this often.
constexpr int CAP_RECHECK_MS = 100;

}

RequestReader::RequestReader(std::vector<Door> doors, std::chrono::milliseconds timeout,
                             std::atomic<unsigned>& openCount, Deliver deliver)
    : m_doors(std::move(doors))
    , m_timeout(timeout)
    , m_openCount(openCount)
    , m_deliver(std::move(deliver))
{
}

RequestReader::~RequestReader()
{
    stop();
}

void RequestReader::start()
{
    m_thread = std::thread(&RequestReader::loop, this);
}

void RequestReader::stop()
{
    if (!m_thread.joinable())
        return;
    m_stop = true;
    m_wake.post(0);
    m_thread.join();
}

void RequestReader::loop()
{
    while (!m_stop) {
        std::vector<pollfd> fds { { m_wake.readFd(), POLLIN, 0 } };
        bool listening = accepting();
        for (const Door& door : m_doors)
            fds.push_back({ listening ? door.listenFd : -1, POLLIN, 0 });
        size_t firstPending = fds.size();
        for (const auto& pending : m_pending)
            fds.push_back({ pending->fd(), POLLIN, 0 });

        int ready = ::poll(fds.data(), fds.size(), pollTimeout(PendingRequest::Clock::now()));
        if (ready < 0 && errno != EINTR)
            logStatement(4, LogDest::trace(), 0, "Door reader: poll failed: %s", std::strerror(errno));
        // Draining costs a system call; only a posted note needs it.
        if (fds[0].revents & POLLIN)
            m_wake.drain();
        if (ready > 0) {
            serviceReadable(fds, firstPending);
            for (size_t i = 0; i < m_doors.size(); ++i)
                if (fds[1 + i].revents & POLLIN)
                    acceptFrom(m_doors[i]);
        }
        dropExpired(PendingRequest::Clock::now());
    }
    m_pending.clear();
}

bool RequestReader::accepting() const
{
    return m_openCount.load() < MAX_CONNECTIONS;
}

int RequestReader::pollTimeout(PendingRequest::Clock::time_point now) const
{
    int timeout = accepting() ? -1 : CAP_RECHECK_MS;
    for (const auto& pending : m_pending) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(pending->deadline() - now).count();
        left = std::max<decltype(left)>(left, 0);
        if (timeout < 0 || left < timeout)
            timeout = static_cast<int>(left);
    }
    return timeout;
}

void RequestReader::acceptFrom(const Door& door)
{
    while (accepting()) {
        int fd = ::accept4(door.listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            admit(fd, door);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            logStatement(4, LogDest::trace(), 0, "Door %s: accept failed: %s", door.name, std::strerror(errno));
        return;
    }
}

void RequestReader::admit(int fd, const Door& door)
{
    auto connection = std::make_unique<DoorConnection>(fd, m_openCount);
    if (!connection->peerAllowed()) {
        logStatement(4, LogDest::trace(), 0, "Door %s: call from uid %ld refused.", door.name,
                     connection->peerUid());
        connection->refuse(EACCES);
        return;
    }
    auto deadline = PendingRequest::Clock::now() + m_timeout;
    m_pending.push_back(std::make_unique<PendingRequest>(std::move(connection), *door.service, deadline));
}

void RequestReader::serviceReadable(const std::vector<pollfd>& fds, size_t firstPending)
{
    std::vector<std::unique_ptr<PendingRequest>> stillReading;
    for (size_t i = 0; i < m_pending.size(); ++i) {
        auto& pending = m_pending[i];
        PendingRequest::State state = PendingRequest::State::Reading;
        if (fds[firstPending + i].revents != 0)
            state = pending->readAvailable();
        if (state == PendingRequest::State::Reading)
            stillReading.push_back(std::move(pending));
        else if (state == PendingRequest::State::Complete)
            m_deliver(pending->takeInvocation());
        else if (pending->dropOutcome() != 0)
            pending->refuse(pending->dropOutcome());
    }
    m_pending = std::move(stillReading);
}

void RequestReader::dropExpired(PendingRequest::Clock::time_point now)
{
    auto expired = [&](const std::unique_ptr<PendingRequest>& pending) {
        if (pending->deadline() > now)
            return false;
        logStatement(4, LogDest::trace(), 0, "Door request dropped: not complete within %lld ms.",
                     static_cast<long long>(m_timeout.count()));
        pending->refuse(ETIMEDOUT);
        return true;
    };
    std::erase_if(m_pending, expired);
}
