// One door call, from the moment its request is complete until its reply
// is sent. The door thread running it makes it the thread's current call,
// which is what the DoorService accessors read. Each door thread keeps one
// and reuses it, buffers included, for every call it runs.
#pragma once

#include <vector>

#include "platform/framework/DoorConnection.h"

class DoorService;

namespace orv::framework {

class PendingRequest;

class Invocation {
public:
    Invocation() = default;
    Invocation(const Invocation&) = delete;
    Invocation& operator=(const Invocation&) = delete;

    // Takes over the complete `request`: its connection, and its parameter
    // buffer in exchange for this call's previous one.
    void begin(PendingRequest& request);

    unsigned method() const { return m_method; }
    const std::vector<char>& param() const { return m_param; }
    std::vector<char>& param() { return m_param; }

    // The service's answer; a second answer for the same call is ignored.
    void complete(int status, const void* data, unsigned length);

    // Runs the service on the calling thread, then answers the caller, also
    // when the service gave no answer or failed, and closes the connection.
    void run();

    // The call the calling thread is running, or nullptr.
    static Invocation* current();

private:
    void dispatch();
    void serviceFailed(const char* why);
    void answer();

    DoorConnection m_connection;
    DoorService* m_service = nullptr;
    unsigned m_method = 0;
    std::vector<char> m_param;
    bool m_completed = false;
    int m_outcome = 0;
    int m_status = 0;
    std::vector<char> m_reply;
};

}
