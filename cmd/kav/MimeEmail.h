// Writes one complete MIME message: the header lines, the edited template as
// a plain-text part and, optionally, the packed event as a base64 part with
// its MD5 digest (Content-MD5).
#pragma once

#include <md5.h>

#include <iosfwd>
#include <string>

class MimeEmail {
public:
    // The base64 alphabet, indexed by 6-bit value.
    static const char base64_chars[];

    // 0 when the message was written; -1 when the attachment cannot be
    // opened (the output then ends after the body). An empty attachment path
    // means no attachment part.
    int constructMime(const std::string& id, const std::string& attachmentPath, std::ostream& out,
        std::istream& body, const std::string& subject, const std::string& from);

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

private:
    void writeHeader(std::ostream& out, const std::string& id, const std::string& subject, const std::string& from);
    int writeAttachment(std::ostream& out, const std::string& id, const std::string& attachmentPath);
    static void copy(std::istream& in, std::ostream& out);
    static std::string fileName(const std::string& path);
};
