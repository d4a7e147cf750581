// The tag vocabulary of the email templates: for one event, the tags such as
// "<EVENT_CLASS>" and the texts that replace them, as two parallel lists.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event/DXAEvent.h"
#include "cmd/kav/email/EdString.h"

// A tag whose value is one text read from the event.
struct SubString {
    std::string tag;
    int (DXAEvent::*accessor)(std::string&) const;
};

// A tag whose value is a list read from the event, one item per line.
struct SubList {
    std::string tag;
    int (DXAEvent::*accessor)(std::vector<std::string_view>&) const;
};

// Tags and their values as the template editor takes them: a list value
// refers to the event's own items (one may be megabytes long) instead of
// being copied; a value made here is kept in `texts`.
struct TagValues {
    std::vector<std::string> tags;
    std::vector<EdString::Pieces> values;
    std::deque<std::string> texts;

    void add(const std::string& tag, std::string value);
};

// A tag whose value a plain function produces from the event.
struct SpecialString {
    std::string tag;
    int (*producer)(DXAEvent&, std::string&);
};

// Producer of "<EVENT_SPECIAL>": yields nothing, and the tag is never listed.
int getSpecEC(DXAEvent& event, std::string& value);

class TagReplacement {
public:
    // Empties the lists and fills them with the string tags, the list tags
    // and the indictment count. On an accessor failure it returns that
    // status, the lists holding the pairs completed before it.
    int getTags(DXAEvent& event, std::vector<std::string>& tags, std::vector<std::string>& values);

    // The same pairs, referring to the event: valid as long as it is.
    int getTags(const DXAEvent& event, TagValues& values);

    // The string tags, each paired with its own lower-case text: for a
    // sample mail without an event.
    void fake(std::vector<std::string>& tags, std::vector<std::string>& values);

    static const SubString stringTags[8];
    static const SubList listTags[2];
    static const SpecialString specstringTags;

private:
    int appendStringTag(const SubString& row, const DXAEvent& event, TagValues& values);
    int appendListTag(const SubList& row, const DXAEvent& event, TagValues& values);
};
