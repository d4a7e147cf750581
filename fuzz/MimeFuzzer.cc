// MIME construction over an arbitrary body and attachment. The message is
// read back the way a mail reader would, by the boundary its header
// declares: the header must end in an empty line, the body part, decoded as
// its header says, must give back the body whatever it holds (delimiter
// lines of any guessable boundary included), and the attachment part,
// decoded from base64, must give back the attachment's bytes with a matching
// Content-MD5.
//
// Input: one flag byte (bit 0: with attachment), two bytes of body length
// (big-endian, cut to what is there), the body, then the attachment.
#include <md5.h>

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzScratch.h"
#include "cmd/kav/email/MimeEmail.h"

namespace {

const std::string id = "123456";

struct Input {
    bool withAttachment = false;
    std::string body;
    std::string attachment;
};

Input split(const uint8_t* data, size_t size)
{
    Input input;
    if (size < 3)
        return input;
    input.withAttachment = data[0] & 1;
    const size_t bodyLength = std::min<size_t>((size_t { data[1] } << 8) | data[2], size - 3);
    const auto* rest = reinterpret_cast<const char*>(data) + 3;
    input.body.assign(rest, bodyLength);
    input.attachment.assign(rest + bodyLength, size - 3 - bodyLength);
    return input;
}

std::string base64Decode(std::string_view text)
{
    static const std::string alphabet = MimeEmail::base64_chars;
    std::string bytes;
    uint32_t bits = 0;
    int count = 0;
    size_t padding = 0;
    for (char c : text) {
        if (c == '\n')
            continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        const size_t value = alphabet.find(c);
        if (value == std::string::npos || padding > 0)
            fuzzFailure(std::string("not base64: <") + std::string(text) + ">");
        bits = (bits << 6) | static_cast<uint32_t>(value);
        if (++count == 4) {
            bytes += static_cast<char>(bits >> 16);
            bytes += static_cast<char>(bits >> 8);
            bytes += static_cast<char>(bits);
            bits = 0;
            count = 0;
        }
    }
    if ((count + padding) % 4 != 0 || padding > 2)
        fuzzFailure("base64 text of a wrong length");
    if (count == 2)
        bytes += static_cast<char>(bits >> 4);
    if (count == 3) {
        bytes += static_cast<char>(bits >> 10);
        bytes += static_cast<char>(bits >> 2);
    }
    return bytes;
}

std::string qpDecode(std::string_view text)
{
    static const std::string hex = "0123456789ABCDEF";
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            bytes += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            continue;
        }
        const size_t high = i + 2 < text.size() ? hex.find(text[i + 1]) : std::string::npos;
        const size_t low = i + 2 < text.size() ? hex.find(text[i + 2]) : std::string::npos;
        if (high == std::string::npos || low == std::string::npos)
            fuzzFailure("a broken quoted-printable escape");
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return bytes;
}

// The boundary the message header declares; the header must end in an
// empty line before the first delimiter.
std::string declaredBoundary(std::string_view message)
{
    const size_t end = message.find("\n\n");
    const std::string key = "Content-Type: multipart/mixed; boundary=\"";
    const size_t at = message.find(key);
    if (end == std::string_view::npos || at == std::string_view::npos || at > end)
        fuzzFailure("no header with a boundary and an end");
    const size_t start = at + key.size();
    const std::string boundary(message.substr(start, message.find('"', start) - start));
    if (boundary.rfind("-" + id + "-", 0) != 0 || boundary.size() < id.size() + 20)
        fuzzFailure("a guessable boundary: " + boundary);
    if (message.substr(end + 2, boundary.size() + 3) != "--" + boundary + "\n")
        fuzzFailure("the first delimiter does not follow the header's end");
    return boundary;
}

// The parts between the boundary lines, each without the line break that
// belongs to the boundary after it; the text up to the first boundary line
// is left out, and the closing boundary must end the message.
std::vector<std::string_view> parts(std::string_view message, const std::string& delimiter)
{
    const std::string opening = delimiter + "\n";
    const size_t first = message.find("\n" + opening);
    const std::string closing = "\n" + delimiter + "--\n";
    if (first == std::string_view::npos || message.size() < closing.size()
        || message.substr(message.size() - closing.size()) != closing)
        fuzzFailure("no opening or closing boundary");
    std::vector<std::string_view> found;
    size_t start = first + 1 + opening.size();
    const size_t end = message.size() - closing.size();
    for (size_t next; (next = message.find("\n" + opening, start)) < end; start = next + 1 + opening.size())
        found.push_back(message.substr(start, next - start));
    found.push_back(message.substr(start, end - start));
    return found;
}

// A part's header lines and content; its headers end at the first empty line.
std::string_view content(std::string_view part, std::string_view& headers)
{
    const size_t blank = part.rfind('\n', 0) == 0 ? 0 : part.find("\n\n");
    if (blank == std::string_view::npos)
        fuzzFailure("a part without the line that ends its headers");
    headers = part.substr(0, blank);
    return part.substr(blank == 0 ? 1 : blank + 2);
}

std::string headerValue(std::string_view headers, const std::string& name)
{
    const std::string prefix = name + ": ";
    const size_t at = headers.find(prefix);
    if (at == std::string_view::npos)
        fuzzFailure("a part without " + name);
    const size_t start = at + prefix.size();
    return std::string(headers.substr(start, headers.find('\n', start) - start));
}

std::string md5Of(const std::string& bytes)
{
    MD5_CTX context;
    MD5Init(&context);
    MD5Update(&context, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5Final(digest, &context);
    return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

void checkAttachment(std::string_view part, const std::string& attachment)
{
    std::string_view headers;
    const std::string_view encoded = content(part, headers);
    if (headerValue(headers, "Content-Transfer-Encoding") != "base64")
        fuzzFailure("attachment not declared base64");
    size_t lineStart = 0;
    for (size_t lineEnd; (lineEnd = encoded.find('\n', lineStart)) != std::string_view::npos; lineStart = lineEnd + 1) {
        if (lineEnd - lineStart > 76)
            fuzzFailure("base64 line longer than 76 characters");
    }
    if (base64Decode(encoded) != attachment)
        fuzzFailure("the attachment does not decode to its bytes");
    if (base64Decode(headerValue(headers, "Content-MD5")) != md5Of(attachment))
        fuzzFailure("Content-MD5 does not match the attachment");
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Input input = split(data, size);
    FuzzScratch& scratch = FuzzScratch::instance();
    const std::string attachmentPath = input.withAttachment
        ? scratch.write("DXAEvent", reinterpret_cast<const uint8_t*>(input.attachment.data()), input.attachment.size())
        : std::string();
    std::istringstream body(input.body);
    std::ostringstream out;
    if (MimeEmail().constructMime(id, attachmentPath, out, body, "Subject: fuzz\n", "From: kav@sc0.example\n") != 0)
        fuzzFailure("constructMime failed");

    const std::string message = out.str();
    const std::vector<std::string_view> found = parts(message, "--" + declaredBoundary(message));
    if (found.size() != (input.withAttachment ? 2u : 1u))
        fuzzFailure("wrong number of parts: " + std::to_string(found.size()));
    std::string_view headers;
    const std::string_view text = content(found[0], headers);
    if (headers.find("Content-Type: text/plain; charset=UTF-8\n") != 0)
        fuzzFailure("the body part is not declared UTF-8 text");
    const std::string encoding = headerValue(headers, "Content-Transfer-Encoding");
    const std::string decoded = encoding == "quoted-printable" ? qpDecode(text) : std::string(text);
    if (decoded != input.body || (encoding != "7bit" && encoding != "quoted-printable"))
        fuzzFailure("the body part does not give back the body");
    if (input.withAttachment)
        checkAttachment(found[1], input.attachment);
    return 0;
}
