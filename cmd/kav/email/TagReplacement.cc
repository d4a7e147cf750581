#include "cmd/kav/email/TagReplacement.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "platform/log/LogStatement.h"

namespace {

const char* const indictmentListTag = "<EVENT_INDICTMENT_LIST>";
const char* const indictmentCountTag = "<EVENT_INDICTMENT_COUNT>";

int reportFailure(LogFormat<std::string, int> traceFormat, const std::string& tag, int status)
{
    logStatement(2, LogDest::trace(), traceFormat, tag, status);
    logStatement(4, LogDest::platform(), KAV_EMAIL_DXAEVENT_GET_FAILED, tag, status);
    return status;
}

}

const SubString TagReplacement::stringTags[8] = {
    { "<PLATFORM_MODEL>", &DXAEvent::getEventSourcePlatformModel },
    { "<PLATFORM_SERIAL_NUMBER>", &DXAEvent::getEventSourcePlatformCSN },
    { "<EVENT_CLASS>", &DXAEvent::getEventClass },
    { "<EVENT_TIMESTAMP>", &DXAEvent::getEventTimestamp },
    { "<EVENT_DOMAINS_AFFECTED>", &DXAEvent::getDomainsAffected },
    { "<EVENT_DE_NAME>", &DXAEvent::getDiagEngName },
    { "<EVENT_DE_VERSION>", &DXAEvent::getDiagEngVersion },
    { "<EVENT_CODE>", &DXAEvent::getEventCode },
};

const SubList TagReplacement::listTags[2] = {
    { "<EVENT_FAULT_MEMBERS>", &DXAEvent::viewEventClasses },
    { indictmentListTag, &DXAEvent::viewEventIndictment },
};

const SpecialString TagReplacement::specstringTags = { "<EVENT_SPECIAL>", &getSpecEC };

int getSpecEC(DXAEvent&, std::string&)
{
    return 0;
}

void TagValues::add(const std::string& tag, std::string value)
{
    tags.push_back(tag);
    values.push_back({ texts.emplace_back(std::move(value)) });
}

int TagReplacement::getTags(DXAEvent& event, std::vector<std::string>& tags, std::vector<std::string>& values)
{
    TagValues made;
    const int status = getTags(event, made);
    tags = std::move(made.tags);
    values.clear();
    for (const EdString::Pieces& pieces : made.values) {
        std::string& value = values.emplace_back();
        for (std::string_view piece : pieces)
            value += piece;
    }
    return status;
}

int TagReplacement::getTags(const DXAEvent& event, TagValues& values)
{
    values = TagValues();
    for (const SubString& row : stringTags) {
        if (int status = appendStringTag(row, event, values); status != 0)
            return status;
    }
    for (const SubList& row : listTags) {
        if (int status = appendListTag(row, event, values); status != 0)
            return status;
    }
    return 0;
}

void TagReplacement::fake(std::vector<std::string>& tags, std::vector<std::string>& values)
{
    tags.clear();
    values.clear();
    for (const SubString& row : stringTags) {
        std::string lower = row.tag;
        std::transform(lower.begin(), lower.end(), lower.begin(),
            [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        tags.push_back(row.tag);
        values.push_back(lower);
    }
}

int TagReplacement::appendStringTag(const SubString& row, const DXAEvent& event, TagValues& values)
{
    std::string value;
    int status = (event.*row.accessor)(value);
    if (status != 0)
        return reportFailure("TagReplacemnt::getTags fails tag = %s rc = <%d>\n", row.tag, status);
    values.add(row.tag, std::move(value));
    return 0;
}

// Every item followed by a line end, as pieces: nothing of the items is copied.
int TagReplacement::appendListTag(const SubList& row, const DXAEvent& event, TagValues& values)
{
    static constexpr std::string_view lineEnd = "\n";
    std::vector<std::string_view> items;
    int status = (event.*row.accessor)(items);
    if (status != 0)
        return reportFailure("TagReplacemnt::getTags fails on list = %s rc = <%d>\n", row.tag, status);
    EdString::Pieces pieces;
    pieces.reserve(items.size() * 2);
    for (std::string_view item : items) {
        pieces.push_back(item);
        pieces.push_back(lineEnd);
    }
    values.tags.push_back(row.tag);
    values.values.push_back(std::move(pieces));
    if (row.tag == indictmentListTag)
        values.add(indictmentCountTag, std::to_string(items.size()));
    return 0;
}
