// The remote channel of the real daemon as the stand-in proxy records it:
// the daemon loads the real client library from the build tree and reports
// over the sandbox's proxy socket.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/e2e/DaemonSandbox.h"
#include "platform/event/EventCodec.h"

using nlohmann::json;

namespace {

const EnvChanges& withLibrary = withClientLibrary;

json entry(int reportingType, int priority, int severity, const std::string& subtype,
    std::vector<std::string> channels = { "remote" })
{
    return { { "channels", channels }, { "severity", severity }, { "priority", priority },
        { "reportingType", reportingType }, { "reportingSubtype", subtype }, { "messageNumber", 7001 },
        { "args", { "{class}", "{code}" } } };
}

json event(const std::string& eventClass, const std::string& code = "X12", const std::string& type = "FAULT")
{
    return { { "class", eventClass }, { "code", code }, { "type", type }, { "timestamp", 1700000000 },
        { "domainsAffected", "A" }, { "platformCSN", "0123" }, { "platformModel", "M15" }, { "diagEngName", "diagA" },
        { "diagEngVersion", "2.0" }, { "classes", { eventClass } }, { "indictment", { "CPU0" } } };
}

std::string base64(const std::vector<char>& bytes)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 2]);
        for (size_t k = 0; k < 4; ++k)
            text += i + k <= bytes.size() ? digits[(group >> (18 - 6 * k)) & 63] : '=';
    }
    return text;
}

const std::string lostLine = "Connection to the remote services proxy lost while reporting event class ";
const std::string sendErrLine = "Sending to the remote services proxy failed: ";

class RemoteE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_box.writeEventDB(json {
            { "test.alarm", entry(0, 1, 5, "fault") },
            { "test.event", entry(1, 0, 3, "info") },
            { "test.data", entry(2, 2, 2, "telemetry") },
            { "test.sev8", entry(1, 1, 8, "info") },
            { "test.both", entry(1, 1, 3, "info", { "message", "remote" }) },
        }
                               .dump());
    }

    void post(const json& ev)
    {
        ProcessResult result = m_box.post(ev.dump());
        ASSERT_EQ(result.exitStatus, 0) << result.output;
    }

    // The proxy's records once there are at least `count`, the last one
    // whole (it writes them while the daemon may already go on).
    std::vector<json> records(size_t count)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::vector<std::string> lines = m_box.proxyLines();
        auto incomplete = [&] { return lines.size() < count || !json::accept(lines.back()); };
        while (incomplete() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            lines = m_box.proxyLines();
        }
        std::vector<json> parsed;
        for (const auto& line : lines)
            parsed.push_back(json::parse(line, nullptr, false));
        EXPECT_GE(parsed.size(), count);
        return parsed;
    }

    static void expectRegistered(const json& record)
    {
        EXPECT_EQ(record,
            (json { { "call", "register" }, { "app", "orv-kav" }, { "version", KAV_VERSION },
                { "commands", { "GETSTATUS" } }, { "rc", 0 } }));
    }

    static std::string eventText(const json& record) { return record["event"].value("text", ""); }

    DaemonSandbox m_box;
};

TEST_F(RemoteE2E, AlarmEventAndDataAsTheProxyReceivesThem)
{
    ASSERT_TRUE(m_box.startProxy());
    ASSERT_TRUE(m_box.startKav("0", withLibrary));
    json alarm = event("test.alarm");
    post(alarm);
    post(event("test.event", "E7", "fault")); // not the FAULT type: the daemon is the origin
    post(event("test.data"));
    post(event("test.sev8")); // refused before numbering
    json empty = event("test.event", "X12");
    empty["platformCSN"] = "";
    post(empty);

    auto lines = records(5);
    ASSERT_EQ(lines.size(), 5u);
    expectRegistered(lines[0]);

    std::vector<char> bytes = orv::event::pack(orv::event::fromJson(alarm));
    EXPECT_EQ(lines[1],
        (json { { "call", "senddata" }, { "target", "QOB_IM_TARGET" }, { "type", "ALARM" }, { "subtype", "fault" },
            { "event",
                { { "timestamp", 1700000000 }, { "origin", "diagA,2.0" }, { "severity", 5 }, { "textLength", 20 },
                    { "text", "X12,0123-SEQ00000000" },
                    { "alarm", { { "id", "X12" }, { "state", "QOB_ALARM_OPEN" } } } } },
            { "data", { { "length", bytes.size() }, { "format", "VKOEvent/libnvpair" }, { "base64", base64(bytes) } } },
            { "hints", { 2, 1, 0 } }, { "rc", 0 } }));

    EXPECT_EQ(lines[2]["type"], "EVENT");
    EXPECT_EQ(lines[2]["subtype"], "info");
    EXPECT_EQ(lines[2]["event"]["origin"], "orv-kav");
    EXPECT_EQ(lines[2]["event"]["severity"], 3);
    EXPECT_EQ(eventText(lines[2]), "E7,0123-SEQ00000001");
    EXPECT_TRUE(lines[2]["event"]["alarm"].is_null());
    EXPECT_EQ(lines[2]["hints"], json({ 1, 1, 0 }));

    EXPECT_EQ(lines[3]["type"], "DATA");
    EXPECT_EQ(lines[3]["subtype"], "telemetry");
    EXPECT_TRUE(lines[3]["event"].is_null());
    EXPECT_EQ(lines[3]["data"]["format"], "VKOEvent/libnvpair");
    EXPECT_EQ(lines[3]["hints"], json({ 3, 1, 0 }));

    // Neither the DATA message nor the refused one took a number.
    EXPECT_EQ(eventText(lines[4]), "X12,-SEQ00000002");
    EXPECT_EQ(lines[4]["event"]["textLength"], 16);

    auto trace = m_box.logTexts("trace");
    EXPECT_EQ(countContaining(trace,
                  "EVENT-CLASS: test.alarm; successfully sent to Varn proxy, set event text field to "
                  "X12,0123-SEQ00000000"),
        1u);
    EXPECT_EQ(countContaining(trace,
                  "EVENT-CLASS: test.sev8; eventSeverity 8 from EventDBEntry invalid, remote reporting "
                  "aborted."),
        1u);
    EXPECT_EQ(countContaining(trace, sendErrLine), 0u);
}

TEST_F(RemoteE2E, FailedSendsRecoverOnceOrLeaveAGap)
{
    ASSERT_TRUE(m_box.startProxy({ "--fail", "senddata=3,senddata=4" }));
    ASSERT_TRUE(m_box.startKav("0", withLibrary));
    post(event("test.alarm"));
    post(event("test.event"));

    auto lines = records(5);
    ASSERT_EQ(lines.size(), 5u);
    expectRegistered(lines[0]);
    // Refused as invalid: dropped, not repeated, its number used up.
    EXPECT_EQ(lines[1]["rc"], 3);
    EXPECT_EQ(eventText(lines[1]), "X12,0123-SEQ00000000");
    // Communication failure: one new registration and the same message again.
    EXPECT_EQ(lines[2]["rc"], 4);
    expectRegistered(lines[3]);
    EXPECT_EQ(lines[4]["rc"], 0);
    EXPECT_EQ(eventText(lines[2]), "X12,0123-SEQ00000001");
    EXPECT_EQ(eventText(lines[4]), "X12,0123-SEQ00000001");

    auto trace = m_box.logTexts("trace");
    EXPECT_EQ(countContaining(trace, sendErrLine + "invalid parameter."), 1u);
    EXPECT_EQ(countContaining(trace, sendErrLine), 1u);
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), sendErrLine + "invalid parameter."), 1u);
    // The failed alarm still ends with its sent line.
    EXPECT_EQ(countContaining(trace, "EVENT-CLASS: test.alarm; successfully sent to Varn proxy"), 1u);
}

TEST_F(RemoteE2E, LibraryAbsentLeavesOtherChannelsReporting)
{
    std::filesystem::create_directories(m_box.root() + "/nolib");
    ASSERT_TRUE(m_box.startProxy());
    EnvChanges env = withLibrary;
    env["LD_LIBRARY_PATH"] = "/run/sandbox/nolib";
    // A library in the daemon's working folder is not the client library:
    // the daemon must not pick it up from there.
    const std::string cwdWithLibrary = std::string(KAV_BUILD_DIR) + "/tests/remote-e2e/cwd-with-library";
    std::filesystem::create_directories(cwdWithLibrary);
    std::filesystem::copy_file(std::string(KAV_BUILD_DIR) + "/platform/qob/libqobimapi.so.1",
        cwdWithLibrary + "/libqobimapi.so.1", std::filesystem::copy_options::overwrite_existing);
    const auto testCwd = std::filesystem::current_path();
    std::filesystem::current_path(cwdWithLibrary);
    const bool started = m_box.startKav("0", env);
    std::filesystem::current_path(testCwd);
    ASSERT_TRUE(started);
    post(event("test.both"));
    post(event("test.both"));

    auto entries = m_box.log("trace");
    size_t unavailable = 0;
    for (const auto& line : entries) {
        if (line.text.find("Varnlink libqobimapi.so.1 library not available, dlopen rc = ") == 0) {
            ++unavailable;
            EXPECT_EQ(line.level, 2);
            EXPECT_NE(line.text.find("remote reporting cannot be done."), std::string::npos);
        }
    }
    EXPECT_EQ(unavailable, 2u); // every report tries the load again
    auto trace = m_box.logTexts("trace");
    auto platform = m_box.logTexts("platform");
    EXPECT_EQ(countContaining(trace, lostLine + "test.both"), 2u);
    EXPECT_EQ(countContaining(platform, lostLine + "test.both"), 2u);
    EXPECT_EQ(countContaining(platform, "MSG7001: test.both X12"), 2u);

    EXPECT_EQ(m_box.stopKav(), 0);
    EXPECT_TRUE(m_box.proxyLines().empty());
    EXPECT_EQ(countContaining(m_box.logTexts("trace"), "KAV shutdown: Closing connection to Varn proxy."), 0u);
}

TEST_F(RemoteE2E, ProxyDownThenUpAgain)
{
    ASSERT_TRUE(m_box.startKav("0", withLibrary));
    post(event("test.alarm"));
    auto trace = m_box.logTexts("trace");
    EXPECT_EQ(countContaining(trace, "Attempt to connect to Varn failed, rc = proxy communication failure."), 1u);
    EXPECT_EQ(countContaining(trace, lostLine + "test.alarm"), 1u);
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), lostLine + "test.alarm"), 1u);

    ASSERT_TRUE(m_box.startProxy());
    post(event("test.event"));
    auto lines = records(2);
    ASSERT_EQ(lines.size(), 2u);
    expectRegistered(lines[0]);
    EXPECT_EQ(lines[1]["rc"], 0);
    EXPECT_EQ(eventText(lines[1]), "X12,0123-SEQ00000000"); // the refused report took no number

    // The proxy goes away under a live registration: the send and the one
    // reconnection both fail, and the next report after its return registers.
    m_box.stopProxy();
    post(event("test.event"));
    EXPECT_EQ(countContaining(m_box.logTexts("trace"), sendErrLine + "proxy communication failure."), 1u);
    ASSERT_TRUE(m_box.startProxy());
    post(event("test.event"));
    lines = records(4);
    ASSERT_EQ(lines.size(), 4u);
    expectRegistered(lines[2]);
    EXPECT_EQ(eventText(lines[3]), "X12,0123-SEQ00000002");
    EXPECT_EQ(lines[3]["rc"], 0);
}

TEST_F(RemoteE2E, StatusCommandAndCloseAtShutdown)
{
    ASSERT_TRUE(m_box.startProxy());
    ASSERT_TRUE(m_box.startKav("0", withLibrary));
    post(event("test.data"));
    ASSERT_EQ(records(2).size(), 2u);

    ASSERT_EQ(kill(m_box.proxyPid(), SIGUSR1), 0);
    auto lines = records(3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2],
        (json { { "call", "sendstatus" }, { "components", { { { "name", "QOB_IM_TARGET" }, { "status", 0 } } } },
            { "rc", 0 } }));

    EXPECT_EQ(m_box.stopKav(), 0);
    lines = records(4);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3], (json { { "call", "close" }, { "rc", 0 } }));
    auto trace = m_box.logTexts("trace");
    auto closing = std::find(trace.begin(), trace.end(), "KAV shutdown: Closing connection to Varn proxy.");
    ASSERT_NE(closing, trace.end());
    EXPECT_LT(closing - trace.begin(),
        std::find(trace.begin(), trace.end(), "KAV shutdown: Shutdown complete.") - trace.begin());
}

}

// With a journal a refused record is sent again with the number of its first
// try, and numbers carry on after a restart, so the proxy can tell a re-sent
// record from a new one.
TEST_F(RemoteE2E, JournaledSequenceNumbersHoldAcrossRetriesAndRestarts)
{
    EnvChanges env = withLibrary;
    env["ORV_JOURNAL"] = "/var/opt/KTRXORV/ORV/kav/journal.db";
    env["ORV_RETRY_FIRST"] = "0.2";
    env["QOB_PROXY_TIMEOUT"] = "1";
    ASSERT_TRUE(m_box.startProxy({ "--fail", "senddata=3" }));
    ASSERT_TRUE(m_box.startKav("0", env));
    post(event("test.alarm"));
    auto lines = records(3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1]["rc"], 3);
    EXPECT_EQ(lines[2]["rc"], 0);
    EXPECT_EQ(eventText(lines[1]), "X12,0123-SEQ00000000");
    EXPECT_EQ(eventText(lines[2]), "X12,0123-SEQ00000000");

    EXPECT_EQ(m_box.stopKav(), 0);
    ASSERT_TRUE(m_box.startKav("0", env));
    post(event("test.event", "E8"));
    lines = records(6);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[3], (json { { "call", "close" }, { "rc", 0 } }));
    expectRegistered(lines[4]);
    EXPECT_EQ(eventText(lines[5]), "E8,0123-SEQ00000001");

    // A frozen proxy: the tries run out of time and wait; thawed, every
    // record arrives, in order and numbered on. A try that timed out may
    // have gone through as well, so a record may come twice.
    ASSERT_EQ(::kill(m_box.proxyPid(), SIGSTOP), 0);
    for (const char* code : { "F1", "F2", "F3" })
        post(event("test.event", code));
    const std::string timedOut = "proxy did not answer in time";
    ASSERT_TRUE(eventuallyTrue([&] { return countContaining(m_box.logTexts("platform"), timedOut) > 0; }));
    ASSERT_EQ(::kill(m_box.proxyPid(), SIGCONT), 0);
    std::vector<std::string> texts;
    ASSERT_TRUE(eventuallyTrue([&] {
        texts.clear();
        for (const std::string& line : m_box.proxyLines())
            if (const json record = json::parse(line, nullptr, false); record.contains("event"))
                texts.push_back(eventText(record));
        return std::count(texts.begin(), texts.end(), "F3,0123-SEQ00000004") > 0;
    }));
    texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
    EXPECT_EQ(std::vector<std::string>(texts.end() - 3, texts.end()),
        (std::vector<std::string> { "F1,0123-SEQ00000002", "F2,0123-SEQ00000003", "F3,0123-SEQ00000004" }));
}
