// Random member lists over every pair type, for round trips through the
// packed and the JSON forms: lists of both flags (where names are unique
// per type, a name often comes again with another type), arrays without
// elements, and now and then lists nested as deep as the packed form allows.
#pragma once

#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/event/EventCodec.h"
#include "platform/event/PairTypes.h"

// Lists `deepest` levels deep, each holding its level and the next one,
// each with the flags `flags()` gives.
template <class Flags> orv::event::Nested levels(unsigned deepest, Flags flags)
{
    using namespace orv::event;
    Nested list { { { "level", Number { Type::Uint32, deepest } } }, flags() };
    for (unsigned level = deepest - 1; level > 0; --level)
        list = Nested { { { "level", Number { Type::Uint32, level } }, { "child", std::move(list) } }, flags() };
    return list;
}

class RandomMembers {
public:
    explicit RandomMembers(unsigned seed)
        : m_rng(seed)
    {
    }

    std::vector<orv::event::Member> list(
        unsigned depth = 0, orv::event::ListFlags flags = orv::event::ListFlags::UniqueName)
    {
        using namespace orv::event;
        std::vector<Member> members;
        const unsigned count = m_rng() % (depth == 0 ? 10 : 4);
        for (unsigned i = 0; i < count; ++i) {
            Member member { std::to_string(i) + text(), value(depth) };
            if (flags == ListFlags::UniqueNameType && i % 2 && typeOf(member.value) != typeOf(members.back().value))
                member.name = members.back().name;
            members.push_back(std::move(member));
        }
        if (depth == 0 && m_rng() % 8 == 0)
            members.push_back({ "deep",
                levels(m_rng() % 2 ? maxNesting : 1 + m_rng() % maxNesting, [this] { return this->flags(); }) });
        return members;
    }

    orv::event::ListFlags flags()
    {
        return m_rng() % 3 ? orv::event::ListFlags::UniqueName : orv::event::ListFlags::UniqueNameType;
    }

    // Any bytes but NUL, often not UTF-8.
    std::string text()
    {
        std::string text(m_rng() % 10, '\0');
        for (char& c : text)
            c = static_cast<char>(1 + m_rng() % 255);
        return text;
    }

private:
    orv::event::Nested nested(unsigned depth)
    {
        const orv::event::ListFlags listFlags = flags();
        return { list(depth, listFlags), listFlags };
    }

    uint64_t bits(orv::event::Type type)
    {
        using orv::event::Type;
        const uint64_t any = uint64_t { m_rng() } << 32 | m_rng();
        switch (type) {
        case Type::BooleanValue:
            return any & 1;
        case Type::Byte:
        case Type::Uint8:
            return any & 0xff;
        case Type::Uint16:
            return any & 0xffff;
        case Type::Uint32:
            return any & 0xffffffff;
        case Type::Int8:
            return static_cast<uint64_t>(int64_t { static_cast<int8_t>(any) });
        case Type::Int16:
            return static_cast<uint64_t>(int64_t { static_cast<int16_t>(any) });
        case Type::Int32:
            return static_cast<uint64_t>(int64_t { static_cast<int32_t>(any) });
        // Mostly plain doubles, sometimes an infinity or a NaN with a payload.
        case Type::Double:
            return m_rng() % 4 ? std::bit_cast<uint64_t>(static_cast<double>(any) / 7) : (any | 0x7ff0000000000000);
        default:
            return any;
        }
    }

    orv::event::Value value(unsigned depth)
    {
        using namespace orv::event;
        static constexpr Type scalars[] = { Type::BooleanValue, Type::Byte, Type::Int8, Type::Uint8, Type::Int16,
            Type::Uint16, Type::Int32, Type::Uint32, Type::Uint64, Type::Hrtime, Type::Double };
        static constexpr std::pair<Type, Type> arrays[] = { { Type::ByteArray, Type::Byte },
            { Type::BooleanArray, Type::BooleanValue }, { Type::Int8Array, Type::Int8 },
            { Type::Uint8Array, Type::Uint8 }, { Type::Int16Array, Type::Int16 }, { Type::Uint16Array, Type::Uint16 },
            { Type::Int32Array, Type::Int32 }, { Type::Uint32Array, Type::Uint32 }, { Type::Int64Array, Type::Int64 },
            { Type::Uint64Array, Type::Uint64 } };
        switch (m_rng() % (depth < 3 ? 8 : 6)) {
        case 0:
            return text();
        case 1:
            return static_cast<int64_t>(bits(Type::Int64));
        case 2:
            return std::vector<std::string>(m_rng() % 4, text());
        case 3: {
            const Type type = scalars[m_rng() % std::size(scalars)];
            return Number { type, bits(type) };
        }
        case 4: { // often without elements
            const auto [array, element] = arrays[m_rng() % std::size(arrays)];
            Numbers numbers { array, {} };
            for (unsigned n = m_rng() % 3 ? m_rng() % 6 : 0; n > 0; --n)
                numbers.bits.push_back(bits(element));
            return numbers;
        }
        case 5:
            return Flag {};
        case 6:
            return nested(depth + 1);
        default: {
            NestedArray array;
            for (unsigned n = m_rng() % 3; n > 0; --n)
                array.lists.push_back(nested(depth + 1));
            return array;
        }
        }
    }

    std::mt19937 m_rng;
};
