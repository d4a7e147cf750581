#include "LogLine.h"

#include <time.h>

#include <cstdio>

std::string escapeControlCharacters(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c >= 0x20 && c != 0x7f) {
            out += static_cast<char>(c);
            continue;
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
        default: {
            char hex[5];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
        }
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
