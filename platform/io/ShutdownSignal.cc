#include "platform/io/ShutdownSignal.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/io/FdGuard.h"
#include "platform/io/FdIo.h"

namespace orv::io {

namespace {

// The pipe is made on first use and lives until the process ends; its write
// end gets exactly one byte, which no one reads, so the read end stays
// readable for every waiter, however many there are and however late they
// start waiting.
struct ShutdownPipe {
    ShutdownPipe()
    {
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
            return;
        read.reset(fds[0]);
        write.reset(fds[1]);
    }

    FdGuard read;
    FdGuard write;
};

std::atomic<bool> requested { false };

ShutdownPipe& shutdownPipe()
{
    static ShutdownPipe pipe;
    return pipe;
}

}

void requestShutdown()
{
    ShutdownPipe& pipe = shutdownPipe();
    if (requested.exchange(true))
        return;
    const unsigned char note = 1;
    retryInterrupted([&] { return ::write(pipe.write.get(), &note, 1); });
}

bool shutdownRequested()
{
    return requested.load();
}

int shutdownFd()
{
    return shutdownPipe().read.get();
}

}
