#include "platform/log/LogLine.h"

#include <time.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iterator>

#include "platform/text/Utf8.h"

namespace orv::log {

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

// Plain printable ASCII, the bulk of every line, is copied a run at a time.
bool isPlainAscii(unsigned char c)
{
    return c >= 0x20 && c < 0x7f;
}

// Well-formed UTF-8 is kept; control characters and every byte that is not
// part of a well-formed sequence are escaped, so that a line is always valid
// UTF-8 and shows what the bytes were.
void appendEscaped(std::string& out, std::string_view text)
{
    for (size_t at = 0; at < text.size();) {
        size_t plain = at;
        while (plain < text.size() && isPlainAscii(static_cast<unsigned char>(text[plain])))
            ++plain;
        out.append(text, at, plain - at);
        at = plain;
        if (at == text.size())
            break;
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
}

template <typename Number> void appendNumber(std::string& out, Number value)
{
    char digits[24];
    const auto result = std::to_chars(std::begin(digits), std::end(digits), value);
    out.append(digits, result.ptr);
}

void appendTwoDigits(char* at, int value)
{
    at[0] = static_cast<char>('0' + value / 10);
    at[1] = static_cast<char>('0' + value % 10);
}

// "YYYY-MM-DDTHH:MM:SS" of a second. Lines come many to a second, so each
// thread keeps the last one it wrote rather than breaking the time down again.
std::string_view secondStamp(time_t seconds)
{
    thread_local time_t cachedSecond = -1;
    thread_local char cachedStamp[32];
    thread_local size_t cachedLength = 0;
    if (seconds != cachedSecond) {
        tm utc {};
        gmtime_r(&seconds, &utc);
        const int length = snprintf(cachedStamp, sizeof cachedStamp, "%04d-%02d-%02dT%02d:%02d:%02d",
            utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
        cachedLength = length > 0 ? std::min(static_cast<size_t>(length), sizeof cachedStamp - 1) : 0;
        cachedSecond = seconds;
    }
    return { cachedStamp, cachedLength };
}

}

std::string escapeControlCharacters(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    appendEscaped(out, text);
    return out;
}

std::string shortenedValue(std::string_view text)
{
    size_t cut = std::min(text.size(), MAX_VALUE_BYTES);
    // Back to the start of a character: at most three continuation bytes.
    for (int step = 0;
         step < 3 && cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80; ++step)
        --cut;
    std::string shortened(text.substr(0, cut));
    shortened += "[... ";
    appendNumber(shortened, text.size());
    shortened += " bytes]";
    return shortened;
}

std::string LogLine::format(std::string_view text) const
{
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);

    std::string line;
    line.reserve(64 + tag.size() + sourceFile.size() + text.size());
    line += secondStamp(time.tv_sec);
    char millis[6] = { '.', '0', '0', '0', 'Z', ' ' };
    const int ms = static_cast<int>(time.tv_usec / 1000);
    millis[1] = static_cast<char>('0' + ms / 100);
    appendTwoDigits(millis + 2, ms % 100);
    line.append(millis, sizeof millis);
    line += tag;
    line += '[';
    appendNumber(line, pid);
    line += "] L";
    appendNumber(line, level);
    line += ' ';
    line += sourceFile;
    line += ':';
    appendNumber(line, sourceLine);
    line += ' ';
    appendEscaped(line, text);
    line += '\n';
    return line;
}

}
