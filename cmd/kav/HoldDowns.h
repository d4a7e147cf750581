// The hold-down of repeated faults: after an event is reported, further
// events with the same fault key are held back from the front-end, remote
// and email channels until the entry's hold-down has passed since that
// report. A door thread pays one map lookup under the lock; keys whose
// hold-down has ended are forgotten as new ones come, so memory is bounded
// by the faults seen within one hold-down.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/base/Mutex.h"

class DXAEvent;

class HoldDowns {
public:
    using Clock = std::chrono::system_clock;

    // What to do with one event of a class that has a hold-down.
    struct Verdict {
        bool held = false;
        // For an event reported after a hold-down that held others: how
        // many were held, and the time of the report they followed.
        uint64_t heldBefore = 0;
        Clock::time_point heldSince {};
        // The hold-down that holds the event, or that its report starts.
        Clock::time_point reported {};
        Clock::time_point until {};
    };

    // A hold-down running for a key.
    struct Running {
        Clock::time_point reported;
        Clock::time_point until;
        uint64_t held = 0;
    };

    // The fault key: class, code, platform serial number, affected
    // domains and the indictment list as a set. Empty when the event
    // cannot give one of them.
    static std::string keyOf(const DXAEvent& event);

    Verdict check(const std::string& key, std::chrono::seconds holdDown, Clock::time_point now);

    // The key's hold-down, if one holds its copies at `now`; nothing changes.
    std::optional<Running> running(const std::string& key, Clock::time_point now) const;

    // Takes back a hold-down kept from an earlier run.
    void restore(const std::string& key, std::chrono::seconds holdDown, const Running& running);

    // How many keys are remembered.
    size_t size() const;

private:
    struct Fault {
        Clock::time_point reported;
        Clock::time_point until;
        std::chrono::seconds holdDown;
        uint64_t held = 0;

        // A key that held nothing is forgotten when its hold-down ends; one
        // that held events is kept one hold-down longer, for the next event
        // to say how many.
        Clock::time_point forgetAt() const { return held == 0 ? until : until + holdDown; }
    };

    void forgetEnded(Clock::time_point now) REQUIRES(m_mutex);

    mutable orv::base::Mutex m_mutex;
    std::map<std::string, Fault> m_faults GUARDED_BY(m_mutex);
    // The earliest end among the remembered keys: the map is swept only
    // once some hold-down has ended.
    Clock::time_point m_nextEnd GUARDED_BY(m_mutex) = Clock::time_point::max();
};
