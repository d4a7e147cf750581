#include "MimeEmail.h"

#include <algorithm>
#include <istream>
#include <ostream>
#include <vector>

#include "InputFile.h"
#include "LogStatement.h"
#include "MessageIds.h"

const char MimeEmail::base64_chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

namespace {

// Body and attachment are copied and digested in blocks of this size.
constexpr std::streamsize copyBlock = 1000;

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

}

int MimeEmail::constructMime(const std::string& id, const std::string& attachmentPath, std::ostream& out,
    std::istream& body, const std::string& subject, const std::string& from)
{
    writeHeader(out, id, subject, from);
    copy(body, out);
    if (!attachmentPath.empty() && writeAttachment(out, id, attachmentPath) != 0)
        return -1;
    endLine(out);
    out << "---" << id << "--";
    endLine(out);
    return 0;
}

void MimeEmail::writeHeader(std::ostream& out, const std::string& id, const std::string& subject,
    const std::string& from)
{
    out << "Message-ID: <" << id << ">";
    endLine(out);
    out << "MIME-Version: 1.0";
    endLine(out);
    out << subject << from << "Content-Type: multipart/mixed; boundary=\"-" << id << "\"";
    endLine(out);
    out << "---" << id;
    endLine(out);
    endLine(out);
}

int MimeEmail::writeAttachment(std::ostream& out, const std::string& id, const std::string& attachmentPath)
{
    // Read twice (digest, then encoding) through a large buffer.
    InputFile attachment(attachmentPath);
    if (!attachment.is_open()) {
        logStatement(2, LogDest::trace(), 0, "Error in MimeEmail::constructMIME can't open file %s\n", attachmentPath);
        logStatement(4, LogDest::platform(), KAV_MIME_OPEN_ATTACHMENT, attachmentPath);
        return -1;
    }
    const std::string name = fileName(attachmentPath);
    const std::string digest = md5Digest(attachment, nullptr);
    endLine(out);
    out << "---" << id;
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
    // A failure is logged there; the message is completed all the same.
    to64(attachment, out);
    return 0;
}

void MimeEmail::copy(std::istream& in, std::ostream& out)
{
    char block[copyBlock];
    while (in) {
        in.read(block, copyBlock);
        out.write(block, in.gcount());
    }
}

std::string MimeEmail::fileName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int MimeEmail::to64(std::istream& in, std::ostream& out)
{
    char block[lineBytes * blockLines];
    char lines[encodedSize(lineBytes) * blockLines];
    int written = 0;
    while (in) {
        in.read(block, sizeof block);
        const int n = static_cast<int>(in.gcount());
        int length = 0;
        for (int done = 0; done < n; done += lineBytes) {
            const int r = encode_base64(lines + length, reinterpret_cast<const unsigned char*>(block + done),
                std::min(lineBytes, n - done));
            if (r <= 0) {
                logStatement(2, LogDest::trace(), 0, "Error in to64() encoding string ret=<%d>\n", r);
                logStatement(4, LogDest::platform(), KAV_BASE64_ENCODE_ERROR, r);
                return 1;
            }
            lines[length + r - 1] = '\n';
            length += r;
        }
        if (length == 0)
            continue;
        out.write(lines, length);
        out.flush();
        if (!out) {
            logStatement(2, LogDest::trace(), 0, "Error in to64() writing file bytes written %d\n", written);
            logStatement(4, LogDest::platform(), KAV_BASE64_WRITE_ERROR, written, static_cast<int>(out.rdstate()));
            return 1;
        }
        written += length;
    }
    return 0;
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
