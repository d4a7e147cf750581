// UTF-8 validity as the JSON writers and the log lines need it: event texts
// may hold any byte but NUL, and only well-formed UTF-8 (no overlong forms,
// no surrogates, nothing above U+10FFFF) may be written as text.
#pragma once

#include <cstddef>
#include <string_view>

namespace orv::text {

// The length (1 to 4) of the well-formed UTF-8 sequence starting at
// text[at], or 0 when the byte there does not start one.
size_t utf8SequenceLength(std::string_view text, size_t at);

bool isValidUtf8(std::string_view text);

}
