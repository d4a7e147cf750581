#include "SocketIo.h"

#include <sys/socket.h>

#include <cerrno>

int SocketIo::unixAddress(const std::string& path, sockaddr_un& address)
{
    address = sockaddr_un {};
    if (path.size() >= sizeof address.sun_path)
        return ENAMETOOLONG;
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    return 0;
}

int SocketIo::sendAll(int fd, const void* data, size_t length)
{
    auto* at = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t sent = ::send(fd, at, length, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0)
            return errno;
        at += sent;
        length -= static_cast<size_t>(sent);
    }
    return 0;
}

int SocketIo::receiveAll(int fd, void* data, size_t length)
{
    auto* at = static_cast<char*>(data);
    while (length > 0) {
        ssize_t got = ::recv(fd, at, length, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            return EPROTO;
        at += got;
        length -= static_cast<size_t>(got);
    }
    return 0;
}

void SocketIo::sendQuietly(int fd, const void* data, size_t length)
{
    (void)::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
}
