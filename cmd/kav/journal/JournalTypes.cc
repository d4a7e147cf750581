#include "cmd/kav/journal/JournalTypes.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>

namespace orv::journal {

namespace {

constexpr std::array channelNames { "message", "orvEvent", "remote", "email" };
constexpr std::array stateNames { "pending", "delivered", "givenUp", "dropped", "held", "silenced" };

template <typename Enum, size_t N>
std::optional<Enum> fromName(const std::array<const char*, N>& names, std::string_view name)
{
    for (size_t i = 0; i < N; ++i)
        if (name == names[i])
            return static_cast<Enum>(i);
    return std::nullopt;
}

}

Millis nowMillis()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string isoTime(Millis at)
{
    const time_t seconds = static_cast<time_t>(at / 1000);
    struct tm utc { };
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

const char* channelName(Channel channel)
{
    return channelNames[static_cast<size_t>(channel)];
}

std::optional<Channel> channelFromName(std::string_view name)
{
    return fromName<Channel>(channelNames, name);
}

const char* stateName(State state)
{
    return stateNames[static_cast<size_t>(state)];
}

std::string channelList(const std::vector<Channel>& channels)
{
    std::string list;
    for (Channel channel : channels)
        list += (list.empty() ? "" : ",") + std::string(channelName(channel));
    return list;
}

std::optional<std::vector<Channel>> channelsFromList(std::string_view list)
{
    std::vector<Channel> channels;
    for (size_t start = 0; start <= list.size();) {
        const size_t end = std::min(list.find(',', start), list.size());
        const auto channel = channelFromName(list.substr(start, end - start));
        if (!channel)
            return std::nullopt;
        channels.push_back(*channel);
        start = end + 1;
    }
    return channels;
}

std::optional<State> stateFromName(std::string_view name)
{
    return fromName<State>(stateNames, name);
}

bool NewEvent::waits() const
{
    return std::any_of(deliveries.begin(), deliveries.end(),
        [](const NewDelivery& delivery) { return delivery.state == State::Pending; });
}

}
