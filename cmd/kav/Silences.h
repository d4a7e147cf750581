// The operator's silences as the door threads see them: the active ones,
// loaded from the journal, which keeps them. The list is never changed in
// place: each change swaps in a new one, so a door thread holds the lock
// for a pointer copy only, and while there is none a report pays one atomic
// load. What the operator's tool sends and is answered is JSON, made and
// read here.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cmd/kav/journal/JournalTypes.h"
#include "platform/base/Mutex.h"

class DXAEvent;

class Silences {
public:
    using Channel = orv::journal::Channel;
    using Silence = orv::journal::Silence;

    static constexpr unsigned bit(Channel channel) { return 1u << static_cast<unsigned>(channel); }

    // What the active silences do to one event: the channels they hold it
    // back from (a bit each), and the silences that do, in the order of
    // their ids.
    struct Verdict {
        unsigned channels = 0;
        std::vector<int64_t> ids;
    };

    // Takes `silences` as the list; those not active at the time of a
    // check are passed over.
    void replace(std::vector<Silence> silences);
    // Of the channels in `asked`, those an active silence holds the event
    // of class `eventClass` back from now.
    Verdict check(const DXAEvent& event, const std::string& eventClass, unsigned asked) const;

    // The silence an add call asks for, starting at `now`; none for a
    // request that is not one.
    static std::optional<Silence> fromRequest(const nlohmann::json& request, orv::journal::Millis now);
    // A silence as the list call answers it.
    static nlohmann::json toJson(const Silence& silence, orv::journal::Millis now);
    // Its matchers and channels in words, for the platform log.
    static std::string describe(const Silence& silence);

private:
    mutable orv::base::Mutex m_mutex;
    std::shared_ptr<const std::vector<Silence>> m_silences GUARDED_BY(m_mutex);
    std::atomic<bool> m_any { false };
};
