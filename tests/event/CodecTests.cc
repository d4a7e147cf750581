#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "platform/event/EventCodec.h"
#include "tests/event/EventTestData.h"
#include "tests/event/RandomMembers.h"

using namespace orv::event;

namespace {

void expectMalformed(const std::vector<char>& bytes)
{
    EXPECT_THROW(unpack(bytes.data(), bytes.size()), std::runtime_error);
}

// Unpacking either succeeds or throws runtime_error; anything else fails.
void unpackQuietly(const std::vector<char>& bytes)
{
    try {
        unpack(bytes.data(), bytes.size());
    } catch (const std::runtime_error&) {
    }
}

std::vector<char> patched(std::vector<char> bytes, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.at(offset + i) = static_cast<char>(value >> (24 - 8 * i));
    return bytes;
}

// A list holding one nvlist pair "n" nested `levels` deep, assembled by hand
// so that it can go deeper than the packer allows.
std::vector<char> nestedList(unsigned levels)
{
    std::vector<char> list = patched(std::vector<char>(8), 4, 1);
    if (levels > 0) {
        const std::vector<char> inner = nestedList(levels - 1);
        std::vector<char> pair = patched(std::vector<char>(24), 8, 1);
        pair[12] = 'n';
        pair = patched(patched(pair, 16, 19), 20, 1);
        pair.insert(pair.end(), inner.begin(), inner.end());
        pair = patched(patched(pair, 0, 24 + static_cast<uint32_t>(inner.size())), 4, 48);
        list.insert(list.end(), pair.begin(), pair.end());
    }
    list.resize(list.size() + 8, '\0');
    return list;
}

std::vector<char> withHeader(std::vector<char> list)
{
    list.insert(list.begin(), { 1, 1, 0, 0 });
    return list;
}

}

TEST(Codec, GoldenVectorsBothWays)
{
    for (const auto& [file, members, flags] : goldenVectors()) {
        const std::vector<char> golden = readVector(file);
        ASSERT_FALSE(golden.empty()) << file;
        EXPECT_EQ(pack(members, ByteOrder::Little, flags), golden) << file;
        EXPECT_EQ(unpack(golden.data(), golden.size()), members) << file;
        EXPECT_EQ(packedListFlags(golden.data(), golden.size()), flags) << file;
    }
}

TEST(Codec, RandomMembersOfEveryTypeRoundTrip)
{
    RandomMembers random(7);
    for (int round = 0; round < 400; ++round) {
        const ListFlags flags = random.flags();
        const std::vector<Member> members = random.list(0, flags);
        const ByteOrder order = round % 2 ? ByteOrder::Big : ByteOrder::Little;
        const std::vector<char> bytes = pack(members, order, flags);
        ASSERT_EQ(bytes.size() % 4, 0u);
        ASSERT_EQ(unpack(bytes.data(), bytes.size()), members);
        EXPECT_EQ(packedByteOrder(bytes.data(), bytes.size()), order);
        EXPECT_EQ(packedListFlags(bytes.data(), bytes.size()), flags);
        const nlohmann::json typed = toTypedJson(members, order, flags);
        EXPECT_EQ(fromJson(typed), members) << typed.dump();
        EXPECT_EQ(packJson(typed), bytes) << typed.dump();
    }
}

TEST(Codec, DamagedInputThrowsAndNeverCrashes)
{
    for (const GoldenVector& vector : goldenVectors()) {
        const std::vector<char> golden = readVector(vector.file);
        for (size_t length = 0; length < golden.size(); ++length)
            expectMalformed(std::vector<char>(golden.begin(), golden.begin() + length));
        for (size_t bit = 0; bit < golden.size() * 8; ++bit) {
            std::vector<char> flipped = golden;
            flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << bit % 8));
            unpackQuietly(flipped);
        }
    }
    std::mt19937 rng(11);
    for (int round = 0; round < 2000; ++round) {
        std::vector<char> garbage(rng() % 128);
        for (char& c : garbage)
            c = static_cast<char>(rng() % 4 == 0 ? rng() : 0);
        if (garbage.size() >= 12)
            garbage[0] = garbage[1] = garbage[11] = 1;
        unpackQuietly(garbage);
    }
    EXPECT_THROW(unpack(nullptr, 12), std::runtime_error);
}

TEST(Codec, HostileFieldsAreRefused)
{
    // Offsets into event-minimal.xdr: the first pair starts at 12, the
    // "classes" pair at 56 with its element count at 80, the end at 84.
    const std::vector<char> golden = readVector("event-minimal.xdr");
    auto patched = [&](size_t offset, uint32_t value) { return ::patched(golden, offset, value); };
    expectMalformed(patched(80, 0xffffffff)); // absurd element count
    expectMalformed(patched(80, 1)); // element beyond the pair
    expectMalformed(patched(40, 0xfffffff0)); // string length beyond the buffer
    expectMalformed(patched(76, 99)); // unknown type
    expectMalformed(patched(76, 0));
    expectMalformed(patched(12, 48)); // encoded size lies
    expectMalformed(patched(16, 48)); // memory size lies
    expectMalformed(patched(8, 0)); // not a unique-name list
    std::vector<char> padding = golden;
    padding[55] = 1; // after "fault.a.b"
    expectMalformed(padding);

    // Offsets into event-extra-members.xdr: the uint8 "version" word at 40,
    // the "detector" list's flags at 236, "certainty"'s array length word
    // at 692 and its one element at 696, "faulty"'s element count at 724.
    const std::vector<char> extra = readVector("event-extra-members.xdr");
    ASSERT_NO_THROW(unpack(extra.data(), extra.size()));
    expectMalformed(::patched(extra, 40, 0x101)); // a uint8 word with high bits
    expectMalformed(::patched(extra, 40, 0x000000c8)); // 200 not sign-extended as packed
    EXPECT_NO_THROW(unpack(::patched(extra, 40, 0xffffffc8).data(), extra.size()));
    expectMalformed(::patched(extra, 236, 0)); // nested list without unique names
    expectMalformed(::patched(extra, 692, 2)); // array length disagrees with the count
    expectMalformed(::patched(extra, 696, 0x100)); // uint8 element out of range
    expectMalformed(::patched(extra, 724, 1)); // a boolean with an element

    const std::vector<char> deepest = withHeader(nestedList(maxNesting));
    EXPECT_NO_THROW(unpack(deepest.data(), deepest.size()));
    expectMalformed(withHeader(nestedList(maxNesting + 1)));
    expectMalformed(withHeader(nestedList(1000)));

    std::vector<char> nul = golden;
    nul[50] = '\0';
    expectMalformed(nul);

    std::vector<char> twice(golden.begin(), golden.begin() + 56);
    twice.insert(twice.end(), golden.begin() + 12, golden.begin() + 56);
    twice.insert(twice.end(), golden.begin() + 84, golden.end());
    expectMalformed(twice);

    std::vector<char> trailing = golden;
    trailing.push_back('\0');
    expectMalformed(trailing);
}

TEST(Codec, EmptyArraysAndNamesUniquePerTypeAreReadOnlyAsPacked)
{
    // Offsets into event-empty-arrays.xdr: the int32 array "counts" from 472
    // to 500, the end marker at 612, a zero word for each of the three
    // empty arrays from 620.
    const std::vector<char> empty = readVector("event-empty-arrays.xdr");
    expectMalformed(::patched(empty, 472, 28)); // encoded size without the unwritten length word
    std::vector<char> withLengthWord = empty;
    withLengthWord.insert(withLengthWord.begin() + 500, 4, '\0');
    withLengthWord.resize(empty.size());
    expectMalformed(withLengthWord);
    expectMalformed(std::vector<char>(empty.begin(), empty.end() - 4));
    std::vector<char> trailing = empty;
    trailing.insert(trailing.end(), 4, '\0');
    expectMalformed(trailing);
    trailing = empty;
    trailing.back() = 1;
    expectMalformed(trailing);

    // Offsets into event-unique-type.xdr: flags at 8, the uint32 "rank" from
    // 472 to 500 with its type at 488. The name again as an int32 is
    // another member; again as a uint32, or in a list of unique names, it
    // is refused.
    const std::vector<char> unique = readVector("event-unique-type.xdr");
    expectMalformed(::patched(unique, 8, 3));
    std::vector<char> twice = unique;
    twice.insert(twice.begin() + 500, unique.begin() + 472, unique.begin() + 500);
    expectMalformed(twice);
    twice = ::patched(twice, 500 + 16, static_cast<uint32_t>(Type::Int32));
    const std::vector<Member> both = unpack(twice.data(), twice.size());
    ASSERT_EQ(both.size(), 13u);
    EXPECT_EQ(both[12], (Member { "rank", Number { Type::Int32, 3 } }));
    expectMalformed(::patched(twice, 8, 1));
}

TEST(Codec, PackRefusesWhatCannotBeRepresented)
{
    EXPECT_THROW(pack({ { "a", "x" }, { "a", "y" } }), std::invalid_argument);
    EXPECT_THROW(pack({ { "", "x" } }), std::invalid_argument);
    EXPECT_THROW(pack({ { "a", std::string("x\0y", 3) } }), std::invalid_argument);
    EXPECT_THROW(pack({ { "a", std::vector<std::string> { std::string(1, '\0') } } }), std::invalid_argument);
    EXPECT_THROW(pack({ { "a", Number { Type::Uint8, 256 } } }), std::invalid_argument);
    EXPECT_THROW(pack({ { "a", Number { Type::Int16, static_cast<uint64_t>(-40000) } } }), std::invalid_argument);
    EXPECT_THROW(pack({ { "a", Number { Type::BooleanValue, 2 } } }), std::invalid_argument);
    EXPECT_THROW(pack({ { "a", Number { Type::Int64, 2 } } }), std::invalid_argument);
    EXPECT_THROW(pack({ { "a", Number { Type::String, 2 } } }), std::invalid_argument);
    EXPECT_THROW(pack({ { "a", Numbers { Type::Uint8, { 1 } } } }), std::invalid_argument);
    EXPECT_THROW(pack({ { "a", Numbers { Type::ByteArray, { 256 } } } }), std::invalid_argument);
    EXPECT_THROW(pack({ { "a", Nested { { { "b", "x" }, { "b", "y" } } } } }), std::invalid_argument);
    Member deep { "n", Flag {} };
    for (unsigned level = 0; level < maxNesting; ++level)
        deep = Member { "n", Nested { { deep } } };
    EXPECT_NO_THROW(pack({ deep }));
    EXPECT_THROW(pack({ Member { "n", Nested { { deep } } } }), std::invalid_argument);

    const std::vector<Member> oneNameTwoTypes { { "a", "x" }, { "a", int64_t { 1 } } };
    EXPECT_THROW(pack(oneNameTwoTypes), std::invalid_argument);
    EXPECT_NO_THROW(pack(oneNameTwoTypes, ByteOrder::Little, ListFlags::UniqueNameType));
    EXPECT_THROW(
        pack({ { "a", "x" }, { "a", "y" } }, ByteOrder::Little, ListFlags::UniqueNameType), std::invalid_argument);
    EXPECT_THROW(pack({ { "n", Nested { oneNameTwoTypes } } }), std::invalid_argument);
    EXPECT_THROW(pack({}, ByteOrder::Little, ListFlags {}), std::invalid_argument);
}

TEST(Codec, JsonConversion)
{
    const nlohmann::json full = nlohmann::json::parse(R"({
        "indictment": ["CPU0", "CPU1", ""], "classes": ["fault.cpu.ecache", "fault.io.x"],
        "platformModel": "M15", "platformCSN": "0123", "domainsAffected": "AC",
        "diagEngVersion": "2.0", "diagEngName": "diagA", "timestamp": 1700000000,
        "type": "FAULT", "code": "X12", "class": "fault.cpu.ecache"})");
    EXPECT_EQ(orv::event::fromJson(full), fullMembers());
    EXPECT_EQ(orv::event::toJson(fullMembers()), full);
    EXPECT_TRUE(orv::event::fromJson(nlohmann::json::object()).empty());

    const nlohmann::json binary
        = nlohmann::json::parse(R"({"code": {"base64": "//4xMg=="}, "classes": ["a", {"base64": "gA=="}]})");
    const std::vector<Member> binaryMembers { { "code",
                                                  std::string("\xff\xfe"
                                                              "12") },
        { "classes", std::vector<std::string> { "a", "\x80" } } };
    EXPECT_EQ(fromJson(binary), binaryMembers);
    EXPECT_EQ(toJson(binaryMembers), binary);
    EXPECT_THROW(toJson(extraMembers()), std::invalid_argument);
    // Only the event's own names with their own types: any other name could
    // be a key of the typed form ("members" made the object read as one).
    for (const std::vector<Member>& notOwn : { std::vector<Member> { { "members", std::vector<std::string> {} } },
             { { "byteOrder", "big" } }, { { "class", int64_t { 1 } } }, { { "code", "a" }, { "code", "b" } } })
        EXPECT_THROW(toJson(notOwn), std::invalid_argument) << notOwn[0].name;

    for (const char* bad : { R"([])", R"({"colour": "red"})", R"({"class": 5})", R"({"code": {"base64": "gA="}})",
             R"({"code": {"base64": "gA==", "x": 1}})", R"({"code": {}})", R"({"timestamp": "1700000000"})",
             R"({"timestamp": 1.5})", R"({"timestamp": 18446744073709551615})", R"({"classes": "a"})",
             R"({"indictment": ["a", 1]})" })
        EXPECT_THROW(orv::event::fromJson(nlohmann::json::parse(bad)), std::invalid_argument) << bad;
}

TEST(Codec, TypedJsonOfTheExtraMembers)
{
    const nlohmann::ordered_json typed = toTypedJson(extraMembers(), ByteOrder::Little);
    EXPECT_EQ(typed["byteOrder"], "little");
    const nlohmann::ordered_json& members = typed["members"];
    ASSERT_EQ(members.size(), 18u);
    EXPECT_EQ(members[0].dump(), R"({"name":"version","type":"uint8","value":1})");
    EXPECT_EQ(members[5].dump(),
        R"({"name":"detector","type":"nvlist","value":[{"name":"scheme","type":"string","value":"dev"},)"
        R"({"name":"path","type":"string","value":"/mc0"},{"name":"id","type":"uint64","value":42}]})");
    EXPECT_EQ(members[14].dump(), R"({"name":"faulty","type":"boolean"})");
    EXPECT_EQ(members[15].dump(), R"({"name":"offsets","type":"int64_array","value":[-1,0,4096]})");
    EXPECT_EQ(members[17]["value"][0][1].dump(), R"({"name":"pct","type":"uint32","value":100})");
    EXPECT_EQ(fromJson(typed), extraMembers());

    const std::vector<Member> odd { { std::string("n\xff"), Number { Type::Double, 0x7ff8000000000001 } },
        { "d", Number { Type::Double, std::bit_cast<uint64_t>(-0.0) } },
        { "b", Numbers { Type::BooleanArray, { 1, 0 } } } };
    EXPECT_EQ(toTypedJson(odd, ByteOrder::Big).dump(),
        R"({"byteOrder":"big","members":[{"name":{"base64":"bv8="},"type":"double","value":{"bits":"7ff8000000000001"}},)"
        R"({"name":"d","type":"double","value":-0.0},{"name":"b","type":"boolean_array","value":[true,false]}]})");

    // The flag word, of the event and of each nested list, when not unique names.
    const std::vector<Member> perType {
        { "n", Nested { { { "a", "x" }, { "a", int64_t { 1 } } }, ListFlags::UniqueNameType } },
        { "l", NestedArray { { Nested {}, Nested { {}, ListFlags::UniqueNameType } } } }
    };
    const nlohmann::ordered_json flagged = toTypedJson(perType, ByteOrder::Big, ListFlags::UniqueNameType);
    EXPECT_EQ(flagged.dump(),
        R"({"byteOrder":"big","flags":"uniqueNameType","members":[{"name":"n","type":"nvlist","value":)"
        R"({"flags":"uniqueNameType","members":[{"name":"a","type":"string","value":"x"},)"
        R"({"name":"a","type":"int64","value":1}]}},)"
        R"({"name":"l","type":"nvlist_array","value":[[],{"flags":"uniqueNameType","members":[]}]}]})");
    EXPECT_EQ(fromJson(flagged), perType);
    nlohmann::json tooDeep = nlohmann::json::array();
    for (unsigned level = 0; level <= maxNesting; ++level)
        tooDeep = nlohmann::json::array({ { { "name", "n" }, { "type", "nvlist" }, { "value", tooDeep } } });
    EXPECT_THROW(fromJson({ { "members", tooDeep } }), std::invalid_argument);

    for (const char* bad :
        { R"({"members": 1})", R"({"members": [], "class": "a"})", R"({"members": [], "byteOrder": "middle"})",
            R"({"members": [{"name": "a", "type": "uint9", "value": 1}]})",
            R"({"members": [{"name": "a", "type": "uint8", "value": 256}]})",
            R"({"members": [{"name": "a", "type": "int8", "value": -129}]})",
            R"({"members": [{"name": "a", "type": "uint64", "value": -1}]})",
            R"({"members": [{"name": "a", "type": "int64", "value": 9223372036854775808}]})",
            R"({"members": [{"name": "a", "type": "boolean", "value": true}]})",
            R"({"members": [{"name": "a", "type": "boolean_value", "value": 1}]})",
            R"({"members": [{"name": "a", "type": "string"}]})",
            R"({"members": [{"name": "a", "type": "double", "value": {"bits": "7ff8"}}]})",
            R"({"members": [{"name": "a", "type": "nvlist", "value": {}}]})", R"({"byteOrder": "big"})",
            R"({"members": [], "flags": 2})",
            R"({"members": [{"name": "a", "type": "nvlist", "value": {"members": [], "byteOrder": "big"}}]})",
            R"({"members": [{"name": "a", "type": "uint8_array", "value": [1, "2"]}]})" })
        EXPECT_THROW(fromJson(nlohmann::json::parse(bad)), std::invalid_argument) << bad;
}
