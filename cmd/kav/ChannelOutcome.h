// How one channel's report of one event ended, for the counters: what the
// channel returned, and the lines it logged on its thread meanwhile. The
// report failed when the channel says so or when it logged an error line
// (level 4 and above, other than the event's own message); the first such
// line is kept as the failure's text, else the channel's own word.
#pragma once

#include <string>

#include "cmd/kav/KAVStats.h"
#include "cmd/kav/channel/ChannelResult.h"
#include "platform/log/LogWatch.h"

class ChannelOutcome : public orv::log::LogWatch {
public:
    static constexpr int failureLevel = 4;

    void lineLogged(const Line& line) override;
    // What the channel returned.
    void channelEnded(const orv::journal::ChannelResult& result);

    bool failed() const { return m_failed; }
    const std::string& failureText() const { return m_failureText; }

    // Counts the report as reported or failed.
    void countIn(KAVStats& stats, KAVStats::Channel channel) const;

private:
    bool m_failed = false;
    std::string m_failureText;
};
