// The daemon with a journal: events outlive a peer that is down and a
// daemon killed outright, failed deliveries are given up when their time
// runs out, and a journal that cannot be used leaves reporting as it is
// without one.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/e2e/DaemonSandbox.h"

using nlohmann::json;

namespace {

const std::string journalInside = "/var/opt/KTRXORV/ORV/kav/journal.db";

json eventWithCode(const std::string& code)
{
    return { { "class", "test.journal" }, { "code", code }, { "type", "FAULT" }, { "timestamp", 1700000000 },
        { "domainsAffected", "A" }, { "platformCSN", "0123" } };
}

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_box.writeEventDB(json { { "test.journal",
                                      { { "channels", { "message", "orvEvent" } }, { "severity", 2 }, { "priority", 1 },
                                          { "reportingType", 0 }, { "reportingSubtype", "TEST" },
                                          { "messageNumber", 7001 }, { "args", { "{code}" } } } } }
                               .dump());
    }

    void post(const std::string& code)
    {
        ProcessResult result = m_box.post(eventWithCode(code).dump());
        ASSERT_EQ(result.exitStatus, 0) << result.output;
    }

    size_t platformLines(const std::string& text) const { return countContaining(m_box.logTexts("platform"), text); }

    // An operator command's JSON answer; the reading ones open the journal
    // file beside the daemon.
    json command(const std::vector<std::string>& args) const
    {
        std::vector<std::string> argv { DaemonSandbox::buildPath("tools/orv-event/orv-event") };
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessResult result = runProcess(
            argv, { { "ORV_DOOR_DIR", m_box.doorDir() }, { "ORV_JOURNAL", m_box.hostPath(journalInside) } });
        EXPECT_EQ(result.exitStatus, 0) << result.output;
        return json::parse(result.output, nullptr, false);
    }

    DaemonSandbox m_box;
    EnvChanges m_env { { "ORV_JOURNAL", journalInside }, { "ORV_RETRY_FIRST", "0.2" },
        { "ORV_RETRY_MAX_INTERVAL", "0.4" } };
};

// The front-end is down while the events come and the daemon is killed
// with their deliveries pending: once both are back, each event reaches the
// front-end once and in order, and the logs, reached before the kill, are
// not written again.
TEST_F(JournalTest, PendingDeliveriesSurviveADownPeerAndKill9)
{
    ASSERT_TRUE(m_box.startKav("0", m_env));
    constexpr int events = 200;
    for (int i = 0; i < events; ++i)
        post("C" + std::to_string(100 + i));
    ASSERT_TRUE(eventuallyTrue([&] { return platformLines("MSG7001: C") == size_t(events); }));
    EXPECT_TRUE(m_box.frames().empty());
    const json queue = command({ "queue", "--json" });
    ASSERT_EQ(queue.size(), size_t(events)) << queue;
    EXPECT_EQ(queue[0]["code"], "C100");
    EXPECT_EQ(queue[0]["channel"], "orvEvent");
    EXPECT_EQ(queue[0]["recipient"], nullptr);
    EXPECT_LT(queue[0]["id"], queue[1]["id"]);

    stopProcess(m_box.kavPid(), SIGKILL);
    ASSERT_TRUE(m_box.startSink());
    ASSERT_TRUE(m_box.startKav("0", m_env));
    ASSERT_TRUE(eventuallyTrue([&] { return m_box.frames().size() >= size_t(events); }));
    ASSERT_TRUE(eventuallyTrue([&] { return command({ "stats" })["journal"]["pending"] == 0; }));
    const json journal = command({ "stats" })["journal"];
    EXPECT_EQ(journal["state"], "ok");
    EXPECT_GE(journal["deliveredAfterRetry"], 1);
    EXPECT_EQ(m_box.stopKav(), 0);
    const json history = command({ "history", "--json", "--class", "test.*" });
    ASSERT_EQ(history.size(), size_t(events));
    EXPECT_EQ(history[0]["code"], "C299");
    EXPECT_EQ(history[0]["channels"], json({ { "message", "delivered" }, { "orvEvent", "delivered" } }));

    const auto frames = m_box.frames();
    ASSERT_EQ(frames.size(), size_t(events));
    for (int i = 0; i < events; ++i)
        EXPECT_NE(frames[i].find("test.journal:C" + std::to_string(100 + i) + ":"), std::string::npos) << frames[i];
    EXPECT_EQ(platformLines("MSG7001: C"), size_t(events));
    EXPECT_GE(platformLines("KAV_DELIVERED_AFTER_RETRY"), 1u);
}

TEST_F(JournalTest, DeliveryPastItsAgeIsGivenUpOnce)
{
    m_env["ORV_RETRY_MAX_AGE"] = "0.5";
    ASSERT_TRUE(m_box.startKav("0", m_env));
    post("C1");
    ASSERT_TRUE(eventuallyTrue([&] { return platformLines("KAV_DELIVERY_GIVEN_UP") > 0; }));
    EXPECT_EQ(m_box.stopKav(), 0);
    EXPECT_EQ(platformLines("KAV_DELIVERY_GIVEN_UP"), 1u);
    EXPECT_EQ(platformLines("test.journal code C1: orvEvent delivery given up"), 1u);
    EXPECT_EQ(platformLines("MSG7001: C1"), 1u);
}

// A failure the log level hides from the logs is still a failure.
TEST_F(JournalTest, CountersAndJournalAgreeAtEveryLogLevel)
{
    m_env["ORV_RETRY_MAX_AGE"] = "0";
    for (const char* level : { "0", "2", "5" }) {
        ASSERT_TRUE(m_box.startKav(level, m_env));
        post("C1");
        post("C2");
        ASSERT_TRUE(eventuallyTrue([&] { return command({ "stats" })["journal"]["givenUp"] == 2; })) << level;
        const json stats = command({ "stats" });
        EXPECT_EQ(stats["channels"]["orvEvent"]["failed"], 2) << level;
        EXPECT_EQ(stats["channels"]["orvEvent"]["reported"], 0) << level;
        EXPECT_EQ(stats["channels"]["message"]["reported"], 2) << level;
        EXPECT_EQ(m_box.stopKav(), 0);
    }
    const json history = command({ "history", "--json" });
    ASSERT_EQ(history.size(), 6u);
    for (const json& event : history)
        EXPECT_EQ(event["channels"], json({ { "message", "delivered" }, { "orvEvent", "givenUp" } })) << event;
}

TEST_F(JournalTest, OperatorRetriesOneEventAndDropsTheOther)
{
    m_env["ORV_RETRY_FIRST"] = "3600";
    ASSERT_TRUE(m_box.startKav("0", m_env));
    post("C1");
    post("C2");
    // Both wait on the front-end: the first after its failed try, the
    // second behind it.
    ASSERT_TRUE(eventuallyTrue([&] {
        const json queue = command({ "queue", "--json" });
        return queue.size() == 2 && queue[0]["tries"] == 1;
    }));
    const json queue = command({ "queue", "--json" });
    const std::string first = std::to_string(queue[0]["id"].get<int64_t>());
    const std::string second = std::to_string(queue[1]["id"].get<int64_t>());
    ASSERT_TRUE(m_box.startSink());

    EXPECT_EQ(m_box.orvEvent({ "queue", "drop", second }).output, "1 dropped\n");
    EXPECT_EQ(m_box.orvEvent({ "queue", "retry", first }).output, "1 retried\n");
    ASSERT_TRUE(eventuallyTrue([&] { return command({ "queue", "--json" }).empty(); }));
    EXPECT_EQ(m_box.frames().size(), 1u);
    EXPECT_EQ(command({ "stats" })["journal"]["dropped"], 1);
    EXPECT_EQ(m_box.stopKav(), 0);

    const json history = command({ "history", "--json" });
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0]["channels"]["orvEvent"], "dropped");
    EXPECT_EQ(history[1]["channels"]["orvEvent"], "delivered");
    EXPECT_EQ(platformLines("KAV_DELIVERY_DROPPED"), 1u);
}

// The journal's file system fills, then is read-only, then the file is
// damaged: reports go on, each state is said once, and stats show it.
TEST_F(JournalTest, FullReadOnlyOrDamagedJournalNeverStopsReporting)
{
    ASSERT_TRUE(m_box.startSink());
    EnvChanges env = m_env;
    env["ORV_JOURNAL"] = "/tmp/journal/journal.db";
    env["KAV_SANDBOX_TMP_SIZE"] = "1m";
    ASSERT_TRUE(m_box.startKav("0", env));
    post("C1");
    {
        std::ofstream fill(m_box.kavView("/tmp/filler"), std::ios::binary);
        const std::vector<char> block(4096, 'x');
        while (fill.write(block.data(), static_cast<long>(block.size())) && fill.flush()) { }
    }
    for (int i = 2; i <= 6; ++i)
        post("C" + std::to_string(i));
    ASSERT_TRUE(eventuallyTrue([&] { return m_box.frames().size() == 6u; }));
    EXPECT_EQ(platformLines("KAV_JOURNAL_UNAVAILABLE"), 1u);
    EXPECT_EQ(command({ "stats" })["journal"]["state"], "degraded");
    EXPECT_EQ(m_box.stopKav(), 0);

    const std::string readOnly = "/var/opt/KTRXORV/ORV/readonly";
    m_box.writeFile(readOnly + "/README", "");
    env = m_env;
    env["ORV_JOURNAL"] = readOnly + "/journal.db";
    env["KAV_SANDBOX_READONLY"] = readOnly;
    ASSERT_TRUE(m_box.startKav("0", env));
    post("C7");
    post("C8");
    EXPECT_EQ(m_box.frames().size(), 8u);
    EXPECT_EQ(platformLines("KAV_JOURNAL_UNAVAILABLE"), 2u);
    EXPECT_EQ(command({ "stats" })["journal"]["state"], "degraded");
    EXPECT_EQ(m_box.stopKav(), 0);

    m_box.writeFile(journalInside, std::string(8192, 'j'));
    ASSERT_TRUE(m_box.startKav("0", m_env));
    post("C9");
    ASSERT_TRUE(eventuallyTrue([&] { return m_box.frames().size() == 9u; }));
    EXPECT_EQ(platformLines("KAV_JOURNAL_CORRUPT"), 1u);
    EXPECT_EQ(command({ "stats" })["journal"]["state"], "ok");
    EXPECT_EQ(m_box.stopKav(), 0);
    EXPECT_EQ(command({ "history", "--json" }).size(), 1u);
    EXPECT_EQ(platformLines("MSG7001: C"), 9u);
}

// Nothing can be created where a file stands in for the journal's folder:
// each event is reported at once, and one line says why.
TEST_F(JournalTest, UnusableJournalLeavesReportingAsWithoutOne)
{
    m_box.writeFile("/var/opt/KTRXORV/ORV/blocker", "");
    m_env["ORV_JOURNAL"] = "/var/opt/KTRXORV/ORV/blocker/journal.db";
    ASSERT_TRUE(m_box.startSink());
    ASSERT_TRUE(m_box.startKav("0", m_env));
    post("C1");
    post("C2");
    // Reported synchronously: both are there when the door calls return.
    EXPECT_EQ(m_box.frames().size(), 2u);
    EXPECT_EQ(platformLines("MSG7001: C"), 2u);
    EXPECT_EQ(platformLines("KAV_JOURNAL_UNAVAILABLE"), 1u);
    EXPECT_EQ(command({ "stats" })["journal"]["state"], "degraded");
}

}
