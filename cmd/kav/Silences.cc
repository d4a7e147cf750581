#include "cmd/kav/Silences.h"

#include <fnmatch.h>

#include <algorithm>

#include "platform/event/DXAEvent.h"

using nlohmann::json;
using orv::journal::Millis;

namespace {

// The members of an event a silence may look at beyond its class, read
// once the class of some silence matches.
struct EventFacts {
    explicit EventFacts(const DXAEvent& event)
    {
        // An event without one of them has it empty, which no matcher
        // given matches.
        event.getEventCode(code);
        event.getDomainsAffected(domains);
        event.getEventSourcePlatformCSN(csn);
    }
    std::string code;
    std::string domains;
    std::string csn;
};

bool matches(const orv::journal::Silence& silence, const EventFacts& facts)
{
    if (silence.code && fnmatch(silence.code->c_str(), facts.code.c_str(), 0) != 0)
        return false;
    if (silence.domains && facts.domains.find_first_of(*silence.domains) == std::string::npos)
        return false;
    return !silence.csn || *silence.csn == facts.csn;
}

// A matcher of the request: absent or null for none, else a text that is
// not empty.
bool optionalText(const json& request, const char* name, std::optional<std::string>& value)
{
    const auto member = request.find(name);
    if (member == request.end() || member->is_null())
        return true;
    if (!member->is_string() || member->get_ref<const std::string&>().empty())
        return false;
    value = member->get<std::string>();
    return true;
}

json matcherJson(const std::optional<std::string>& value)
{
    return value ? json(*value) : json(nullptr);
}

}

void Silences::replace(std::vector<Silence> silences)
{
    auto list = std::make_shared<const std::vector<Silence>>(std::move(silences));
    const bool any = !list->empty();
    orv::base::MutexLock lock(m_mutex);
    m_silences = std::move(list);
    m_any.store(any, std::memory_order_release);
}

Silences::Verdict Silences::check(const DXAEvent& event, const std::string& eventClass, unsigned asked) const
{
    Verdict verdict;
    if (!m_any.load(std::memory_order_acquire))
        return verdict;
    std::shared_ptr<const std::vector<Silence>> silences;
    {
        orv::base::MutexLock lock(m_mutex);
        silences = m_silences;
    }
    const Millis now = orv::journal::nowMillis();
    std::optional<EventFacts> facts;
    for (const Silence& silence : *silences) {
        unsigned channels = 0;
        for (Channel channel : silence.channels)
            channels |= bit(channel);
        channels &= asked & ~verdict.channels;
        if (channels == 0 || !silence.activeAt(now) || fnmatch(silence.eventClass.c_str(), eventClass.c_str(), 0) != 0)
            continue;
        if (!facts)
            facts.emplace(event);
        if (!matches(silence, *facts))
            continue;
        verdict.channels |= channels;
        verdict.ids.push_back(silence.id);
    }
    return verdict;
}

std::optional<orv::journal::Silence> Silences::fromRequest(const json& request, Millis now)
{
    Silence silence;
    silence.starts = now;
    if (!request.is_object())
        return std::nullopt;
    const json& eventClass = request.value("class", json());
    const json& comment = request.value("comment", json());
    const json& ends = request.value("ends", json());
    const json& channels = request.value("channels", json());
    if (!eventClass.is_string() || eventClass.get_ref<const std::string&>().empty() || !comment.is_string()
        || comment.get_ref<const std::string&>().empty() || !ends.is_number_integer() || ends.get<Millis>() <= now
        || !channels.is_array() || channels.empty())
        return std::nullopt;
    silence.eventClass = eventClass.get<std::string>();
    silence.comment = comment.get<std::string>();
    silence.ends = ends.get<Millis>();
    if (!optionalText(request, "code", silence.code) || !optionalText(request, "domains", silence.domains)
        || !optionalText(request, "csn", silence.csn))
        return std::nullopt;
    if (silence.domains && silence.domains->find_first_not_of("ABCDEFGHIJKLMNOPQR") != std::string::npos)
        return std::nullopt;
    for (const json& name : channels) {
        const auto channel = name.is_string() ? orv::journal::channelFromName(name.get<std::string>()) : std::nullopt;
        if (!channel || *channel == Channel::Message)
            return std::nullopt;
        silence.channels.push_back(*channel);
    }
    std::sort(silence.channels.begin(), silence.channels.end());
    silence.channels.erase(std::unique(silence.channels.begin(), silence.channels.end()), silence.channels.end());
    return silence;
}

json Silences::toJson(const Silence& silence, Millis now)
{
    json channels = json::array();
    for (Channel channel : silence.channels)
        channels.push_back(orv::journal::channelName(channel));
    return { { "id", silence.id },
        { "matchers",
            { { "class", silence.eventClass }, { "code", matcherJson(silence.code) },
                { "domains", matcherJson(silence.domains) }, { "csn", matcherJson(silence.csn) } } },
        { "channels", channels }, { "startsAt", orv::journal::isoTime(silence.starts) },
        { "endsAt", orv::journal::isoTime(silence.ends) }, { "comment", silence.comment },
        { "active", silence.activeAt(now) } };
}

std::string Silences::describe(const Silence& silence)
{
    std::string text = "class " + silence.eventClass;
    if (silence.code)
        text += " code " + *silence.code;
    if (silence.domains)
        text += " domains " + *silence.domains;
    if (silence.csn)
        text += " CSN " + *silence.csn;
    return text + " on " + orv::journal::channelList(silence.channels);
}
