#include "platform/event/ListReader.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "platform/event/PairTypes.h"

namespace orv::event {

namespace {

// A nested list takes at least its version and flags words and its end marker.
constexpr size_t smallestList = 16;

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error("malformed packed event: " + what);
}

size_t wireBytes(const TypeInfo& info)
{
    return info.width == 64 ? 8 : 4;
}

}

Nested ListReader::readList(unsigned depth)
{
    if (m_in.getU32() != listVersion)
        fail("unknown list version");
    // Unique names (or names unique per type) let every member be found by
    // its name and type, in nested lists as in the event itself; a list
    // with neither flag answers no lookup.
    const uint32_t flags = m_in.getU32();
    if (!isListFlags(flags))
        fail("list flags other than unique names or unique names per type");
    Nested list { {}, static_cast<ListFlags>(flags) };
    while (std::optional<Member> member = readPair(depth))
        list.members.push_back(std::move(*member));
    requireUniqueNames(list);
    return list;
}

// Sorted views of the names (and types): no copies, and n log n for a
// hostile list of many members.
void ListReader::requireUniqueNames(const Nested& list)
{
    std::vector<std::pair<std::string_view, Type>> keys;
    keys.reserve(list.members.size());
    for (const Member& member : list.members)
        keys.push_back(uniqueKey(member, list.flags));
    std::sort(keys.begin(), keys.end());
    const auto twice = std::adjacent_find(keys.begin(), keys.end());
    if (twice != keys.end())
        fail("pair \"" + std::string(twice->first) + "\" given twice");
}

// The next pair, or nothing at the end-of-list marker.
std::optional<Member> ListReader::readPair(unsigned depth)
{
    const size_t start = m_in.offset();
    const uint32_t encoded = m_in.getU32();
    const uint32_t decoded = m_in.getU32();
    if (encoded == 0) {
        if (decoded != 0)
            fail("end marker with a nonzero size");
        return std::nullopt;
    }
    Member member;
    member.name = readText();
    if (member.name.empty())
        fail("empty pair name");
    const uint32_t type = m_in.getU32();
    const uint32_t count = m_in.getU32();
    m_sharedBytes = 0;
    const uint64_t emptyBefore = m_emptyArrays;
    member.value = readValue(type, count, depth);
    if (encodedSize(m_in.offset() - start, m_emptyArrays - emptyBefore) != encoded)
        fail("pair \"" + member.name + "\" size does not match its contents");
    if (decodedSize(member, std::exchange(m_sharedBytes, 0)) != decoded)
        fail("pair \"" + member.name + "\" memory size does not match its contents");
    return member;
}

Value ListReader::readValue(uint32_t typeNumber, uint32_t count, unsigned depth)
{
    const TypeInfo* info = typeInfo(typeNumber);
    if (!info)
        fail("unsupported pair type " + std::to_string(typeNumber));
    const bool single = info->shape == Shape::Scalar || info->shape == Shape::Text || info->shape == Shape::List;
    if ((single && count != 1) || (info->shape == Shape::Flag && count != 0))
        fail("element count " + std::to_string(count) + " for a pair of type " + info->name);
    switch (info->shape) {
    case Shape::Flag:
        return Flag {};
    case Shape::Scalar:
        if (info->type == Type::Int64)
            return m_in.getI64();
        return readNumber(info->type);
    case Shape::Array:
        return readNumbers(info->type, count);
    case Shape::Opaque:
        return readOpaque(count);
    case Shape::Text:
        return readText(m_shareTexts && depth == 0);
    case Shape::TextArray:
        return readTexts(count, m_shareTexts && depth == 0);
    case Shape::List:
        if (depth >= maxNesting)
            fail("lists nested deeper than " + std::to_string(maxNesting) + " levels");
        return readList(depth + 1);
    case Shape::ListArray:
        return readLists(count, depth);
    }
    fail("unsupported pair type " + std::to_string(typeNumber));
}

std::string ListReader::readText(bool share)
{
    const size_t at = m_in.offset() + 4;
    const std::string_view text = m_in.getStringView();
    if (text.find('\0') != std::string_view::npos)
        fail("text holding a NUL byte");
    if (!share || text.size() < sharedTextMinimum)
        return std::string(text);
    std::string reference = sharedTextReference(at, text.size());
    m_sharedBytes += text.size() - reference.size();
    return reference;
}

// A count the remaining bytes cannot hold is refused before anything is
// allocated for it; a list then only grows with elements actually read.
void ListReader::requireRoom(uint32_t count, size_t bytesEach)
{
    if (count > m_in.remaining() / bytesEach)
        fail("element count " + std::to_string(count) + " beyond the packed bytes");
}

std::vector<std::string> ListReader::readTexts(uint32_t count, bool share)
{
    requireRoom(count, 4);
    std::vector<std::string> items;
    for (uint32_t i = 0; i < count; ++i)
        items.push_back(readText(share));
    return items;
}

uint64_t ListReader::readElement(Type type)
{
    const TypeInfo& info = *typeInfo(type);
    if (info.width == 64)
        return m_in.getU64();
    const uint32_t word = m_in.getU32();
    std::optional<uint64_t> bits = valueOfWord(info, word);
    if (!bits)
        fail("word " + std::to_string(word) + " is no " + info.name + " value");
    return *bits;
}

Number ListReader::readNumber(Type type)
{
    return Number { type, readElement(type) };
}

// Counted arrays repeat their element count in front of the elements,
// unless there are none (see unwrittenLengthWord).
Numbers ListReader::readNumbers(Type type, uint32_t count)
{
    if (count == 0) {
        ++m_emptyArrays;
        return Numbers { type, {} };
    }
    if (m_in.getU32() != count)
        fail("array length word disagrees with the element count");
    const Type element = elementType(type);
    requireRoom(count, wireBytes(*typeInfo(element)));
    Numbers numbers { type, {} };
    numbers.bits.reserve(count);
    for (uint32_t i = 0; i < count; ++i)
        numbers.bits.push_back(readElement(element));
    return numbers;
}

Numbers ListReader::readOpaque(uint32_t count)
{
    const std::string bytes = m_in.getOpaque(count);
    Numbers numbers { Type::ByteArray, {} };
    numbers.bits.reserve(bytes.size());
    for (char byte : bytes)
        numbers.bits.push_back(static_cast<unsigned char>(byte));
    return numbers;
}

NestedArray ListReader::readLists(uint32_t count, unsigned depth)
{
    if (depth >= maxNesting)
        fail("lists nested deeper than " + std::to_string(maxNesting) + " levels");
    requireRoom(count, smallestList);
    NestedArray array;
    for (uint32_t i = 0; i < count; ++i)
        array.lists.push_back(readList(depth + 1));
    return array;
}

}
