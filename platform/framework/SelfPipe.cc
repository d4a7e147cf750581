#include "SelfPipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

SelfPipe::SelfPipe()
{
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    m_read.reset(fds[0]);
    m_write.reset(fds[1]);
}

void SelfPipe::postTo(int writeFd, unsigned char note)
{
    int saved = errno;
    (void)::write(writeFd, &note, 1);
    errno = saved;
}

int SelfPipe::take() const
{
    unsigned char note;
    for (;;) {
        ssize_t got = ::read(m_read.get(), &note, 1);
        if (got == 1)
            return note;
        if (got < 0 && errno == EINTR)
            continue;
        return -1;
    }
}

void SelfPipe::drain() const
{
    while (take() >= 0) {
    }
}
