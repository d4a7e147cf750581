#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "LogCapture.h"
#include "MimeEmail.h"
#include "TempDir.h"

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

const std::string header = "Message-ID: <123456>\nMIME-Version: 1.0\nSubject: s\nFrom: k@h\n"
                           "Content-Type: multipart/mixed; boundary=\"-123456\"\n---123456\n\nline\n";

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
        std::string mail = mimeFor(dir.write("ev" + std::to_string(size), data));
        const std::string part = "\n---123456\nContent-Type: application/octet-stream; name=\"ev" + std::to_string(size)
            + "\"\nContent-Transfer-Encoding: base64\nContent-Disposition: inline; filename=\"ev"
            + std::to_string(size) + "\"\nContent-MD5: " + digestOf(data) + "\n\n";
        ASSERT_EQ(mail.substr(0, header.size() + part.size()), header + part) << size;
        std::istringstream lines(mail.substr(header.size() + part.size()));
        std::vector<size_t> lengths;
        std::string last;
        for (std::string line; std::getline(lines, line) && !line.empty(); last = line)
            lengths.push_back(line.size());
        const std::map<size_t, std::vector<size_t>> expected = { { 0, {} }, { 54, { 72 } }, { 55, { 72, 4 } },
            { 100, { 72, 64 } } };
        EXPECT_EQ(lengths, expected.at(size)) << size;
        EXPECT_EQ(last.ends_with("=="), size == 55 || size == 100) << size;
        EXPECT_TRUE(mail.ends_with("\n\n---123456--\n")) << size;
    }

    std::istringstream body("b\n");
    std::ostringstream plain;
    EXPECT_EQ(MimeEmail().constructMime("000001", "", plain, body, "", "From: k\n"), 0);
    EXPECT_EQ(plain.str(),
        "Message-ID: <000001>\nMIME-Version: 1.0\nFrom: k\n"
        "Content-Type: multipart/mixed; boundary=\"-000001\"\n---000001\n\nb\n\n---000001--\n");
}

// Large attachments are encoded many lines at a time; the lines must not
// change at the seams between those blocks.
TEST(MimeEmail, LargeAttachmentEncodesLikeOneBlock)
{
    TempDir dir;
    const std::string data = bytes(54 * 1000 + 55);
    const std::string mail = mimeFor(dir.write("big", data));
    std::vector<char> whole((data.size() + 2) / 3 * 4 + 1);
    MimeEmail().encode_base64(whole.data(), reinterpret_cast<const unsigned char*>(data.data()),
        static_cast<int>(data.size()));
    std::string expected;
    for (std::string_view text(whole.data()); !text.empty(); text.remove_prefix(std::min<size_t>(72, text.size())))
        expected.append(text.substr(0, 72)).append("\n");
    const size_t start = mail.find("Content-MD5: " + digestOf(data) + "\n\n");
    ASSERT_NE(start, std::string::npos);
    EXPECT_EQ(mail.substr(start + 39), expected + "\n---123456--\n");
}

TEST(MimeEmail, AttachmentNamesAndFailure)
{
    TempDir dir;
    dir.write("plain", "x");
    EXPECT_NE(mimeFor(dir.path("plain")).find("name=\"plain\""), std::string::npos);

    EXPECT_NE(mimeFor(dir.path("")).find("filename=\"\"\n"), std::string::npos);

    LogCapture log;
    int status = 0;
    EXPECT_EQ(mimeFor(dir.path("absent"), &status), header);
    EXPECT_EQ(status, -1);
    EXPECT_NE(log.trace().find("Error in MimeEmail::constructMIME can't open file " + dir.path("absent")),
        std::string::npos);
    EXPECT_NE(log.platform().find("KAV_MIME_OPEN_ATTACHMENT"), std::string::npos);
}
