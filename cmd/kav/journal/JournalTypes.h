// The journal's words: the channels a delivery goes through, the states a
// delivery passes, and the records the store takes and gives back. Times are
// milliseconds since the epoch, as the file keeps them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orv::journal {

using Millis = int64_t;

// Now, in milliseconds since the epoch.
Millis nowMillis();
// "2026-12-24T08:00:00Z": the time in UTC, to the second.
std::string isoTime(Millis at);

// In the order the channels are run.
enum class Channel { Message, OrvEvent, Remote, Email };
// Held: kept back by its fault's hold-down; silenced: by an operator's
// silence. Neither is ever tried.
enum class State { Pending, Delivered, GivenUp, Dropped, Held, Silenced };

// "message", "orvEvent", "remote", "email"
const char* channelName(Channel channel);
std::optional<Channel> channelFromName(std::string_view name);
// Channels as a comma list, "orvEvent,remote,email", and back; none for a
// list with a name that is not a channel's.
std::string channelList(const std::vector<Channel>& channels);
std::optional<std::vector<Channel>> channelsFromList(std::string_view list);
// "pending", "delivered", "givenUp", "dropped", "held", "silenced"
const char* stateName(State state);
std::optional<State> stateFromName(std::string_view name);

// One channel an event asks for; for email, one selected recipient line.
// Pending unless it was made before the event was committed.
struct NewDelivery {
    NewDelivery(Channel channel, std::optional<std::string> recipient, State state = State::Pending,
        std::optional<std::string> lastError = std::nullopt)
        : channel(channel)
        , recipient(std::move(recipient))
        , state(state)
        , lastError(std::move(lastError))
    {
    }
    Channel channel;
    std::optional<std::string> recipient;
    State state = State::Pending;
    std::optional<std::string> lastError;
};

// A fault's hold-down as the journal keeps it, so that it holds across a
// restart: when the fault was last reported, until when its copies are
// held, and how many were.
struct HoldDown {
    std::string key;
    Millis reported = 0;
    Millis until = 0;
    int64_t seconds = 0;
    int64_t held = 0;
};

struct NewEvent {
    std::vector<char> packed;
    Millis received = 0;
    std::string eventClass;
    std::string code;
    std::vector<NewDelivery> deliveries;
    // For the first report of a fault after its hold-down: how many copies
    // were held back before it (its mail says so).
    int64_t heldBefore = 0;
    // The hold-down this event starts (reported) or counts in (held).
    std::optional<HoldDown> holdDown;

    // Whether a delivery of it is still to be made.
    bool waits() const;
};

struct Delivery {
    int64_t id = 0;
    int64_t eventId = 0;
    Channel channel = Channel::Message;
    std::optional<std::string> recipient;
    State state = State::Pending;
    int tries = 0;
    std::optional<Millis> nextTry;
    std::optional<std::string> lastError;
};

// An operator's silence: events that match are held back from its channels
// from `starts` until `ends`. Class and code are shell patterns; `domains`
// matches an event affecting any of its letters; `csn` the platform serial
// number as it is. A matcher that is none matches every event.
struct Silence {
    int64_t id = 0;
    std::string eventClass;
    std::optional<std::string> code;
    std::optional<std::string> domains;
    std::optional<std::string> csn;
    std::vector<Channel> channels;
    Millis starts = 0;
    Millis ends = 0;
    std::string comment;

    bool activeAt(Millis now) const { return starts <= now && now < ends; }
};

// How long an ended silence is kept for the operator to list.
inline constexpr Millis silenceKeptMillis = 7 * 86'400'000LL;

// An event with its deliveries, without the packed bytes.
struct EventRecord {
    int64_t id = 0;
    Millis received = 0;
    std::string eventClass;
    std::string code;
    int64_t heldBefore = 0;
    std::vector<Delivery> deliveries;
};

}
