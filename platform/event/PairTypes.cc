#include "platform/event/PairTypes.h"

#include "platform/event/Overloaded.h"

namespace orv::event {

namespace {

constexpr TypeInfo types[] = {
    { Type::Boolean, "boolean", Shape::Flag, NumberKind::Boolean, 0 },
    { Type::Byte, "byte", Shape::Scalar, NumberKind::Unsigned, 8 },
    { Type::Int16, "int16", Shape::Scalar, NumberKind::Signed, 16 },
    { Type::Uint16, "uint16", Shape::Scalar, NumberKind::Unsigned, 16 },
    { Type::Int32, "int32", Shape::Scalar, NumberKind::Signed, 32 },
    { Type::Uint32, "uint32", Shape::Scalar, NumberKind::Unsigned, 32 },
    { Type::Int64, "int64", Shape::Scalar, NumberKind::Signed, 64 },
    { Type::Uint64, "uint64", Shape::Scalar, NumberKind::Unsigned, 64 },
    { Type::String, "string", Shape::Text, NumberKind::Unsigned, 0 },
    { Type::ByteArray, "byte_array", Shape::Opaque, NumberKind::Unsigned, 8 },
    { Type::Int16Array, "int16_array", Shape::Array, NumberKind::Signed, 16 },
    { Type::Uint16Array, "uint16_array", Shape::Array, NumberKind::Unsigned, 16 },
    { Type::Int32Array, "int32_array", Shape::Array, NumberKind::Signed, 32 },
    { Type::Uint32Array, "uint32_array", Shape::Array, NumberKind::Unsigned, 32 },
    { Type::Int64Array, "int64_array", Shape::Array, NumberKind::Signed, 64 },
    { Type::Uint64Array, "uint64_array", Shape::Array, NumberKind::Unsigned, 64 },
    { Type::StringArray, "string_array", Shape::TextArray, NumberKind::Unsigned, 0 },
    { Type::Hrtime, "hrtime", Shape::Scalar, NumberKind::Signed, 64 },
    { Type::List, "nvlist", Shape::List, NumberKind::Unsigned, 0 },
    { Type::ListArray, "nvlist_array", Shape::ListArray, NumberKind::Unsigned, 0 },
    { Type::BooleanValue, "boolean_value", Shape::Scalar, NumberKind::Boolean, 32 },
    { Type::Int8, "int8", Shape::Scalar, NumberKind::Signed, 8 },
    { Type::Uint8, "uint8", Shape::Scalar, NumberKind::Unsigned, 8 },
    { Type::BooleanArray, "boolean_array", Shape::Array, NumberKind::Boolean, 32 },
    { Type::Int8Array, "int8_array", Shape::Array, NumberKind::Signed, 8 },
    { Type::Uint8Array, "uint8_array", Shape::Array, NumberKind::Unsigned, 8 },
    { Type::Double, "double", Shape::Scalar, NumberKind::Double, 64 },
};

constexpr std::pair<Type, Type> arrayTypes[] = {
    { Type::ByteArray, Type::Byte },
    { Type::Int16Array, Type::Int16 },
    { Type::Uint16Array, Type::Uint16 },
    { Type::Int32Array, Type::Int32 },
    { Type::Uint32Array, Type::Uint32 },
    { Type::Int64Array, Type::Int64 },
    { Type::Uint64Array, Type::Uint64 },
    { Type::BooleanArray, Type::BooleanValue },
    { Type::Int8Array, Type::Int8 },
    { Type::Uint8Array, Type::Uint8 },
};

// The unpacking side's in-memory sizes: a boolean value is an int, a list a
// 24-byte header, a pointer 8 bytes.
constexpr uint64_t pairHeaderSize = 16;
constexpr uint64_t pointerSize = 8;
constexpr uint64_t listHeaderSize = 24;
constexpr uint64_t booleanSize = 4;

uint64_t align8(uint64_t size)
{
    return (size + 7) & ~uint64_t { 7 };
}

uint64_t memorySize(const TypeInfo& info)
{
    return info.kind == NumberKind::Boolean ? booleanSize : info.width / 8;
}

uint64_t valueSize(const Value& value)
{
    return std::visit(
        Overloaded {
            [](const std::string& text) -> uint64_t { return text.size() + 1; },
            [](int64_t) -> uint64_t { return sizeof(int64_t); },
            [](const std::vector<std::string>& items) -> uint64_t {
                uint64_t size = pointerSize * items.size();
                for (const std::string& item : items)
                    size += item.size() + 1;
                return size;
            },
            [](const Number& number) -> uint64_t { return memorySize(*typeInfo(number.type)); },
            [](const Numbers& numbers) -> uint64_t {
                return memorySize(*typeInfo(elementType(numbers.type))) * numbers.bits.size();
            },
            [](const Flag&) -> uint64_t { return 0; },
            [](const Nested&) -> uint64_t { return listHeaderSize; },
            [](const NestedArray& array) -> uint64_t { return (pointerSize + listHeaderSize) * array.lists.size(); },
        },
        value);
}

}

bool isListFlags(uint32_t word)
{
    return word == static_cast<uint32_t>(ListFlags::UniqueName)
        || word == static_cast<uint32_t>(ListFlags::UniqueNameType);
}

std::pair<std::string_view, Type> uniqueKey(const Member& member, ListFlags flags)
{
    return { member.name, flags == ListFlags::UniqueNameType ? typeOf(member.value) : Type {} };
}

const TypeInfo* typeInfo(Type type)
{
    return typeInfo(static_cast<uint32_t>(type));
}

const TypeInfo* typeInfo(uint32_t number)
{
    for (const TypeInfo& info : types) {
        if (static_cast<uint32_t>(info.type) == number)
            return &info;
    }
    return nullptr;
}

const TypeInfo* typeInfoByName(const std::string& name)
{
    for (const TypeInfo& info : types) {
        if (name == info.name)
            return &info;
    }
    return nullptr;
}

Type elementType(Type arrayType)
{
    for (const auto& [array, element] : arrayTypes) {
        if (array == arrayType)
            return element;
    }
    return arrayType;
}

bool fitsType(const TypeInfo& info, uint64_t bits)
{
    if (info.width == 64 || info.kind == NumberKind::Double)
        return true;
    if (info.kind == NumberKind::Boolean)
        return bits <= 1;
    if (info.kind == NumberKind::Unsigned)
        return bits >> info.width == 0;
    const auto value = static_cast<int64_t>(bits);
    const int64_t limit = int64_t { 1 } << (info.width - 1);
    return value >= -limit && value < limit;
}

uint32_t wordOf(const TypeInfo& info, uint64_t bits)
{
    if (info.width == 8)
        return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(bits & 0xff)));
    if (info.width == 16 && info.kind == NumberKind::Signed)
        return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(bits & 0xffff)));
    return static_cast<uint32_t>(bits);
}

std::optional<uint64_t> valueOfWord(const TypeInfo& info, uint32_t word)
{
    uint64_t bits = word;
    if (info.kind == NumberKind::Signed)
        bits = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(word)));
    else if (info.width == 8)
        bits = word & 0xff;
    if (!fitsType(info, bits) || wordOf(info, bits) != word)
        return std::nullopt;
    return bits;
}

Type typeOf(const Value& value)
{
    return std::visit(Overloaded {
                          [](const std::string&) { return Type::String; },
                          [](int64_t) { return Type::Int64; },
                          [](const std::vector<std::string>&) { return Type::StringArray; },
                          [](const Number& number) { return number.type; },
                          [](const Numbers& numbers) { return numbers.type; },
                          [](const Flag&) { return Type::Boolean; },
                          [](const Nested&) { return Type::List; },
                          [](const NestedArray&) { return Type::ListArray; },
                      },
        value);
}

uint64_t elementCount(const Value& value)
{
    return std::visit(Overloaded {
                          [](const std::vector<std::string>& items) -> uint64_t { return items.size(); },
                          [](const Numbers& numbers) -> uint64_t { return numbers.bits.size(); },
                          [](const Flag&) -> uint64_t { return 0; },
                          [](const NestedArray& array) -> uint64_t { return array.lists.size(); },
                          [](const auto&) -> uint64_t { return 1; },
                      },
        value);
}

uint64_t decodedSize(const Member& member, uint64_t sharedBytes)
{
    return align8(pairHeaderSize + member.name.size() + 1) + align8(valueSize(member.value) + sharedBytes);
}

}
