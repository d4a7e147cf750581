// Turns signals into notes on a pipe, so that their handling runs in the
// event loop and not inside a handler. Only one can be active per process,
// since signal dispositions are process-wide.
#pragma once

#include <signal.h>

#include <vector>

#include "platform/framework/SelfPipe.h"

namespace orv::framework {

class SignalPipe {
public:
    // Throws std::system_error (EBUSY when another one is active).
    explicit SignalPipe(const std::vector<int>& signals);
    ~SignalPipe(); // puts the previous dispositions back
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    int fd() const { return m_pipe.readFd(); }
    // The next signal received, or -1.
    int next() const { return m_pipe.take(); }

private:
    struct Saved {
        int signal;
        struct sigaction action;
    };
    void restore();

    SelfPipe m_pipe;
    std::vector<Saved> m_saved;
};

}
