#include "LogLine.h"

#include <time.h>

#include <cstdio>

#include "Utf8.h"

namespace {

void appendHex(std::string& out, unsigned char byte)
{
    char hex[5];
    snprintf(hex, sizeof hex, "\\x%02x", byte);
    out += hex;
}

void appendAscii(std::string& out, unsigned char c)
{
    if (c >= 0x20 && c != 0x7f) {
        out += static_cast<char>(c);
        return;
    }
    switch (c) {
    case '\n':
        out += "\\n";
        break;
    case '\r':
        out += "\\r";
        break;
    case '\t':
        out += "\\t";
        break;
    default:
        appendHex(out, c);
    }
}

// U+0080 to U+009F: terminals act on them like the ASCII controls.
bool isC1Control(std::string_view sequence)
{
    return sequence.size() == 2 && static_cast<unsigned char>(sequence[0]) == 0xc2
        && static_cast<unsigned char>(sequence[1]) < 0xa0;
}

}

// Well-formed UTF-8 is kept; control characters and every byte that is not
// part of a well-formed sequence are escaped, so that a line is always valid
// UTF-8 and shows what the bytes were.
std::string escapeControlCharacters(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x80) {
            appendAscii(out, c);
            ++at;
            continue;
        }
        const size_t length = orv::text::utf8SequenceLength(text, at);
        const std::string_view sequence = text.substr(at, length == 0 ? 1 : length);
        if (length == 0 || isC1Control(sequence)) {
            for (char byte : sequence)
                appendHex(out, static_cast<unsigned char>(byte));
        } else {
            out += sequence;
        }
        at += sequence.size();
    }
    return out;
}

std::string LogLine::format(std::string_view text) const
{
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);

    tm utc {};
    time_t seconds = time.tv_sec;
    gmtime_r(&seconds, &utc);
    char stamp[64];
    snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
        utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
        static_cast<int>(time.tv_usec / 1000));

    std::string line = stamp;
    line += ' ';
    line += tag;
    line += '[' + std::to_string(pid) + "] L" + std::to_string(level) + ' ';
    line += sourceFile;
    line += ':' + std::to_string(sourceLine) + ' ';
    line += escapeControlCharacters(text);
    line += '\n';
    return line;
}
