// Sends event frames to the front-end daemon's door.
#pragma once

#include <chrono>
#include <string>

class OrvSendEvent {
public:
    // The two values are reserved and must be 0.
    OrvSendEvent(const char* doorName, unsigned reserved1, unsigned reserved2);

    // Hands `frame` (an OrvEventFrame) to the front-end with one door call.
    // 0 when the front-end accepted it; otherwise the door error (an errno
    // value: ETIMEDOUT when the call ran past peerTimeout(), ECANCELED when
    // the process began to shut down) or the front-end's own failure status.
    int sendIt(void* frame, int flags);

    // The deadline of one call: $ORV_PEER_TIMEOUT seconds, 10 by default.
    static std::chrono::milliseconds peerTimeout();

private:
    std::string m_doorName;
};

// Door method of the front-end daemon that takes one frame.
inline constexpr unsigned ORV_SEND_EVENT_METHOD = 0;
