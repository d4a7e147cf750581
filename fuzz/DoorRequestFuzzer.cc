// The door server's request reader over arbitrary bytes from a caller. The
// bytes arrive on a real socket, in pieces when they do not fit at once,
// and the caller then stops sending. A complete request must reach the
// service with exactly the method and parameter its header announced, and
// the caller must get a well-formed reply; anything else must be dropped,
// with a well-formed refusal when the header was wrong.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/framework/DoorConnection.h"
#include "platform/framework/DoorProtocol.h"
#include "platform/framework/DoorService.h"
#include "platform/io/FdGuard.h"
#include "fuzz/FuzzScratch.h"
#include "platform/framework/Invocation.h"
#include "platform/framework/PendingRequest.h"

using orv::framework::DoorConnection;
using orv::framework::DoorProtocol;
using orv::framework::Invocation;
using orv::framework::PendingRequest;
using orv::io::FdGuard;

namespace {

// At most this much of the parameter is echoed: the caller reads the reply
// only once the call is done, so it has to fit in the socket's buffer.
constexpr unsigned echoLimit = 4096;

// Answers every call with the parameter's size and its first bytes, so the
// reply shows what the service was handed.
class EchoService : public DoorService {
public:
    EchoService()
        : DoorService(true)
    {
    }

    void methodDispatch() override
    {
        method = getMethodID();
        unsigned size = 0;
        getParam(size);
        param.assign(size, '\0');
        if (getVoidParam(param.data(), size) != 0)
            fuzzFailure("the service cannot copy its whole parameter");
        doorReturn(static_cast<int>(size), param.data(), std::min(size, echoLimit));
    }

    unsigned method = DoorService::NO_METHOD;
    std::vector<char> param;
};

// What a correct reader makes of the bytes.
struct Expected {
    bool complete = false;
    int refusal = 0; // errno value sent back for a bad header; 0: none
    DoorProtocol::Request request;
};

Expected expect(const uint8_t* data, size_t size)
{
    Expected result;
    DoorProtocol::RequestBytes header {};
    if (size < header.size())
        return result;
    std::copy(data, data + header.size(), header.begin());
    if (!DoorProtocol::decode(header, result.request)) {
        result.refusal = EPROTO;
    } else if (result.request.length > DoorProtocol::MAX_PAYLOAD) {
        result.refusal = E2BIG;
    } else {
        result.complete = size - header.size() >= result.request.length;
    }
    return result;
}

// Feeds the bytes in whatever pieces the socket takes, then ends the
// caller's side; reading goes on until the reader decides.
PendingRequest::State feed(PendingRequest& pending, int caller, const uint8_t* data, size_t size)
{
    size_t sent = 0;
    PendingRequest::State state = PendingRequest::State::Reading;
    while (state == PendingRequest::State::Reading && sent < size) {
        const ssize_t n = ::send(caller, data + sent, size - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0)
            sent += static_cast<size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            fuzzFailure(std::string("sending to the reader failed: ") + std::strerror(errno));
        state = pending.readAvailable();
    }
    ::shutdown(caller, SHUT_WR);
    while (state == PendingRequest::State::Reading)
        state = pending.readAvailable();
    return state;
}

std::string receiveAll(int caller)
{
    std::string bytes;
    char block[4096];
    ssize_t n;
    while ((n = ::recv(caller, block, sizeof block, 0)) > 0)
        bytes.append(block, static_cast<size_t>(n));
    return bytes;
}

DoorProtocol::Reply replyOf(const std::string& bytes)
{
    DoorProtocol::ReplyBytes header {};
    DoorProtocol::Reply reply;
    if (bytes.size() < header.size())
        fuzzFailure("the caller got no reply header");
    std::copy(bytes.begin(), bytes.begin() + header.size(), header.begin());
    if (!DoorProtocol::decode(header, reply) || bytes.size() != header.size() + reply.length)
        fuzzFailure("the caller got a malformed reply");
    return reply;
}

void checkDelivered(
    PendingRequest& pending, EchoService& service, int caller, const Expected& expected, const uint8_t* data)
{
    Invocation call;
    call.begin(pending);
    call.run();
    const std::string answer = receiveAll(caller);
    const DoorProtocol::Reply reply = replyOf(answer);
    const auto* param = reinterpret_cast<const char*>(data) + sizeof(DoorProtocol::RequestBytes);
    const uint32_t length = expected.request.length;
    if (service.method != expected.request.method || service.param != std::vector<char>(param, param + length))
        fuzzFailure("the service was handed another call than the header announced");
    const uint32_t echoed = std::min(length, echoLimit);
    if (reply.outcome != 0 || reply.status != static_cast<int32_t>(length) || reply.length != echoed
        || answer.compare(sizeof(DoorProtocol::ReplyBytes), echoed, param, echoed) != 0)
        fuzzFailure("the reply does not carry the service's answer");
}

void checkDropped(PendingRequest& pending, int caller, const Expected& expected)
{
    if (pending.dropOutcome() != expected.refusal)
        fuzzFailure(
            "dropped for " + std::to_string(pending.dropOutcome()) + ", expected " + std::to_string(expected.refusal));
    if (expected.refusal == 0)
        return;
    // The refusal closes the connection, so the caller reads to its end.
    pending.refuse(pending.dropOutcome());
    const DoorProtocol::Reply reply = replyOf(receiveAll(caller));
    if (reply.outcome != expected.refusal || reply.length != 0)
        fuzzFailure("the refusal does not say why");
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzScratch::instance();
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        fuzzFailure(std::string("socketpair: ") + std::strerror(errno));
    FdGuard caller(fds[0]);
    ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);

    std::atomic<unsigned> openCount { 0 };
    EchoService service;
    PendingRequest pending;
    pending.reset(DoorConnection(fds[1], openCount), service);
    const Expected expected = expect(data, size);
    const PendingRequest::State state = feed(pending, caller.get(), data, size);
    if ((state == PendingRequest::State::Complete) != expected.complete)
        fuzzFailure(expected.complete ? "a complete request was dropped" : "an incomplete request was taken");
    if (state == PendingRequest::State::Complete)
        checkDelivered(pending, service, caller.get(), expected, data);
    else
        checkDropped(pending, caller.get(), expected);
    return 0;
}
