// Base of an object that answers door calls. One object serves every call
// made on its door, several at once on different door threads; the
// accessors below read the call that the calling thread is running.
#pragma once

#include <vector>

#include "platform/base/Mutex.h"

namespace orv::framework {
class Invocation;
}

class DoorService {
public:
    // `concurrent`: the object may run several calls at once. When false,
    // the framework runs this object's calls one at a time.
    explicit DoorService(bool concurrent);
    virtual ~DoorService();
    DoorService(const DoorService&) = delete;
    DoorService& operator=(const DoorService&) = delete;

    // Called on a door thread once per door call.
    virtual void methodDispatch() = 0;

    // Method id of the current call; NO_METHOD outside a door call.
    static constexpr unsigned NO_METHOD = ~0u;
    unsigned getMethodID();
    // Byte count of the current call's parameter; 0, or -1 outside a call.
    int getParam(unsigned& size);
    // Copies the parameter into `buffer` (at most `size` bytes); 0 when the
    // whole parameter fitted, -1 otherwise.
    int getVoidParam(void* buffer, unsigned size);
    // Hands the parameter over into `bytes` instead of copying it (a large
    // parameter is megabytes); the call's parameter is empty afterwards.
    // 0, or -1 outside a call.
    int takeParam(std::vector<char>& bytes);
    // Completes the current call with status 0 and no reply data.
    void doorReturn();
    // Completes the current call with `status` and `length` bytes of data.
    // Only the first completion of a call counts; the caller gets it once
    // methodDispatch has returned.
    void doorReturn(int status, const void* data = nullptr, unsigned length = 0);

    bool concurrent() const { return m_concurrent; }

private:
    friend class orv::framework::Invocation;
    void dispatch();

    const bool m_concurrent;
    // Held through each call of an object that is not concurrent.
    orv::base::Mutex m_oneAtATime;
};
