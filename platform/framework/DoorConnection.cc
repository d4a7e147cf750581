#include "DoorConnection.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "SocketIo.h"

namespace {

// A caller that does not take its reply within this time is given up, so a
// stuck caller cannot hold a door thread.
constexpr time_t REPLY_SECONDS = 5;

}

DoorConnection::DoorConnection(int fd, std::atomic<unsigned>& openCount)
    : m_fd(fd)
    , m_openCount(openCount)
{
    ++m_openCount;
}

DoorConnection::~DoorConnection()
{
    m_fd.reset();
    --m_openCount;
}

long DoorConnection::peerUid() const
{
    struct ucred cred {};
    socklen_t size = sizeof cred;
    if (::getsockopt(m_fd.get(), SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0 || size != sizeof cred)
        return -1;
    return static_cast<long>(cred.uid);
}

bool DoorConnection::peerAllowed() const
{
    long uid = peerUid();
    return uid == 0 || uid == static_cast<long>(::geteuid());
}

void DoorConnection::refuse(int outcome) const
{
    DoorProtocol::Reply header;
    header.outcome = outcome;
    auto bytes = DoorProtocol::encode(header);
    SocketIo::sendQuietly(m_fd.get(), bytes.data(), bytes.size());
}

int DoorConnection::reply(const DoorProtocol::Reply& header, const void* data) const
{
    int flags = ::fcntl(m_fd.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(m_fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    struct timeval limit { REPLY_SECONDS, 0 };
    ::setsockopt(m_fd.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    auto bytes = DoorProtocol::encode(header);
    int rc = SocketIo::sendAll(m_fd.get(), bytes.data(), bytes.size());
    if (rc == 0 && header.length > 0)
        rc = SocketIo::sendAll(m_fd.get(), data, header.length);
    return rc;
}
