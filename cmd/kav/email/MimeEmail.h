// Writes one complete MIME message: the header lines, the edited template as
// a plain-text part and, optionally, the packed event as a base64 part with
// its MD5 digest (Content-MD5).
//
// Event fields reach the message through the template, so nothing in the
// body may be taken for the message's own structure: the boundary carries
// random characters and is checked to be absent from the body, and text that
// is not plain short-lined ASCII is sent quoted-printable as UTF-8.
#pragma once

#include <md5.h>

#include <ctime>
#include <future>
#include <iosfwd>
#include <string>
#include <string_view>

namespace orv::email {
class OutputFile;
}

class MimeEmail {
public:
    // The base64 alphabet, indexed by 6-bit value.
    static const char base64_chars[];

    // 0 when the message was written; -1 when the attachment cannot be
    // opened (the output then ends after the body). An empty attachment path
    // means no attachment part.
    int constructMime(const std::string& id, const std::string& attachmentPath, std::ostream& out, std::istream& body,
        const std::string& subject, const std::string& from);

    // The same with the attachment's bytes at hand: they are digested and
    // encoded from memory; `attachmentPath` only names the part. A large
    // attachment is digested on a second thread while its base64 text is
    // written, the digest going into its header line afterwards.
    int constructMime(const std::string& id, const std::string& attachmentPath, std::string_view attachmentBytes,
        orv::email::OutputFile& out, std::istream& body, const std::string& subject, const std::string& from);

    // The same with the digest of the bytes on its way (digestOf), so that
    // all the mails of one report share one.
    int constructMime(const std::string& id, const std::string& attachmentPath, std::string_view attachmentBytes,
        std::shared_future<std::string> digest, orv::email::OutputFile& out, std::istream& body,
        const std::string& subject, const std::string& from);

    // The base64 text of the MD5 digest of `bytes`: for a large attachment
    // worked out on another thread from now on, else once it is asked for.
    static std::shared_future<std::string> digestOf(std::string_view bytes);

    // Encodes `bytes` as to64 does, whole blocks of lines at a time; 0, or 1
    // after a failure (logged).
    int to64(std::string_view bytes, std::ostream& out);

    // The base64 text of the MD5 digest of `bytes`.
    std::string md5Digest(std::string_view bytes);

    // Encodes `in` to its end, one line per 54 input bytes; 0, or 1 after a
    // failure (logged).
    int to64(std::istream& in, std::ostream& out);

    // The base64 text of the MD5 digest of `in` to its end; `count` (when
    // given) receives the number of bytes digested. `in` is rewound.
    std::string md5Digest(std::istream& in, int* count);

    // Finalises `context` and sets `text` to the digest in base64; 0 or the
    // encoder's negative result.
    int md5ContextTo64(MD5_CTX& context, std::string& text);

    // Encodes `len` bytes into `out` (NUL-terminated, no line breaks) and
    // returns the number of characters written plus one. `out` needs room
    // for 4 characters per started group of 3 bytes, plus one.
    int encode_base64(char* out, const unsigned char* in, int len);

    // "-", the identifier, "-" and random letters and digits, found nowhere
    // in `text`.
    static std::string boundaryFor(const std::string& id, const std::string& text);

    // "<ID.unique@host>": never the same twice, in this or any other process.
    static std::string messageId(const std::string& id);

    // The date in the form mail headers use, in UTC.
    static std::string dateText(time_t when);

    // The subject header line (ending in "\n") as it may stand in a message:
    // unchanged when it is printable ASCII of a header line's length, else
    // its text as UTF-8 encoded words on folded lines.
    static std::string encodeSubject(const std::string& subjectLine);

    // Text that may go as it is (7bit): ASCII without NUL or CR, no line
    // longer than 998 bytes.
    static bool sevenBit(const std::string& text);

    // The quoted-printable form of `text`; "\n" stays a line break.
    static std::string quotedPrintable(const std::string& text);

private:
    void writeHeader(std::ostream& out, const std::string& id, const std::string& boundary, const std::string& subject,
        const std::string& from);
    // Everything up to the end of the body; the boundary, chosen against it.
    std::string writeTextPart(const std::string& id, std::ostream& out, std::istream& body, const std::string& subject,
        const std::string& from);
    int writeAttachment(std::ostream& out, const std::string& boundary, const std::string& attachmentPath);
    void writeAttachmentHeader(
        std::ostream& out, const std::string& boundary, const std::string& name, const std::string& digest);
    static void writeEnd(std::ostream& out, const std::string& boundary);

    static std::string fileName(const std::string& path);
};
