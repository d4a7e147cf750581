#include "EventCodec.h"

#include <bit>
#include <optional>
#include <stdexcept>
#include <unordered_set>

#include "XdrReader.h"
#include "XdrWriter.h"

namespace orv::event {

namespace {

constexpr char encodingXdr = 1;
constexpr uint32_t listVersion = 0;
constexpr uint32_t uniqueNames = 1;

constexpr uint32_t typeInt64 = 7;
constexpr uint32_t typeString = 9;
constexpr uint32_t typeStringArray = 17;

// In-memory bookkeeping the unpacking side allocates per pair; it travels in
// the packed form, so it has to be reproduced exactly.
constexpr uint64_t pairHeaderSize = 16;
constexpr uint64_t pointerSlotSize = 8;

enum class Kind { Text, Integer, TextList };

struct KeyRule {
    const char* name;
    Kind kind;
};

constexpr KeyRule eventKeys[] = {
    { key::eventClass, Kind::Text },
    { key::code, Kind::Text },
    { key::type, Kind::Text },
    { key::timestamp, Kind::Integer },
    { key::diagEngName, Kind::Text },
    { key::diagEngVersion, Kind::Text },
    { key::domainsAffected, Kind::Text },
    { key::platformCSN, Kind::Text },
    { key::platformModel, Kind::Text },
    { key::classes, Kind::TextList },
    { key::indictment, Kind::TextList },
};

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
// Spelled out for clang before 17, which deduces no aggregate's arguments.
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

uint64_t align8(uint64_t size)
{
    return (size + 7) & ~uint64_t { 7 };
}

uint64_t decodedSize(const Member& member)
{
    const uint64_t valueSize = std::visit(Overloaded {
        [](const std::string& text) -> uint64_t { return text.size() + 1; },
        [](int64_t) -> uint64_t { return sizeof(int64_t); },
        [](const std::vector<std::string>& items) -> uint64_t {
            uint64_t size = pointerSlotSize * items.size();
            for (const std::string& item : items)
                size += item.size() + 1;
            return size;
        } }, member.value);
    return align8(pairHeaderSize + member.name.size() + 1) + align8(valueSize);
}

bool hasNul(const std::string& text)
{
    return text.find('\0') != std::string::npos;
}

// ---- packing

void checkForPacking(const Member& member)
{
    if (member.name.empty() || hasNul(member.name))
        throw std::invalid_argument("member name empty or holding a NUL byte");
    auto checkText = [&](const std::string& text) {
        if (hasNul(text))
            throw std::invalid_argument("member \"" + member.name + "\" holds a NUL byte");
    };
    std::visit(Overloaded {
        checkText,
        [](int64_t) {},
        [&](const std::vector<std::string>& items) {
            for (const std::string& item : items)
                checkText(item);
        } }, member.value);
}

uint32_t sizeField(uint64_t size, const Member& member)
{
    if (size > UINT32_MAX)
        throw std::invalid_argument("member \"" + member.name + "\" too large to pack");
    return static_cast<uint32_t>(size);
}

void packValue(XdrWriter& out, const Member& member)
{
    std::visit(Overloaded {
        [&](const std::string& text) {
            out.putU32(typeString);
            out.putU32(1);
            out.putString(text);
        },
        [&](int64_t number) {
            out.putU32(typeInt64);
            out.putU32(1);
            out.putI64(number);
        },
        [&](const std::vector<std::string>& items) {
            out.putU32(typeStringArray);
            out.putU32(sizeField(items.size(), member));
            for (const std::string& item : items)
                out.putString(item);
        } }, member.value);
}

void packPair(XdrWriter& out, const Member& member)
{
    checkForPacking(member);
    const size_t start = out.size();
    out.putU32(0); // both sizes are patched once the pair is written
    out.putU32(0);
    out.putString(member.name);
    packValue(out, member);
    out.patchU32(start, sizeField(out.size() - start, member));
    out.patchU32(start + 4, sizeField(decodedSize(member), member));
}

// ---- unpacking

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error("malformed packed event: " + what);
}

void readHeader(XdrReader& in)
{
    const std::string header = in.getRaw(4);
    if (header[0] != encodingXdr)
        fail("not XDR encoded");
    if ((header[1] != 0 && header[1] != 1) || header[2] != 0 || header[3] != 0)
        fail("unknown header bytes");
    if (in.getU32() != listVersion)
        fail("unknown list version");
    if (in.getU32() != uniqueNames)
        fail("list flags other than unique names");
}

std::string readText(XdrReader& in)
{
    std::string text = in.getString();
    if (hasNul(text))
        fail("text holding a NUL byte");
    return text;
}

decltype(Member::value) readValue(XdrReader& in, uint32_t type, uint32_t count)
{
    if ((type == typeString || type == typeInt64) && count != 1)
        fail("element count " + std::to_string(count) + " for a single value");
    switch (type) {
    case typeString:
        return readText(in);
    case typeInt64:
        return in.getI64();
    case typeStringArray: {
        // Every element takes at least its length word, so a count the
        // remaining bytes cannot hold is refused at once; the list then only
        // grows with elements actually read.
        if (count > in.remaining() / 4)
            fail("element count " + std::to_string(count) + " beyond the packed bytes");
        std::vector<std::string> items;
        for (uint32_t i = 0; i < count; ++i)
            items.push_back(readText(in));
        return items;
    }
    default:
        fail("unsupported pair type " + std::to_string(type));
    }
    return {};
}

// The next pair, or nothing at the end-of-list marker.
std::optional<Member> readPair(XdrReader& in)
{
    const size_t start = in.offset();
    const uint32_t encoded = in.getU32();
    const uint32_t decoded = in.getU32();
    if (encoded == 0) {
        if (decoded != 0)
            fail("end marker with a nonzero size");
        return std::nullopt;
    }
    Member member;
    member.name = readText(in);
    if (member.name.empty())
        fail("empty pair name");
    const uint32_t type = in.getU32();
    const uint32_t count = in.getU32();
    member.value = readValue(in, type, count);
    if (in.offset() - start != encoded)
        fail("pair \"" + member.name + "\" size does not match its contents");
    if (decodedSize(member) != decoded)
        fail("pair \"" + member.name + "\" memory size does not match its contents");
    return member;
}

// ---- JSON

const KeyRule* findKey(const std::string& name)
{
    for (const KeyRule& rule : eventKeys) {
        if (name == rule.name)
            return &rule;
    }
    return nullptr;
}

[[noreturn]] void wrongType(const KeyRule& rule, const char* expected)
{
    throw std::invalid_argument(std::string("event key \"") + rule.name + "\" must be " + expected);
}

decltype(Member::value) jsonValue(const KeyRule& rule, const nlohmann::json& value)
{
    switch (rule.kind) {
    case Kind::Text:
        if (!value.is_string())
            wrongType(rule, "a string");
        return value.get<std::string>();
    case Kind::Integer:
        if (!value.is_number_integer() || (value.is_number_unsigned() && value.get<uint64_t>() > INT64_MAX))
            wrongType(rule, "an integer of 64 bits");
        return value.get<int64_t>();
    case Kind::TextList:
        if (!value.is_array())
            wrongType(rule, "an array of strings");
        std::vector<std::string> items;
        for (const nlohmann::json& item : value) {
            if (!item.is_string())
                wrongType(rule, "an array of strings");
            items.push_back(item.get<std::string>());
        }
        return items;
    }
    return {};
}

}

std::vector<char> pack(const std::vector<Member>& members)
{
    std::unordered_set<std::string> names;
    XdrWriter out;
    // The second byte names the packing host's byte order; the XDR words
    // that follow are big-endian whatever it says.
    const char header[] = { encodingXdr, std::endian::native == std::endian::little ? '\1' : '\0', '\0', '\0' };
    out.putRaw(std::string_view(header, sizeof header));
    out.putU32(listVersion);
    out.putU32(uniqueNames);
    for (const Member& member : members) {
        if (!names.insert(member.name).second)
            throw std::invalid_argument("member \"" + member.name + "\" given twice");
        packPair(out, member);
    }
    out.putU32(0);
    out.putU32(0);
    return out.take();
}

std::vector<Member> unpack(const char* bytes, size_t length)
{
    if (!bytes && length)
        fail("no bytes");
    XdrReader in(bytes, length);
    readHeader(in);
    std::vector<Member> members;
    std::unordered_set<std::string> names;
    while (std::optional<Member> member = readPair(in)) {
        if (!names.insert(member->name).second)
            fail("pair \"" + member->name + "\" given twice");
        members.push_back(std::move(*member));
    }
    // The bytes are forwarded to the proxy and mailed as they are, so
    // anything after the list is refused rather than carried along.
    if (in.remaining() != 0)
        fail(std::to_string(in.remaining()) + " bytes after the end of the list");
    return members;
}

std::vector<Member> fromJson(const nlohmann::json& event)
{
    if (!event.is_object())
        throw std::invalid_argument("an event must be a JSON object");
    for (const auto& item : event.items()) {
        if (!findKey(item.key()))
            throw std::invalid_argument("unknown event key \"" + item.key() + "\"");
    }
    std::vector<Member> members;
    for (const KeyRule& rule : eventKeys) {
        auto it = event.find(rule.name);
        if (it != event.end())
            members.push_back({ rule.name, jsonValue(rule, *it) });
    }
    return members;
}

nlohmann::json toJson(const std::vector<Member>& members)
{
    nlohmann::json event = nlohmann::json::object();
    for (const Member& member : members)
        std::visit([&](const auto& value) { event[member.name] = value; }, member.value);
    return event;
}

}
