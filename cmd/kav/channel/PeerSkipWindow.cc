#include "cmd/kav/channel/PeerSkipWindow.h"

PeerSkipWindow::PeerSkipWindow(std::chrono::milliseconds length)
    : m_length(length)
{
}

void PeerSkipWindow::timedOut()
{
    const auto until = Clock::now() + m_length;
    m_until.store(until.time_since_epoch().count());
}

long PeerSkipWindow::secondsLeft() const
{
    const Clock::time_point until { Clock::duration(m_until.load()) };
    const auto left = until - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    return static_cast<long>(std::chrono::ceil<std::chrono::seconds>(left).count());
}
