// The real daemon with peers that stop answering: a front-end that takes
// calls and never replies, a remote-services proxy that hangs or is frozen.
// Each costs about one deadline in all (short ones here, from the
// environment); the other channels and a stop are never held behind it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/e2e/DaemonSandbox.h"

using nlohmann::json;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

json entry(std::vector<std::string> channels)
{
    return { { "channels", channels }, { "severity", 5 }, { "priority", 1 }, { "reportingType", 0 },
        { "reportingSubtype", "fault" }, { "messageNumber", 7001 }, { "args", { "{class}", "{code}" } } };
}

json event(const std::string& eventClass, const std::string& code = "X1")
{
    return { { "class", eventClass }, { "code", code }, { "type", "FAULT" }, { "timestamp", 1700000000 },
        { "domainsAffected", "A" }, { "platformCSN", "0123" }, { "platformModel", "M15" }, { "diagEngName", "de" },
        { "diagEngVersion", "1" }, { "classes", { eventClass } }, { "indictment", { "CPU0" } } };
}

template <typename Predicate> bool eventually(Predicate done, std::chrono::seconds timeout = 20s)
{
    auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

size_t entriesIn(const std::string& dir)
{
    std::error_code error;
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir, error), {}));
}

// A door connection is closed just after its reply has gone, so a count
// taken as a call returns may still hold it; and a peer's session may be
// between two connections for a moment. The count seen most often over a
// short while is the resting one.
size_t restingEntriesIn(const std::string& dir)
{
    std::map<size_t, int> seen;
    for (int i = 0; i < 25; ++i) {
        ++seen[entriesIn(dir)];
        std::this_thread::sleep_for(20ms);
    }
    return std::max_element(seen.begin(), seen.end(), [](const auto& a, const auto& b) {
        return a.second < b.second;
    })->first;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class StuckPeerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_box.writeEventDB(json {
            { "stuck.msg", entry({ "message" }) },
            { "stuck.front", entry({ "message", "orvEvent" }) },
            { "stuck.remote", entry({ "message", "remote" }) },
        }
                               .dump());
    }

    void TearDown() override
    {
        for (pid_t pid : m_background) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    void post(const json& ev)
    {
        ProcessResult result = m_box.post(ev.dump());
        ASSERT_EQ(result.exitStatus, 0) << result.output;
    }

    // Posts without waiting for the answer; the poster is reaped at the end.
    void postInBackground(const json& ev)
    {
        std::string file = m_box.root() + "/background-" + std::to_string(m_background.size()) + ".json";
        std::ofstream(file) << ev.dump();
        m_background.push_back(spawnProcess({ DaemonSandbox::buildPath("tools/orv-event/orv-event"), "post", file },
            { { "ORV_DOOR_DIR", m_box.doorDir() } }));
    }

    size_t platformCount(const std::string& text) const { return countContaining(m_box.logTexts("platform"), text); }
    size_t traceCount(const std::string& text) const { return countContaining(m_box.logTexts("trace"), text); }

    DaemonSandbox m_box;
    std::vector<pid_t> m_background;
};

}

TEST_F(StuckPeerTest, SilentFrontEndCostsAFewDeadlinesNotOnePerEvent)
{
    ASSERT_TRUE(m_box.startSink({ "--silent" }));
    ASSERT_TRUE(m_box.startKav("2", { { "ORV_PEER_TIMEOUT", "2" } }));

    for (int i = 0; i < 30; ++i)
        post(event("stuck.front", "C" + std::to_string(i)));

    EXPECT_EQ(platformCount("MSG7001: stuck.front"), 30u);
    EXPECT_EQ(platformCount("stuck.front could not be reported through ORV event reporting"), 30u);
    // Counted rather than timed: one deadline per event would be 30 time-outs.
    const size_t timedOut = traceCount("Failure to send ORV event to TEO, rc = 110.");
    EXPECT_GE(timedOut, 1u);
    EXPECT_LE(timedOut, 10u);
    EXPECT_EQ(traceCount("TEO skipped for "), 30u - timedOut);
    EXPECT_EQ(m_box.frames().size(), timedOut) << "the sink took each call it was sent";

    // After the window the front-end is tried again.
    std::this_thread::sleep_for(2100ms);
    post(event("stuck.front", "again"));
    EXPECT_EQ(traceCount("Failure to send ORV event to TEO, rc = 110."), timedOut + 1);
}

TEST_F(StuckPeerTest, StuckFrontEndCallHoldsNeitherOtherEventsNorTheStop)
{
    ASSERT_TRUE(m_box.startSink({ "--silent" }));
    ASSERT_TRUE(m_box.startKav("2", { { "ORV_PEER_TIMEOUT", "60" } }));

    postInBackground(event("stuck.front"));
    ASSERT_TRUE(eventually([&] { return m_box.frames().size() == 1; }));

    auto start = Clock::now();
    post(event("stuck.msg"));
    // Far below the 60 s deadline, with room for a loaded machine.
    EXPECT_LT(secondsSince(start), 20.0);
    EXPECT_EQ(platformCount("MSG7001: stuck.msg X1"), 1u);

    start = Clock::now();
    EXPECT_EQ(m_box.stopKav(), 0);
    EXPECT_LT(secondsSince(start), 20.0);
    EXPECT_EQ(traceCount("Failure to send ORV event to TEO, rc = 125."), 1u);
    EXPECT_EQ(traceCount("EVENT-CLASS: stuck.front; ORV event report cut short by shutdown."), 1u);
    EXPECT_EQ(platformCount("stuck.front could not be reported through ORV event reporting"), 1u);
}

TEST_F(StuckPeerTest, FrozenProxyCostsAFewDeadlinesAndHoldsNoOtherChannel)
{
    ASSERT_TRUE(m_box.startProxy());
    EnvChanges env = withClientLibrary;
    env["QOB_PROXY_TIMEOUT"] = "2";
    ASSERT_TRUE(m_box.startKav("2", env));
    post(event("stuck.remote", "first"));
    ASSERT_EQ(m_box.proxyLines().size(), 2u) << "register and senddata";

    ASSERT_EQ(::kill(m_box.proxyPid(), SIGSTOP), 0);
    for (int i = 0; i < 10; ++i)
        post(event("stuck.remote", "F" + std::to_string(i)));
    ASSERT_EQ(::kill(m_box.proxyPid(), SIGCONT), 0);

    EXPECT_EQ(platformCount("MSG7001: stuck.remote"), 11u);
    // A send that ran out of time is not reported as refused.
    EXPECT_GE(countContaining(m_box.logTexts("platform"),
                  "KAV_VARN_SEND_ERR: Sending to the remote services proxy "
                  "failed: proxy did not answer in time."),
        1u);
    // Counted rather than timed: one deadline per event would skip none.
    EXPECT_GE(traceCount("Varn proxy skipped for "), 4u);

    // With the proxy thawed, the first report after the window registers anew.
    std::this_thread::sleep_for(2100ms);
    post(event("stuck.remote", "thawed"));
    EXPECT_TRUE(eventually(
        [&] {
            auto lines = m_box.proxyLines();
            return !lines.empty() && lines.back().find("thawed") != std::string::npos;
        },
        5s));
}

TEST_F(StuckPeerTest, ProxyThatNeverAttachesCostsOneDeadline)
{
    ASSERT_TRUE(m_box.startProxy({ "--hang", "attach" }));
    EnvChanges env = withClientLibrary;
    env["QOB_PROXY_TIMEOUT"] = "2";
    ASSERT_TRUE(m_box.startKav("2", env));
    for (int i = 0; i < 10; ++i)
        post(event("stuck.remote", "A" + std::to_string(i)));
    // Counted rather than timed: one deadline per event would be ten attempts.
    const size_t attempts = traceCount("Attempt to connect to Varn failed, rc = proxy did not answer in time.");
    EXPECT_GE(attempts, 1u);
    EXPECT_LE(attempts, 3u);
    EXPECT_EQ(traceCount("EVENT-CLASS: stuck.remote; Varn proxy skipped for "), 10u - attempts);
    EXPECT_EQ(platformCount("MSG7001: stuck.remote"), 10u);
}

TEST_F(StuckPeerTest, SigtermWithCallsStuckAtBothPeers)
{
    ASSERT_TRUE(m_box.startSink({ "--silent" }));
    ASSERT_TRUE(m_box.startProxy({ "--hang", "senddata" }));
    EnvChanges env = withClientLibrary;
    env["QOB_PROXY_TIMEOUT"] = "3";
    env["ORV_PEER_TIMEOUT"] = "60";
    ASSERT_TRUE(m_box.startKav("2", env));

    postInBackground(event("stuck.front"));
    postInBackground(event("stuck.remote"));
    ASSERT_TRUE(eventually([&] { return m_box.frames().size() == 1 && m_box.proxyLines().size() == 1; }));
    std::this_thread::sleep_for(200ms); // the send is on its way
    auto start = Clock::now();
    post(event("stuck.msg"));
    EXPECT_LT(secondsSince(start), 2.0);

    start = Clock::now();
    EXPECT_EQ(m_box.stopKav(), 0);
    // The longest deadline (3 s) plus 5 s.
    EXPECT_LT(secondsSince(start), 8.0);
    EXPECT_EQ(traceCount("EVENT-CLASS: stuck.front; ORV event report cut short by shutdown."), 1u);
    EXPECT_EQ(traceCount("KAV shutdown: Shutdown complete."), 1u);
}

TEST_F(StuckPeerTest, DescriptorsAndThreadsFlatOverProxyRestartsAndRefusedSends)
{
    ASSERT_TRUE(m_box.startProxy());
    ASSERT_TRUE(m_box.startKav("2", withClientLibrary));
    post(event("stuck.remote", "first"));
    const std::string proc = "/proc/" + std::to_string(m_box.kavPid());
    const size_t fds = restingEntriesIn(proc + "/fd");
    const size_t threads = restingEntriesIn(proc + "/task");
    ASSERT_GT(fds, 0u);

    for (int i = 0; i < 10; ++i) {
        m_box.stopProxy();
        ASSERT_TRUE(m_box.startProxy());
        post(event("stuck.remote", "R" + std::to_string(i)));
    }
    EXPECT_TRUE(eventually([&] { return entriesIn(proc + "/fd") == fds; }, 5s)) << entriesIn(proc + "/fd");
    EXPECT_TRUE(eventually([&] { return entriesIn(proc + "/task") == threads; }, 5s)) << entriesIn(proc + "/task");

    // Ten sends refused as a communication failure, each followed by a new
    // registration while the old connection is still open.
    m_box.stopProxy();
    ASSERT_TRUE(m_box.startProxy({ "--fail",
        "senddata=4,senddata=4,senddata=4,senddata=4,senddata=4,senddata=4,"
        "senddata=4,senddata=4,senddata=4,senddata=4" }));
    for (int i = 0; i < 10; ++i)
        post(event("stuck.remote", "S" + std::to_string(i)));
    EXPECT_TRUE(eventually([&] { return entriesIn(proc + "/fd") == fds; }, 5s)) << entriesIn(proc + "/fd");
    EXPECT_TRUE(eventually([&] { return entriesIn(proc + "/task") == threads; }, 5s)) << entriesIn(proc + "/task");

    ASSERT_EQ(::kill(m_box.proxyPid(), SIGUSR1), 0);
    ASSERT_TRUE(eventually([&] { return countContaining(m_box.proxyLines(), "\"sendstatus\"") >= 1; }, 5s));
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(countContaining(m_box.proxyLines(), "\"sendstatus\""), 1u);
}
