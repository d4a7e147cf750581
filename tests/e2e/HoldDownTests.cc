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
        writeHoldDown(1);
        m_box.writeFile(config + "scripts/spool_mail", fileText(KAV_SOURCE_DIR "/config/scripts/spool_mail"), 0755);
        m_box.writeFile(config + "templates/t.tpl", "Subject: <EVENT_CLASS> <EVENT_CODE>\nheld: <EVENT_HELD_COUNT>\n");
        m_box.writeFile(config + "event_email.cf",
            "^test\\.storm$ .* t.tpl kav@x Y ops@x spool_mail\n^test\\.storm$ .* t.tpl kav@x Y lab@x spool_mail\n");
    }

    void writeHoldDown(int seconds)
    {
        json entry = sampleEntry({ "message", "orvEvent", "remote", "email" }, 2, 0, "T");
        entry["holdDown"] = seconds;
        m_box.writeEventDB(json { { "test.storm", entry } }.dump());
    }

    void send(orv::framework::DoorClient& client, const json& event)
    {
        const std::vector<char> packed = packEvent(event);
        orv::framework::DoorReply reply;
        ASSERT_EQ(client.call(0, packed.data(), packed.size(), reply), 0);
        ASSERT_EQ(reply.status, 0);
    }

    // The spooled mails' texts.
    std::vector<std::string> mailTexts() const
    {
        std::vector<std::string> texts;
        const std::string dir = m_box.hostPath(spool);
        if (fs::exists(dir))
            for (const auto& file : fs::directory_iterator(dir))
                if (!file.path().filename().string().starts_with("."))
                    texts.push_back(fileText(file.path()));
        return texts;
    }
    size_t mails() const { return mailTexts().size(); }

    json route(const json& event)
    {
        std::ofstream(m_box.root() + "/storm.json") << event.dump();
        const ProcessResult route = m_box.orvEventInside({ "route", "--json", "/run/sandbox/storm.json" });
        EXPECT_EQ(route.exitStatus, 0) << route.output;
        return json::parse(route.output);
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
    EXPECT_EQ(route(storm)["holdDown"], 1);

    // Once the hold-down has passed, the next copy is reported and says
    // how many were held back.
    ASSERT_TRUE(eventuallyTrue([&] {
        send(client, storm);
        return m_box.frames().size() > 2;
    }));
    EXPECT_EQ(m_box.frames().size(), 3u);
    EXPECT_EQ(platformLines("repeats held back since"), 1u);
    // Each recipient's mail of that report gives the count (the copies
    // sent while waiting for the hold-down's end included); the first
    // reports' mails leave the tag empty.
    ASSERT_TRUE(eventuallyTrue([&] { return mails() == 6; }));
    size_t counted = 0;
    for (const std::string& text : mailTexts()) {
        const size_t at = text.find("held: ") + 6;
        if (text[at] != '\n')
            counted += std::stoul(text.substr(at)) >= copies - 1 ? 1 : 0;
    }
    EXPECT_EQ(counted, 2u);
    EXPECT_EQ(countContaining(mailTexts(), "held: \n"), 4u);
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
    // Events with nothing left to deliver are committed a moment later.
    json history;
    ASSERT_TRUE(eventuallyTrue([&] {
        const ProcessResult result
            = runProcess({ DaemonSandbox::buildPath("tools/orv-event/orv-event"), "history", "--json" },
                { { "ORV_DOOR_DIR", m_box.doorDir() }, { "ORV_JOURNAL", m_box.hostPath(journal) } });
        history = result.exitStatus == 0 ? json::parse(result.output) : json::array();
        return history.size() == 3;
    }));
    EXPECT_EQ(history[0]["channels"]["orvEvent"], "held");
    EXPECT_EQ(history[0]["channels"]["email"], "held");
    EXPECT_EQ(history[2]["channels"]["orvEvent"], "delivered");
    EXPECT_TRUE(eventuallyTrue([&] { return m_box.kavStats()["journal"]["pending"] == 0; }));
}

// With the journal on, a restart inside a hold-down keeps holding, and the
// held count goes on from where it was; route says until when.
TEST_F(HoldDownTest, ARestartInsideAHoldDownKeepsIt)
{
    writeHoldDown(3600);
    EnvChanges env = withLibrary;
    env["ORV_JOURNAL"] = "/var/opt/KTRXORV/ORV/kav/journal.db";
    ASSERT_TRUE(m_box.startSink());
    ASSERT_TRUE(m_box.startProxy());
    orv::framework::DoorClient client = m_box.kavClient();
    const json storm = sampleEvent("test.storm", "X1");
    json other = storm;
    other["indictment"] = { "CPU9" };
    ASSERT_TRUE(m_box.startKav("0", env));
    EXPECT_EQ(route(storm)["held"], false);
    for (int i = 0; i < 3; ++i)
        send(client, storm);
    ASSERT_TRUE(eventuallyTrue([&] { return m_box.frames().size() == 1; }));
    // The frame's delivery is settled before the stop, or it would be sent
    // again after it.
    ASSERT_TRUE(eventuallyTrue([&] { return m_box.kavStats()["journal"]["pending"] == 0; }));
    EXPECT_EQ(m_box.stopKav(), 0);

    ASSERT_TRUE(m_box.startKav("0", env));
    const json routed = route(storm);
    EXPECT_EQ(routed["held"], true);
    EXPECT_EQ(routed["heldSoFar"], 2);
    EXPECT_TRUE(routed.contains("heldUntil"));
    EXPECT_EQ(route(other)["held"], false);
    send(client, storm);
    send(client, other);
    ASSERT_TRUE(eventuallyTrue([&] { return m_box.frames().size() == 2; }));
    EXPECT_EQ(m_box.kavStats()["held"], 1);
    EXPECT_EQ(route(storm)["heldSoFar"], 3);
}

}
