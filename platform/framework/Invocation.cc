#include "platform/framework/Invocation.h"

#include <cerrno>
#include <cstring>
#include <exception>

#include "platform/framework/DoorService.h"
#include "platform/log/LogStatement.h"
#include "platform/framework/PendingRequest.h"

namespace orv::framework {

namespace {

thread_local Invocation* currentCall = nullptr;

// A buffer is kept for the next call up to this size; the rare large call
// gives its memory back instead of leaving it with the thread.
constexpr size_t KEPT_BUFFER = 256 * 1024;

void releaseIfLarge(std::vector<char>& buffer)
{
    if (buffer.capacity() > KEPT_BUFFER)
        std::vector<char>().swap(buffer);
}

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

void Invocation::begin(PendingRequest& request)
{
    m_connection = std::move(request.connection());
    m_service = &request.service();
    m_method = request.method();
    m_param.swap(request.param());
    m_completed = false;
    m_outcome = 0;
    m_status = 0;
    m_reply.clear();
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
        logStatement(
            4, LogDest::trace(), "Door call (method %u): reply of %u bytes is too large, not sent.", m_method, length);
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
    releaseIfLarge(m_param);
    releaseIfLarge(m_reply);
}

void Invocation::dispatch()
{
    try {
        m_service->dispatch();
    } catch (const std::exception& error) {
        serviceFailed(error.what());
    } catch (...) {
        serviceFailed("unknown exception");
    }
}

void Invocation::serviceFailed(const char* why)
{
    logStatement(4, LogDest::trace(), "Door call (method %u): service failed: %s", m_method, why);
    if (!m_completed) {
        m_completed = true;
        m_outcome = EIO;
    }
}

void Invocation::answer()
{
    DoorProtocol::Reply header;
    header.outcome = m_outcome;
    header.status = m_outcome == 0 ? m_status : 0;
    header.length = static_cast<uint32_t>(m_reply.size());
    int rc = m_connection.reply(header, m_reply.data());
    m_connection.close();
    if (rc != 0)
        logStatement(
            2, LogDest::trace(), "Door call (method %u): reply not delivered: %s", m_method, std::strerror(rc));
}

}
