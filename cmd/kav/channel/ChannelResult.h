// How one channel's report of one event ended, as the channel itself tells
// it: delivered, failed (with why, and whether another try could go
// better), or not asked for. The counters and the journal both go by it,
// whatever the log level lets through.
#pragma once

#include <string>
#include <utility>

namespace orv::journal {

class ChannelResult {
public:
    enum class Kind { Delivered, Failed, NotAsked };

    static ChannelResult delivered() { return ChannelResult(Kind::Delivered, {}, false); }
    static ChannelResult notAsked() { return ChannelResult(Kind::NotAsked, {}, false); }
    // A peer or a script that may do better later.
    static ChannelResult retryable(std::string why) { return ChannelResult(Kind::Failed, std::move(why), true); }
    // The event or its entry cannot be reported this way, at any try.
    static ChannelResult refused(std::string why) { return ChannelResult(Kind::Failed, std::move(why), false); }

    Kind kind() const { return m_kind; }
    bool failed() const { return m_kind == Kind::Failed; }
    bool retry() const { return m_retry; }
    const std::string& why() const { return m_why; }

private:
    ChannelResult(Kind kind, std::string why, bool retry)
        : m_kind(kind)
        , m_why(std::move(why))
        , m_retry(retry)
    {
    }

    Kind m_kind;
    std::string m_why;
    bool m_retry;
};

}

namespace orv::journal {

// reportGetFailed's log pair, and the refusal that goes with it.
ChannelResult cannotRead(const std::string& eventClass, const char* item, const char* object, const char* channelWord);

}
