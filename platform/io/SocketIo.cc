#include "platform/io/SocketIo.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <optional>

#include "platform/io/FdIo.h"

namespace orv::io {

namespace {

using Clock = std::chrono::steady_clock;

// Drops the first `sent` bytes from the front of `parts`.
void advance(iovec*& parts, int& count, size_t sent)
{
    while (count > 0 && sent >= parts->iov_len) {
        sent -= parts->iov_len;
        ++parts;
        --count;
    }
    if (count > 0) {
        parts->iov_base = static_cast<char*>(parts->iov_base) + sent;
        parts->iov_len -= sent;
    }
}

int waitWritable(int fd, Clock::time_point deadline)
{
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return EAGAIN;
        pollfd entry { fd, POLLOUT, 0 };
        int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready > 0)
            return 0;
        if (ready < 0 && errno != EINTR)
            return errno;
    }
}

}

int unixAddress(const std::string& path, sockaddr_un& address)
{
    address = sockaddr_un {};
    if (path.size() >= sizeof address.sun_path)
        return ENAMETOOLONG;
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    return 0;
}

int sendAll(int fd, const void* data, size_t length)
{
    const auto* bytes = static_cast<const char*>(data);
    return transferAll(length, [&](size_t done, size_t left) {
        return ::send(fd, bytes + done, left, MSG_NOSIGNAL);
    }).error;
}

int sendAllWithin(int fd, iovec* parts, int count, std::chrono::milliseconds limit)
{
    std::optional<Clock::time_point> deadline;
    while (count > 0) {
        msghdr message {};
        message.msg_iov = parts;
        message.msg_iovlen = static_cast<size_t>(count);
        ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            advance(parts, count, static_cast<size_t>(sent));
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return errno;
        // The clock is read only once there is something to wait for.
        if (!deadline)
            deadline = Clock::now() + limit;
        if (int rc = waitWritable(fd, *deadline))
            return rc;
    }
    return 0;
}

int receiveAll(int fd, void* data, size_t length)
{
    auto* bytes = static_cast<char*>(data);
    const int error
        = transferAll(length, [&](size_t done, size_t left) { return ::recv(fd, bytes + done, left, 0); }).error;
    return error == ENODATA ? EPROTO : error;
}

void sendQuietly(int fd, const void* data, size_t length)
{
    (void)::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
}

}
