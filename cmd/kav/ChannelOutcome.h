// Watches one channel's report on its door thread: the channel returns
// nothing, so whether it failed is told by the error lines it logs (level 4
// and above, other than the event's own message). The first one is kept as
// the failure's text.
#pragma once

#include <string>

#include "cmd/kav/KAVStats.h"
#include "platform/log/LogWatch.h"

class ChannelOutcome : public orv::log::LogWatch {
public:
    static constexpr int failureLevel = 4;

    void lineLogged(const Line& line) override;

    bool failed() const { return m_failed; }
    const std::string& failureText() const { return m_failureText; }

    // Counts the report as reported or failed.
    void countIn(KAVStats& stats, KAVStats::Channel channel) const;

private:
    bool m_failed = false;
    std::string m_failureText;
};
