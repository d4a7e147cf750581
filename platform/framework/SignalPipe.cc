#include "platform/framework/SignalPipe.h"

#include <atomic>
#include <cerrno>
#include <system_error>

namespace orv::framework {

namespace {

std::atomic<int> writeFd { -1 };

extern "C" void noteSignal(int signal)
{
    int fd = writeFd.load(std::memory_order_relaxed);
    if (fd >= 0)
        SelfPipe::postTo(fd, static_cast<unsigned char>(signal));
}

}

SignalPipe::SignalPipe(const std::vector<int>& signals)
{
    int expected = -1;
    if (!writeFd.compare_exchange_strong(expected, m_pipe.writeFd()))
        throw std::system_error(EBUSY, std::generic_category(), "signal pipe");
    struct sigaction action { };
    action.sa_handler = noteSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : signals) {
        Saved saved { signal, {} };
        if (::sigaction(signal, &action, &saved.action) != 0) {
            int error = errno;
            restore();
            throw std::system_error(error, std::generic_category(), "sigaction");
        }
        m_saved.push_back(saved);
    }
}

SignalPipe::~SignalPipe()
{
    restore();
}

void SignalPipe::restore()
{
    for (const Saved& saved : m_saved)
        ::sigaction(saved.signal, &saved.action, nullptr);
    m_saved.clear();
    writeFd.store(-1);
}

}
