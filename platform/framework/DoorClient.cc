#include "platform/framework/DoorClient.h"

#include <sys/socket.h>

#include <cerrno>

#include "platform/framework/DoorProtocol.h"
#include "platform/io/FdGuard.h"
#include "platform/io/PeerIo.h"
#include "platform/io/SocketIo.h"

namespace orv::framework {

DoorClient::DoorClient(std::string doorName)
    : m_path(doorPath(doorName))
{
}

int DoorClient::call(
    unsigned methodId, const void* param, size_t length, DoorReply& reply, const io::Deadline& deadline) const
{
    reply = DoorReply {};
    if (length > DoorProtocol::MAX_PAYLOAD)
        return E2BIG;
    if (param == nullptr && length > 0)
        return EINVAL;
    sockaddr_un address;
    if (int rc = io::unixAddress(m_path, address))
        return rc;

    // Non-blocking, so that every wait on the server can end at the deadline.
    io::FdGuard fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid())
        return errno;
    if (int rc = io::PeerIo::connect(fd.get(), address, deadline))
        return rc;

    auto header = DoorProtocol::encode(DoorProtocol::Request { methodId, static_cast<uint32_t>(length) });
    int sent = io::PeerIo::sendAll(fd.get(), header.data(), header.size(), deadline);
    if (sent == 0 && length > 0)
        sent = io::PeerIo::sendAll(fd.get(), param, length, deadline);
    if (sent == ETIMEDOUT || sent == ECANCELED)
        return sent;
    // A server that refuses a call may close before taking all of it; its
    // answer says why, so it is read even when sending failed.
    int received = receiveReply(fd.get(), reply, deadline);
    if (received == EPROTO && sent != 0)
        return sent;
    return received;
}

int DoorClient::receiveReply(int fd, DoorReply& reply, const io::Deadline& deadline) const
{
    DoorProtocol::ReplyBytes bytes;
    if (int rc = io::PeerIo::receiveAll(fd, bytes.data(), bytes.size(), deadline))
        return rc;
    DoorProtocol::Reply header;
    if (!DoorProtocol::decode(bytes, header))
        return EPROTO;
    if (header.outcome != 0)
        return header.outcome;
    reply.status = header.status;
    reply.data.resize(header.length);
    return io::PeerIo::receiveAll(fd, reply.data.data(), reply.data.size(), deadline);
}

}
