// How a channel stops waiting on a frozen peer: once a call to the peer has
// run into its deadline, reports skip the peer until the same span has
// passed, so a peer that stopped answering costs one deadline in all, not
// one per event. A peer that refuses at once is never skipped: asking it
// costs nothing. Lock-free, for door threads that report at the same time.
#pragma once

#include <atomic>
#include <chrono>

class PeerSkipWindow {
public:
    using Clock = std::chrono::steady_clock;

    explicit PeerSkipWindow(std::chrono::milliseconds length);

    // A call to the peer has just run into its deadline.
    void timedOut();
    // Whole seconds (at least 1) until the peer is tried again, or 0 when it
    // may be tried now.
    long secondsLeft() const;

    std::chrono::milliseconds length() const { return m_length; }

private:
    const std::chrono::milliseconds m_length;
    // End of the window on the steady clock; the epoch means none is open.
    std::atomic<Clock::rep> m_until { 0 };
};
