// Formats one log line:
//   <UTC time, ISO 8601 with ms> <tag>[<pid>] L<level> <file>:<line> <text>\n
// A trailing newline of the text is dropped and every other control
// character, and every byte that is not part of well-formed UTF-8, is
// escaped, so no argument can start a forged line or break the encoding.
#pragma once

#include <sys/time.h>
#include <sys/types.h>

#include <string>
#include <string_view>

namespace orv::log {

struct LogLine {
    timeval time;
    std::string_view tag;
    pid_t pid;
    int level;
    std::string_view sourceFile;
    int sourceLine;

    std::string format(std::string_view text) const;
};

// `text` with control characters written as \n, \r, \t or \xHH.
std::string escapeControlCharacters(std::string_view text);

// The most bytes one argument of a statement adds to a line. An event's
// text may be megabytes, and it would be written to several logs at once:
// a longer value is cut and marked with its whole length.
inline constexpr size_t MAX_VALUE_BYTES = 1024;

// For a `text` longer than MAX_VALUE_BYTES: its start, cut where no UTF-8
// character is split, then "[... N bytes]" with its whole length N.
std::string shortenedValue(std::string_view text);

}
