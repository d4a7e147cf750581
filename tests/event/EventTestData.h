// The golden packed events, the members they were packed from, and events
// built from members.
#pragma once

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/event/DXAEvent.h"
#include "platform/event/EventCodec.h"
#include "tests/event/RandomMembers.h"

inline std::vector<char> readVector(const std::string& name)
{
    std::ifstream in(std::string(EVENT_TESTDATA_DIR) + "/" + name, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

inline std::vector<orv::event::Member> fullMembers()
{
    using Texts = std::vector<std::string>;
    return {
        { "class", "fault.cpu.ecache" },
        { "code", "X12" },
        { "type", "FAULT" },
        { "timestamp", int64_t { 1700000000 } },
        { "diagEngName", "diagA" },
        { "diagEngVersion", "2.0" },
        { "domainsAffected", "AC" },
        { "platformCSN", "0123" },
        { "platformModel", "M15" },
        { "classes", Texts { "fault.cpu.ecache", "fault.io.x" } },
        { "indictment", Texts { "CPU0", "CPU1", "" } },
    };
}

inline std::vector<orv::event::Member> minimalMembers()
{
    return { { "class", "fault.a.b" }, { "classes", std::vector<std::string> {} } };
}

// event-extra-members.xdr: the event's own members in among members of
// types the event does not use.
inline std::vector<orv::event::Member> extraMembers()
{
    using namespace orv::event;
    using Texts = std::vector<std::string>;
    return {
        { "version", Number { Type::Uint8, 1 } },
        { "class", "fault.memory.dimm" },
        { "code", "M7" },
        { "type", "FAULT" },
        { "timestamp", int64_t { 1700000060 } },
        { "detector", Nested { { { "scheme", "dev" }, { "path", "/mc0" }, { "id", Number { Type::Uint64, 42 } } } } },
        { "diagEngName", "diagA" },
        { "diagEngVersion", "2.0" },
        { "domainsAffected", "B" },
        { "platformCSN", "0123" },
        { "platformModel", "M15" },
        { "classes", Texts { "fault.memory.dimm" } },
        { "indictment", Texts { "DIMM3" } },
        { "certainty", Numbers { Type::Uint8Array, { 100 } } },
        { "faulty", Flag {} },
        { "offsets", Numbers { Type::Int64Array, { static_cast<uint64_t>(-1), 0, 4096 } } },
        { "when", Number { Type::Hrtime, 123456789 } },
        { "suspects", NestedArray { { Nested { { { "fru", "DIMM3" }, { "pct", Number { Type::Uint32, 100 } } } } } } },
    };
}

// The event's own members as the later vectors carry them, with more after.
inline std::vector<orv::event::Member> ownMembersAnd(
    const std::string& eventClass, const std::string& code, const std::vector<orv::event::Member>& more)
{
    std::vector<orv::event::Member> members = fullMembers();
    members[0].value = eventClass;
    members[1].value = code;
    members[9].value = std::vector<std::string> { eventClass };
    members[10].value = std::vector<std::string> { "CPU0", "CPU1" };
    members.insert(members.end(), more.begin(), more.end());
    return members;
}

struct GoldenVector {
    const char* file;
    std::vector<orv::event::Member> members;
    orv::event::ListFlags flags = orv::event::ListFlags::UniqueName;
};

inline std::vector<GoldenVector> goldenVectors()
{
    using namespace orv::event;
    return {
        { "event-full.xdr", fullMembers() },
        { "event-minimal.xdr", minimalMembers() },
        { "event-extra-members.xdr", extraMembers() },
        { "event-empty-arrays.xdr",
            ownMembersAnd("fault.cpu.l2", "E1",
                { { "counts", Numbers { Type::Int32Array, {} } }, { "addresses", Numbers { Type::Uint64Array, {} } },
                    { "flags", Numbers { Type::BooleanArray, {} } }, { "note", "after the empty arrays" } }) },
        { "event-unique-type.xdr", ownMembersAnd("fault.mem.ce", "C4", { { "rank", Number { Type::Uint32, 3 } } }),
            ListFlags::UniqueNameType },
        { "event-deep.xdr",
            ownMembersAnd("fault.board.path", "D1", { { "path", levels(40, [] { return ListFlags::UniqueName; }) } }) },
    };
}

inline std::unique_ptr<DXAEvent> eventOf(
    const std::vector<orv::event::Member>& members, orv::event::ListFlags flags = orv::event::ListFlags::UniqueName)
{
    std::vector<char> bytes = orv::event::pack(members, orv::event::hostByteOrder(), flags);
    return std::make_unique<DXAEvent>(bytes.data(), static_cast<unsigned>(bytes.size()));
}
