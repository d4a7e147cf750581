// Eight callers post a long stream of events of mixed classes that ask for
// all four channels; nothing may be lost, doubled or left behind, and the
// daemon's memory must not grow with the stream.
//
// KAV_STRESS_EVENTS sets the number of events (default 20000); the
// sanitizer pass runs a shorter stream.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/e2e/SandboxEvents.h"

using namespace sandbox;
using orv::framework::DoorClient;
using orv::framework::DoorReply;

namespace {

constexpr int posters = 8;
const std::vector<std::string> classes = { "stress.alarm", "stress.event", "stress.minor" };

json entry(int reportingType, int severity)
{
    return sampleEntry({ "message", "orvEvent", "remote", "email" }, severity, reportingType, "stress");
}

std::vector<char> packed(int number)
{
    const std::string& eventClass = classes[static_cast<size_t>(number) % classes.size()];
    return packEvent(
        sampleEvent(eventClass, "S" + std::to_string(number), 1700000000 + number, number % 2 ? "AC" : "B"));
}

int streamLength()
{
    const char* text = std::getenv("KAV_STRESS_EVENTS");
    return text && std::atoi(text) > 0 ? std::atoi(text) : 20000;
}

// How often each event number shows in `lines` through `pattern`'s first group.
std::map<int, int> tally(const std::vector<std::string>& lines, const std::regex& pattern)
{
    std::map<int, int> seen;
    for (const std::string& line : lines) {
        std::smatch match;
        if (std::regex_search(line, match, pattern))
            ++seen[std::stoi(match[1])];
    }
    return seen;
}

// Event numbers in [0, count) not seen exactly once, for the failure message.
std::string misses(const std::map<int, int>& seen, int count)
{
    std::string list;
    for (int i = 0; i < count && list.size() < 200; ++i) {
        auto found = seen.find(i);
        int times = found == seen.end() ? 0 : found->second;
        if (times != 1)
            list += " S" + std::to_string(i) + "x" + std::to_string(times);
    }
    return list;
}

class StressTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_box.writeEventDB(
            json { { classes[0], entry(0, 5) }, { classes[1], entry(1, 3) }, { classes[2], entry(0, 6) } }.dump());
        m_box.writeFile(config + "templates/s.tpl", "Subject: <EVENT_CLASS> <EVENT_CODE>\ncode=<EVENT_CODE>;\n");
        m_box.writeFile(config + "scripts/spool_copy", "#!/bin/sh\nexec cp \"$1\" " + spool + "/\n", 0755);
        m_box.writeFile(
            config + "event_email.cf", "^stress\\. .* s.tpl kav@sc0.example N ops@example.com spool_copy\n");
        fs::create_directories(m_box.hostPath(spool));
        ASSERT_TRUE(m_box.startSink());
        ASSERT_TRUE(m_box.startProxy());
        ASSERT_TRUE(m_box.startKav("2", withLibrary));
    }

    // Posts events [from, to) from the posters, each taking every eighth.
    void post(int from, int to)
    {
        const DoorClient client = m_box.kavClient();
        std::atomic<int> failures { 0 };
        std::vector<std::thread> threads;
        for (int p = 0; p < posters; ++p)
            threads.emplace_back([&, p] {
                for (int n = from + p; n < to; n += posters) {
                    std::vector<char> event = packed(n);
                    DoorReply reply;
                    if (client.call(0, event.data(), event.size(), reply) != 0)
                        ++failures;
                }
            });
        for (auto& thread : threads)
            thread.join();
        EXPECT_EQ(failures, 0);
    }

    std::vector<std::string> mailCodes() const
    {
        std::vector<std::string> codes;
        for (const auto& file : fs::directory_iterator(m_box.hostPath(spool))) {
            std::ifstream in(file.path());
            std::string text((std::istreambuf_iterator<char>(in)), {});
            auto at = text.find("code=");
            codes.push_back(at == text.npos ? "?" : text.substr(at, text.find(';', at) - at));
        }
        return codes;
    }

    DaemonSandbox m_box;
};

TEST_F(StressTest, EightPostersNothingLostOrDoubled)
{
    const int total = streamLength();
    const int warmUp = std::min(1000, total);
    post(0, warmUp);
    long rssWarm = m_box.kavRssKiB();
    post(warmUp, total);
    long rssAfter = m_box.kavRssKiB();

    auto platform = tally(m_box.logTexts("platform"), std::regex(R"(^MSG7001: stress\.\w+ S(\d+)$)"));
    EXPECT_EQ(platform.size(), static_cast<size_t>(total)) << misses(platform, total);
    EXPECT_EQ(misses(platform, total), "");

    // The stand-ins write behind the daemon's calls: wait for the last lines.
    auto settle = [](auto read, size_t count) {
        auto deadline = std::chrono::steady_clock::now() + 30s;
        auto lines = read();
        while (lines.size() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(100ms);
            lines = read();
        }
        return lines;
    };
    auto frames = tally(settle([&] { return m_box.frames(); }, static_cast<size_t>(total)),
        std::regex(R"("text":"stress\.\w+:S(\d+):0123")"));
    EXPECT_EQ(misses(frames, total), "");

    // One registration, then one accepted message per event, each with its own
    // sequence number.
    auto proxy = settle([&] { return m_box.proxyLines(); }, static_cast<size_t>(total) + 1);
    auto sent = tally(proxy, std::regex(R"("text":"S(\d+),0123-SEQ\d+".*"rc":0)"));
    EXPECT_EQ(misses(sent, total), "");
    std::set<std::string> sequences;
    std::regex sequence(R"(-SEQ(\d+))");
    for (const std::string& line : proxy) {
        std::smatch match;
        if (std::regex_search(line, match, sequence)) {
            EXPECT_TRUE(sequences.insert(match[1]).second) << "sequence number used twice: " << match[1];
        }
    }

    auto mails = tally(mailCodes(), std::regex(R"(^code=S(\d+)$)"));
    EXPECT_EQ(misses(mails, total), "");
    EXPECT_TRUE(fs::is_empty(m_box.hostPath("/tmp"))) << "temporary files left behind";

    if (!sanitized) {
        EXPECT_LE(rssAfter, rssWarm + rssWarm / 10) << "after " << warmUp << ": " << rssWarm << " KiB";
    }
    EXPECT_EQ(m_box.stopKav(), 0);
}

}
