#include "cmd/kav/email/MimeEmail.h"

#include <errno.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <system_error>
#include <istream>
#include <ostream>
#include <vector>

#include "platform/io/FdIo.h"
#include "platform/io/FileOpen.h"
#include "cmd/kav/email/HostName.h"
#include "cmd/kav/email/InputFile.h"
#include "cmd/kav/email/OutputFile.h"
#include "platform/log/LogStatement.h"
#include "platform/log/MessageIds.h"

using orv::email::InputFile;
using orv::email::OutputFile;

const char MimeEmail::base64_chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

namespace {

// Body and attachment are copied and digested in blocks of this size.
constexpr std::streamsize copyBlock = 1000;

// Attachments from this size up are digested on a second thread: MD5 is the
// slowest step of a large mail, and the rest of the report, base64 and the
// writes can go on meanwhile.
constexpr size_t parallelDigestFrom = 1024 * 1024;

// The base64 text of an MD5 digest.
constexpr size_t digestLength = 24;

// 54 input bytes make exactly one 72-character base64 line.
constexpr int lineBytes = 54;

// Lines encoded and written together: one write and one flush per block, so
// a large attachment does not cost a system call per line, and every flush
// still ends on a line end.
constexpr int blockLines = 256;

// Encoded text of one line or of a digest, with its terminating NUL.
constexpr int encodedSize(int bytes)
{
    return (bytes + 2) / 3 * 4 + 1;
}

// Every line end is flushed, so whatever reads the file while it is being
// written sees whole lines only.
void endLine(std::ostream& out)
{
    out << '\n';
    out.flush();
}

// Letters and digits of the boundary and of the Message-ID that nobody can
// guess: 24 of them carry some 140 bits.
constexpr size_t boundaryRandomLength = 24;
constexpr size_t messageIdRandomLength = 16;

// Longest header line (without its line break) mail transports accept.
constexpr size_t maxHeaderLine = 998;
constexpr size_t maxBodyLine = 998;
constexpr size_t qpLineLength = 76;

// "Subject:"
constexpr size_t subjectPrefixLength = 8;

// Text bytes per encoded word: 45 bytes give 60 base64 characters, so a
// word with its "=?UTF-8?B?" and "?=" stays within 75 characters.
constexpr size_t encodedWordBytes = 45;

std::string randomWord(size_t length)
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::vector<unsigned char> bytes(length);
    const size_t filled = orv::io::transferAll(length, [&](size_t done, size_t left) {
        return getrandom(bytes.data() + done, left, 0);
    }).moved;
    // Without the kernel's randomness, still distinct: the clock's nanoseconds.
    if (filled < length) {
        timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        for (size_t i = filled; i < length; ++i)
            bytes[i] = static_cast<unsigned char>((now.tv_nsec >> (i % 4 * 8)) + i * 131);
    }
    std::string word;
    for (unsigned char byte : bytes)
        word += letters[byte % 62];
    return word;
}

// The host part of a Message-ID: the host name when it is a plain domain
// name, else "localhost".
std::string mailHostName()
{
    const std::optional<std::string> name = orv::email::systemHostName();
    if (!name || name->empty())
        return "localhost";
    for (char c : *name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.')
            return "localhost";
    }
    return *name;
}

// Bytes of `text` from `at` that fit in one encoded word, never splitting a
// UTF-8 sequence (a decoder would otherwise see broken characters).
size_t wordLength(const std::string& text, size_t at, size_t limit)
{
    size_t length = std::min(limit, text.size() - at);
    if (at + length == text.size())
        return length;
    size_t cut = length;
    while (cut > 0 && (static_cast<unsigned char>(text[at + cut]) & 0xC0) == 0x80)
        --cut;
    return cut > 0 ? cut : length;
}

std::string base64Of(const std::string& bytes)
{
    std::vector<char> encoded((bytes.size() + 2) / 3 * 4 + 1);
    MimeEmail().encode_base64(
        encoded.data(), reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    return encoded.data();
}

}

int MimeEmail::constructMime(const std::string& id, const std::string& attachmentPath, std::ostream& out,
    std::istream& body, const std::string& subject, const std::string& from)
{
    const std::string boundary = writeTextPart(id, out, body, subject, from);
    if (!attachmentPath.empty() && writeAttachment(out, boundary, attachmentPath) != 0)
        return -1;
    writeEnd(out, boundary);
    return 0;
}

int MimeEmail::constructMime(const std::string& id, const std::string& attachmentPath, std::string_view attachmentBytes,
    OutputFile& out, std::istream& body, const std::string& subject, const std::string& from)
{
    return constructMime(id, attachmentPath, attachmentBytes, digestOf(attachmentBytes), out, body, subject, from);
}

int MimeEmail::constructMime(const std::string& id, const std::string& attachmentPath, std::string_view attachmentBytes,
    std::shared_future<std::string> digest, OutputFile& out, std::istream& body, const std::string& subject,
    const std::string& from)
{
    const std::string boundary = writeTextPart(id, out, body, subject, from);
    const std::string name = fileName(attachmentPath);
    // A digest still being worked out gets its line written with a stand-in
    // of the same length, overwritten once the base64 text is out: the
    // script reads the file only once it is closed.
    const bool pending = digest.wait_for(std::chrono::seconds(0)) == std::future_status::timeout;
    writeAttachmentHeader(out, boundary, name, pending ? std::string(digestLength, '=') : digest.get());
    const std::streamoff digestAt = out.position() - static_cast<std::streamoff>(digestLength + 2);
    // A failure is logged there; the message is completed all the same.
    to64(attachmentBytes, out);
    if (pending) {
        const std::string& text = digest.get();
        out.overwrite(digestAt, text.data(), text.size());
    }
    writeEnd(out, boundary);
    return 0;
}

std::shared_future<std::string> MimeEmail::digestOf(std::string_view bytes)
{
    const auto digest = [bytes] { return MimeEmail().md5Digest(bytes); };
    if (bytes.size() >= parallelDigestFrom) {
        try {
            return std::async(std::launch::async, digest).share();
        } catch (const std::system_error&) {
            // No thread to be had: worked out when asked for, as a small one.
        }
    }
    return std::async(std::launch::deferred, digest).share();
}

std::string MimeEmail::writeTextPart(
    const std::string& id, std::ostream& out, std::istream& body, const std::string& subject, const std::string& from)
{
    // The body is an edited template, bounded in size; the boundary must be
    // chosen against all of it before the first line is written.
    std::string text(std::istreambuf_iterator<char>(body), {});
    const bool plain = sevenBit(text);
    if (!plain)
        text = quotedPrintable(text);
    std::string boundary = boundaryFor(id, text);
    writeHeader(out, id, boundary, subject, from);
    out << "--" << boundary;
    endLine(out);
    out << "Content-Type: text/plain; charset=UTF-8";
    endLine(out);
    out << "Content-Transfer-Encoding: " << (plain ? "7bit" : "quoted-printable");
    endLine(out);
    endLine(out);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return boundary;
}

void MimeEmail::writeEnd(std::ostream& out, const std::string& boundary)
{
    endLine(out);
    out << "--" << boundary << "--";
    endLine(out);
}

void MimeEmail::writeHeader(std::ostream& out, const std::string& id, const std::string& boundary,
    const std::string& subject, const std::string& from)
{
    out << "Message-ID: " << messageId(id);
    endLine(out);
    out << "Date: " << dateText(time(nullptr));
    endLine(out);
    out << "MIME-Version: 1.0";
    endLine(out);
    out << encodeSubject(subject) << from << "Content-Type: multipart/mixed; boundary=\"" << boundary << "\"";
    endLine(out);
    // The empty line that ends the header; without it a reader or a
    // transfer agent may take the first delimiter for a header line.
    endLine(out);
}

int MimeEmail::writeAttachment(std::ostream& out, const std::string& boundary, const std::string& attachmentPath)
{
    // Read back under the scratch-file rule: a link, a FIFO or another
    // user's file put in its place is never mailed out. Read twice (digest,
    // then encoding) through a large buffer.
    orv::io::FdGuard fd;
    const bool opened = orv::io::openScratchFile(attachmentPath, fd).ok();
    InputFile attachment(std::move(fd));
    if (!opened) {
        logStatement(2, LogDest::trace(), "Error in MimeEmail::constructMIME can't open file %s\n", attachmentPath);
        logStatement(4, LogDest::platform(), KAV_MIME_OPEN_ATTACHMENT, attachmentPath);
        return -1;
    }
    writeAttachmentHeader(out, boundary, fileName(attachmentPath), md5Digest(attachment, nullptr));
    // A failure is logged there; the message is completed all the same.
    to64(attachment, out);
    return 0;
}

void MimeEmail::writeAttachmentHeader(
    std::ostream& out, const std::string& boundary, const std::string& name, const std::string& digest)
{
    endLine(out);
    out << "--" << boundary;
    endLine(out);
    out << "Content-Type: application/octet-stream; name=\"" << name << "\"";
    endLine(out);
    out << "Content-Transfer-Encoding: base64";
    endLine(out);
    out << "Content-Disposition: inline; filename=\"" << name << "\"";
    endLine(out);
    out << "Content-MD5: " << digest;
    endLine(out);
    endLine(out);
}

std::string MimeEmail::fileName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string MimeEmail::boundaryFor(const std::string& id, const std::string& text)
{
    for (;;) {
        std::string boundary = "-" + id + "-" + randomWord(boundaryRandomLength);
        // Practically never taken again; a body cannot know the letters.
        if (text.find(boundary) == std::string::npos)
            return boundary;
    }
}

std::string MimeEmail::messageId(const std::string& id)
{
    static std::atomic<unsigned long> counter { 0 };
    return "<" + id + "." + std::to_string(getpid()) + "." + std::to_string(++counter) + "."
        + randomWord(messageIdRandomLength) + "@" + mailHostName() + ">";
}

std::string MimeEmail::dateText(time_t when)
{
    // Built by hand: the names must be English whatever locale the daemon runs in.
    static const char* const days[] = { "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat" };
    static const char* const months[]
        = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
    struct tm utc { };
    gmtime_r(&when, &utc);
    char text[64];
    snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", days[utc.tm_wday % 7], utc.tm_mday,
        months[utc.tm_mon % 12], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

std::string MimeEmail::encodeSubject(const std::string& subjectLine)
{
    if (subjectLine.empty())
        return subjectLine;
    std::string value = subjectLine;
    if (value.back() == '\n')
        value.pop_back();
    const bool named = value.starts_with("Subject:");
    const bool printable
        = std::all_of(value.begin(), value.end(), [](char c) { return (c >= ' ' && c <= '~') || c == '\t'; });
    if (printable && value.size() <= maxHeaderLine)
        return subjectLine;
    value.erase(0, named ? subjectPrefixLength : 0);
    value.erase(0, value.find_first_not_of(" \t"));
    if (value.find_first_not_of(" \t") == std::string::npos)
        value.clear();
    std::string encoded = "Subject:";
    size_t at = 0;
    while (at < value.size()) {
        const size_t length = wordLength(value, at, encodedWordBytes);
        encoded += " =?UTF-8?B?" + base64Of(value.substr(at, length)) + "?=";
        at += length;
        if (at < value.size())
            encoded += '\n';
    }
    return encoded + "\n";
}

bool MimeEmail::sevenBit(const std::string& text)
{
    size_t lineLength = 0;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0 || byte == '\r' || byte >= 0x80)
            return false;
        lineLength = byte == '\n' ? 0 : lineLength + 1;
        if (lineLength > maxBodyLine)
            return false;
    }
    return true;
}

std::string MimeEmail::quotedPrintable(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3 / 2);
    size_t column = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\n') {
            out += '\n';
            column = 0;
            continue;
        }
        const bool lineEnd = i + 1 == text.size() || text[i + 1] == '\n';
        // Blanks at a line end would be lost on the way; '=' starts an escape.
        const bool literal = (byte >= 33 && byte <= 126 && byte != '=') || ((byte == ' ' || byte == '\t') && !lineEnd);
        const size_t width = literal ? 1 : 3;
        // A soft line break ("=" at the end) keeps every line within 76.
        if (column + width > qpLineLength - (lineEnd ? 0 : 1)) {
            out += "=\n";
            column = 0;
        }
        if (literal) {
            out += static_cast<char>(byte);
        } else {
            out += '=';
            out += hex[byte >> 4];
            out += hex[byte & 0x0f];
        }
        column += width;
    }
    return out;
}

namespace {

// Writes one block of base64 lines and flushes it, so that every flush ends
// on a line end; false, logged, when the stream has failed.
bool writeEncodedBlock(std::ostream& out, const char* lines, int length, int& written)
{
    out.write(lines, length);
    out.flush();
    if (!out) {
        logStatement(2, LogDest::trace(), "Error in to64() writing file bytes written %d\n", written);
        logStatement(4, LogDest::platform(), KAV_BASE64_WRITE_ERROR, written, static_cast<int>(out.rdstate()));
        return false;
    }
    written += length;
    return true;
}

}

namespace {

// Encodes up to a block of bytes into base64 lines ending in a newline; the
// length of the lines, or -1 (logged) when the encoder fails.
template <size_t Size> int encodeBlock(MimeEmail& mime, const unsigned char* bytes, int count, char (&lines)[Size])
{
    int length = 0;
    for (int done = 0; done < count; done += lineBytes) {
        const int r = mime.encode_base64(lines + length, bytes + done, std::min(lineBytes, count - done));
        if (r <= 0) {
            logStatement(2, LogDest::trace(), "Error in to64() encoding string ret=<%d>\n", r);
            logStatement(4, LogDest::platform(), KAV_BASE64_ENCODE_ERROR, r);
            return -1;
        }
        lines[length + r - 1] = '\n';
        length += r;
    }
    return length;
}

}

int MimeEmail::to64(std::istream& in, std::ostream& out)
{
    char block[lineBytes * blockLines];
    char lines[encodedSize(lineBytes) * blockLines];
    int written = 0;
    while (in) {
        in.read(block, sizeof block);
        const auto* bytes = reinterpret_cast<const unsigned char*>(block);
        const int length = encodeBlock(*this, bytes, static_cast<int>(in.gcount()), lines);
        if (length < 0)
            return 1;
        if (length > 0 && !writeEncodedBlock(out, lines, length, written))
            return 1;
    }
    return 0;
}

int MimeEmail::to64(std::string_view bytes, std::ostream& out)
{
    char lines[encodedSize(lineBytes) * blockLines];
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    int written = 0;
    for (size_t left = bytes.size(); left > 0;) {
        const int count = static_cast<int>(std::min<size_t>(lineBytes * blockLines, left));
        const int length = encodeBlock(*this, in, count, lines);
        if (length < 0 || !writeEncodedBlock(out, lines, length, written))
            return 1;
        in += count;
        left -= static_cast<size_t>(count);
    }
    return 0;
}

std::string MimeEmail::md5Digest(std::string_view bytes)
{
    MD5_CTX context;
    MD5Init(&context);
    MD5Update(&context, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    std::string text;
    md5ContextTo64(context, text);
    return text;
}

std::string MimeEmail::md5Digest(std::istream& in, int* count)
{
    MD5_CTX context;
    MD5Init(&context);
    char block[copyBlock];
    int total = 0;
    while (in) {
        in.read(block, copyBlock);
        const auto n = in.gcount();
        MD5Update(&context, reinterpret_cast<const uint8_t*>(block), static_cast<size_t>(n));
        total += static_cast<int>(n);
    }
    in.clear();
    in.seekg(0);
    if (count != nullptr)
        *count = total;
    std::string text;
    md5ContextTo64(context, text);
    return text;
}

int MimeEmail::md5ContextTo64(MD5_CTX& context, std::string& text)
{
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5Final(digest, &context);
    char encoded[encodedSize(MD5_DIGEST_LENGTH)];
    const int result = encode_base64(encoded, digest, MD5_DIGEST_LENGTH);
    if (result < 0)
        return result;
    text = encoded;
    return 0;
}

int MimeEmail::encode_base64(char* out, const unsigned char* in, int len)
{
    int written = 0;
    for (; len >= 3; len -= 3, in += 3) {
        out[written++] = base64_chars[in[0] >> 2];
        out[written++] = base64_chars[((in[0] & 0x03) << 4) | (in[1] >> 4)];
        out[written++] = base64_chars[((in[1] & 0x0f) << 2) | (in[2] >> 6)];
        out[written++] = base64_chars[in[2] & 0x3f];
    }
    if (len == 1) {
        out[written++] = base64_chars[in[0] >> 2];
        out[written++] = base64_chars[(in[0] & 0x03) << 4];
        out[written++] = '=';
        out[written++] = '=';
    } else if (len == 2) {
        out[written++] = base64_chars[in[0] >> 2];
        out[written++] = base64_chars[((in[0] & 0x03) << 4) | (in[1] >> 4)];
        out[written++] = base64_chars[(in[1] & 0x0f) << 2];
        out[written++] = '=';
    }
    out[written] = '\0';
    return written + 1;
}
