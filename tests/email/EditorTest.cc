#include <gtest/gtest.h>

#include <algorithm>

#include "EdString.h"

using List = std::vector<std::string>;

TEST(EdString, ReplacesEveryOccurrenceAndMatchesAnywhere)
{
    EdString editor;
    ASSERT_EQ(editor.init(List { "<A>", "<B>" }, List { "1", "two" }), 0);
    std::string text = "<A>-<B>-<A>";
    EXPECT_EQ(editor.changeString(text), 0);
    EXPECT_EQ(text, "1-two-1");
    EdString word;
    ASSERT_EQ(word.init("core", ""), 0);
    EXPECT_EQ(word.patmatch("fault.cpu.core.ce", 0), 0);
    EXPECT_EQ(word.patmatch("fault.cpu", 0), -1);
    EXPECT_EQ(word.patmatch("fault.cpu.core", 1), -1);
}

TEST(EdString, GuardEndsSelfFeedingReplacements)
{
    // 2n+2 insertions on a 3-character line; the later pattern is skipped.
    EdString editor;
    ASSERT_EQ(editor.init(List { "<A>", "!" }, List { "<A>!", "?" }), 0);
    std::string text = "<A>";
    EXPECT_EQ(editor.changeString(text), -1);
    EXPECT_EQ(text, "<A>!!!!!!!!");
    EdString empty;
    ASSERT_EQ(empty.init("x*", "-"), 0);
    text = "ab";
    EXPECT_EQ(empty.changeString(text), -1);
    EXPECT_EQ(std::count(text.begin(), text.end(), '-'), 6);
}

TEST(EdString, FailedInitLeavesTextsAlone)
{
    // "(" fails after "a" compiled: the sanitizer build checks its release.
    for (auto [patterns, values] : std::vector<std::pair<List, List>> { { { "a", "b" }, { "x" } }, { { "a", "(" }, { "x", "y" } } }) {
        EdString editor;
        EXPECT_EQ(editor.init(patterns, values), -1);
        std::string text = "ab";
        EXPECT_EQ(editor.changeString(text), -1);
        EXPECT_EQ(text, "ab");
        EXPECT_EQ(editor.patmatch("a", 0), -1);
    }
}

TEST(EdString, RefusesPatternsThatWouldCompileHuge)
{
    // Each repetition copies its operand, so these would take gigabytes.
    for (const char* pattern : { "fault++++++++++++++++++++++++++++++++++++++++", "((a{255}){255}){255}",
             "(x{101}){100}" }) {
        EdString editor;
        EXPECT_EQ(editor.init(pattern, ""), -1) << pattern;
        EXPECT_EQ(editor.patmatch("fault", 0), -1) << pattern;
    }
    // Ordinary patterns pass; a bracket expression is one character whatever it holds.
    for (const char* pattern : { "^fault\\.(cpu|memory)\\.", "[A-R]{1,18}", "(x{100}){100}", "[]{]{9}",
             "[[:alpha:]+]+" }) {
        EdString editor;
        EXPECT_EQ(editor.init(pattern, ""), 0) << pattern;
    }
}
