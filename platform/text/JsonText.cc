#include "platform/text/JsonText.h"

#include <stdexcept>

#include "platform/text/Base64.h"
#include "platform/text/Utf8.h"

namespace orv::text {

namespace {

constexpr char base64Key[] = "base64";

template <class Json> std::string bytesOf(const Json& value)
{
    if (value.is_string())
        return value.template get<std::string>();
    if (!value.is_object() || value.size() != 1 || !value.contains(base64Key) || !value[base64Key].is_string())
        throw std::invalid_argument("a text must be a string or {\"base64\": string}");
    std::optional<std::string> bytes = base64Decode(value[base64Key].template get<std::string>());
    if (!bytes)
        throw std::invalid_argument("a {\"base64\"} text holds no canonical base64");
    return *bytes;
}

}

nlohmann::ordered_json toJsonText(std::string_view bytes)
{
    if (isValidUtf8(bytes))
        return std::string(bytes);
    return { { base64Key, base64Encode(bytes) } };
}

std::string fromJsonText(const nlohmann::ordered_json& value)
{
    return bytesOf(value);
}

std::string fromJsonText(const nlohmann::json& value)
{
    return bytesOf(value);
}

}
