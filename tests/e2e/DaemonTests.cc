// The daemon as users run it: start-up, dispatch, the message and front-end
// channels and shutdown, observed through its logs and the front-end stand-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/e2e/DaemonSandbox.h"

using nlohmann::json;

namespace {

json entry(std::vector<std::string> channels, int severity, json args = json::array({ "{class}", "{code}" }))
{
    return { { "channels", channels }, { "severity", severity }, { "priority", 1 }, { "reportingType", 0 },
        { "reportingSubtype", "TEST" }, { "messageNumber", 7001 }, { "args", args } };
}

json event(const std::string& eventClass, const std::string& domains = "AC")
{
    return { { "class", eventClass }, { "code", "X12" }, { "type", "FAULT" }, { "timestamp", 1700000000 },
        { "domainsAffected", domains }, { "platformCSN", "0123" }, { "platformModel", "M15" },
        { "classes", { eventClass } }, { "indictment", { "CPU0" } } };
}

json numberedArgs(int count)
{
    json args = json::array();
    for (int i = 1; i <= count; ++i)
        args.push_back("a" + std::to_string(i));
    return args;
}

size_t indexOf(const std::vector<std::string>& lines, const std::string& text, size_t from = 0)
{
    for (size_t i = from; i < lines.size(); ++i) {
        if (lines[i].find(text) != std::string::npos)
            return i;
    }
    return std::string::npos;
}

class DaemonTest : public ::testing::Test {
protected:
    void start(const json& db, bool withSink = true, std::vector<std::string> sinkArgs = {})
    {
        m_box.writeEventDB(db.dump());
        if (withSink) {
            ASSERT_TRUE(m_box.startSink(sinkArgs));
        }
        ASSERT_TRUE(m_box.startKav());
    }

    void post(const json& ev, const std::string& command = "post")
    {
        ProcessResult result = m_box.post(ev.dump(), command);
        ASSERT_EQ(result.exitStatus, 0) << result.output;
    }

    // An event the daemon refuses: orv-event exits with 1 and says why.
    void refused(const json& ev, const std::string& why, const std::string& command = "post")
    {
        ProcessResult result = m_box.post(ev.dump(), command);
        EXPECT_EQ(result.exitStatus, 1) << result.output;
        EXPECT_EQ(result.output, "orv-event: " + why + "\n");
    }

    DaemonSandbox m_box;
};

TEST_F(DaemonTest, AllFourChannelsInOrderEachBeforeItsOwnOutput)
{
    start({ { "test.all", entry({ "message", "orvEvent", "remote", "email" }, 5) } });
    post(event("test.all"));
    auto trace = m_box.logTexts("trace");
    size_t received = indexOf(trace, "EVENT-CLASS: test.all; received for event reporting.");
    size_t message = indexOf(trace, "EVENT-CLASS: test.all sent to message reporting service.", received);
    size_t orv = indexOf(trace, "EVENT-CLASS: test.all sent to ORV event reporting service.", message);
    size_t remote = indexOf(trace, "EVENT-CLASS: test.all sent to remote reporting service.", orv);
    size_t email = indexOf(trace, "EVENT-CLASS: test.all sent to email reporting service.", remote);
    ASSERT_NE(email, std::string::npos);
    // The remote channel reports its own failure (no client library here)
    // between its sent line and the email sent line.
    EXPECT_NE(indexOf(trace, "libqobimapi.so.1", remote), std::string::npos);
    EXPECT_LT(indexOf(trace, "libqobimapi.so.1", remote), email);

    auto platform = m_box.log("platform");
    ASSERT_FALSE(platform.empty());
    EXPECT_EQ(platform[0].level, 4); // severity 5 writes at level 4
    EXPECT_EQ(platform[0].text, "MSG7001: test.all X12");
    EXPECT_EQ(m_box.logTexts("domain-A"), std::vector<std::string> { "MSG7001: test.all X12" });
    EXPECT_EQ(m_box.logTexts("domain-C"), std::vector<std::string> { "MSG7001: test.all X12" });

    auto frames = m_box.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0],
        R"({"source":24,"eventCode":0,"asynchronous":true,"timestamp":1700000000,"priority":1,"text":"test.all:X12:0123"})");
}

TEST_F(DaemonTest, CallsThatReportNothing)
{
    start({ { "test.none", entry({}, 2) } });

    refused(event("test.unknown"), "refused: unknown class test.unknown");
    auto trace = m_box.logTexts("trace");
    EXPECT_EQ(countContaining(trace, "KAV_UNKNOWN_EVENT_CLASS: "), 1u);
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "KAV_UNKNOWN_EVENT_CLASS: "), 1u);
    EXPECT_EQ(countContaining(trace, "test.unknown sent to"), 0u);

    post(event("test.none"));
    trace = m_box.logTexts("trace");
    EXPECT_EQ(countContaining(trace, "test.none"), 1u); // only the received line

    // A method the daemon does not know: one level-3 line carrying it.
    ASSERT_EQ(m_box.orvEvent({ "call", "2", m_box.root() + "/event-1.json" }).exitStatus, 0);
    auto lines = m_box.log("trace");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().level, 3);
    EXPECT_NE(lines.back().text.find("UNRECOGNIZED_METHOD_ID: "), std::string::npos);
    EXPECT_NE(lines.back().text.find(" 2 "), std::string::npos);
    EXPECT_NE(lines[lines.size() - 2].text.find("In methodDispatch(), methodID = 2"), std::string::npos);

    // An event without its class member.
    json noClass = event("x");
    noClass.erase("class");
    refused(noClass, "refused: the event has no class");
    trace = m_box.logTexts("trace");
    EXPECT_EQ(trace.back(), "getEventClass failed for DXAEvent object, reporting aborted.");
    auto platform = m_box.logTexts("platform");
    EXPECT_NE(platform.back().find("KAV_FAILED_REPORTING_ATTEMPT: "), std::string::npos);
    EXPECT_NE(platform.back().find("unknown"), std::string::npos);
    EXPECT_NE(platform.back().find(" all "), std::string::npos);

    // Bytes that are no packed event, and no bytes at all.
    m_box.writeFile("/tmp/garbage", "not an event");
    ProcessResult garbage = m_box.orvEvent({ "send-raw", "0", m_box.hostPath("/tmp/garbage") });
    EXPECT_EQ(garbage.exitStatus, 1);
    EXPECT_TRUE(garbage.output.starts_with("orv-event: not a packed event: ")) << garbage.output;
    platform = m_box.logTexts("platform");
    trace = m_box.logTexts("trace");
    EXPECT_NE(platform.back().find("KAV_OBJ_INSTANT_FAILED: "), std::string::npos);
    EXPECT_NE(trace.back().find("KAV_OBJ_INSTANT_FAILED: "), std::string::npos);
    m_box.writeFile("/tmp/empty", "");
    ProcessResult empty = m_box.orvEvent({ "send-raw", "1", m_box.hostPath("/tmp/empty") });
    EXPECT_EQ(empty.exitStatus, 1);
    EXPECT_EQ(empty.output, "orv-event: not a packed event: the parameter is empty\n");
}

TEST_F(DaemonTest, MessageChannelArgumentsSeverityAndDomains)
{
    start({
        { "args.0", entry({ "message" }, 0, json::array()) },
        { "args.3", entry({ "message" }, 3, numberedArgs(3)) },
        { "args.20", entry({ "message" }, 7, numberedArgs(20)) },
        { "args.21", entry({ "message" }, 5, numberedArgs(21)) },
        { "sev.8", entry({ "message", "orvEvent" }, 8) },
    });

    post(event("args.0", ""));
    post(event("args.3", "AC"));
    post(event("args.20", "Ab"));
    post(event("args.21"));
    post(event("sev.8"));

    auto platform = m_box.log("platform");
    std::vector<std::string> texts;
    for (const auto& line : platform)
        texts.push_back(line.text);
    ASSERT_GE(platform.size(), 3u);
    EXPECT_EQ(platform[0].text, "MSG7001:");
    EXPECT_EQ(platform[0].level, 2);
    EXPECT_EQ(platform[1].text, "MSG7001: a1 a2 a3");
    EXPECT_EQ(platform[1].level, 3);
    std::string twenty = "MSG7001:";
    for (int i = 1; i <= 20; ++i)
        twenty += " a" + std::to_string(i);
    EXPECT_EQ(platform[2].text, twenty);
    EXPECT_EQ(platform[2].level, 5);

    // Domains: AC reported to both; Ab to A, then the invalid letter stops it.
    EXPECT_EQ(m_box.logTexts("domain-A"), (std::vector<std::string> { "MSG7001: a1 a2 a3", twenty }));
    EXPECT_EQ(m_box.logTexts("domain-C"), std::vector<std::string> { "MSG7001: a1 a2 a3" });
    auto trace = m_box.logTexts("trace");
    EXPECT_NE(indexOf(trace,
                  "EVENT-CLASS: args.20; invalid affectedDomain (b) from event, domain message reporting aborted."),
        std::string::npos);
    EXPECT_EQ(countContaining(texts, "args.20 could not be reported through domain message reporting"), 1u);

    // 21 arguments: the three lines, no event message.
    size_t first = indexOf(trace, "KAV_FAILED_REPORTING_ATTEMPT: Event class args.21");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(
        trace[first + 1], "EventDBEntry calls for > 20 zeqArgs, MessageReportingService needs patch to support this.");
    EXPECT_EQ(countContaining(texts, "args.21 could not be reported through message reporting"), 1u);

    // Severity 8: neither channel reports.
    EXPECT_NE(
        indexOf(trace, "EVENT-CLASS: sev.8; eventSeverity 8 from EventDBEntry invalid, message reporting aborted."),
        std::string::npos);
    EXPECT_NE(
        indexOf(trace, "EVENT-CLASS: sev.8; eventSeverity 8 from EventDBEntry invalid, ORV event reporting aborted."),
        std::string::npos);
    EXPECT_EQ(countContaining(texts, "sev.8 could not be reported through"), 2u);
    EXPECT_TRUE(m_box.frames().empty());
}

TEST_F(DaemonTest, FrontEndDownOrRefusing)
{
    start({ { "test.orv", entry({ "orvEvent", "message" }, 6) } }, false);
    post(event("test.orv"));
    auto trace = m_box.logTexts("trace");
    size_t failed = indexOf(trace, "Failure to send ORV event to TEO, rc = ");
    ASSERT_NE(failed, std::string::npos);
    EXPECT_EQ(
        countContaining(m_box.logTexts("platform"), "test.orv could not be reported through ORV event reporting"), 1u);
    // The message channel came first and still reported.
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "MSG7001: test.orv X12"), 1u);

    ASSERT_TRUE(m_box.startSink({ "--reply-status", "5" }));
    post(event("test.orv"));
    trace = m_box.logTexts("trace");
    EXPECT_EQ(trace.back(), "Failure to send ORV event to TEO, rc = 5.");
    EXPECT_EQ(m_box.frames().size(), 1u);
}

TEST_F(DaemonTest, ShutdownSequenceAndTestEmailRouting)
{
    start({ { "test.msg", entry({ "message" }, 2) }, { "test.mail", entry({ "email", "message", "orvEvent" }, 2) } });
    refused(event("test.msg"), "refused: class test.msg does not ask for email", "test-email");
    post(event("test.mail"), "test-email");
    EXPECT_EQ(m_box.stopKav(), 0);

    auto trace = m_box.logTexts("trace");
    EXPECT_NE(indexOf(trace, "KAV_INVALID_EMAIL_ATTEMPT: "), std::string::npos);
    size_t testMsg = indexOf(trace, "KAV_TEST_MSG: ");
    ASSERT_NE(testMsg, std::string::npos);
    EXPECT_EQ(trace[testMsg + 1], "EVENT-CLASS: test.mail sent to email reporting service.");
    EXPECT_EQ(countContaining(trace, "sent to message reporting service"), 0u);
    EXPECT_TRUE(m_box.frames().empty());

    const std::vector<std::string> shutdown = {
        "KAV shutdown: Shutdown start.",
        "KAV shutdown: Deleting EventDB object.",
        "KAV shutdown: Deleting MessageReportingService object.",
        "KAV shutdown: Deleting OrvEventReportingService object.",
        "KAV shutdown: Deleting RemoteReportingService object.",
        "KAV shutdown: Deleting EmailReportingService object.",
        "KAV shutdown: Shutdown complete.",
    };
    size_t at = indexOf(trace, shutdown[0]);
    ASSERT_NE(at, std::string::npos);
    for (size_t i = 0; i < shutdown.size(); ++i)
        EXPECT_EQ(trace.at(at + i), shutdown[i]);
    EXPECT_FALSE(std::ifstream(m_box.doorDir() + "/kav").good()) << "door socket left behind";
}

TEST_F(DaemonTest, EventDatabaseMissingOrUnparsable)
{
    ASSERT_TRUE(m_box.startKav());
    refused(event("test.any"), "refused: unknown class test.any");
    auto trace = m_box.logTexts("trace");
    size_t failed = indexOf(trace, "KAV_INIT_EVENTDB_FAILED: ");
    ASSERT_NE(failed, std::string::npos);
    EXPECT_EQ(indexOf(trace, "KAV init: Creating MessageReportingService object."), std::string::npos);
    auto platform = m_box.logTexts("platform");
    ASSERT_GE(platform.size(), 1u);
    EXPECT_NE(platform[0].find("KAV_INIT_EVENTDB_FAILED: "), std::string::npos);
    EXPECT_NE(indexOf(trace, "KAV_UNKNOWN_EVENT_CLASS: Event class test.any"), std::string::npos);

    EXPECT_EQ(m_box.stopKav(), 0);
    trace = m_box.logTexts("trace");
    EXPECT_EQ(indexOf(trace, "KAV shutdown: Deleting MessageReportingService object."), std::string::npos);
    EXPECT_NE(indexOf(trace, "KAV shutdown: Shutdown complete."), std::string::npos);

    // A file that is there but is no JSON: its path and the parser's
    // reason, with line and column, come right before the failure line.
    const size_t firstRun = trace.size();
    m_box.writeEventDB("{\n  \"test.any\": {\"severity\": 2,}\n}\n");
    ASSERT_TRUE(m_box.startKav());
    trace = m_box.logTexts("trace");
    size_t reason = indexOf(trace, "KAV init: event database " + sandboxConfigDir + "eventdb.json: ", firstRun);
    ASSERT_NE(reason, std::string::npos);
    EXPECT_NE(trace[reason].find("line 2, column"), std::string::npos) << trace[reason];
    EXPECT_NE(trace.at(reason + 1).find("KAV_INIT_EVENTDB_FAILED: "), std::string::npos);
}

TEST_F(DaemonTest, FaultyEntryIsSkippedAndTheOthersReport)
{
    json db = { { "test.good", entry({ "message", "orvEvent" }, 2) } };
    db["test.typo"] = entry({ "message" }, 2);
    db["test.typo"]["severty"] = 2;
    db["test.low"] = entry({ "message" }, 2);
    db["test.low"]["messageNumber"] = 12;
    start(db);
    post(event("test.good"));
    refused(event("test.typo"), "refused: unknown class test.typo");

    auto trace = m_box.logTexts("trace");
    EXPECT_NE(indexOf(trace, "EVENT-CLASS: test.typo; event database entry skipped: key \"severty\": unknown key."),
        std::string::npos);
    EXPECT_NE(indexOf(trace,
                  "EVENT-CLASS: test.low; event database entry skipped: key \"messageNumber\": must be a "
                  "message number of 1000 or above."),
        std::string::npos);
    auto platform = m_box.logTexts("platform");
    EXPECT_EQ(countContaining(platform, "KAV_EVENTDB_BAD_ENTRY: "), 2u);
    EXPECT_EQ(countContaining(platform, "test.typo is skipped: key \"severty\": unknown key."), 1u);
    EXPECT_EQ(countContaining(platform, "KAV_INIT_EVENTDB_FAILED"), 0u);

    EXPECT_EQ(countContaining(platform, "MSG7001: test.good X12"), 1u);
    EXPECT_EQ(m_box.frames().size(), 1u);
    EXPECT_NE(indexOf(trace, "KAV_UNKNOWN_EVENT_CLASS: Event class test.typo"), std::string::npos);
}

// Door threads keep the domain log of their last event selected; errors
// about later door calls on them must still go to the trace and platform logs.
TEST_F(DaemonTest, DomainLogsHoldOnlyTheirEventMessages)
{
    start({ { "test.dom", entry({ "message" }, 2) } });
    m_box.writeFile("/tmp/garbage", "not an event");
    for (int i = 0; i < 12; ++i) {
        post(event("test.dom", "B"));
        ASSERT_EQ(m_box.orvEvent({ "call", "5", m_box.root() + "/event-1.json" }).exitStatus, 0);
        ASSERT_EQ(m_box.orvEvent({ "send-raw", "0", m_box.hostPath("/tmp/garbage") }).exitStatus, 1);
    }
    auto domain = m_box.logTexts("domain-B");
    EXPECT_EQ(domain.size(), 12u);
    for (const auto& line : domain)
        EXPECT_EQ(line, "MSG7001: test.dom X12");
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "UNRECOGNIZED_METHOD_ID: "), 12u);
    EXPECT_EQ(countContaining(m_box.logTexts("trace"), "KAV_OBJ_INSTANT_FAILED: "), 12u);
}

}
