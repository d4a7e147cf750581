#include "platform/event/ZEQArgTemplate.h"

#include <cerrno>
#include <list>

#include "platform/event/DXAEvent.h"
#include "platform/event/EventCodec.h"

namespace orv::event {

namespace {

struct TextSource {
    const char* name;
    int (DXAEvent::*get)(std::string&) const;
};

struct ListSource {
    const char* name;
    int (DXAEvent::*get)(std::list<std::string>&) const;
};

constexpr TextSource textSources[] = {
    { key::eventClass, &DXAEvent::getEventClass },
    { key::code, &DXAEvent::getEventCode },
    { key::type, &DXAEvent::getEventType },
    { key::diagEngName, &DXAEvent::getDiagEngName },
    { key::diagEngVersion, &DXAEvent::getDiagEngVersion },
    { key::domainsAffected, &DXAEvent::getDomainsAffected },
    { key::platformCSN, &DXAEvent::getEventSourcePlatformCSN },
    { key::platformModel, &DXAEvent::getEventSourcePlatformModel },
};

constexpr ListSource listSources[] = {
    { key::classes, &DXAEvent::getEventClasses },
    { key::indictment, &DXAEvent::getEventIndictment },
};

std::string joined(const std::list<std::string>& items)
{
    std::string text;
    for (auto it = items.begin(); it != items.end(); ++it) {
        if (it != items.begin())
            text += ' ';
        text += *it;
    }
    return text;
}

}

int ZEQArgTemplate::memberText(const std::string& name, DXAEvent& event, std::string& text)
{
    for (const TextSource& source : textSources) {
        if (name == source.name)
            return (event.*source.get)(text);
    }
    for (const ListSource& source : listSources) {
        if (name != source.name)
            continue;
        std::list<std::string> items;
        const int rc = (event.*source.get)(items);
        if (rc == 0)
            text = joined(items);
        return rc;
    }
    if (name == key::timestamp) {
        long seconds = 0;
        const int rc = event.getEventTimestamp(seconds);
        if (rc == 0)
            text = std::to_string(seconds);
        return rc;
    }
    return EINVAL;
}

int ZEQArgTemplate::fill(std::string_view text, DXAEvent& event, std::string& value)
{
    std::string filled;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if ((c == '{' || c == '}') && i + 1 < text.size() && text[i + 1] == c) {
            filled += c;
            i += 2;
            continue;
        }
        const size_t close = c == '{' ? text.find('}', i + 1) : std::string_view::npos;
        if (close == std::string_view::npos) {
            filled += c;
            ++i;
            continue;
        }
        std::string member;
        const int rc = memberText(std::string(text.substr(i + 1, close - i - 1)), event, member);
        if (rc != 0)
            return rc;
        filled += member;
        i = close + 1;
    }
    value = std::move(filled);
    return 0;
}

}
