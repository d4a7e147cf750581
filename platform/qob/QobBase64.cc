#include "QobBase64.h"

namespace qob {

std::string base64Encode(const unsigned char* data, size_t length)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((length + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        unsigned long group = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        out += alphabet[(group >> 18) & 63];
        out += alphabet[(group >> 12) & 63];
        out += alphabet[(group >> 6) & 63];
        out += alphabet[group & 63];
    }
    if (i == length)
        return out;
    unsigned long group = data[i] << 16;
    if (i + 1 < length)
        group |= data[i + 1] << 8;
    out += alphabet[(group >> 18) & 63];
    out += alphabet[(group >> 12) & 63];
    out += (i + 1 < length) ? alphabet[(group >> 6) & 63] : '=';
    out += '=';
    return out;
}

}
