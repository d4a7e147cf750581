#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <list>
#include <stdexcept>
#include <string_view>

#include "platform/event/DXAEvent.h"
#include "tests/event/EventTestData.h"

TEST(DXAEvent, ReadsEveryMemberOfTheFullEvent)
{
    auto event = eventOf(fullMembers());
    const std::pair<int (DXAEvent::*)(std::string&) const, const char*> texts[] = {
        { &DXAEvent::getEventClass, "fault.cpu.ecache" },
        { &DXAEvent::getEventCode, "X12" },
        { &DXAEvent::getEventType, "FAULT" },
        { &DXAEvent::getDiagEngName, "diagA" },
        { &DXAEvent::getDiagEngVersion, "2.0" },
        { &DXAEvent::getDomainsAffected, "AC" },
        { &DXAEvent::getEventSourcePlatformCSN, "0123" },
        { &DXAEvent::getEventSourcePlatformModel, "M15" },
        { &DXAEvent::getEventTimestamp, "2023-11-14 22:13:20 UTC" },
    };
    std::string text;
    for (const auto& [get, expected] : texts) {
        EXPECT_EQ(((*event).*get)(text), 0) << expected;
        EXPECT_EQ(text, expected);
    }
    long seconds = 0;
    EXPECT_EQ(event->getEventTimestamp(seconds), 0);
    EXPECT_EQ(seconds, 1700000000);
    std::list<std::string> items { "stale" };
    EXPECT_EQ(event->getEventClasses(items), 0);
    EXPECT_EQ(items, (std::list<std::string> { "fault.cpu.ecache", "fault.io.x" }));
    EXPECT_EQ(event->getEventIndictment(items), 0);
    EXPECT_EQ(items, (std::list<std::string> { "CPU0", "CPU1", "" }));
}

TEST(DXAEvent, AbsentOrMistypedMembersLeaveOutputAlone)
{
    auto minimal = eventOf(minimalMembers());
    auto mistyped = eventOf({ { "class", int64_t { 3 } }, { "timestamp", "now" }, { "indictment", "CPU0" } });
    for (DXAEvent* event : { minimal.get(), mistyped.get() }) {
        std::string text = "keep";
        long seconds = 42;
        std::list<std::string> items { "keep" };
        EXPECT_EQ(event->getEventCode(text), ENOENT);
        EXPECT_EQ(event->getEventTimestamp(seconds), ENOENT);
        EXPECT_EQ(event->getEventTimestamp(text), ENOENT);
        EXPECT_EQ(event->getEventIndictment(items), ENOENT);
        EXPECT_EQ(text, "keep");
        EXPECT_EQ(seconds, 42);
        EXPECT_EQ(items, std::list<std::string> { "keep" });
    }
    std::string text = "keep";
    EXPECT_EQ(mistyped->getEventClass(text), ENOENT);
    EXPECT_EQ(text, "keep");
    std::list<std::string> items { "stale" };
    EXPECT_EQ(minimal->getEventClasses(items), 0);
    EXPECT_TRUE(items.empty());
}

TEST(DXAEvent, PayloadIsItsOwnCopy)
{
    auto buffer = std::make_unique<std::vector<char>>(readVector("event-full.xdr"));
    const std::vector<char> golden = *buffer;
    DXAEvent event(buffer->data(), static_cast<unsigned>(buffer->size()));
    std::fill(buffer->begin(), buffer->end(), 'x');
    buffer.reset();

    char* payload = nullptr;
    unsigned length = 0;
    ASSERT_EQ(event.getPackedEventPayload(&payload, length), 0);
    EXPECT_EQ(std::vector<char>(payload, payload + length), golden);
    EXPECT_EQ(event.getPackedEventPayload(nullptr, length), EINVAL);
}

TEST(DXAEvent, TimestampText)
{
    for (const auto& [seconds, expected] : { std::pair<int64_t, const char*> { 0, "1970-01-01 00:00:00 UTC" },
             { -1, "1969-12-31 23:59:59 UTC" }, { 951782400, "2000-02-29 00:00:00 UTC" } }) {
        std::string text;
        EXPECT_EQ(eventOf({ { "timestamp", seconds } })->getEventTimestamp(text), 0);
        EXPECT_EQ(text, expected);
    }
    std::string text = "keep";
    EXPECT_EQ(eventOf({ { "timestamp", int64_t { INT64_MAX } } })->getEventTimestamp(text), EINVAL);
    EXPECT_EQ(text, "keep");
}

TEST(DXAEvent, MalformedBytesThrow)
{
    char garbage[] = "not a packed event";
    EXPECT_THROW(DXAEvent(garbage, sizeof garbage), std::runtime_error);
    EXPECT_THROW(DXAEvent(nullptr, 0), std::runtime_error);
    EXPECT_THROW(DXAEvent(nullptr, 12), std::runtime_error);
}

TEST(DXAEvent, CarriesMembersOfOtherTypesUntouched)
{
    std::vector<char> golden = readVector("event-extra-members.xdr");
    DXAEvent event(golden.data(), static_cast<unsigned>(golden.size()));
    std::string text;
    EXPECT_EQ(event.getEventClass(text), 0);
    EXPECT_EQ(text, "fault.memory.dimm");
    EXPECT_EQ(event.getEventSourcePlatformCSN(text), 0);
    EXPECT_EQ(text, "0123");
    long seconds = 0;
    EXPECT_EQ(event.getEventTimestamp(seconds), 0);
    EXPECT_EQ(seconds, 1700000060);
    std::list<std::string> items;
    EXPECT_EQ(event.getEventIndictment(items), 0);
    EXPECT_EQ(items, std::list<std::string> { "DIMM3" });
    char* payload = nullptr;
    unsigned length = 0;
    ASSERT_EQ(event.getPackedEventPayload(&payload, length), 0);
    EXPECT_EQ(std::vector<char>(payload, payload + length), golden);

    // The event's own names carried with other types count as absent.
    using namespace orv::event;
    auto other = eventOf({ { "class", Nested { { { "class", "fault.a" } } } },
        { "timestamp", Number { Type::Uint64, 5 } }, { "code", Numbers { Type::ByteArray, { 'X' } } },
        { "classes", NestedArray { { Nested { { { "a", "b" } } } } } } });
    text = "keep";
    seconds = 42;
    EXPECT_EQ(other->getEventClass(text), ENOENT);
    EXPECT_EQ(other->getEventCode(text), ENOENT);
    EXPECT_EQ(other->getEventTimestamp(seconds), ENOENT);
    EXPECT_EQ(other->getEventClasses(items), ENOENT);
    EXPECT_EQ(text, "keep");
    EXPECT_EQ(seconds, 42);
}

// Where names are unique per type, an event name is looked up with the
// type of its accessor: carried again with another type it is another
// member, carried only so it is absent.
TEST(DXAEvent, ReadsTheLaterVectorsAndLooksUpByNameAndType)
{
    for (const auto& [file, eventClass] :
        { std::pair { "event-empty-arrays.xdr", "fault.cpu.l2" }, std::pair { "event-unique-type.xdr", "fault.mem.ce" },
            std::pair { "event-deep.xdr", "fault.board.path" } }) {
        std::vector<char> golden = readVector(file);
        std::list<std::string> classes;
        EXPECT_EQ(DXAEvent(golden.data(), static_cast<unsigned>(golden.size())).getEventClasses(classes), 0);
        EXPECT_EQ(classes, std::list<std::string> { eventClass }) << file;
    }

    using namespace orv::event;
    auto perType
        = eventOf({ { "class", Number { Type::Uint32, 5 } }, { "class", "fault.a" },
                      { "code", Number { Type::Uint32, 3 } }, { "timestamp", "now" }, { "timestamp", int64_t { 7 } } },
            ListFlags::UniqueNameType);
    std::string text = "keep";
    long seconds = 0;
    EXPECT_EQ(perType->getEventCode(text), ENOENT);
    EXPECT_EQ(perType->getEventClass(text), 0);
    EXPECT_EQ(text, "fault.a");
    EXPECT_EQ(perType->getEventTimestamp(seconds), 0);
    EXPECT_EQ(seconds, 7);
}

namespace {

// The offset of the decoded-size word of the pair named `name`: the word
// before the name's length word.
size_t decodedSizeWord(const std::vector<char>& packed, const std::string& name)
{
    const std::string_view bytes(packed.data(), packed.size());
    const size_t at = bytes.find(name);
    return at - 8;
}

}

// Long texts stay in the received bytes instead of being copied; what the
// accessors give, and what is refused, must not change for them.
TEST(DXAEvent, LongTextsReadAsTheyWereSentAndAreCheckedAsStrictly)
{
    using Texts = std::vector<std::string>;
    const std::string longClass = "fault." + std::string(5000, 'c');
    const Texts indictment { std::string(orv::event::sharedTextMinimum, 'x'), "CPU1",
        std::string(orv::event::sharedTextMinimum - 1, 'y'), std::string(70000, 'z') };
    std::vector<orv::event::Member> members = fullMembers();
    members[0].value = longClass;
    members[10].value = indictment;
    const std::vector<char> packed = orv::event::pack(members);

    std::vector<char> moved = packed;
    DXAEvent event(std::move(moved));
    std::string text;
    EXPECT_EQ(event.getEventClass(text), 0);
    EXPECT_EQ(text, longClass);
    std::list<std::string> items;
    EXPECT_EQ(event.getEventIndictment(items), 0);
    EXPECT_EQ(items, std::list<std::string>(indictment.begin(), indictment.end()));
    std::vector<std::string_view> views;
    EXPECT_EQ(event.viewEventIndictment(views), 0);
    EXPECT_EQ(Texts(views.begin(), views.end()), indictment);
    EXPECT_EQ(event.viewEventClasses(views), 0);
    EXPECT_EQ(Texts(views.begin(), views.end()), (Texts { "fault.cpu.ecache", "fault.io.x" }));
    char* payload = nullptr;
    unsigned length = 0;
    ASSERT_EQ(event.getPackedEventPayload(&payload, length), 0);
    EXPECT_EQ(std::vector<char>(payload, payload + length), packed);

    // A decoded size that disagrees, or a NUL byte, inside a long text.
    for (const std::string& name : { std::string("class"), std::string("indictment") }) {
        std::vector<char> lying = packed;
        lying[decodedSizeWord(lying, name) + 3] ^= 8;
        EXPECT_THROW(DXAEvent(lying.data(), static_cast<unsigned>(lying.size())), std::runtime_error) << name;
    }
    std::vector<char> withNul = packed;
    withNul[std::string_view(withNul.data(), withNul.size()).find("zzzz") + 1000] = '\0';
    EXPECT_THROW(DXAEvent(std::move(withNul)), std::runtime_error);
}
