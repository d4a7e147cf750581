#include "TagReplacement.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "LogStatement.h"

namespace {

const char* const indictmentListTag = "<EVENT_INDICTMENT_LIST>";
const char* const indictmentCountTag = "<EVENT_INDICTMENT_COUNT>";

int reportFailure(const char* traceFormat, const std::string& tag, int status)
{
    logStatement(2, LogDest::trace(), 0, traceFormat, tag, status);
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
    { "<EVENT_FAULT_MEMBERS>", &DXAEvent::getEventClasses },
    { indictmentListTag, &DXAEvent::getEventIndictment },
};

const SpecialString TagReplacement::specstringTags = { "<EVENT_SPECIAL>", &getSpecEC };

int getSpecEC(DXAEvent&, std::string&)
{
    return 0;
}

int TagReplacement::getTags(DXAEvent& event, std::vector<std::string>& tags, std::vector<std::string>& values)
{
    tags.clear();
    values.clear();
    for (const SubString& row : stringTags) {
        if (int status = appendStringTag(row, event, tags, values); status != 0)
            return status;
    }
    for (const SubList& row : listTags) {
        if (int status = appendListTag(row, event, tags, values); status != 0)
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

int TagReplacement::appendStringTag(const SubString& row, DXAEvent& event, std::vector<std::string>& tags,
    std::vector<std::string>& values)
{
    std::string value;
    int status = (event.*row.accessor)(value);
    if (status != 0)
        return reportFailure("TagReplacemnt::getTags fails tag = %s rc = <%d>\n", row.tag, status);
    tags.push_back(row.tag);
    values.push_back(std::move(value));
    return 0;
}

int TagReplacement::appendListTag(const SubList& row, DXAEvent& event, std::vector<std::string>& tags,
    std::vector<std::string>& values)
{
    std::list<std::string> items;
    int status = (event.*row.accessor)(items);
    if (status != 0)
        return reportFailure("TagReplacemnt::getTags fails on list = %s rc = <%d>\n", row.tag, status);
    // Built in place and moved: an item may be megabytes long.
    size_t length = 0;
    for (const std::string& item : items)
        length += item.size() + 1;
    std::string value;
    value.reserve(length);
    for (const std::string& item : items) {
        value += item;
        value += '\n';
    }
    tags.push_back(row.tag);
    values.push_back(std::move(value));
    if (row.tag == indictmentListTag) {
        tags.push_back(indictmentCountTag);
        values.push_back(std::to_string(items.size()));
    }
    return 0;
}
