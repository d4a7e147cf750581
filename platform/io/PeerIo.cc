#include "platform/io/PeerIo.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "platform/io/ShutdownSignal.h"

namespace orv::io {

namespace {

// How long to wait before knocking again at a listener whose queue is full.
constexpr int fullQueuePauseMs = 20;

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

int connectError(int fd)
{
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return errno;
    return error;
}

// Sleeps up to `ms` unless shutdown begins meanwhile.
int pause(int ms)
{
    pollfd stop { shutdownFd(), POLLIN, 0 };
    if (::poll(&stop, 1, ms) > 0)
        return ECANCELED;
    return 0;
}

}

int PeerIo::wait(int fd, short events, const Deadline& deadline)
{
    for (;;) {
        pollfd fds[] = { { fd, events, 0 }, { shutdownFd(), POLLIN, 0 } };
        const int ready = ::poll(fds, 2, deadline.pollTimeout());
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return errno;
        if (fds[1].revents != 0)
            return ECANCELED;
        return ready == 0 ? ETIMEDOUT : 0;
    }
}

int PeerIo::connect(int fd, const sockaddr_un& address, const Deadline& deadline)
{
    for (;;) {
        if (shutdownRequested())
            return ECANCELED;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            return 0;
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EINPROGRESS) {
            if (int rc = wait(fd, POLLOUT, deadline))
                return rc;
            return connectError(fd);
        }
        if (!wouldBlock(error))
            return error;
        if (deadline.passed())
            return ETIMEDOUT;
        const int left = deadline.pollTimeout();
        if (int rc = pause(left < 0 ? fullQueuePauseMs : std::min(left, fullQueuePauseMs)))
            return rc;
    }
}

int PeerIo::sendAll(int fd, const void* data, size_t length, const Deadline& deadline)
{
    auto* at = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t sent = ::send(fd, at, length, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && wouldBlock(errno)) {
            if (int rc = wait(fd, POLLOUT, deadline))
                return rc;
            continue;
        }
        if (sent < 0)
            return errno;
        at += sent;
        length -= static_cast<size_t>(sent);
    }
    return 0;
}

int PeerIo::receiveAll(int fd, void* data, size_t length, const Deadline& deadline)
{
    auto* at = static_cast<char*>(data);
    while (length > 0) {
        const ssize_t got = ::recv(fd, at, length, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && wouldBlock(errno)) {
            if (int rc = wait(fd, POLLIN, deadline))
                return rc;
            continue;
        }
        if (got < 0)
            return errno;
        if (got == 0)
            return EPROTO;
        at += got;
        length -= static_cast<size_t>(got);
    }
    return 0;
}

}
