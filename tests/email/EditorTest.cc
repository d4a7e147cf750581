#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "cmd/kav/email/EdString.h"
#include "cmd/kav/email/RegexCache.h"

using List = std::vector<std::string>;
using orv::email::RegexCache;

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

TEST(EdString, ReplacementsAreNotSearchedAgainByTheirPattern)
{
    // A value holding its own tag goes in once; later patterns still apply.
    EdString editor;
    ASSERT_EQ(editor.init(List { "<A>", "!" }, List { "<A>!<A>", "?" }), 0);
    std::string text = "<A>.<A>";
    EXPECT_EQ(editor.changeString(text), 0);
    EXPECT_EQ(text, "<A>?<A>.<A>?<A>");
    EXPECT_FALSE(editor.limitReached());
    EdString empty;
    ASSERT_EQ(empty.init("x*", "-"), 0);
    text = "axxb";
    EXPECT_EQ(empty.changeString(text), 0);
    EXPECT_EQ(text, "-a-b-");
    EdString anchored;
    ASSERT_EQ(anchored.init("^a", "b"), 0);
    text = "aaa";
    EXPECT_EQ(anchored.changeString(text), 0);
    EXPECT_EQ(text, "baa");
}

TEST(EdString, GrowthStopsAtTheBudget)
{
    EdString editor;
    ASSERT_EQ(editor.init(List { "<A>", "<B>" }, List { "12345", "" }), 0);
    std::string text = "<A><A><A><B>";
    long long budget = 5;
    EXPECT_EQ(editor.changeString(text, budget), 0);
    // Two grow by 2 each; the third would pass the budget and stays; a
    // shrinking replacement still goes in and gives its bytes back.
    EXPECT_EQ(text, "1234512345<A>");
    EXPECT_EQ(budget, 4);
    EXPECT_TRUE(editor.limitReached());
}

TEST(EdString, PiecesGoInWholeAndCountTogetherAgainstTheBudget)
{
    // Replacements given by value and by reference in one editor, the
    // by-value ones surviving further additions.
    std::string item = "cpu0";
    EdString editor;
    ASSERT_EQ(editor.init(List { "<A>" }, List { "a" }), 0);
    ASSERT_EQ(editor.refer(List { "<L>", "<E>" }, { { item, "\n", "dimm3", "\n" }, {} }), 0);
    ASSERT_EQ(editor.init(List { "<B>" }, List { std::string(40, 'b') }), 0);
    std::string text = "<A>:<L><E>|<L>";
    long long budget = 24;
    EXPECT_EQ(editor.changeString(text, budget), 0);
    // Each list adds 8 bytes; "<A>" and "<E>" give 2 and 3 back.
    EXPECT_EQ(text, "a:cpu0\ndimm3\n|cpu0\ndimm3\n");
    EXPECT_EQ(budget, 24 + 2 - 8 - 8 + 3);
    // 13 left: one more list fits, the next stays as written.
    text = "<L><L><L>";
    EXPECT_EQ(editor.changeString(text, budget), 0);
    EXPECT_EQ(text, "cpu0\ndimm3\n<L><L>");
    EXPECT_TRUE(editor.limitReached());
    text = "<B>";
    EXPECT_EQ(editor.changeString(text), 0);
    EXPECT_EQ(text, std::string(40, 'b'));
    EXPECT_EQ(editor.refer(List { "<X>" }, {}), -1);
}

TEST(EdString, FailedInitLeavesTextsAlone)
{
    // "(" fails after "a" compiled: the sanitizer build checks its release.
    for (auto [patterns, values] :
        std::vector<std::pair<List, List>> { { { "a", "b" }, { "x" } }, { { "a", "(" }, { "x", "y" } } }) {
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
             "(x{101}){100}", "((a{,30}){,30}){,30}", "(a{,101}){,100}", "((a{2,}){100}){100}",
             // Long chains of optional copies, and anchors under a repetition,
             // take the compiler seconds to minutes however few the copies.
             "a{,9999}", "(a?){300}", "x?{300}", "((\\<|\\>|^|$)*){2}", "fault((\\b)*){13}", "(^a)+" }) {
        EdString editor;
        EXPECT_EQ(editor.init(pattern, ""), -1) << pattern;
        EXPECT_EQ(editor.patmatch("fault", 0), -1) << pattern;
    }
    // Ordinary patterns pass; a bracket expression is one character whatever it holds.
    for (const char* pattern : { "^fault\\.(cpu|memory)\\.", "[A-R]{1,18}", "(x{100}){100}", "[]{]{9}", "[[:alpha:]+]+",
             "a{,18}", "(ab){,}c", "[\\1]x", "a{,255}", "\\bcpu\\b", "(^|\\.)cpu$" }) {
        EdString editor;
        EXPECT_EQ(editor.init(pattern, ""), 0) << pattern;
    }
}

TEST(EdString, RefusesBackReferences)
{
    // Matching with them is exponential in the text, whatever the size.
    for (const char* pattern : { "(a)\\1", "^(a*)*\\1$", "(x)(y)\\2" }) {
        EdString editor;
        EXPECT_EQ(editor.init(pattern, ""), -1) << pattern;
    }
    EdString escaped;
    EXPECT_EQ(escaped.init("a\\.b\\\\1", ""), 0) << "an escaped backslash before a digit";
}

TEST(EdString, CommentTestSaysWhatTheCommentPatternSays)
{
    EdString comment;
    ASSERT_EQ(comment.init(EdString::COMMENT_PATTERN, ""), 0);
    for (const std::string& line : List { "", "#", "# note", "#\t", " ", "\t \n", "\n\n", " #", "\t#x", "a", " a ",
             "\r", "\v", "\f", " \r", "x#", std::string("\0x", 2), std::string(" \0x", 3), std::string("a\0", 2) }) {
        EXPECT_EQ(EdString::isCommentLine(line), comment.patmatch(line, 0) == 0) << "line <" << line << ">";
    }
}

TEST(RegexCache, StaysBoundedAndHeldExpressionsOutliveEviction)
{
    RegexCache::Expression held = RegexCache::compile("^held[0-9]+$");
    ASSERT_TRUE(held);
    EXPECT_EQ(RegexCache::compile("^held[0-9]+$"), held);
    EXPECT_EQ(RegexCache::compile("("), nullptr);
    EXPECT_EQ(RegexCache::compile("(a)\\1"), nullptr);
    for (size_t i = 0; i < 2 * RegexCache::CAPACITY; ++i) {
        EXPECT_TRUE(RegexCache::compile("^p" + std::to_string(i) + "$"));
        EXPECT_LE(RegexCache::size(), RegexCache::CAPACITY);
    }
    // Dropped from the cache while held: still usable, and freed only once.
    EXPECT_EQ(regexec(held.get(), "held42", 0, nullptr, 0), 0);
    EXPECT_NE(regexec(held.get(), "held", 0, nullptr, 0), 0);
}

TEST(RegexCache, EditorsShareExpressionsAcrossThreads)
{
    // Each thread's editors take the same patterns, compiled once and
    // matched at the same time; the thread sanitizer build checks it.
    std::vector<std::thread> threads;
    std::atomic<int> wrong { 0 };
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&wrong, t] {
            for (int i = 0; i < 200; ++i) {
                EdString editor;
                if (editor.init({ "<TAG>", "c[a-z]+" }, { "v" + std::to_string(t), "C" }) != 0) {
                    ++wrong;
                    continue;
                }
                std::string text = "<TAG> cpu <TAG>";
                editor.changeString(text);
                if (text != "v" + std::to_string(t) + " C v" + std::to_string(t))
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
}

TEST(EdString, PlainTagsAndExpressionsMatchAlike)
{
    // Tags are searched as bytes first; a pattern with any meaningful
    // character is still only an expression, and UTF-8 around a tag does
    // not hide it.
    EdString editor;
    ASSERT_EQ(editor.init(List { "a.c", "<T>", "x{2}", "\\(" }, List { "1", "2", "3", "4" }), 0);
    std::string text = "abc a.c \xc3\xa9<T>\xc3\xa9<T> x{2} xx (";
    EXPECT_EQ(editor.changeString(text), 0);
    EXPECT_EQ(text,
        "1 1 \xc3\xa9"
        "2\xc3\xa9"
        "2 x{2} 3 4");
}
