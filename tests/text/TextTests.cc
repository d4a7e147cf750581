#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/text/Base64.h"
#include "platform/text/JsonText.h"
#include "platform/text/Utf8.h"

using namespace orv::text;

TEST(Utf8, WellFormedOnly)
{
    for (const char* good :
        { "", "plain", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xf4\x8f\xbf\xbf", "\xc2\x80" })
        EXPECT_TRUE(isValidUtf8(good)) << good;
    for (const char* bad : { "\xff", "\x80", "\xc3", "\xe2\x82", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80",
             "\xf4\x90\x80\x80", "\xf5\x80\x80\x80", "a\xc3(" })
        EXPECT_FALSE(isValidUtf8(bad)) << bad;
    EXPECT_EQ(utf8SequenceLength("a\xe2\x82\xac", 1), 3u);
    EXPECT_EQ(utf8SequenceLength("a\xe2\x82", 1), 0u);
}

TEST(Base64, CanonicalOnly)
{
    for (const std::string& bytes : std::vector<std::string> { "", "a", "ab", "abc",
             "\xff\xfe"
             "12",
             std::string("\0\x80\0", 3) })
        EXPECT_EQ(base64Decode(base64Encode(bytes)), bytes);
    EXPECT_EQ(base64Encode("\xff\xfe"
                           "12"),
        "//4xMg==");
    for (const char* bad : { "gA=", "gB==", "gA=A", "====", "g!==", "Zm9vYg" })
        EXPECT_FALSE(base64Decode(bad)) << bad;
}

TEST(JsonText, StringWhenUtf8Base64Otherwise)
{
    EXPECT_EQ(toJsonText("fault.a:X12").dump(), R"("fault.a:X12")");
    EXPECT_EQ(toJsonText("\xff\xfe"
                         "12")
                  .dump(),
        R"({"base64":"//4xMg=="})");
    EXPECT_EQ(fromJsonText(nlohmann::json::parse(R"({"base64":"//4xMg=="})")),
        "\xff\xfe"
        "12");
    for (const char* bad : { "1", "null", R"({})", R"({"base64": "gA==", "b": 1})", R"({"base64": 1})" })
        EXPECT_THROW(fromJsonText(nlohmann::json::parse(bad)), std::invalid_argument) << bad;
}
