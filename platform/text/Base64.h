// Base64 with the standard alphabet and "=" padding, no line breaks: binary
// payloads and texts that are not UTF-8 travel this way inside JSON.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orv::text {

std::string base64Encode(std::string_view bytes);

// Nothing for anything but canonical base64: a length that is not a multiple
// of four, a character outside the alphabet, misplaced padding, or nonzero
// bits in a padded group. Canonical input keeps decode(encode(x)) == x and
// makes every accepted text the only spelling of its bytes.
std::optional<std::string> base64Decode(std::string_view text);

}
