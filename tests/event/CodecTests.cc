#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "EventCodec.h"
#include "EventTestData.h"

using orv::event::Member;
using orv::event::pack;
using orv::event::unpack;

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

std::string randomText(std::mt19937& rng)
{
    std::string text(rng() % 10, '\0');
    for (char& c : text)
        c = static_cast<char>(1 + rng() % 255);
    return text;
}

}

TEST(Codec, GoldenVectorsBothWays)
{
    for (const auto& [file, members] : { std::pair { "event-full.xdr", fullMembers() },
             std::pair { "event-minimal.xdr", minimalMembers() } }) {
        const std::vector<char> golden = readVector(file);
        ASSERT_FALSE(golden.empty()) << file;
        EXPECT_EQ(pack(members), golden) << file;
        EXPECT_EQ(unpack(golden.data(), golden.size()), members) << file;
    }
}

TEST(Codec, RandomMemberSetsRoundTrip)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        std::vector<Member> members;
        const int count = static_cast<int>(rng() % 8);
        for (int i = 0; i < count; ++i) {
            Member member { std::to_string(i) + randomText(rng), std::string() };
            switch (rng() % 3) {
            case 0: member.value = randomText(rng); break;
            case 1: member.value = static_cast<int64_t>((uint64_t { rng() } << 32) | rng()); break;
            default: member.value = std::vector<std::string>(rng() % 4, randomText(rng));
            }
            members.push_back(member);
        }
        const std::vector<char> bytes = pack(members);
        ASSERT_EQ(bytes.size() % 4, 0u);
        EXPECT_EQ(unpack(bytes.data(), bytes.size()), members);
    }
}

TEST(Codec, DamagedInputThrowsAndNeverCrashes)
{
    for (const char* file : { "event-full.xdr", "event-minimal.xdr" }) {
        const std::vector<char> golden = readVector(file);
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
    auto patched = [&](size_t offset, uint32_t value) {
        std::vector<char> bytes = golden;
        for (int i = 0; i < 4; ++i)
            bytes.at(offset + i) = static_cast<char>(value >> (24 - 8 * i));
        return bytes;
    };
    expectMalformed(patched(80, 0xffffffff));    // absurd element count
    expectMalformed(patched(80, 1));             // element beyond the pair
    expectMalformed(patched(40, 0xfffffff0));    // string length beyond the buffer
    expectMalformed(patched(76, 99));            // unknown type
    expectMalformed(patched(12, 48));            // encoded size lies
    expectMalformed(patched(16, 48));            // memory size lies
    expectMalformed(patched(8, 0));              // not a unique-name list

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

TEST(Codec, PackRefusesWhatCannotBeRepresented)
{
    EXPECT_THROW(pack({ { "a", "x" }, { "a", "y" } }), std::invalid_argument);
    EXPECT_THROW(pack({ { "", "x" } }), std::invalid_argument);
    EXPECT_THROW(pack({ { "a", std::string("x\0y", 3) } }), std::invalid_argument);
    EXPECT_THROW(pack({ { "a", std::vector<std::string> { std::string(1, '\0') } } }), std::invalid_argument);
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

    for (const char* bad : { R"([])", R"({"colour": "red"})", R"({"class": 5})",
             R"({"timestamp": "1700000000"})", R"({"timestamp": 1.5})",
             R"({"timestamp": 18446744073709551615})", R"({"classes": "a"})",
             R"({"indictment": ["a", 1]})" })
        EXPECT_THROW(orv::event::fromJson(nlohmann::json::parse(bad)), std::invalid_argument) << bad;
}
