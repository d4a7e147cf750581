#include "platform/framework/DoorConnection.h"

#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <chrono>
#include <utility>

#include "platform/io/SocketIo.h"

namespace orv::framework {

namespace {

// A caller that does not take its reply within this time is given up, so a
// stuck caller cannot hold a door thread.
constexpr std::chrono::milliseconds REPLY_TIME { 5000 };

}

DoorConnection::DoorConnection(int fd, std::atomic<unsigned>& openCount)
    : m_fd(fd)
    , m_openCount(&openCount)
{
    ++*m_openCount;
}

DoorConnection::DoorConnection(DoorConnection&& other) noexcept
    : m_fd(std::move(other.m_fd))
    , m_openCount(std::exchange(other.m_openCount, nullptr))
{
}

DoorConnection& DoorConnection::operator=(DoorConnection&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::move(other.m_fd);
        m_openCount = std::exchange(other.m_openCount, nullptr);
    }
    return *this;
}

DoorConnection::~DoorConnection()
{
    close();
}

void DoorConnection::close()
{
    m_fd.reset();
    if (m_openCount != nullptr)
        --*std::exchange(m_openCount, nullptr);
}

long DoorConnection::peerUid() const
{
    struct ucred cred { };
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
    io::sendQuietly(m_fd.get(), bytes.data(), bytes.size());
}

// The socket stays non-blocking: a reply that fits the socket buffer (all
// ordinary ones) goes out with one system call, and only a caller slow to
// take a large one is waited for, up to REPLY_TIME in all.
int DoorConnection::reply(const DoorProtocol::Reply& header, const void* data) const
{
    auto bytes = DoorProtocol::encode(header);
    iovec parts[2] = { { bytes.data(), bytes.size() }, { const_cast<void*>(data), header.length } };
    return io::sendAllWithin(m_fd.get(), parts, header.length > 0 ? 2 : 1, REPLY_TIME);
}

}
