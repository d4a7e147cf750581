#include "cmd/kav/ChannelOutcome.h"

void ChannelOutcome::lineLogged(const Line& line)
{
    if (line.level < failureLevel || line.eventOutput || m_failed)
        return;
    m_failed = true;
    m_failureText = line.text;
}

void ChannelOutcome::channelEnded(const orv::journal::ChannelResult& result)
{
    if (!result.failed() || m_failed)
        return;
    m_failed = true;
    m_failureText = result.why();
}

void ChannelOutcome::countIn(KAVStats& stats, KAVStats::Channel channel) const
{
    if (m_failed)
        stats.channelFailed(channel, m_failureText);
    else
        stats.channelReported(channel);
}
