#include "platform/framework/SelfPipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/io/FdIo.h"

namespace orv::framework {

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
    const ssize_t got = io::retryInterrupted([&] { return ::read(m_read.get(), &note, 1); });
    return got == 1 ? note : -1;
}

void SelfPipe::drain() const
{
    while (take() >= 0) { }
}

}
