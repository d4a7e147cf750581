#include "platform/text/Base64.h"

#include <array>
#include <cstdint>

namespace orv::text {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int notBase64 = -1;

constexpr std::array<int, 256> decodingTable()
{
    std::array<int, 256> table {};
    table.fill(notBase64);
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(alphabet[i])] = i;
    return table;
}

constexpr std::array<int, 256> sextets = decodingTable();

}

std::string base64Encode(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    auto byteAt = [&](size_t at) { return uint32_t { static_cast<unsigned char>(bytes[at]) }; };
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t group = byteAt(i) << 16 | byteAt(i + 1) << 8 | byteAt(i + 2);
        for (int shift = 18; shift >= 0; shift -= 6)
            out += alphabet[(group >> shift) & 63];
    }
    if (i == bytes.size())
        return out;
    const bool two = i + 1 < bytes.size();
    const uint32_t group = byteAt(i) << 16 | (two ? byteAt(i + 1) << 8 : 0);
    out += alphabet[(group >> 18) & 63];
    out += alphabet[(group >> 12) & 63];
    out += two ? alphabet[(group >> 6) & 63] : '=';
    out += '=';
    return out;
}

std::optional<std::string> base64Decode(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    uint32_t group = 0;
    const size_t digits = text.size() - padding;
    for (size_t i = 0; i < digits; ++i) {
        const int sextet = sextets[static_cast<unsigned char>(text[i])];
        if (sextet == notBase64)
            return std::nullopt;
        group = group << 6 | static_cast<uint32_t>(sextet);
        if (i % 4 == 3) {
            out += static_cast<char>(group >> 16);
            out += static_cast<char>(group >> 8);
            out += static_cast<char>(group);
            group = 0;
        }
    }
    if (padding == 1) {
        if (group & 0x3)
            return std::nullopt;
        out += static_cast<char>(group >> 10);
        out += static_cast<char>(group >> 2);
    } else if (padding == 2) {
        if (group & 0xf)
            return std::nullopt;
        out += static_cast<char>(group >> 4);
    }
    return out;
}

}
