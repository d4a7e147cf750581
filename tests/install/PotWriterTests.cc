// The gettext template must be one that the translators' tools accept:
// every text exactly once, correctly escaped, flagged when it is a format.
#include <gtest/gtest.h>

#include <sstream>

#include "packaging/potgen/PotWriter.h"

namespace {

std::string written(const PotWriter& pot)
{
    std::ostringstream out;
    pot.write(out);
    return out.str();
}

}

TEST(PotWriter, QuotesTextsAsPoStrings)
{
    EXPECT_EQ(PotWriter::quote("plain"), "\"plain\"");
    EXPECT_EQ(PotWriter::quote("Bad line \"%s\" in C:\\x"), "\"Bad line \\\"%s\\\" in C:\\\\x\"");
    EXPECT_EQ(PotWriter::quote("a\nb\tc"), "\"a\\nb\\tc\"");
    EXPECT_EQ(PotWriter::quote(std::string("bell\a", 5)), "\"bell\\007\"");
    EXPECT_EQ(PotWriter::quote("caf\xc3\xa9"), "\"caf\xc3\xa9\""); // UTF-8 passes as it is
}

TEST(PotWriter, WritesEachTextOnceWithItsNamesAndFormatFlag)
{
    PotWriter pot("9.9");
    pot.add("FIRST", "Out of memory while allocating %s.");
    pot.add("PLAIN", "Nothing to fill in, 100%% sure.");
    pot.add("SECOND", "Out of memory while allocating %s.");
    std::string text = written(pot);

    EXPECT_EQ(text.rfind("# ", 0), 0u);
    EXPECT_NE(text.find("\"Project-Id-Version: kav 9.9\\n\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"Content-Type: text/plain; charset=UTF-8\\n\"\n"), std::string::npos);
    EXPECT_NE(text.find("\n#. FIRST\n#. SECOND\n#, c-format\nmsgid \"Out of memory while allocating %s.\"\n"
                        "msgstr \"\"\n"),
        std::string::npos)
        << text;
    EXPECT_EQ(text.find("msgid \"Out of memory"), text.rfind("msgid \"Out of memory"));
    // "%%" is a literal percent sign, not a conversion.
    EXPECT_NE(text.find("\n#. PLAIN\nmsgid \"Nothing to fill in, 100%% sure.\"\n"), std::string::npos) << text;
    EXPECT_LT(text.find("#. FIRST"), text.find("#. PLAIN"));
}
