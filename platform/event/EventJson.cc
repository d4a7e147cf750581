// The two JSON forms of an event (see EventCodec.h and docs/event.md).
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <stdexcept>

#include "platform/event/EventCodec.h"
#include "platform/text/JsonText.h"
#include "platform/event/Overloaded.h"
#include "platform/event/PairTypes.h"

namespace orv::event {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;
using orv::text::fromJsonText;
using orv::text::toJsonText;

// The typed form's own keys. No event key is one of them: an object is
// read in the typed form exactly when it holds one.
constexpr char byteOrderKey[] = "byteOrder";
constexpr char flagsKey[] = "flags";
constexpr char membersKey[] = "members";
constexpr char bitsKey[] = "bits";

constexpr std::pair<ListFlags, const char*> flagNames[] = {
    { ListFlags::UniqueName, "uniqueName" },
    { ListFlags::UniqueNameType, "uniqueNameType" },
};

[[noreturn]] void refuse(const std::string& what)
{
    throw std::invalid_argument(what);
}

// ---- the event form

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

const KeyRule* findKey(const std::string& name)
{
    for (const KeyRule& rule : eventKeys) {
        if (name == rule.name)
            return &rule;
    }
    return nullptr;
}

[[noreturn]] void wrongType(const std::string& name, const char* expected)
{
    refuse("event key \"" + name + "\" must be " + expected);
}

std::string eventText(const std::string& name, const json& value)
{
    try {
        return fromJsonText(value);
    } catch (const std::invalid_argument&) {
        wrongType(name, "a string or {\"base64\": string}");
    }
}

int64_t eventInteger(const std::string& name, const json& value)
{
    if (!value.is_number_integer() || (value.is_number_unsigned() && value.get<uint64_t>() > INT64_MAX))
        wrongType(name, "an integer of 64 bits");
    return value.get<int64_t>();
}

Value eventValue(const KeyRule& rule, const json& value)
{
    switch (rule.kind) {
    case Kind::Text:
        return eventText(rule.name, value);
    case Kind::Integer:
        return eventInteger(rule.name, value);
    case Kind::TextList:
        break;
    }
    if (!value.is_array())
        wrongType(rule.name, "an array of texts");
    std::vector<std::string> items;
    for (const json& item : value)
        items.push_back(eventText(rule.name, item));
    return items;
}

// The event-form value of a member that is the event's own by its name
// and its type; nothing for any other.
std::optional<json> eventJson(const KeyRule& rule, const Value& value)
{
    if (const auto* text = std::get_if<std::string>(&value); text && rule.kind == Kind::Text)
        return json(toJsonText(*text));
    if (const auto* number = std::get_if<int64_t>(&value); number && rule.kind == Kind::Integer)
        return json(*number);
    const auto* items = std::get_if<std::vector<std::string>>(&value);
    if (!items || rule.kind != Kind::TextList)
        return std::nullopt;
    json array = json::array();
    for (const std::string& item : *items)
        array.push_back(json(toJsonText(item)));
    return array;
}

std::vector<Member> fromEventForm(const json& event)
{
    for (const auto& item : event.items()) {
        if (!findKey(item.key()))
            refuse("unknown event key \"" + item.key() + "\"");
    }
    std::vector<Member> members;
    for (const KeyRule& rule : eventKeys) {
        auto it = event.find(rule.name);
        if (it != event.end())
            members.push_back({ rule.name, eventValue(rule, *it) });
    }
    return members;
}

// ---- the typed form, JSON to members

Nested typedList(const json& list, unsigned depth);

// An object of the typed form: only `keys`, "members" among them.
void checkListObject(const json& object, std::initializer_list<const char*> keys, const char* where)
{
    for (const auto& item : object.items()) {
        if (std::find_if(keys.begin(), keys.end(), [&](const char* key) { return item.key() == key; }) == keys.end())
            refuse("unknown key \"" + item.key() + "\" in " + where);
    }
    if (!object.contains(membersKey))
        refuse(std::string(where) + " without \"members\"");
}

// The flags an object of the typed form names; unique names when it names none.
ListFlags flagsOf(const json& object)
{
    auto it = object.find(flagsKey);
    if (it == object.end())
        return ListFlags::UniqueName;
    for (const auto& [flags, name] : flagNames) {
        if (*it == name)
            return flags;
    }
    refuse("\"flags\" must be \"uniqueName\" or \"uniqueNameType\"");
}

uint64_t doubleBits(const json& value)
{
    if (value.is_number())
        return std::bit_cast<uint64_t>(value.get<double>());
    // Infinities and NaNs have no JSON number: they travel as their bits.
    if (!value.is_object() || value.size() != 1 || !value.contains(bitsKey) || !value[bitsKey].is_string())
        refuse("a double must be a number or {\"bits\": 16 hex digits}");
    const std::string hex = value[bitsKey].get<std::string>();
    uint64_t bits = 0;
    auto [end, error] = std::from_chars(hex.data(), hex.data() + hex.size(), bits, 16);
    if (hex.size() != 16 || error != std::errc() || end != hex.data() + hex.size())
        refuse("a double's bits must be 16 hex digits");
    return bits;
}

uint64_t integerBits(const TypeInfo& info, const json& value)
{
    if (!value.is_number_integer())
        refuse(std::string("a ") + info.name + " value must be an integer");
    if (info.kind == NumberKind::Signed) {
        if (value.is_number_unsigned() && value.get<uint64_t>() > INT64_MAX)
            refuse(std::string("integer out of range for ") + info.name);
        return static_cast<uint64_t>(value.get<int64_t>());
    }
    if (!value.is_number_unsigned())
        refuse(std::string("integer out of range for ") + info.name);
    return value.get<uint64_t>();
}

uint64_t numberBits(const TypeInfo& info, const json& value)
{
    uint64_t bits = 0;
    if (info.kind == NumberKind::Double) {
        bits = doubleBits(value);
    } else if (info.kind == NumberKind::Boolean) {
        if (!value.is_boolean())
            refuse(std::string("a ") + info.name + " value must be true or false");
        bits = value.get<bool>() ? 1 : 0;
    } else {
        bits = integerBits(info, value);
    }
    if (!fitsType(info, bits))
        refuse(std::string("integer out of range for ") + info.name);
    return bits;
}

const json& arrayOf(const json& value, const TypeInfo& info)
{
    if (!value.is_array())
        refuse(std::string("a ") + info.name + " value must be an array");
    return value;
}

Value typedValue(const TypeInfo& info, const json& value, unsigned depth)
{
    switch (info.shape) {
    case Shape::Flag:
        return Flag {};
    case Shape::Scalar:
        if (info.type == Type::Int64)
            return static_cast<int64_t>(numberBits(info, value));
        return Number { info.type, numberBits(info, value) };
    case Shape::Array:
    case Shape::Opaque: {
        const TypeInfo& element = *typeInfo(elementType(info.type));
        Numbers numbers { info.type, {} };
        for (const json& item : arrayOf(value, info))
            numbers.bits.push_back(numberBits(element, item));
        return numbers;
    }
    case Shape::Text:
        return fromJsonText(value);
    case Shape::TextArray: {
        std::vector<std::string> items;
        for (const json& item : arrayOf(value, info))
            items.push_back(fromJsonText(item));
        return items;
    }
    case Shape::List:
        return typedList(value, depth + 1);
    case Shape::ListArray: {
        NestedArray array;
        for (const json& list : arrayOf(value, info))
            array.lists.push_back(typedList(list, depth + 1));
        return array;
    }
    }
    refuse("unknown member type");
}

Member typedMember(const json& member, unsigned depth)
{
    if (!member.is_object() || !member.contains("name") || !member.contains("type") || !member["type"].is_string())
        refuse("a typed member must be an object with \"name\" and \"type\"");
    const TypeInfo* info = typeInfoByName(member["type"].get<std::string>());
    if (!info)
        refuse("unknown member type \"" + member["type"].get<std::string>() + "\"");
    const bool hasValue = member.contains("value");
    if (member.size() != (hasValue ? 3u : 2u) || hasValue == (info->shape == Shape::Flag))
        refuse(std::string("a ") + info->name + " member takes " + (hasValue ? "no value" : "a value")
            + " and nothing else");
    Member result { fromJsonText(member["name"]), Flag {} };
    if (hasValue)
        result.value = typedValue(*info, member["value"], depth);
    return result;
}

// An array of typed members (a list of unique names), or an object
// {"flags": ..., "members": [...]}.
Nested typedList(const json& list, unsigned depth)
{
    if (depth > maxNesting)
        refuse("lists nested deeper than " + std::to_string(maxNesting) + " levels");
    Nested nested;
    const json* members = &list;
    if (list.is_object()) {
        checkListObject(list, { flagsKey, membersKey }, "a list object");
        nested.flags = flagsOf(list);
        members = &list[membersKey];
    }
    if (!members->is_array())
        refuse("a list must be an array of typed members or an object with \"members\"");
    for (const json& member : *members)
        nested.members.push_back(typedMember(member, depth));
    return nested;
}

bool isTypedForm(const json& event)
{
    return event.contains(membersKey) || event.contains(byteOrderKey) || event.contains(flagsKey);
}

std::vector<Member> fromTypedForm(const json& event)
{
    checkListObject(event, { byteOrderKey, flagsKey, membersKey }, "a typed event");
    byteOrderOf(event);
    flagsOf(event);
    return typedList(event[membersKey], 0).members;
}

// ---- members to the typed form

ordered_json typedMembers(const std::vector<Member>& members);

const char* flagName(ListFlags flags)
{
    for (const auto& [known, name] : flagNames) {
        if (known == flags)
            return name;
    }
    return "?";
}

// An array of members, or for other flags than unique names an object.
ordered_json typedList(const Nested& list)
{
    if (list.flags == ListFlags::UniqueName)
        return typedMembers(list.members);
    return { { flagsKey, flagName(list.flags) }, { membersKey, typedMembers(list.members) } };
}

ordered_json numberJson(const TypeInfo& info, uint64_t bits)
{
    switch (info.kind) {
    case NumberKind::Boolean:
        return bits != 0;
    case NumberKind::Signed:
        return static_cast<int64_t>(bits);
    case NumberKind::Unsigned:
        return bits;
    case NumberKind::Double:
        break;
    }
    const double value = std::bit_cast<double>(bits);
    if (std::isfinite(value))
        return value;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(bits));
    return { { bitsKey, hex } };
}

ordered_json typedValue(const Value& value)
{
    return std::visit(Overloaded {
                          [](const std::string& text) { return toJsonText(text); },
                          [](int64_t number) { return ordered_json(number); },
                          [](const std::vector<std::string>& items) {
                              ordered_json array = ordered_json::array();
                              for (const std::string& item : items)
                                  array.push_back(toJsonText(item));
                              return array;
                          },
                          [](const Number& number) { return numberJson(*typeInfo(number.type), number.bits); },
                          [](const Numbers& numbers) {
                              const TypeInfo& element = *typeInfo(elementType(numbers.type));
                              ordered_json array = ordered_json::array();
                              for (uint64_t bits : numbers.bits)
                                  array.push_back(numberJson(element, bits));
                              return array;
                          },
                          [](const Flag&) { return ordered_json(); },
                          [](const Nested& nested) { return typedList(nested); },
                          [](const NestedArray& nested) {
                              ordered_json array = ordered_json::array();
                              for (const Nested& list : nested.lists)
                                  array.push_back(typedList(list));
                              return array;
                          },
                      },
        value);
}

ordered_json typedMembers(const std::vector<Member>& members)
{
    ordered_json list = ordered_json::array();
    for (const Member& member : members) {
        const TypeInfo* info = typeInfo(typeOf(member.value));
        ordered_json item = { { "name", toJsonText(member.name) }, { "type", info ? info->name : "?" } };
        if (!std::holds_alternative<Flag>(member.value))
            item["value"] = typedValue(member.value);
        list.push_back(std::move(item));
    }
    return list;
}

}

std::vector<Member> fromJson(const json& event)
{
    if (!event.is_object())
        refuse("an event must be a JSON object");
    return isTypedForm(event) ? fromTypedForm(event) : fromEventForm(event);
}

// Only the event's own members, so that every key written is an event key
// (one named like a typed-form key would turn the object into that form).
json toJson(const std::vector<Member>& members)
{
    json event = json::object();
    for (const Member& member : members) {
        const KeyRule* rule = findKey(member.name);
        std::optional<json> value = rule ? eventJson(*rule, member.value) : std::nullopt;
        if (!value || event.contains(member.name))
            refuse("member \"" + member.name + "\" has no place in the event form");
        event[member.name] = std::move(*value);
    }
    return event;
}

ordered_json toTypedJson(const std::vector<Member>& members, ByteOrder order, ListFlags flags)
{
    ordered_json event = { { byteOrderKey, order == ByteOrder::Little ? "little" : "big" } };
    if (flags != ListFlags::UniqueName)
        event[flagsKey] = flagName(flags);
    event[membersKey] = typedMembers(members);
    return event;
}

ByteOrder byteOrderOf(const json& event)
{
    auto it = event.find(byteOrderKey);
    if (it == event.end())
        return hostByteOrder();
    if (*it == "little")
        return ByteOrder::Little;
    if (*it == "big")
        return ByteOrder::Big;
    refuse("\"byteOrder\" must be \"little\" or \"big\"");
}

ListFlags listFlagsOf(const json& event)
{
    return event.is_object() && isTypedForm(event) ? flagsOf(event) : ListFlags::UniqueName;
}

std::vector<char> packJson(const json& event)
{
    return pack(fromJson(event), byteOrderOf(event), listFlagsOf(event));
}

}
