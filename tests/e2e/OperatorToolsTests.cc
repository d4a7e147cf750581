// orv-event's operator commands against the real daemon in its sandbox:
// the counters after a known mix of events.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "DaemonSandbox.h"

using nlohmann::json;

namespace {

json event(const std::string& eventClass)
{
    return { { "class", eventClass }, { "code", "X12" }, { "type", "FAULT" }, { "timestamp", 1700000000 },
        { "domainsAffected", "AC" }, { "platformCSN", "0123" }, { "platformModel", "M15" }, { "diagEngName", "de" },
        { "diagEngVersion", "2.0" }, { "classes", { eventClass } }, { "indictment", { "CPU0" } } };
}

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class OperatorTools : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_box.writeEventDB(R"({"test.all": {"channels": ["message", "orvEvent", "remote", "email"], "severity": 5,
            "priority": 1, "reportingType": 0, "reportingSubtype": "T", "messageNumber": 7001, "args": ["{code}"]}})");
        m_box.writeFile(sandboxConfigDir + "scripts/spool_mail",
            fileText(KAV_SOURCE_DIR "/config/scripts/spool_mail"), 0755);
        m_box.writeFile(sandboxConfigDir + "templates/t.tpl", "Subject: <EVENT_CLASS> <EVENT_CODE>\nbody\n");
        m_box.writeFile(sandboxConfigDir + "event_email.cf", "^test\\.all$ .* t.tpl kav@x Y ops@x spool_mail\n");
    }

    void post(const json& ev, const std::string& command = "post")
    {
        ProcessResult result = m_box.post(ev.dump(), command);
        ASSERT_EQ(result.exitStatus, 0) << result.output;
    }

    DaemonSandbox m_box;
};

TEST_F(OperatorTools, StatsCountAKnownMixInBothFormats)
{
    ASSERT_TRUE(m_box.startSink());
    ASSERT_TRUE(m_box.startKav());
    // The remote channel fails every time: there is no client library here.
    post(event("test.all"));
    post(event("test.all"));
    post(event("test.all"), "test-email");
    post(event("test.unknown"));
    m_box.writeFile("/tmp/garbage", "not an event");
    ASSERT_EQ(m_box.orvEvent({ "send-raw", "0", m_box.hostPath("/tmp/garbage") }).exitStatus, 0);

    ProcessResult result = m_box.orvEvent({ "stats" });
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    const json stats = json::parse(result.output);
    EXPECT_GE(stats["uptimeSeconds"], 0);
    EXPECT_EQ(stats["eventsReceived"], 4);
    EXPECT_EQ(stats["unknownClass"], 1);
    EXPECT_EQ(stats["badEvents"], 1);
    const json& channels = stats["channels"];
    EXPECT_EQ(channels["message"], json({ { "reported", 2 }, { "failed", 0 }, { "lastFailure", nullptr } }));
    EXPECT_EQ(channels["orvEvent"], json({ { "reported", 2 }, { "failed", 0 }, { "lastFailure", nullptr } }));
    EXPECT_EQ(channels["remote"]["reported"], 0);
    EXPECT_EQ(channels["remote"]["failed"], 2);
    EXPECT_NE(channels["remote"]["lastFailure"]["text"].get<std::string>().find("KAV_LOST_VARN: "), std::string::npos)
        << channels["remote"];
    EXPECT_EQ(channels["email"]["reported"], 3);
    EXPECT_EQ(channels["email"]["failed"], 0);

    result = m_box.orvEvent({ "stats", "--prometheus" });
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    for (const char* line : { "# TYPE kav_events_received_total counter\n", "\nkav_events_received_total 4\n",
             "\nkav_unknown_class_total 1\n", "\nkav_bad_events_total 1\n", "# HELP kav_uptime_seconds ",
             "\nkav_channel_reports_total{channel=\"remote\",result=\"failed\"} 2\n",
             "\nkav_channel_reports_total{channel=\"email\",result=\"reported\"} 3\n",
             "\nkav_channel_reports_total{channel=\"orvEvent\",result=\"failed\"} 0\n" })
        EXPECT_NE(result.output.find(line), std::string::npos) << line << result.output;

    // The event door is untouched by the counters' door.
    EXPECT_EQ(m_box.orvEvent({ "call", "2", m_box.root() + "/event-1.json" }).exitStatus, 0);
}

TEST_F(OperatorTools, StatsWithoutADaemonSayWhy)
{
    ProcessResult result = m_box.orvEvent({ "stats" });
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.output.find("kav-stats"), std::string::npos) << result.output;
}

}
