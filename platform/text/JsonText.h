// A text of arbitrary bytes as a JSON value: a JSON string when the bytes
// are valid UTF-8 (so a readable text stays readable), otherwise an object
// {"base64": "..."} holding the bytes exactly. JSON strings can only carry
// Unicode, and replacing what is not would change the text on its way.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace orv::text {

nlohmann::ordered_json toJsonText(std::string_view bytes);

// The bytes of either form; throws std::invalid_argument for any other
// value (including {"base64": ...} with further keys or a text that is not
// canonical base64).
std::string fromJsonText(const nlohmann::ordered_json& value);
std::string fromJsonText(const nlohmann::json& value);

}
