#include "PendingRequest.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "Invocation.h"
#include "LogStatement.h"

namespace {

// The parameter buffer grows by at most this much per read.
constexpr size_t GROWTH = 64 * 1024;

}

PendingRequest::PendingRequest(std::unique_ptr<DoorConnection> connection, DoorService& service,
                               Clock::time_point deadline)
    : m_connection(std::move(connection))
    , m_service(service)
    , m_deadline(deadline)
{
}

PendingRequest::State PendingRequest::readAvailable()
{
    State state = m_headerHave < m_headerBytes.size() ? readHeader() : State::Complete;
    if (state == State::Complete)
        state = readParam();
    // A connection closed before its first byte is a liveness probe, not a
    // broken call.
    if (state == State::Dropped && m_dropOutcome == 0 && m_headerHave > 0)
        logStatement(4, LogDest::trace(), 0, "Door request dropped: the caller left before the whole request came.");
    return state;
}

PendingRequest::State PendingRequest::readHeader()
{
    State state = fill(m_headerBytes.data(), m_headerBytes.size(), m_headerHave);
    if (state != State::Complete)
        return state;
    if (!DoorProtocol::decode(m_headerBytes, m_request)) {
        logStatement(4, LogDest::trace(), 0, "Door request dropped: not a door request header.");
        return dropped(EPROTO);
    }
    if (m_request.length > DoorProtocol::MAX_PAYLOAD) {
        logStatement(4, LogDest::trace(), 0, "Door request dropped: parameter of %u bytes is too large.",
                     m_request.length);
        return dropped(E2BIG);
    }
    return State::Complete;
}

PendingRequest::State PendingRequest::readParam()
{
    while (m_paramHave < m_request.length) {
        size_t want = std::min<size_t>(m_request.length, m_paramHave + GROWTH);
        if (m_param.size() < want)
            m_param.resize(want);
        State state = fill(m_param.data(), want, m_paramHave);
        if (state != State::Complete)
            return state;
    }
    return State::Complete;
}

PendingRequest::State PendingRequest::fill(void* at, size_t length, size_t& have)
{
    auto* bytes = static_cast<char*>(at);
    while (have < length) {
        ssize_t got = ::recv(fd(), bytes + have, length - have, MSG_DONTWAIT);
        if (got > 0) {
            have += static_cast<size_t>(got);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return State::Reading;
        return dropped(0);
    }
    return State::Complete;
}

PendingRequest::State PendingRequest::dropped(int outcome)
{
    m_dropOutcome = outcome;
    return State::Dropped;
}

std::unique_ptr<Invocation> PendingRequest::takeInvocation()
{
    return std::make_unique<Invocation>(std::move(m_connection), m_service, m_request.method, std::move(m_param));
}
