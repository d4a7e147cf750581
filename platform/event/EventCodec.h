// The packed form of an event: a name/value list in XDR, with unique names
// and three value kinds (text, 64-bit integer, list of texts). Doors, the
// remote proxy and email attachments all carry these bytes, so the layout is
// fixed to the one the rest of the suite packs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

namespace orv::event {

struct Member {
    std::string name;
    std::variant<std::string, int64_t, std::vector<std::string>> value;

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

// Throws std::invalid_argument for an empty name, a name or text holding a
// NUL byte, a repeated name, or a size the 32-bit fields cannot express.
std::vector<char> pack(const std::vector<Member>& members);

// Throws std::runtime_error for anything but one complete, well-formed list
// that ends exactly at `length`; never reads outside [bytes, bytes + length).
std::vector<Member> unpack(const char* bytes, size_t length);

// An event JSON object to members in packing order; throws
// std::invalid_argument for a non-object, an unknown key or a wrong type.
std::vector<Member> fromJson(const nlohmann::json& event);

// Every member as a JSON value (text, integer or array of texts).
nlohmann::json toJson(const std::vector<Member>& members);

}
