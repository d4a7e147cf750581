// A connection whose request is still arriving. It is fed whatever bytes
// are there without ever blocking; the parameter buffer grows only as bytes
// really arrive, so a header that announces a large parameter costs nothing
// until the bytes come. A door thread keeps one in place and reuses it (and
// its buffer) for call after call; only a request that has to wait for more
// bytes is moved out to be parked.
#pragma once

#include <chrono>
#include <vector>

#include "platform/framework/DoorConnection.h"
#include "platform/framework/DoorProtocol.h"

class DoorService;

namespace orv::framework {

class PendingRequest {
public:
    using Clock = std::chrono::steady_clock;

    enum class State {
        Reading, // more bytes needed
        Complete, // method(), param() and the connection are ready
        Dropped, // give up on the connection; dropOutcome() says why
    };

    PendingRequest() = default;
    PendingRequest(PendingRequest&&) noexcept = default;
    PendingRequest& operator=(PendingRequest&&) noexcept = default;

    // Starts over for a new connection, keeping the buffer.
    void reset(DoorConnection connection, DoorService& service);
    void setDeadline(Clock::time_point deadline) { m_deadline = deadline; }

    int fd() const { return m_connection.fd(); }
    Clock::time_point deadline() const { return m_deadline; }
    DoorService& service() const { return *m_service; }
    unsigned method() const { return m_request.method; }
    std::vector<char>& param() { return m_param; }
    DoorConnection& connection() { return m_connection; }

    State readAvailable();
    // The errno value to tell the caller when dropped; 0 when the caller is
    // gone and nothing can be told.
    int dropOutcome() const { return m_dropOutcome; }
    // Tells the caller why its call is refused (never blocks) and closes.
    void refuse(int outcome);

private:
    State readHeader();
    State readParam();
    void reserveWhole();
    State checkHeader();
    State dropped(int outcome);
    // One non-blocking receive; Reading when nothing is there yet.
    State receive(void* at, size_t length, size_t& got);

    DoorConnection m_connection;
    DoorService* m_service = nullptr;
    Clock::time_point m_deadline;
    DoorProtocol::RequestBytes m_headerBytes {};
    size_t m_headerHave = 0;
    DoorProtocol::Request m_request;
    std::vector<char> m_param;
    size_t m_paramHave = 0;
    int m_dropOutcome = 0;
};

}
