#include "platform/framework/DoorService.h"

#include <algorithm>
#include <cstring>

#include "platform/framework/Invocation.h"

using orv::framework::Invocation;

DoorService::DoorService(bool concurrent)
    : m_concurrent(concurrent)
{
}

DoorService::~DoorService() = default;

unsigned DoorService::getMethodID()
{
    Invocation* call = Invocation::current();
    return call == nullptr ? NO_METHOD : call->method();
}

int DoorService::getParam(unsigned& size)
{
    Invocation* call = Invocation::current();
    size = call == nullptr ? 0 : static_cast<unsigned>(call->param().size());
    return call == nullptr ? -1 : 0;
}

int DoorService::getVoidParam(void* buffer, unsigned size)
{
    Invocation* call = Invocation::current();
    if (call == nullptr || (buffer == nullptr && size > 0))
        return -1;
    const auto& param = call->param();
    size_t count = std::min<size_t>(size, param.size());
    if (count > 0)
        std::memcpy(buffer, param.data(), count);
    return count == param.size() ? 0 : -1;
}

int DoorService::takeParam(std::vector<char>& bytes)
{
    Invocation* call = Invocation::current();
    if (call == nullptr)
        return -1;
    bytes.clear();
    bytes.swap(call->param());
    return 0;
}

void DoorService::doorReturn()
{
    doorReturn(0);
}

void DoorService::doorReturn(int status, const void* data, unsigned length)
{
    Invocation* call = Invocation::current();
    if (call != nullptr)
        call->complete(status, data, length);
}

void DoorService::dispatch()
{
    if (m_concurrent) {
        methodDispatch();
        return;
    }
    orv::base::MutexLock lock(m_oneAtATime);
    methodDispatch();
}
