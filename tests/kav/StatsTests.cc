// The manager's counters: what counts as reported and as failed per
// channel, and that concurrent reports lose no count.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/event/DXAEvent.h"
#include "platform/event/EventCodec.h"
#include "platform/event/EventDB.h"
#include "cmd/kav/KAVManager.h"
#include "platform/log/Log.h"
#include "tests/support/TempDir.h"

namespace {

class StatsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = m_temp.path("");
        setenv("ORV_LOG_DIR", m_dir.c_str(), 1);
        setenv("ORV_LOG_LEVEL", "2", 1);
        // No front-end daemon: every front-end report fails.
        setenv("ORV_DOOR_DIR", m_dir.c_str(), 1);
        reopenLogFiles();
        // Severity 4 puts the event's own message at the error level, which
        // must not pass for a failure.
        std::ofstream(m_dir + "/eventdb.json") << R"({
            "test.message": {"channels": ["message"], "severity": 4, "messageNumber": 7001, "args": ["x"]},
            "test.both": {"channels": ["message", "orvEvent"], "severity": 2, "messageNumber": 7001, "args": []}})";
        m_factory = KAVChannelFactory::standard();
        m_factory.eventDB = [this] { return std::make_unique<EventDB>(m_dir + "/eventdb.json"); };
    }

    static void report(KAVManager& manager, const std::string& eventClass)
    {
        auto packed = orv::event::pack({ { "class", eventClass }, { "domainsAffected", std::string("AB") },
            { "code", std::string("C-1") }, { "platformCSN", std::string("S1") }, { "timestamp", 1700000000 } });
        DXAEvent event(packed.data(), static_cast<unsigned>(packed.size()));
        manager.reportEvent(event);
    }

    TempDir m_temp;
    std::string m_dir;
    KAVChannelFactory m_factory;
};

TEST_F(StatsTest, ChannelsCountReportedOrFailedByTheirErrorLines)
{
    KAVManager manager(m_factory);
    const auto before = manager.stats()->snapshot();
    EXPECT_EQ(before["channels"]["orvEvent"]["lastFailure"], nullptr);

    report(manager, "test.message");
    report(manager, "test.both");
    report(manager, "not.in.database");
    const auto stats = manager.stats()->snapshot();

    EXPECT_EQ(stats["eventsReceived"], 3);
    EXPECT_EQ(stats["unknownClass"], 1);
    EXPECT_EQ(stats["badEvents"], 0);
    const auto& channels = stats["channels"];
    EXPECT_EQ(channels["message"]["reported"], 2);
    EXPECT_EQ(channels["message"]["failed"], 0);
    EXPECT_EQ(channels["message"]["lastFailure"], nullptr);
    EXPECT_EQ(channels["orvEvent"]["reported"], 0);
    EXPECT_EQ(channels["orvEvent"]["failed"], 1);
    const auto& failure = channels["orvEvent"]["lastFailure"];
    ASSERT_TRUE(failure.is_object());
    EXPECT_EQ(failure["text"].get<std::string>().rfind("Failure to send ORV event to TEO", 0), 0u) << failure;
    EXPECT_EQ(failure["time"].get<std::string>().size(), std::string("2026-01-01T00:00:00Z").size());
    for (const char* idle : { "remote", "email" })
        EXPECT_EQ(channels[idle]["reported"].get<int>() + channels[idle]["failed"].get<int>(), 0) << idle;
}

// At level 5 no failure line is written, so nothing but the channel's own
// word can tell the counters that the front-end report failed.
TEST_F(StatsTest, FailureIsCountedWhenItsLinesAreFilteredOut)
{
    setenv("ORV_LOG_LEVEL", "5", 1);
    reopenLogFiles();
    KAVManager manager(m_factory);
    report(manager, "test.both");
    const auto channels = manager.stats()->snapshot()["channels"];
    EXPECT_EQ(channels["message"]["reported"], 1);
    EXPECT_EQ(channels["orvEvent"]["reported"], 0);
    EXPECT_EQ(channels["orvEvent"]["failed"], 1);
    EXPECT_EQ(channels["orvEvent"]["lastFailure"]["text"].get<std::string>().rfind("front-end call failed", 0), 0u)
        << channels["orvEvent"];
}

TEST_F(StatsTest, ConcurrentReportsLoseNoCount)
{
    KAVManager manager(m_factory);
    constexpr int threads = 4;
    constexpr int perThread = 25;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < perThread; ++i)
                report(manager, "test.both");
        });
    }
    for (auto& worker : workers)
        worker.join();
    const auto stats = manager.stats()->snapshot();
    EXPECT_EQ(stats["eventsReceived"], threads * perThread);
    EXPECT_EQ(stats["channels"]["message"]["reported"], threads * perThread);
    EXPECT_EQ(stats["channels"]["orvEvent"]["failed"], threads * perThread);
}

}
