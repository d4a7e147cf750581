// Progress marks of the threads a watchdog looks after. A watched thread is
// healthy while it waits for work, however long it waits. While it works it
// goes through steps (a door call, a delivery try, one channel's report, one
// mail script), each bounded by the deadline of the peer it waits on; a
// thread that has been inside one step for far longer than any deadline is
// stuck, and the process with it.
//
// A mark costs the thread one relaxed store to a word of its own, and
// nothing at all on a thread that is not watched. The watchdog looks at the
// marks once per ping, under the lock of the list of watched threads.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

namespace orv::io {

class Heartbeat {
public:
    using Clock = std::chrono::steady_clock;

    // Watches the calling thread until destroyed, on that thread; `kind`
    // (a literal) names it in the watchdog's words. One per thread.
    explicit Heartbeat(const char* kind);
    ~Heartbeat();
    Heartbeat(const Heartbeat&) = delete;
    Heartbeat& operator=(const Heartbeat&) = delete;

    // The calling thread works from construction to the end of the scope,
    // its first step beginning now. Not nested.
    class Work {
    public:
        Work();
        ~Work();
        Work(const Work&) = delete;
        Work& operator=(const Work&) = delete;
    };

    // Another step of the calling thread's work begins; nothing on a thread
    // that is not watched or not working.
    static void beat();

    struct Stall {
        const char* kind;
        Clock::duration length;
    };
    // The thread longest inside one step, if that is longer than `limit` at
    // `now`. A step is timed from the first look that saw it, so it shows at
    // most one look late; each look remembers what it saw, so a process has
    // one watchdog that looks.
    static std::optional<Stall> stalled(Clock::time_point now, Clock::duration limit);

private:
    static void mark(bool working);

    const char* m_kind;
    // The thread's own: its steps so far and whether it works.
    uint64_t m_steps = 0;
    bool m_working = false;
    // What it shows the watchdog: the step count shifted left, the low bit
    // set while working.
    std::atomic<uint64_t> m_shown { 0 };
    // The watchdog's, under the list's lock: what it saw last, since when.
    uint64_t m_seen = 0;
    Clock::time_point m_seenSince {};
};

}
