// What the packed form fixes for each pair type: its JSON name, its shape,
// how wide its numbers are on the wire and in the unpacking side's memory,
// and the sizes derived from those.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/event/EventCodec.h"

namespace orv::event {

enum class Shape {
    Flag, // no value
    Scalar, // one fixed-size number
    Array, // counted fixed-size numbers
    Opaque, // bytes, uncounted and padded (the byte array)
    Text,
    TextArray,
    List,
    ListArray,
};

// How a number is read and range-checked.
enum class NumberKind { Signed, Unsigned, Boolean, Double };

struct TypeInfo {
    Type type;
    const char* name;
    Shape shape;
    NumberKind kind;
    // Value bits (8, 16, 32 or 64) of a number type, 0 for the others.
    unsigned width;
};

// The version word every list starts with.
inline constexpr uint32_t listVersion = 0;

// Whether a list's flag word is one of ListFlags.
bool isListFlags(uint32_t word);

// What has to be unique among the members of a list with these flags: the
// name (the type then being left out), or the name and the type.
std::pair<std::string_view, Type> uniqueKey(const Member& member, ListFlags flags);

// An array of numbers (or booleans) without elements has no length word on
// the wire, yet the packer counts one in the sizes: in its pair's encoded
// size, in those of the pairs it is nested in, and in the buffer, which
// ends with one zero word per such array after the outermost end marker.
inline constexpr uint64_t unwrittenLengthWord = 4;

// The encoded size of a pair of `written` bytes holding `emptyArrays` such
// arrays (itself or nested in it).
inline uint64_t encodedSize(uint64_t written, uint64_t emptyArrays)
{
    return written + unwrittenLengthWord * emptyArrays;
}

// Nothing for a type number the packed form does not have.
const TypeInfo* typeInfo(Type type);
const TypeInfo* typeInfo(uint32_t number);
const TypeInfo* typeInfoByName(const std::string& name);

// The element type of an array type, the array type of an element type.
Type elementType(Type arrayType);

// Whether `bits` is a value of the number type (see Number).
bool fitsType(const TypeInfo& info, uint64_t bits);

// The 32-bit word a number of at most 32 bits is packed as. Bytes go
// through the XDR char routine, which sign-extends them on the hosts the
// suite runs on; shorts are sign- or zero-extended by their signedness.
uint32_t wordOf(const TypeInfo& info, uint64_t bits);

// The value a packed word holds, or nothing when the word is not the one
// wordOf would write for it.
std::optional<uint64_t> valueOfWord(const TypeInfo& info, uint32_t word);

// The pair type of a member.
Type typeOf(const Value& value);

// The element count a pair of this value carries.
uint64_t elementCount(const Value& value);

// The memory size the unpacking side allocates for the pair; it travels in
// the packed form, so it has to be reproduced exactly.
// `sharedBytes`: text bytes the member's value leaves in the packed bytes
// (see unpackSharing) instead of holding them.
uint64_t decodedSize(const Member& member, uint64_t sharedBytes = 0);

}
