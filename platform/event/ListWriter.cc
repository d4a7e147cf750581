#include "platform/event/ListWriter.h"

#include <set>
#include <stdexcept>

#include "platform/event/Overloaded.h"
#include "platform/event/PairTypes.h"

namespace orv::event {

namespace {

[[noreturn]] void refuse(const Member& member, const std::string& why)
{
    throw std::invalid_argument("member \"" + member.name + "\" " + why);
}

uint32_t sizeField(uint64_t size, const Member& member)
{
    if (size > UINT32_MAX)
        refuse(member, "too large to pack");
    return static_cast<uint32_t>(size);
}

bool hasNul(const std::string& text)
{
    return text.find('\0') != std::string::npos;
}

}

void ListWriter::writeList(const std::vector<Member>& members, ListFlags flags, unsigned depth)
{
    if (!isListFlags(static_cast<uint32_t>(flags)))
        throw std::invalid_argument("list flags other than unique names or unique names per type");
    m_out.putU32(listVersion);
    m_out.putU32(static_cast<uint32_t>(flags));
    std::set<std::pair<std::string_view, Type>> keys;
    for (const Member& member : members) {
        if (!keys.insert(uniqueKey(member, flags)).second)
            refuse(member, "given twice");
        writePair(member, depth);
    }
    m_out.putU32(0);
    m_out.putU32(0);
}

void ListWriter::writePair(const Member& member, unsigned depth)
{
    if (member.name.empty() || hasNul(member.name))
        throw std::invalid_argument("member name empty or holding a NUL byte");
    const size_t start = m_out.size();
    const uint64_t emptyBefore = m_emptyArrays;
    m_out.putU32(0); // both sizes are patched once the pair is written
    m_out.putU32(0);
    m_out.putString(member.name);
    m_out.putU32(static_cast<uint32_t>(typeOf(member.value)));
    m_out.putU32(sizeField(elementCount(member.value), member));
    writeValue(member, depth);
    m_out.patchU32(start, sizeField(encodedSize(m_out.size() - start, m_emptyArrays - emptyBefore), member));
    m_out.patchU32(start + 4, sizeField(decodedSize(member), member));
}

void ListWriter::writeValue(const Member& member, unsigned depth)
{
    std::visit(Overloaded {
                   [&](const std::string& text) { writeText(member, text); },
                   [&](int64_t number) { m_out.putI64(number); },
                   [&](const std::vector<std::string>& items) {
                       for (const std::string& item : items)
                           writeText(member, item);
                   },
                   [&](const Number& number) {
                       const TypeInfo* info = typeInfo(number.type);
                       if (!info || info->shape != Shape::Scalar || number.type == Type::Int64)
                           refuse(member, "has a number of a type that is not a single number's");
                       writeNumber(member, number.type, number.bits);
                   },
                   [&](const Numbers& numbers) { writeNumbers(member, numbers); },
                   [](const Flag&) {},
                   [&](const Nested& nested) {
                       if (depth >= maxNesting)
                           refuse(member, "nests lists too deep");
                       writeList(nested.members, nested.flags, depth + 1);
                   },
                   [&](const NestedArray& array) { writeLists(member, array.lists, depth); },
               },
        member.value);
}

void ListWriter::writeText(const Member& member, const std::string& text)
{
    if (hasNul(text))
        refuse(member, "holds a NUL byte");
    m_out.putString(text);
}

void ListWriter::writeNumber(const Member& member, Type type, uint64_t bits)
{
    const TypeInfo& info = *typeInfo(type);
    if (!fitsType(info, bits))
        refuse(member, std::string("holds a value outside the range of ") + info.name);
    if (info.width == 64)
        m_out.putU64(bits);
    else
        m_out.putU32(wordOf(info, bits));
}

void ListWriter::writeNumbers(const Member& member, const Numbers& numbers)
{
    const TypeInfo* info = typeInfo(numbers.type);
    if (!info || (info->shape != Shape::Array && info->shape != Shape::Opaque))
        refuse(member, "has numbers of a type that is not an array's");
    const Type element = elementType(numbers.type);
    if (info->shape == Shape::Opaque) {
        std::string bytes;
        for (uint64_t bits : numbers.bits) {
            if (!fitsType(*typeInfo(element), bits))
                refuse(member, "holds a value outside the range of byte");
            bytes += static_cast<char>(bits);
        }
        m_out.putOpaque(bytes);
        return;
    }
    if (numbers.bits.empty()) {
        ++m_emptyArrays; // no length word (see unwrittenLengthWord)
        return;
    }
    m_out.putU32(sizeField(numbers.bits.size(), member));
    for (uint64_t bits : numbers.bits)
        writeNumber(member, element, bits);
}

void ListWriter::writeLists(const Member& member, const std::vector<Nested>& lists, unsigned depth)
{
    if (depth >= maxNesting)
        refuse(member, "nests lists too deep");
    for (const Nested& list : lists)
        writeList(list.members, list.flags, depth + 1);
}

}
