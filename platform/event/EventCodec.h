// The packed form of an event: a name/value list in XDR whose names are
// unique (or unique per type), as the rest of the suite packs it. Doors, the remote proxy and email
// attachments all carry these bytes. The event reads a few members of three
// kinds (text, 64-bit integer, list of texts); other producers add members of
// every other type the encoding has, and those are read, checked and carried
// along unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

namespace orv::event {

// Pair types by their number in the packed form.
enum class Type : uint32_t {
    Boolean = 1, // a name without a value
    Byte = 2,
    Int16 = 3,
    Uint16 = 4,
    Int32 = 5,
    Uint32 = 6,
    Int64 = 7,
    Uint64 = 8,
    String = 9,
    ByteArray = 10,
    Int16Array = 11,
    Uint16Array = 12,
    Int32Array = 13,
    Uint32Array = 14,
    Int64Array = 15,
    Uint64Array = 16,
    StringArray = 17,
    Hrtime = 18,
    List = 19,
    ListArray = 20,
    BooleanValue = 21,
    Int8 = 22,
    Uint8 = 23,
    BooleanArray = 24,
    Int8Array = 25,
    Uint8Array = 26,
    Double = 27,
};

// One number of a fixed-size type other than int64 (which is a plain
// int64_t). `bits` holds signed values sign-extended to 64 bits, unsigned
// ones zero-extended, booleans as 0 or 1 and doubles as their IEEE bits, so
// that every value compares and travels exactly.
struct Number {
    Type type;
    uint64_t bits;

    friend bool operator==(const Number&, const Number&) = default;
};

// An array of fixed-size numbers (every numeric array type, int64 arrays and
// byte and boolean arrays included), each element held as in Number.
struct Numbers {
    Type type;
    std::vector<uint64_t> bits;

    friend bool operator==(const Numbers&, const Numbers&) = default;
};

// A boolean pair, which has a name and no value.
struct Flag {
    friend bool operator==(const Flag&, const Flag&) = default;
};

struct Member;

// The flag word of a list: how its names are unique. A list with neither
// flag cannot be looked up in, so no event is read from one.
enum class ListFlags : uint32_t {
    UniqueName = 1, // one member per name
    UniqueNameType = 2, // one member per name and type: a name may come again with another type
};

// Lists may nest this many levels below the outermost one.
inline constexpr unsigned maxNesting = 100;

// A nested name/value list.
struct Nested {
    std::vector<Member> members;
    ListFlags flags = ListFlags::UniqueName;

    friend bool operator==(const Nested&, const Nested&);
};

// An array of nested name/value lists.
struct NestedArray {
    std::vector<Nested> lists;

    friend bool operator==(const NestedArray&, const NestedArray&);
};

using Value = std::variant<std::string, int64_t, std::vector<std::string>, Number, Numbers, Flag, Nested, NestedArray>;

struct Member {
    std::string name;
    Value value;

    friend bool operator==(const Member&, const Member&) = default;
};

// Member names of an event, which are also its JSON keys, in packing order.
namespace key {
inline constexpr char eventClass[] = "class";
inline constexpr char code[] = "code";
inline constexpr char type[] = "type";
inline constexpr char timestamp[] = "timestamp";
inline constexpr char diagEngName[] = "diagEngName";
inline constexpr char diagEngVersion[] = "diagEngVersion";
inline constexpr char domainsAffected[] = "domainsAffected";
inline constexpr char platformCSN[] = "platformCSN";
inline constexpr char platformModel[] = "platformModel";
inline constexpr char classes[] = "classes";
inline constexpr char indictment[] = "indictment";
}

// The byte order the packing host records in the header; the XDR words are
// big-endian whatever it says.
enum class ByteOrder { Big = 0, Little = 1 };

ByteOrder hostByteOrder();

// `flags`: the outermost list's flag word (nested lists carry their own).
// Throws std::invalid_argument for an empty name, a name or text holding a
// NUL byte, a repeated name (or name and type, as the list's flags say)
// within one list, a number outside its type's range, a Number or Numbers
// whose type is not one of theirs, lists nested too deep, or a size the
// 32-bit fields cannot express.
std::vector<char> pack(
    const std::vector<Member>& members, ByteOrder order = hostByteOrder(), ListFlags flags = ListFlags::UniqueName);

// Throws std::runtime_error for anything but one complete, well-formed list
// followed by exactly the zero word each of its empty numeric arrays leaves
// after it (their length words, counted but not written); never reads
// outside [bytes, bytes + length).
std::vector<Member> unpack(const char* bytes, size_t length);

// As unpack, for a caller that keeps `bytes` as long as the members: a text
// of the outermost list's pairs from sharedTextMinimum bytes up is not
// copied (an event may carry megabytes in one text), its member holding a
// reference to its place in `bytes` instead, which sharedText resolves.
inline constexpr size_t sharedTextMinimum = 4096;
std::vector<Member> unpackSharing(const char* bytes, size_t length);

// A text of members from unpackSharing(bytes, ...): the shared bytes it
// refers to, or the text itself.
std::string_view sharedText(const std::string& text, const char* bytes);

// The reference unpackSharing leaves in place of a shared text. It starts
// with a NUL byte, which no text of a packed event holds.
std::string sharedTextReference(size_t offset, size_t length);

// The byte order named in the header of bytes that unpack accepts.
ByteOrder packedByteOrder(const char* bytes, size_t length);

// The outermost list's flag word in bytes that unpack accepts.
ListFlags packedListFlags(const char* bytes, size_t length);

// An event JSON object to members. Two forms are taken: the event form
// (the event's own keys only, each with its type; packed in the event's key
// order) and the typed form that toTypedJson writes (every member with its
// type, in packing order), told apart by the typed form's own keys, which
// no event key is. Throws std::invalid_argument for anything else.
std::vector<Member> fromJson(const nlohmann::json& event);

// The event form of members that are all the event's own (each name once,
// with the type of its key); throws std::invalid_argument for any other
// member.
nlohmann::json toJson(const std::vector<Member>& members);

// The typed form: {"byteOrder": ..., "flags": ..., "members": [{"name",
// "type", "value"}...]}, "flags" only for a list of other flags than
// unique names.
nlohmann::ordered_json toTypedJson(
    const std::vector<Member>& members, ByteOrder order, ListFlags flags = ListFlags::UniqueName);

// The byte order a typed-form object asks for (this host's when it names none).
ByteOrder byteOrderOf(const nlohmann::json& event);

// The outermost list's flags a JSON object asks for (unique names unless
// the typed form names others).
ListFlags listFlagsOf(const nlohmann::json& event);

// An event JSON object of either form packed as it asks: fromJson's
// members, with byteOrderOf's byte order and listFlagsOf's flags.
std::vector<char> packJson(const nlohmann::json& event);

}
