#include <gtest/gtest.h>

#include "cmd/kav/email/EmailReportingService.h"
#include "platform/event/EventCodec.h"
#include "tests/email/LogCapture.h"
#include "cmd/kav/email/TagReplacement.h"

using orv::event::Member;
using List = std::vector<std::string>;

namespace {

std::vector<Member> eventWithout(const std::string& absent)
{
    std::vector<Member> members = { { "class", std::string("fault.cpu") }, { "code", std::string("C-1") },
        { "type", std::string("fault") }, { "timestamp", int64_t { 86400 } }, { "diagEngName", std::string("de") },
        { "diagEngVersion", std::string("1.2") }, { "domainsAffected", std::string("AC") },
        { "platformCSN", std::string("CSN9") }, { "platformModel", std::string("M9") },
        { "classes", List { "f.a", "f.b", "f.c" } }, { "indictment", List { "cpu0", "dimm3" } } };
    std::erase_if(members, [&](const Member& m) { return m.name == absent; });
    return members;
}

struct Tags {
    int status = 0;
    List tags { "stale" }, values { "stale" };
};

Tags tagsOf(const std::vector<Member>& members)
{
    std::vector<char> bytes = orv::event::pack(members);
    DXAEvent event(bytes.data(), static_cast<unsigned>(bytes.size()));
    Tags result;
    result.status = TagReplacement().getTags(event, result.tags, result.values);
    return result;
}

}

TEST(TagReplacement, FullEventGivesElevenPairs)
{
    Tags all = tagsOf(eventWithout(""));
    ASSERT_EQ(all.status, 0);
    EXPECT_EQ(all.tags,
        (List { "<PLATFORM_MODEL>", "<PLATFORM_SERIAL_NUMBER>", "<EVENT_CLASS>", "<EVENT_TIMESTAMP>",
            "<EVENT_DOMAINS_AFFECTED>", "<EVENT_DE_NAME>", "<EVENT_DE_VERSION>", "<EVENT_CODE>",
            "<EVENT_FAULT_MEMBERS>", "<EVENT_INDICTMENT_LIST>", "<EVENT_INDICTMENT_COUNT>" }));
    EXPECT_EQ(all.values,
        (List { "M9", "CSN9", "fault.cpu", "1970-01-02 00:00:00 UTC", "AC", "de", "1.2", "C-1", "f.a\nf.b\nf.c\n",
            "cpu0\ndimm3\n", "2" }));

    std::vector<Member> members = eventWithout("indictment");
    members.push_back({ "indictment", List {} });
    Tags empty = tagsOf(members);
    EXPECT_EQ(List(empty.values.begin() + 9, empty.values.end()), (List { "", "0" }));
}

TEST(TagReplacement, AccessorFailureKeepsEarlierPairs)
{
    LogCapture log;
    Tags noClass = tagsOf(eventWithout("class"));
    EXPECT_NE(noClass.status, 0);
    EXPECT_EQ(noClass.tags, (List { "<PLATFORM_MODEL>", "<PLATFORM_SERIAL_NUMBER>" }));
    EXPECT_EQ(noClass.values, (List { "M9", "CSN9" }));
    const std::string rc = " rc = <" + std::to_string(noClass.status) + ">";
    EXPECT_NE(log.trace().find("TagReplacemnt::getTags fails tag = <EVENT_CLASS>" + rc), std::string::npos);
    EXPECT_NE(log.platform().find("KAV_EMAIL_DXAEVENT_GET_FAILED: Email reporting could not read <EVENT_CLASS>"),
        std::string::npos);

    Tags noIndictment = tagsOf(eventWithout("indictment"));
    EXPECT_NE(noIndictment.status, 0);
    EXPECT_EQ(noIndictment.tags.size(), 9u);
    EXPECT_NE(log.trace().find("TagReplacemnt::getTags fails on list = <EVENT_INDICTMENT_LIST>"), std::string::npos);
}

TEST(TagReplacement, FakeSeverityAndSpecialTags)
{
    List tags { "stale" }, values { "stale" };
    TagReplacement().fake(tags, values);
    ASSERT_EQ(tags.size(), 8u);
    EXPECT_EQ(tags[7] + values[7] + values[1], "<EVENT_CODE><event_code><platform_serial_number>");

    EmailReportingService service;
    for (int severity : { 7, 9, 0, -1 })
        service.getSeverityTag(static_cast<orv::EventSeverity>(severity), tags, values);
    EXPECT_EQ(tags.back(), "<EVENT_SEVERITY>");
    EXPECT_EQ(List(values.begin() + 8, values.end()),
        (List { "DXAEVENT_SEV_FATAL <7>", "UNKNOW SEVERITY <9>", "DXAEVENT_SEV_UNKNOWN <0>", "UNKNOW SEVERITY <-1>" }));

    std::vector<char> bytes = orv::event::pack(eventWithout(""));
    DXAEvent event(bytes.data(), static_cast<unsigned>(bytes.size()));
    std::string untouched = "kept";
    EXPECT_EQ(TagReplacement::specstringTags.tag, "<EVENT_SPECIAL>");
    EXPECT_EQ(TagReplacement::specstringTags.producer(event, untouched), 0);
    EXPECT_EQ(untouched, "kept");
}
