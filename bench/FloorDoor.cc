// kav-floor-door: the least a correct door server can do per call, as the
// floor the framework's figures are measured against. Eight threads block
// in accept() on the door "kav-floor"; each call is a peer check, a receive
// deadline, the request, an empty reply and close. No logging, no
// protection beyond that: a slow caller holds its thread.
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/framework/DoorPath.h"
#include "platform/framework/DoorProtocol.h"
#include "platform/io/FdGuard.h"
#include "platform/io/SocketIo.h"

using orv::framework::doorDirectory;
using orv::framework::doorPath;
using orv::framework::DoorProtocol;
using orv::io::FdGuard;

namespace {

void serveOne(int fd)
{
    struct ucred cred { };
    socklen_t size = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0 || (cred.uid != 0 && cred.uid != ::geteuid()))
        return;
    struct timeval deadline {
        5, 0
    };
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &deadline, sizeof deadline);
    DoorProtocol::RequestBytes header;
    DoorProtocol::Request request;
    if (orv::io::receiveAll(fd, header.data(), header.size()) != 0 || !DoorProtocol::decode(header, request)
        || request.length > DoorProtocol::MAX_PAYLOAD)
        return;
    std::vector<char> param(request.length);
    if (orv::io::receiveAll(fd, param.data(), param.size()) != 0)
        return;
    auto reply = DoorProtocol::encode(DoorProtocol::Reply {});
    orv::io::sendAll(fd, reply.data(), reply.size());
}

void acceptLoop(int listenFd)
{
    for (;;) {
        FdGuard fd(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC));
        if (fd.valid())
            serveOne(fd.get());
    }
}

}

int main()
{
    std::error_code ignored;
    std::filesystem::create_directories(doorDirectory(), ignored);
    std::string path = doorPath("kav-floor");
    sockaddr_un address;
    FdGuard listenFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ::unlink(path.c_str());
    if (orv::io::unixAddress(path, address) != 0
        || ::bind(listenFd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(listenFd.get(), SOMAXCONN) != 0)
        return 1;
    std::vector<std::jthread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back(acceptLoop, listenFd.get());
}
