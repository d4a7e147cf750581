#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

#include "tests/email/LogCapture.h"
#include "cmd/kav/email/MimeEmail.h"
#include "cmd/kav/email/OutputFile.h"
#include "tests/support/TempDir.h"

using orv::email::OutputFile;
using orv::io::FdGuard;

namespace {

std::string bytes(size_t count)
{
    std::string data;
    for (size_t i = 0; i < count; ++i)
        data += static_cast<char>(i * 37 + 200);
    return data;
}

std::string digestOf(const std::string& data)
{
    std::istringstream in(data);
    return MimeEmail().md5Digest(in, nullptr);
}

// The message for a body "line\n" and the attachment at `path`.
std::string mimeFor(const std::string& path, int* result = nullptr)
{
    std::istringstream body("line\n");
    std::ostringstream out;
    int status = MimeEmail().constructMime("123456", path, out, body, "Subject: s\n", "From: k@h\n");
    if (result)
        *result = status;
    return out.str();
}

// The boundary the message declares.
std::string boundaryOf(const std::string& mail)
{
    const std::string key = "boundary=\"";
    const size_t at = mail.find(key);
    return at == std::string::npos ? ""
                                   : mail.substr(at + key.size(), mail.find('"', at + key.size()) - at - key.size());
}

// Everything from the MIME-Version line to the end of the body part.
std::string layout(const std::string& boundary, const std::string& body, const char* encoding = "7bit")
{
    return "MIME-Version: 1.0\nSubject: s\nFrom: k@h\nContent-Type: multipart/mixed; boundary=\"" + boundary
        + "\"\n\n--" + boundary + "\nContent-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: " + encoding
        + "\n\n" + body;
}

// The message without its Message-ID and Date lines, which differ per mail.
std::string withoutIdAndDate(const std::string& mail)
{
    const size_t at = mail.find("MIME-Version: ");
    return at == std::string::npos ? mail : mail.substr(at);
}

}

TEST(MimeEmail, Base64AndDigest)
{
    char out[16];
    MimeEmail mime;
    EXPECT_EQ(mime.encode_base64(out, reinterpret_cast<const unsigned char*>("abc"), 3), 5);
    EXPECT_STREQ(out, "YWJj");
    EXPECT_EQ(mime.encode_base64(out, reinterpret_cast<const unsigned char*>("\xff\xfe"), 2), 5);
    EXPECT_STREQ(out, "//4=");
    EXPECT_EQ(mime.encode_base64(out, reinterpret_cast<const unsigned char*>("a"), 1), 5);
    EXPECT_STREQ(out, "YQ==");
    EXPECT_EQ(mime.encode_base64(out, nullptr, 0), 1);

    // MD5 of no bytes is d41d8cd98f00b204e9800998ecf8427e.
    EXPECT_EQ(digestOf(""), "1B2M2Y8AsgTpgAmY7PhCfg==");
    std::istringstream in("abc");
    int count = -1;
    EXPECT_EQ(mime.md5Digest(in, &count), "kAFQmDzST7DWlj99KOF/cg==");
    EXPECT_EQ(count, 3);
    EXPECT_EQ(in.tellg(), 0) << "the stream is rewound for encoding";
}

TEST(MimeEmail, AttachmentLinesAndLayout)
{
    TempDir dir;
    for (size_t size : { 0, 54, 55, 100 }) {
        const std::string data = bytes(size);
        const std::string mail = mimeFor(dir.write("ev" + std::to_string(size), data));
        const std::string boundary = boundaryOf(mail);
        const std::string header = layout(boundary, "line\n");
        const std::string part = "\n--" + boundary + "\nContent-Type: application/octet-stream; name=\"ev"
            + std::to_string(size) + "\"\nContent-Transfer-Encoding: base64\nContent-Disposition: inline; filename=\"ev"
            + std::to_string(size) + "\"\nContent-MD5: " + digestOf(data) + "\n\n";
        const std::string rest = withoutIdAndDate(mail);
        ASSERT_EQ(rest.substr(0, header.size() + part.size()), header + part) << size;
        std::istringstream lines(rest.substr(header.size() + part.size()));
        std::vector<size_t> lengths;
        std::string last;
        for (std::string line; std::getline(lines, line) && !line.empty(); last = line)
            lengths.push_back(line.size());
        const std::map<size_t, std::vector<size_t>> expected
            = { { 0, {} }, { 54, { 72 } }, { 55, { 72, 4 } }, { 100, { 72, 64 } } };
        EXPECT_EQ(lengths, expected.at(size)) << size;
        EXPECT_EQ(last.ends_with("=="), size == 55 || size == 100) << size;
        EXPECT_TRUE(mail.ends_with("\n\n--" + boundary + "--\n")) << size;
    }

    std::istringstream body("b\n");
    std::ostringstream plain;
    EXPECT_EQ(MimeEmail().constructMime("000001", "", plain, body, "", "From: k\n"), 0);
    const std::string boundary = boundaryOf(plain.str());
    EXPECT_TRUE(boundary.starts_with("-000001-")) << boundary;
    EXPECT_EQ(withoutIdAndDate(plain.str()),
        "MIME-Version: 1.0\nFrom: k\nContent-Type: multipart/mixed; boundary=\"" + boundary + "\"\n\n--" + boundary
            + "\nContent-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 7bit\n\nb\n\n--" + boundary
            + "--\n");
    EXPECT_TRUE(plain.str().starts_with("Message-ID: <000001."));
}

// Large attachments are encoded many lines at a time; the lines must not
// change at the seams between those blocks.
TEST(MimeEmail, LargeAttachmentEncodesLikeOneBlock)
{
    TempDir dir;
    const std::string data = bytes(54 * 1000 + 55);
    const std::string mail = mimeFor(dir.write("big", data));
    std::vector<char> whole((data.size() + 2) / 3 * 4 + 1);
    MimeEmail().encode_base64(
        whole.data(), reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
    std::string expected;
    for (std::string_view text(whole.data()); !text.empty(); text.remove_prefix(std::min<size_t>(72, text.size())))
        expected.append(text.substr(0, 72)).append("\n");
    const size_t start = mail.find("Content-MD5: " + digestOf(data) + "\n\n");
    ASSERT_NE(start, std::string::npos);
    EXPECT_EQ(mail.substr(start + 39), expected + "\n--" + boundaryOf(mail) + "--\n");
}

// An event's mail is encoded from its bytes in memory; a large one has its
// digest worked out meanwhile and written into its line afterwards. The
// message must be the one the attachment file gives, byte for byte.
TEST(MimeEmail, AttachmentFromMemoryGivesTheFilesMessage)
{
    TempDir dir;
    for (size_t size : { size_t { 0 }, size_t { 55 }, size_t { (1 << 20) + 54 * 300 + 1 } }) {
        const std::string data = bytes(size);
        const std::string name = "ev" + std::to_string(size);
        const std::string path = dir.write(name, data);
        const std::string fromFile = withoutIdAndDate(mimeFor(path));
        const std::string outPath = dir.path("out" + name);
        OutputFile out(FdGuard(open(outPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)));
        std::istringstream body("line\n");
        ASSERT_EQ(MimeEmail().constructMime("123456", path, data, out, body, "Subject: s\n", "From: k@h\n"), 0);
        ASSERT_TRUE(out.close());
        std::string fromMemory = withoutIdAndDate(TempDir::read(outPath));
        // Only the boundaries, random per message, may differ.
        const std::string boundary = boundaryOf(fromMemory);
        ASSERT_FALSE(boundary.empty());
        for (size_t at = 0; (at = fromMemory.find(boundary, at)) != std::string::npos; at += boundary.size())
            fromMemory.replace(at, boundary.size(), boundaryOf(fromFile));
        EXPECT_TRUE(fromMemory == fromFile) << size;
        EXPECT_NE(fromMemory.find("Content-MD5: " + digestOf(data) + "\n"), std::string::npos) << size;
    }
}

TEST(MimeEmail, AttachmentNamesAndFailure)
{
    TempDir dir;
    dir.write("plain", "x");
    EXPECT_NE(mimeFor(dir.path("plain")).find("name=\"plain\""), std::string::npos);

    // A path ending in "/" names a directory: no plain file to attach.
    EXPECT_EQ(mimeFor(dir.path("")).find("filename="), std::string::npos);

    LogCapture log;
    int status = 0;
    const std::string mail = mimeFor(dir.path("absent"), &status);
    EXPECT_EQ(withoutIdAndDate(mail), layout(boundaryOf(mail), "line\n"));
    EXPECT_EQ(status, -1);
    EXPECT_NE(
        log.trace().find("Error in MimeEmail::constructMIME can't open file " + dir.path("absent")), std::string::npos);
    EXPECT_NE(log.platform().find("KAV_MIME_OPEN_ATTACHMENT"), std::string::npos);
}

// The attachment is read back under the scratch-file rule: whatever has
// taken the file's place (a link to another file, a file of another user)
// is not mailed out, and the failure is logged as for a missing file.
TEST(MimeEmail, AttachmentReadBackRefusesSwappedFiles)
{
    TempDir dir;
    const std::string secret = dir.write("secret", "not for mail");
    std::vector<std::string> swapped { dir.path("link") };
    std::filesystem::create_symlink(secret, swapped.back());
    if (geteuid() == 0) {
        swapped.push_back(dir.write("planted", "not for mail"));
        ASSERT_EQ(chown(swapped.back().c_str(), 65534, 65534), 0);
    }
    for (const std::string& path : swapped) {
        LogCapture log;
        int status = 0;
        const std::string mail = mimeFor(path, &status);
        EXPECT_EQ(status, -1) << path;
        EXPECT_EQ(mail.find("Content-MD5"), std::string::npos) << path;
        EXPECT_NE(log.trace().find("Error in MimeEmail::constructMIME can't open file " + path), std::string::npos);
        EXPECT_NE(log.platform().find("KAV_MIME_OPEN_ATTACHMENT"), std::string::npos) << path;
    }
    EXPECT_NE(mimeFor(secret).find("Content-MD5: " + digestOf("not for mail")), std::string::npos);
}

TEST(MimeEmail, HeadersThatNoEventCanBreak)
{
    EXPECT_EQ(MimeEmail::dateText(0), "Thu, 01 Jan 1970 00:00:00 +0000");
    EXPECT_EQ(MimeEmail::dateText(1700000000), "Tue, 14 Nov 2023 22:13:20 +0000");

    const std::string first = MimeEmail::messageId("123456");
    EXPECT_NE(first, MimeEmail::messageId("123456"));
    EXPECT_TRUE(first.starts_with("<123456.") && first.ends_with(">") && first.find('@') != std::string::npos) << first;

    // Boundaries start with the identifier and are never found in the body.
    const std::string boundary = MimeEmail::boundaryFor("123456", "---123456\n");
    EXPECT_TRUE(boundary.starts_with("-123456-")) << boundary;
    EXPECT_EQ(boundary.size(), 8u + 24u);
    EXPECT_NE(boundary, MimeEmail::boundaryFor("123456", ""));

    // Plain subjects stay; others become encoded words of at most 75
    // characters, one per folded line.
    EXPECT_EQ(MimeEmail::encodeSubject("Subject: plain\n"), "Subject: plain\n");
    EXPECT_EQ(MimeEmail::encodeSubject(""), "");
    EXPECT_EQ(MimeEmail::encodeSubject("Subject: \xc3\xa9\n"), "Subject: =?UTF-8?B?w6k=?=\n");
    std::string accents;
    for (int i = 0; i < 40; ++i)
        accents += "\xc3\xa9";
    const std::string folded = MimeEmail::encodeSubject("Subject: " + accents + "\n");
    // 45 bytes would split the 23rd "é": the first word takes 44.
    EXPECT_TRUE(
        folded.starts_with("Subject: =?UTF-8?B?w6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6k=?=\n "))
        << folded;
    std::istringstream lines(folded);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        const size_t word = line.find("=?UTF-8?B?");
        ASSERT_NE(word, std::string::npos) << line;
        EXPECT_LE(line.size() - word, 75u) << line;
    }
    EXPECT_EQ(count, 2);
    const std::string longAscii = "Subject: " + std::string(1200, 'x') + "\n";
    EXPECT_TRUE(MimeEmail::encodeSubject(longAscii).starts_with("Subject: =?UTF-8?B?eHh4"));
}

TEST(MimeEmail, BodyEncoding)
{
    EXPECT_TRUE(MimeEmail::sevenBit("plain\ttext\n" + std::string(998, 'x') + "\n"));
    for (const std::string& bad :
        { std::string("caf\xc3\xa9\n"), std::string("cr\r\n"), std::string("nul\0", 4), std::string(999, 'x') })
        EXPECT_FALSE(MimeEmail::sevenBit(bad)) << bad.size();

    EXPECT_EQ(MimeEmail::quotedPrintable("a=b \nt\tx\t\n\xc3\xa9\n"), "a=3Db=20\nt\tx=09\n=C3=A9\n");
    const std::string wrapped = MimeEmail::quotedPrintable(std::string(100, 'x'));
    EXPECT_EQ(wrapped, std::string(75, 'x') + "=\n" + std::string(25, 'x'));
    // An escape is never cut by a soft line break.
    const std::string escapes = MimeEmail::quotedPrintable(std::string(74, 'x') + "\xff\xff");
    EXPECT_EQ(escapes, std::string(74, 'x') + "=\n=FF=FF");

    std::istringstream body("caf\xc3\xa9\n");
    std::ostringstream out;
    ASSERT_EQ(MimeEmail().constructMime("123456", "", out, body, "Subject: s\n", "From: k@h\n"), 0);
    EXPECT_NE(withoutIdAndDate(out.str()).find(layout(boundaryOf(out.str()), "caf=C3=A9\n", "quoted-printable")),
        std::string::npos);
}
