#include "platform/framework/PendingRequest.h"

#include <sys/mman.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/io/FdIo.h"
#include "platform/log/LogStatement.h"

namespace orv::framework {

namespace {

// The parameter buffer grows by at most this much per read.
constexpr size_t GROWTH = 64 * 1024;
// A parameter from this size up gets room for all of it after its first
// this many bytes (a smaller one after its first quarter).
constexpr size_t RESERVE_AFTER = 1024 * 1024;
constexpr uintptr_t HUGE_PAGE = 2 * 1024 * 1024;
// The header is read together with the start of the parameter; a request
// no larger than this (every ordinary event) arrives in one receive.
constexpr size_t FIRST_READ = 16 * 1024;

}

void PendingRequest::reset(DoorConnection connection, DoorService& service)
{
    m_connection = std::move(connection);
    m_service = &service;
    m_deadline = {};
    m_headerHave = 0;
    m_request = {};
    m_param.clear();
    m_paramHave = 0;
    m_dropOutcome = 0;
}

PendingRequest::State PendingRequest::readAvailable()
{
    State state = m_headerHave < m_headerBytes.size() ? readHeader() : State::Complete;
    if (state == State::Complete)
        state = readParam();
    // A connection closed before its first byte is a liveness probe, not a
    // broken call.
    if (state == State::Dropped && m_dropOutcome == 0 && m_headerHave > 0)
        logStatement(4, LogDest::trace(), "Door request dropped: the caller left before the whole request came.");
    return state;
}

// Bytes beyond the header go straight into the parameter; anything beyond
// the parameter is ignored, as the caller may send nothing after it.
PendingRequest::State PendingRequest::readHeader()
{
    char chunk[FIRST_READ];
    while (m_headerHave < m_headerBytes.size()) {
        size_t got = 0;
        State state = receive(chunk, sizeof chunk, got);
        if (state != State::Complete)
            return state;
        size_t header = std::min(got, m_headerBytes.size() - m_headerHave);
        std::memcpy(m_headerBytes.data() + m_headerHave, chunk, header);
        m_headerHave += header;
        if (m_headerHave < m_headerBytes.size())
            continue;
        if (State checked = checkHeader(); checked != State::Complete)
            return checked;
        size_t param = std::min<size_t>(got - header, m_request.length);
        m_param.assign(chunk + header, chunk + header + param);
        m_paramHave = param;
    }
    return State::Complete;
}

PendingRequest::State PendingRequest::checkHeader()
{
    if (!DoorProtocol::decode(m_headerBytes, m_request)) {
        logStatement(4, LogDest::trace(), "Door request dropped: not a door request header.");
        return dropped(EPROTO);
    }
    if (m_request.length > DoorProtocol::MAX_PAYLOAD) {
        logStatement(
            4, LogDest::trace(), "Door request dropped: parameter of %u bytes is too large.", m_request.length);
        return dropped(E2BIG);
    }
    return State::Complete;
}

PendingRequest::State PendingRequest::readParam()
{
    while (m_paramHave < m_request.length) {
        size_t want = std::min<size_t>(m_request.length, m_paramHave + GROWTH);
        if (m_param.capacity() < m_request.length
            && m_paramHave >= std::min<size_t>(RESERVE_AFTER, m_request.length / 4))
            reserveWhole();
        if (m_param.size() < want)
            m_param.resize(want);
        size_t got = 0;
        State state = receive(m_param.data() + m_paramHave, want - m_paramHave, got);
        if (state != State::Complete)
            return state;
        m_paramHave += got;
    }
    return State::Complete;
}

// Room for the whole parameter, once it has shown its size with its first
// bytes: a large one is then not copied again and again as it grows. Only
// what arrives is touched, so the memory a caller makes the daemon use still
// follows what it sent. Huge pages, where the system gives them on request,
// spare the thousands of page faults a parameter of megabytes costs in
// small pages.
void PendingRequest::reserveWhole()
{
    m_param.reserve(m_request.length);
    const auto start = reinterpret_cast<uintptr_t>(m_param.data());
    const uintptr_t first = (start + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    const uintptr_t end = (start + m_param.capacity()) & ~(HUGE_PAGE - 1);
    if (end > first)
        madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

PendingRequest::State PendingRequest::receive(void* at, size_t length, size_t& got)
{
    const ssize_t received = io::retryInterrupted([&] { return ::recv(fd(), at, length, MSG_DONTWAIT); });
    if (received > 0) {
        got = static_cast<size_t>(received);
        return State::Complete;
    }
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return State::Reading;
    return dropped(0);
}

PendingRequest::State PendingRequest::dropped(int outcome)
{
    m_dropOutcome = outcome;
    return State::Dropped;
}

void PendingRequest::refuse(int outcome)
{
    if (outcome != 0)
        m_connection.refuse(outcome);
    m_connection.close();
}

}
