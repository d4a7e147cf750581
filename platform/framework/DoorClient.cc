#include "DoorClient.h"

#include <sys/socket.h>

#include <cerrno>

#include "DoorProtocol.h"
#include "FdGuard.h"
#include "SocketIo.h"

DoorClient::DoorClient(std::string doorName)
    : m_path(doorPath(doorName))
{
}

int DoorClient::call(unsigned methodId, const void* param, size_t length, DoorReply& reply) const
{
    reply = DoorReply {};
    if (length > DoorProtocol::MAX_PAYLOAD)
        return E2BIG;
    if (param == nullptr && length > 0)
        return EINVAL;
    sockaddr_un address;
    if (int rc = SocketIo::unixAddress(m_path, address))
        return rc;

    FdGuard fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid())
        return errno;
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return errno;

    auto header = DoorProtocol::encode(DoorProtocol::Request { methodId, static_cast<uint32_t>(length) });
    int sent = SocketIo::sendAll(fd.get(), header.data(), header.size());
    if (sent == 0 && length > 0)
        sent = SocketIo::sendAll(fd.get(), param, length);
    // A server that refuses a call may close before taking all of it; its
    // answer says why, so it is read even when sending failed.
    int received = receiveReply(fd.get(), reply);
    if (received == EPROTO && sent != 0)
        return sent;
    return received;
}

int DoorClient::receiveReply(int fd, DoorReply& reply) const
{
    DoorProtocol::ReplyBytes bytes;
    if (int rc = SocketIo::receiveAll(fd, bytes.data(), bytes.size()))
        return rc;
    DoorProtocol::Reply header;
    if (!DoorProtocol::decode(bytes, header))
        return EPROTO;
    if (header.outcome != 0)
        return header.outcome;
    reply.status = header.status;
    reply.data.resize(header.length);
    return SocketIo::receiveAll(fd, reply.data.data(), reply.data.size());
}
