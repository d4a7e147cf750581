// One door call, from the moment its request is complete until its reply
// is sent. The door thread running it makes it the thread's current call,
// which is what the DoorService accessors read.
#pragma once

#include <memory>
#include <vector>

#include "DoorConnection.h"

class DoorService;

class Invocation {
public:
    Invocation(std::unique_ptr<DoorConnection> connection, DoorService& service, unsigned method,
               std::vector<char> param);
    Invocation(const Invocation&) = delete;
    Invocation& operator=(const Invocation&) = delete;

    unsigned method() const { return m_method; }
    const std::vector<char>& param() const { return m_param; }

    // The service's answer; a second answer for the same call is ignored.
    void complete(int status, const void* data, unsigned length);

    // Runs the service on the calling thread, then answers the caller, also
    // when the service gave no answer or failed.
    void run();

    // The call the calling thread is running, or nullptr.
    static Invocation* current();

private:
    void dispatch();
    void serviceFailed(const char* why);
    void answer() const;

    std::unique_ptr<DoorConnection> m_connection;
    DoorService& m_service;
    unsigned m_method;
    std::vector<char> m_param;
    bool m_completed = false;
    int m_outcome = 0;
    int m_status = 0;
    std::vector<char> m_reply;
};
