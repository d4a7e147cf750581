// What the daemon has done since it started: events taken in, events it
// could not report, and per channel how many reports went through and how
// many logged a failure. Door threads count with relaxed atomics only, so a
// report pays a few increments; the text of a channel's latest failure is
// kept under a lock taken on the failure path alone.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/base/Mutex.h"

class KAVStats {
public:
    enum Channel { Message, OrvEvent, Remote, Email, ChannelCount };

    KAVStats();

    // A report or test-email request whose event was decoded.
    void eventReceived() { m_received.fetch_add(1, std::memory_order_relaxed); }
    void unknownClass() { m_unknownClass.fetch_add(1, std::memory_order_relaxed); }
    // Parameters that gave no event.
    void badEvent() { m_badEvents.fetch_add(1, std::memory_order_relaxed); }
    // An event held back from its other channels by its fault's hold-down.
    void eventHeld(const std::string& eventClass) { m_held.add(eventClass); }
    // An event held back from one or more channels by an operator's silence.
    void eventSilenced(const std::string& eventClass) { m_silenced.add(eventClass); }

    void channelReported(Channel channel);
    void channelFailed(Channel channel, const std::string& text);

    // The counters as the stats door answers them.
    nlohmann::json snapshot() const;
    // The main counters in one line of text; reads the counters alone, so
    // it may be called at any time while the object lives.
    std::string summary() const;

    // Where the "journal" object of the snapshot comes from; set once,
    // before the doors serve. Without it the journal is off.
    void setJournalSource(std::function<nlohmann::json()> source) { m_journalSource = std::move(source); }

    // The channel's name in the counters ("message", "orvEvent", ...).
    static const char* channelName(Channel channel);
    // "2026-01-02T03:04:05Z"
    static std::string utcTime(time_t when);

private:
    struct ChannelCounters {
        std::atomic<uint64_t> reported { 0 };
        std::atomic<uint64_t> failed { 0 };
    };
    // A count in all and per class.
    class ClassCount {
    public:
        void add(const std::string& eventClass);
        // The total under `name`, and the count of each class under
        // `name` + "ByClass".
        void into(nlohmann::json& result, const std::string& name) const;
        uint64_t total() const { return m_total.load(std::memory_order_relaxed); }

    private:
        std::atomic<uint64_t> m_total { 0 };
        mutable orv::base::Mutex m_mutex;
        std::map<std::string, uint64_t> m_byClass GUARDED_BY(m_mutex);
    };
    struct LastFailure {
        time_t time = 0; // 0: none yet
        std::string text;
    };

    const std::chrono::steady_clock::time_point m_start;
    std::atomic<uint64_t> m_received { 0 };
    std::atomic<uint64_t> m_unknownClass { 0 };
    std::atomic<uint64_t> m_badEvents { 0 };
    ClassCount m_held;
    ClassCount m_silenced;
    ChannelCounters m_channels[ChannelCount];
    mutable orv::base::Mutex m_failureMutex;
    LastFailure m_lastFailures[ChannelCount] GUARDED_BY(m_failureMutex);
    std::function<nlohmann::json()> m_journalSource;
};
