// A fault storm against a class with a hold-down: the logs get every copy,
// the front-end, the proxy and each mail recipient one report per fault
// and hold-down, and the first report after the hold-down says how many
// were held back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/framework/DoorClient.h"
#include "tests/e2e/SandboxEvents.h"

using namespace sandbox;

namespace {

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class HoldDownTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        json entry = sampleEntry({ "message", "orvEvent", "remote", "email" }, 2, 0, "T");
        entry["holdDown"] = 1;
        m_box.writeEventDB(json { { "test.storm", entry } }.dump());
        m_box.writeFile(config + "scripts/spool_mail", fileText(KAV_SOURCE_DIR "/config/scripts/spool_mail"), 0755);
        m_box.writeFile(config + "templates/t.tpl", "Subject: <EVENT_CLASS> <EVENT_CODE>\nheld: <EVENT_HELD_COUNT>\n");
        m_box.writeFile(config + "event_email.cf",
            "^test\\.storm$ .* t.tpl kav@x Y ops@x spool_mail\n^test\\.storm$ .* t.tpl kav@x Y lab@x spool_mail\n");
    }

    void send(orv::framework::DoorClient& client, const json& event)
    {
        const std::vector<char> packed = packEvent(event);
        orv::framework::DoorReply reply;
        ASSERT_EQ(client.call(0, packed.data(), packed.size(), reply), 0);
        ASSERT_EQ(reply.status, 0);
    }

    size_t mails() const
    {
        const std::string dir = m_box.hostPath(spool);
        if (!fs::exists(dir))
            return 0;
        size_t count = 0;
        for (const auto& file : fs::directory_iterator(dir))
            count += file.path().filename().string().starts_with(".") ? 0 : 1;
        return count;
    }

    size_t platformLines(const std::string& text) const { return countContaining(m_box.logTexts("platform"), text); }

    DaemonSandbox m_box;
};

TEST_F(HoldDownTest, AStormIsReportedOncePerFaultAndHoldDown)
{
    ASSERT_TRUE(m_box.startSink());
    ASSERT_TRUE(m_box.startProxy());
    orv::framework::DoorClient client = m_box.kavClient();
    ASSERT_TRUE(m_box.startKav("0", withLibrary));
    const json storm = sampleEvent("test.storm", "X1");
    constexpr size_t copies = 1000;
    for (size_t i = 0; i < copies; ++i)
        send(client, storm);
    // Another indictment is another fault.
    json other = storm;
    other["indictment"] = { "CPU0", "CPU1" };
    send(client, other);
    ASSERT_TRUE(eventuallyTrue([&] { return platformLines("MSG7001: test.storm") == copies + 1; }));
    ASSERT_TRUE(eventuallyTrue([&] { return m_box.frames().size() == 2 && mails() == 4; }));
    // The proxy records the session's registration, then one call per report.
    ASSERT_TRUE(eventuallyTrue([&] { return m_box.proxyLines().size() == 3; }));
    EXPECT_EQ(countContaining(m_box.proxyLines(), "\"call\":\"register\""), 1u);
    EXPECT_EQ(m_box.kavStats()["held"], copies - 1);
    EXPECT_EQ(m_box.kavStats()["heldByClass"]["test.storm"], copies - 1);
    std::ofstream(m_box.root() + "/storm.json") << storm.dump();
    const ProcessResult route = m_box.orvEventInside({ "route", "--json", "/run/sandbox/storm.json" });
    ASSERT_EQ(route.exitStatus, 0) << route.output;
    EXPECT_EQ(json::parse(route.output)["holdDown"], 1);

    // Once the hold-down has passed, the next copy is reported and says
    // how many were held back.
    ASSERT_TRUE(eventuallyTrue([&] {
        send(client, storm);
        return m_box.frames().size() > 2;
    }));
    EXPECT_EQ(m_box.frames().size(), 3u);
    EXPECT_EQ(platformLines("repeats held back since"), 1u);
}

// With the journal on, the held copies are recorded as held for the
// channels they were kept from, and nothing of them waits for delivery.
TEST_F(HoldDownTest, HeldCopiesAreJournaledAsHeld)
{
    const std::string journal = "/var/opt/KTRXORV/ORV/kav/journal.db";
    ASSERT_TRUE(m_box.startSink());
    ASSERT_TRUE(m_box.startProxy());
    orv::framework::DoorClient client = m_box.kavClient();
    EnvChanges env = withLibrary;
    env["ORV_JOURNAL"] = journal;
    ASSERT_TRUE(m_box.startKav("0", env));
    for (int i = 0; i < 3; ++i)
        send(client, sampleEvent("test.storm", "X1"));
    ASSERT_TRUE(eventuallyTrue([&] { return m_box.frames().size() == 1; }));
    ProcessResult result = runProcess({ DaemonSandbox::buildPath("tools/orv-event/orv-event"), "history", "--json" },
        { { "ORV_DOOR_DIR", m_box.doorDir() }, { "ORV_JOURNAL", m_box.hostPath(journal) } });
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    const json history = json::parse(result.output);
    ASSERT_EQ(history.size(), 3u);
    EXPECT_EQ(history[0]["channels"]["orvEvent"], "held");
    EXPECT_EQ(history[0]["channels"]["email"], "held");
    EXPECT_EQ(history[2]["channels"]["orvEvent"], "delivered");
    EXPECT_TRUE(eventuallyTrue([&] { return m_box.kavStats()["journal"]["pending"] == 0; }));
}

}
