#include "Invocation.h"

#include <cerrno>
#include <cstring>
#include <exception>

#include "DoorService.h"
#include "LogStatement.h"

namespace {

thread_local Invocation* currentCall = nullptr;

class CurrentCall {
public:
    explicit CurrentCall(Invocation* call)
        : m_previous(currentCall)
    {
        currentCall = call;
    }
    ~CurrentCall() { currentCall = m_previous; }
    CurrentCall(const CurrentCall&) = delete;
    CurrentCall& operator=(const CurrentCall&) = delete;

private:
    Invocation* m_previous;
};

}

Invocation::Invocation(std::unique_ptr<DoorConnection> connection, DoorService& service, unsigned method,
                       std::vector<char> param)
    : m_connection(std::move(connection))
    , m_service(service)
    , m_method(method)
    , m_param(std::move(param))
{
}

Invocation* Invocation::current()
{
    return currentCall;
}

void Invocation::complete(int status, const void* data, unsigned length)
{
    if (m_completed)
        return;
    m_completed = true;
    m_status = status;
    if (length > DoorProtocol::MAX_PAYLOAD) {
        logStatement(4, LogDest::trace(), 0, "Door call (method %u): reply of %u bytes is too large, not sent.",
                     m_method, length);
        m_outcome = EMSGSIZE;
        return;
    }
    if (data != nullptr && length > 0)
        m_reply.assign(static_cast<const char*>(data), static_cast<const char*>(data) + length);
}

void Invocation::run()
{
    {
        CurrentCall scope(this);
        dispatch();
    }
    answer();
}

void Invocation::dispatch()
{
    try {
        m_service.dispatch();
    } catch (const std::exception& error) {
        serviceFailed(error.what());
    } catch (...) {
        serviceFailed("unknown exception");
    }
}

void Invocation::serviceFailed(const char* why)
{
    logStatement(4, LogDest::trace(), 0, "Door call (method %u): service failed: %s", m_method, why);
    if (!m_completed) {
        m_completed = true;
        m_outcome = EIO;
    }
}

void Invocation::answer() const
{
    DoorProtocol::Reply header;
    header.outcome = m_outcome;
    header.status = m_outcome == 0 ? m_status : 0;
    header.length = static_cast<uint32_t>(m_reply.size());
    int rc = m_connection->reply(header, m_reply.data());
    if (rc != 0)
        logStatement(2, LogDest::trace(), 0, "Door call (method %u): reply not delivered: %s", m_method,
                     std::strerror(rc));
}
