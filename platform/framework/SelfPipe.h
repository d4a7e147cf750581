// A non-blocking pipe used to wake a poll() loop from another thread or
// from a signal handler; each byte written is one note for the loop.
#pragma once

#include "platform/io/FdGuard.h"

namespace orv::framework {

class SelfPipe {
public:
    SelfPipe(); // throws std::system_error when no pipe can be made
    SelfPipe(const SelfPipe&) = delete;
    SelfPipe& operator=(const SelfPipe&) = delete;

    int readFd() const { return m_read.get(); }
    int writeFd() const { return m_write.get(); }

    // Async-signal-safe; a note is lost only when the pipe is full, and then
    // the loop is already bound to wake up.
    void post(unsigned char note) const { postTo(m_write.get(), note); }
    static void postTo(int writeFd, unsigned char note);
    // The next note, or -1 when none is waiting.
    int take() const;
    void drain() const;

private:
    io::FdGuard m_read;
    io::FdGuard m_write;
};

}
