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
        { "suspects", NestedArray { { { { "fru", "DIMM3" }, { "pct", Number { Type::Uint32, 100 } } } } } },
    };
}

inline std::unique_ptr<DXAEvent> eventOf(const std::vector<orv::event::Member>& members)
{
    std::vector<char> bytes = orv::event::pack(members);
    return std::make_unique<DXAEvent>(bytes.data(), static_cast<unsigned>(bytes.size()));
}
