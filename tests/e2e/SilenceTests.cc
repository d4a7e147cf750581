// An operator's silence for planned work: matching events are logged but
// not sent, others are, the silence outlives a restart of the daemon, and
// once it is expired the events are sent again. Silences live in the
// journal, so without one they are refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/SandboxEvents.h"

using namespace sandbox;

namespace {

const std::string journalInside = "/var/opt/KTRXORV/ORV/kav/journal.db";

class SilenceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const json entry = sampleEntry({ "message", "orvEvent" }, 2, 0, "T");
        m_box.writeEventDB(json { { "test.planned", entry }, { "test.other", entry } }.dump());
    }

    void post(const std::string& eventClass, const std::string& code, const std::string& domains)
    {
        const ProcessResult result = m_box.post(sampleEvent(eventClass, code, 1700000000, domains).dump());
        ASSERT_EQ(result.exitStatus, 0) << result.output;
    }

    // The codes the front-end got, in order. Its lane delivers in the
    // order the events came, so once a later event is there, an earlier
    // one that is missing was not sent.
    std::vector<std::string> sent() const
    {
        std::vector<std::string> codes;
        for (const std::string& frame : m_box.frames())
            for (const char* code : { "S1", "S2", "S3" })
                if (frame.find(std::string(":") + code + ":") != std::string::npos)
                    codes.push_back(code);
        return codes;
    }

    ProcessResult orvEvent(const std::vector<std::string>& args) const
    {
        std::vector<std::string> argv { DaemonSandbox::buildPath("tools/orv-event/orv-event") };
        argv.insert(argv.end(), args.begin(), args.end());
        return runProcess(
            argv, { { "ORV_DOOR_DIR", m_box.doorDir() }, { "ORV_JOURNAL", m_box.hostPath(journalInside) } });
    }

    json listed(const std::vector<std::string>& options) const
    {
        std::vector<std::string> args { "silence", "list", "--json" };
        args.insert(args.end(), options.begin(), options.end());
        const ProcessResult result = orvEvent(args);
        EXPECT_EQ(result.exitStatus, 0) << result.output;
        return json::parse(result.output, nullptr, false);
    }

    DaemonSandbox m_box;
    const std::vector<std::string> m_add { "silence", "add", "--class", "test.plan*", "--domains", "bc", "--for", "1h",
        "--comment", "board swap in rack 4" };
};

TEST_F(SilenceTest, MatchingEventsAreHeldBackUntilExpired)
{
    ASSERT_TRUE(m_box.startSink());
    const EnvChanges env { { "ORV_JOURNAL", journalInside } };
    ASSERT_TRUE(m_box.startKav("0", env));
    ProcessResult added = orvEvent(m_add);
    ASSERT_EQ(added.exitStatus, 0) << added.output;
    EXPECT_EQ(added.output, "1\n");

    // Class and domain match (C); class only; domain only.
    post("test.planned", "S1", "AC");
    post("test.planned", "S2", "A");
    post("test.other", "S3", "B");
    ASSERT_TRUE(eventuallyTrue([&] { return sent().size() >= 2; }));
    EXPECT_EQ(sent(), std::vector<std::string>({ "S2", "S3" }));
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "MSG7001: test.planned S1"), 1u);
    EXPECT_EQ(countContaining(m_box.logTexts("trace"), "held back from orvEvent by silence 1."), 1u);
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "Silence 1 added for class test.plan* domains BC"), 1u);
    EXPECT_EQ(m_box.kavStats()["silencedByClass"], json({ { "test.planned", 1 } }));
    const ProcessResult history = orvEvent({ "history", "--json", "--class", "test.planned" });
    ASSERT_EQ(history.exitStatus, 0) << history.output;
    EXPECT_EQ(json::parse(history.output)[1]["channels"]["orvEvent"], "silenced");

    const json silences = listed({});
    ASSERT_EQ(silences.size(), 1u) << silences;
    EXPECT_EQ(silences[0]["id"], 1);
    EXPECT_EQ(silences[0]["matchers"],
        json({ { "class", "test.plan*" }, { "code", nullptr }, { "domains", "BC" }, { "csn", nullptr } }));
    EXPECT_EQ(silences[0]["channels"], json({ "orvEvent", "remote", "email" }));
    EXPECT_EQ(silences[0]["comment"], "board swap in rack 4");
    EXPECT_EQ(silences[0]["active"], true);

    // The journal keeps it across a restart.
    EXPECT_EQ(m_box.stopKav(), 0);
    ASSERT_TRUE(m_box.startKav("0", env));
    post("test.planned", "S1", "C");
    post("test.planned", "S2", "A");
    ASSERT_TRUE(eventuallyTrue([&] { return sent().size() >= 3; }));
    EXPECT_EQ(sent(), std::vector<std::string>({ "S2", "S3", "S2" }));

    const ProcessResult expired = orvEvent({ "silence", "expire", "1" });
    EXPECT_EQ(expired.output, "silence 1 ended\n");
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "ended by an operator: board swap in rack 4"), 1u);
    post("test.planned", "S1", "C");
    ASSERT_TRUE(eventuallyTrue([&] { return sent().size() >= 4; }));
    EXPECT_EQ(sent().back(), "S1");
    EXPECT_EQ(listed({}), json::array());
    EXPECT_EQ(listed({ "--all" })[0]["active"], false);
    EXPECT_NE(orvEvent({ "silence", "expire", "1" }).output.find("no active silence has the id 1"), std::string::npos);
    EXPECT_EQ(m_box.stopKav(), 0);

    ASSERT_TRUE(m_box.startKav("0"));
    const ProcessResult refused = orvEvent(m_add);
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_EQ(refused.output, "orv-event: silences need the journal, and the daemon runs without one (ORV_JOURNAL)\n");
}

}
