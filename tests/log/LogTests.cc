#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/log/LogLine.h"
#include "tests/support/TempDir.h"
#include "platform/log/LogStatement.h"

using orv::log::escapeControlCharacters;
using orv::log::LogLine;
using orv::log::MAX_VALUE_BYTES;

namespace fs = std::filesystem;

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = m_temp.path("logs");
        setenv("ORV_LOG_DIR", m_dir.c_str(), 1);
        setenv("ORV_LOG_LEVEL", "0", 1);
        reopenLogFiles();
        setProgramTag("kavtest");
    }
    std::vector<std::string> lines(const std::string& file) const
    {
        std::ifstream in(m_dir + "/" + file);
        std::vector<std::string> result;
        for (std::string line; std::getline(in, line);)
            result.push_back(line);
        return result;
    }

    static std::string textOf(const std::string& line)
    {
        // Everything after "<file>:<line> ".
        static const std::regex prefix(R"(^\S+ \S+\[\d+\] L\d+ \S+:\d+ )");
        return std::regex_replace(line, prefix, "", std::regex_constants::format_first_only);
    }

    TempDir m_temp;
    std::string m_dir;
};

TEST_F(LogTest, LineFormatCatalogueAndEventMessages)
{
    logStatement(4, LogDest::platform(), KAV_FAILED_REPORTING_ATTEMPT, std::string("fault.a.b"), "message");
    int expectedLine = __LINE__ - 1;
    auto platform = lines("platform.log");
    ASSERT_EQ(platform.size(), 1u);
    std::regex shape(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z kavtest\[(\d+)\] L4 LogTests\.cc:(\d+) (.*)$)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(platform[0], m, shape)) << platform[0];
    EXPECT_EQ(std::stoi(m[1]), getpid());
    EXPECT_EQ(std::stoi(m[2]), expectedLine);
    EXPECT_EQ(m[3].str().rfind("KAV_FAILED_REPORTING_ATTEMPT: ", 0), 0u);
    EXPECT_NE(m[3].str().find("fault.a.b"), std::string::npos);
    EXPECT_NE(m[3].str().find("message"), std::string::npos);

    // An event message number without a catalogue entry: its non-empty
    // arguments, joined by single blanks.
    std::string a[20];
    a[0] = "CPU0";
    a[2] = "X12";
    logStatement(5, LogDest::platform(), EventMessageNumber { 987654 }, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7],
        a[8], a[9], a[10], a[11], a[12], a[13], a[14], a[15], a[16], a[17], a[18], a[19]);
    platform = lines("platform.log");
    ASSERT_EQ(platform.size(), 2u);
    EXPECT_EQ(textOf(platform[1]), "MSG987654: CPU0 X12");
}

TEST(LogLineTest, EveryFieldIsWrittenExactly)
{
    const LogLine late { { 1700000000, 999999 }, "kav", 4242, 3, "Some.cc", 77 };
    EXPECT_EQ(late.format("text \xc3\xa9\n"), "2023-11-14T22:13:20.999Z kav[4242] L3 Some.cc:77 text \xc3\xa9\n");
    // The same thread a second later, and back: the stamp follows the time.
    const LogLine next { { 1700000001, 5000 }, "kav", 1, 0, "A.cc", 1 };
    EXPECT_EQ(next.format("x"), "2023-11-14T22:13:21.005Z kav[1] L0 A.cc:1 x\n");
    const LogLine early { { 86399, 0 }, "t", 7, 10, "B.cc", 100000 };
    EXPECT_EQ(early.format(""), "1970-01-01T23:59:59.000Z t[7] L10 B.cc:100000 \n");
}

TEST_F(LogTest, TraceLinesDropTrailingNewlineAndEscapeControls)
{
    logStatement(2, LogDest::trace(), "rc = <%d>\n", 7);
    logStatement(2, LogDest::trace(), "value %s", "a\nforged L4 line\tx\x01");
    auto trace = lines("trace.log");
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(textOf(trace[0]), "rc = <7>");
    EXPECT_EQ(textOf(trace[1]), "value a\\nforged L4 line\\tx\\x01");
    EXPECT_EQ(escapeControlCharacters("\r\x7f"), "\\r\\x7f");
}

TEST_F(LogTest, LevelThreshold)
{
    setenv("ORV_LOG_LEVEL", "3", 1);
    reopenLogFiles();
    EXPECT_FALSE(logThisLevel(2));
    EXPECT_TRUE(logThisLevel(3));
    logStatement(2, LogDest::trace(), "filtered");
    logStatement(4, LogDest::trace(), "kept");
    auto trace = lines("trace.log");
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(textOf(trace[0]), "kept");

    unsetenv("ORV_LOG_LEVEL");
    reopenLogFiles();
    EXPECT_FALSE(logThisLevel(1));
    EXPECT_TRUE(logThisLevel(2));
}

TEST_F(LogTest, DestinationsArePerThreadAndSticky)
{
    setPlatformType();
    std::thread other([] {
        // A fresh thread starts on the trace log, whatever this thread chose.
        logStatement(2, LogDest::current(), "other thread");
        logStatement(2, LogDest::domain(17), "domain R");
    });
    other.join();
    logStatement(2, LogDest::current(), "still platform");
    logStatement(2, LogDest::domain(0), "domain A");
    logStatement(2, LogDest::current(), "domain A again");
    logStatement(2, LogDest::domain(18), "no such domain");

    EXPECT_EQ(lines("trace.log").size(), 1u);
    EXPECT_EQ(lines("platform.log").size(), 1u);
    EXPECT_EQ(lines("domain-R.log").size(), 1u);
    EXPECT_EQ(lines("domain-A.log").size(), 2u);
    for (const auto& entry : fs::directory_iterator(m_dir))
        EXPECT_NE(entry.path().filename(), "domain-S.log");
}

TEST_F(LogTest, ConcurrentLinesNeverInterleave)
{
    constexpr int threads = 8;
    constexpr int perThread = 300;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t] {
            std::string payload(200, char('a' + t));
            for (int i = 0; i < perThread; ++i)
                logStatement(2, LogDest::platform(), "%d %s", t, payload);
        });
    }
    for (auto& worker : workers)
        worker.join();
    auto platform = lines("platform.log");
    ASSERT_EQ(platform.size(), size_t(threads * perThread));
    for (const auto& line : platform) {
        std::string text = textOf(line);
        ASSERT_EQ(text.size(), 202u) << line;
        EXPECT_EQ(text.substr(2), std::string(200, char('a' + (text[0] - '0'))));
    }
}

// Lines are written outside the logging lock, so a reopen (SIGHUP) can
// close the files while other threads are writing to them: no line may be
// lost, cut or sent to a descriptor that has meanwhile become another file.
TEST_F(LogTest, ReopeningWhileOthersWriteLosesNoLine)
{
    constexpr int threads = 4;
    constexpr int perThread = 500;
    std::atomic<bool> writing { true };
    std::thread reopener([&] {
        while (writing)
            reopenLogFiles();
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i)
                logStatement(2, t % 2 ? LogDest::platform() : LogDest::domain(t), "%d line %d", t, i);
        });
    for (auto& worker : workers)
        worker.join();
    writing = false;
    reopener.join();
    for (int t = 0; t < threads; ++t) {
        auto written = lines(t % 2 ? "platform.log" : std::string("domain-") + char('A' + t) + ".log");
        int count = 0;
        for (const auto& line : written)
            count += textOf(line).starts_with(std::to_string(t) + " line ");
        EXPECT_EQ(count, perThread) << "thread " << t;
    }
}

TEST_F(LogTest, UnwritableOrRemovedFilesNeverStopTheCaller)
{
    logStatement(2, LogDest::trace(), "first");
    fs::remove(m_dir + "/trace.log");
    sleep(1); // the name is rechecked at most once a second
    logStatement(2, LogDest::trace(), "after removal");
    auto trace = lines("trace.log");
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(textOf(trace[0]), "after removal");

    setenv("ORV_LOG_DIR", "/nonexistent/kav/logs", 1);
    reopenLogFiles();
    logStatement(4, LogDest::platform(), KAV_INIT_EVENTDB_FAILED);
    EXPECT_TRUE(pthread_mutex_trylock(&msgPartsMutex) == 0);
    pthread_mutex_unlock(&msgPartsMutex);
}

// What one argument adds to a line is bounded; the marker gives its length,
// and the cut never splits a character.
TEST_F(LogTest, LongValuesAreCutAndMarkedWithTheirLength)
{
    const std::string exact(MAX_VALUE_BYTES, 'x');
    std::string accented = "a";
    for (int i = 0; i < 1000; ++i)
        accented += "\xc3\xa9";
    logStatement(2, LogDest::trace(), "%s|%s|%s", exact, std::string(5000, 'y'), accented.c_str());
    logStatement(4, LogDest::platform(), KAV_UNKNOWN_EVENT_CLASS, std::string(3000, 'z'));

    auto trace = lines("trace.log");
    ASSERT_EQ(trace.size(), 1u);
    std::string expected = exact + "|" + std::string(MAX_VALUE_BYTES, 'y') + "[... 5000 bytes]|a";
    for (int i = 0; i < 511; ++i)
        expected += "\xc3\xa9";
    EXPECT_EQ(textOf(trace[0]), expected + "[... 2001 bytes]");
    auto platform = lines("platform.log");
    ASSERT_EQ(platform.size(), 1u);
    EXPECT_EQ(textOf(platform[0]),
        "KAV_UNKNOWN_EVENT_CLASS: Event class " + std::string(MAX_VALUE_BYTES, 'z')
            + "[... 3000 bytes] is not in the event database.");
}

// The library remembers the pid rather than asking for it on every line.
TEST_F(LogTest, ForkedChildLinesCarryTheChildsPid)
{
    logStatement(2, LogDest::trace(), "parent");
    pid_t child = fork();
    if (child == 0) {
        logStatement(2, LogDest::trace(), "child");
        _exit(0);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    logStatement(2, LogDest::trace(), "parent again");
    auto trace = lines("trace.log");
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_NE(trace[0].find("[" + std::to_string(getpid()) + "]"), std::string::npos) << trace[0];
    EXPECT_NE(trace[1].find("[" + std::to_string(child) + "]"), std::string::npos) << trace[1];
    EXPECT_NE(trace[2].find("[" + std::to_string(getpid()) + "]"), std::string::npos) << trace[2];
}

}

TEST_F(LogTest, BytesThatAreNotUtf8AreEscaped)
{
    EXPECT_EQ(escapeControlCharacters("caf\xc3\xa9 \xe2\x82\xac \xff\xfe"
                                      "12 \xe2\x82 \xc0\xaf \xed\xa0\x80 \xc2\x9b"),
        "caf\xc3\xa9 \xe2\x82\xac \\xff\\xfe12 \\xe2\\x82 \\xc0\\xaf \\xed\\xa0\\x80 \\xc2\\x9b");
}
