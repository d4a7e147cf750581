// A connection whose request is still arriving. The reader feeds it
// whatever bytes are there without ever blocking; the parameter buffer
// grows only as bytes really arrive, so a header that announces a large
// parameter costs nothing until the bytes come.
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "DoorConnection.h"
#include "DoorProtocol.h"

class DoorService;
class Invocation;

class PendingRequest {
public:
    using Clock = std::chrono::steady_clock;

    enum class State {
        Reading,  // more bytes needed
        Complete, // takeInvocation() is ready
        Dropped,  // give up on the connection; dropOutcome() says why
    };

    PendingRequest(std::unique_ptr<DoorConnection> connection, DoorService& service, Clock::time_point deadline);

    int fd() const { return m_connection->fd(); }
    Clock::time_point deadline() const { return m_deadline; }

    State readAvailable();
    // The errno value to tell the caller when dropped; 0 when the caller is
    // gone and nothing can be told.
    int dropOutcome() const { return m_dropOutcome; }
    // Tells the caller why its call is refused; never blocks.
    void refuse(int outcome) const { m_connection->refuse(outcome); }

    std::unique_ptr<Invocation> takeInvocation();

private:
    State readHeader();
    State readParam();
    State dropped(int outcome);
    // Reads what is there into at[have..length); Complete once it is full.
    State fill(void* at, size_t length, size_t& have);

    std::unique_ptr<DoorConnection> m_connection;
    DoorService& m_service;
    Clock::time_point m_deadline;
    DoorProtocol::RequestBytes m_headerBytes {};
    size_t m_headerHave = 0;
    DoorProtocol::Request m_request;
    std::vector<char> m_param;
    size_t m_paramHave = 0;
    int m_dropOutcome = 0;
};
