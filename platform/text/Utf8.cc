#include "platform/text/Utf8.h"

namespace orv::text {

namespace {

bool isContinuation(unsigned char byte)
{
    return (byte & 0xc0) == 0x80;
}

// The allowed range of the second byte narrows for the leads whose plain
// range would admit overlong forms (e0, f0), surrogates (ed) or code points
// beyond U+10FFFF (f4).
bool secondByteFits(unsigned char lead, unsigned char second)
{
    switch (lead) {
    case 0xe0:
        return second >= 0xa0 && second <= 0xbf;
    case 0xed:
        return second >= 0x80 && second <= 0x9f;
    case 0xf0:
        return second >= 0x90 && second <= 0xbf;
    case 0xf4:
        return second >= 0x80 && second <= 0x8f;
    default:
        return isContinuation(second);
    }
}

size_t expectedLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xc2 && lead <= 0xdf)
        return 2;
    if (lead >= 0xe0 && lead <= 0xef)
        return 3;
    if (lead >= 0xf0 && lead <= 0xf4)
        return 4;
    return 0;
}

}

size_t utf8SequenceLength(std::string_view text, size_t at)
{
    if (at >= text.size())
        return 0;
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t length = expectedLength(lead);
    if (length <= 1)
        return length;
    if (text.size() - at < length || !secondByteFits(lead, static_cast<unsigned char>(text[at + 1])))
        return 0;
    for (size_t i = 2; i < length; ++i) {
        if (!isContinuation(static_cast<unsigned char>(text[at + i])))
            return 0;
    }
    return length;
}

bool isValidUtf8(std::string_view text)
{
    for (size_t at = 0; at < text.size();) {
        const size_t length = utf8SequenceLength(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

}
