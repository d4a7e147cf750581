// The real client library against the stand-in proxy, over a socket of the test's own.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include <nlohmann/json.hpp>

#include "platform/qob/qobimapi.h"

extern char** environ;

namespace {

std::atomic<QOBHandle> handle { 0 };
std::atomic<int> statusCalls { 0 };
std::atomic<bool> calledOnOwnThread { false };
std::thread::id testThread;

int getStatus()
{
    calledOnOwnThread = std::this_thread::get_id() != testThread;
    QOBComponentStatus status { "QOB_IM_TARGET", 0 };
    ++statusCalls;
    return qob_sendstatus(handle, &status, 1);
}

template <typename Condition> bool waitFor(Condition condition)
{
    for (int i = 0; i < 500 && !condition(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
}

class ProxyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kav-proxy-XXXXXX";
        m_dir = mkdtemp(pattern);
        m_socket = m_dir + "/proxy.sock";
        m_out = m_dir + "/calls.jsonl";
        setenv("QOB_PROXY_SOCKET", m_socket.c_str(), 1);
        testThread = std::this_thread::get_id();
    }
    void TearDown() override
    {
        if (m_pid > 0)
            stop();
        std::filesystem::remove_all(m_dir);
    }

    void start(std::vector<std::string> extra = {})
    {
        std::vector<std::string> args { PROXY_PATH, "--socket", m_socket, "--out", m_out };
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&m_pid, PROXY_PATH, nullptr, nullptr, argv.data(), environ), 0);
        ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(m_socket); }));
    }

    // SIGTERM ends the proxy cleanly and removes its socket.
    void stop()
    {
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_FALSE(std::filesystem::exists(m_socket));
    }

    std::vector<nlohmann::json> calls() const
    {
        std::ifstream in(m_out);
        std::vector<nlohmann::json> result;
        for (std::string line; std::getline(in, line);)
            result.push_back(nlohmann::json::parse(line));
        return result;
    }

    std::string m_dir, m_socket, m_out;
    pid_t m_pid = -1;
};

QOBReturnValues registerApp(QOBHandle* out)
{
    static QOBCallback callback { "GETSTATUS", getStatus };
    return qob_register("orv-kav", "1.0.0", out, &callback, 1, 0, 0, 2);
}

}

TEST_F(ProxyTest, CallsReachTheProxyAndItsCommandsReachTheCallback)
{
    QOBHandle h = 0;
    EXPECT_EQ(registerApp(&h), QOB_PROXY_COMM_FAILURE); // nobody listening

    start({ "--fail", "register=2,senddata=3" });
    EXPECT_EQ(registerApp(&h), QOB_IM_NOT_REGISTERED);
    ASSERT_EQ(registerApp(&h), QOB_SUCCESS);
    handle = h;

    QOB_Alarm_Data alarm { "X12", "QOB_ALARM_OPEN" };
    QOB_Event_Data event { 1700000000, "diagA,2.0", 5, 20, "X12,0123-SEQ00000000", &alarm };
    QOB_Data data { 4, "\x01\x02\x00\xff", 0, "VKOEvent/libnvpair" };
    QOB_Hints hints { 2, 1, 0 };
    QOB_Msg_Data msg { "ALARM", "fault", 0, &event, &data, &hints };
    EXPECT_EQ(qob_senddata(h, "QOB_IM_TARGET", &msg), QOB_INVALID_PARAMETER);
    msg.event = nullptr;
    EXPECT_EQ(qob_senddata(h, "QOB_IM_TARGET", &msg), QOB_SUCCESS);
    EXPECT_EQ(qob_senddata(h + 1000, "QOB_IM_TARGET", &msg), QOB_IM_NOT_REGISTERED);

    kill(m_pid, SIGUSR1);
    ASSERT_TRUE(waitFor([&] { return calls().size() == 5; }));
    EXPECT_TRUE(calledOnOwnThread);
    EXPECT_EQ(qob_close(h), QOB_SUCCESS);

    auto c = calls();
    ASSERT_EQ(c.size(), 6u);
    EXPECT_EQ(c[0]["call"], "register");
    EXPECT_EQ(c[0]["rc"], 2);
    EXPECT_EQ(c[1]["app"], "orv-kav");
    EXPECT_EQ(c[1]["version"], "1.0.0");
    EXPECT_EQ(c[1]["rc"], 0);
    EXPECT_EQ(c[2]["call"], "senddata");
    EXPECT_EQ(c[2]["rc"], 3);
    EXPECT_EQ(c[2]["target"], "QOB_IM_TARGET");
    EXPECT_EQ(c[2]["type"], "ALARM");
    EXPECT_EQ(c[2]["subtype"], "fault");
    EXPECT_EQ(c[2]["event"], nlohmann::json::parse(R"({"timestamp":1700000000,"origin":"diagA,2.0","severity":5,
        "textLength":20,"text":"X12,0123-SEQ00000000","alarm":{"id":"X12","state":"QOB_ALARM_OPEN"}})"));
    EXPECT_EQ(c[2]["data"], nlohmann::json::parse(R"({"length":4,"format":"VKOEvent/libnvpair","base64":"AQIA/w=="})"));
    EXPECT_EQ(c[2]["hints"], nlohmann::json::parse("[2,1,0]"));
    EXPECT_TRUE(c[3]["event"].is_null());
    EXPECT_EQ(c[3]["rc"], 0);
    EXPECT_EQ(c[4]["call"], "sendstatus");
    EXPECT_EQ(c[4]["components"], nlohmann::json::parse(R"([{"name":"QOB_IM_TARGET","status":0}])"));
    EXPECT_EQ(c[5]["call"], "close");
    EXPECT_EQ(statusCalls, 1);
}

TEST_F(ProxyTest, ProxyGoneMeansCommunicationFailure)
{
    start();
    QOBHandle h = 0;
    ASSERT_EQ(registerApp(&h), QOB_SUCCESS);
    QOB_Msg_Data msg { "DATA", "fault", 0, nullptr, nullptr, nullptr };
    EXPECT_EQ(qob_senddata(h, "QOB_IM_TARGET", &msg), QOB_SUCCESS);
    stop();
    EXPECT_EQ(qob_senddata(h, "QOB_IM_TARGET", &msg), QOB_PROXY_COMM_FAILURE);
    // The broken registration is gone at once, with its connections.
    EXPECT_EQ(qob_senddata(h, "QOB_IM_TARGET", &msg), QOB_IM_NOT_REGISTERED);
    start();
    QOBHandle again = 0;
    EXPECT_EQ(registerApp(&again), QOB_SUCCESS);
    EXPECT_NE(again, h);
    EXPECT_EQ(qob_senddata(again, "QOB_IM_TARGET", &msg), QOB_SUCCESS);
    EXPECT_EQ(qob_close(h), QOB_IM_NOT_REGISTERED);
}

namespace {

size_t entriesIn(const char* dir)
{
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

double secondsOf(const std::function<void()>& body)
{
    auto start = std::chrono::steady_clock::now();
    body();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}

TEST_F(ProxyTest, EveryStepEndsAtItsDeadline)
{
    setenv("QOB_PROXY_TIMEOUT", "1", 1);
    QOB_Msg_Data msg { "DATA", "fault", 0, nullptr, nullptr, nullptr };
    for (const char* step : { "accept", "register", "attach" }) {
        start({ "--hang", step });
        QOBHandle h = 0;
        QOBReturnValues rc = QOB_SUCCESS;
        EXPECT_LT(secondsOf([&] { rc = registerApp(&h); }), 5.0) << step;
        EXPECT_EQ(rc, QOB_PROXY_TIMED_OUT) << step;
        stop();
    }

    start({ "--hang", "senddata" });
    QOBHandle h = 0;
    ASSERT_EQ(registerApp(&h), QOB_SUCCESS);
    QOBReturnValues rc = QOB_SUCCESS;
    EXPECT_LT(secondsOf([&] { rc = qob_senddata(h, "QOB_IM_TARGET", &msg); }), 5.0);
    EXPECT_EQ(rc, QOB_PROXY_TIMED_OUT);
    EXPECT_EQ(qob_senddata(h, "QOB_IM_TARGET", &msg), QOB_IM_NOT_REGISTERED);
    unsetenv("QOB_PROXY_TIMEOUT");
}

// Registrations that broke (the proxy restarted) or were replaced (the
// caller registered again without closing) leave no descriptor or thread
// behind, and only the live one answers the proxy's status command.
TEST_F(ProxyTest, BrokenAndReplacedRegistrationsLeaveNothingBehind)
{
    QOB_Msg_Data msg { "DATA", "fault", 0, nullptr, nullptr, nullptr };
    start();
    QOBHandle h = 0;
    ASSERT_EQ(registerApp(&h), QOB_SUCCESS);
    ASSERT_EQ(qob_senddata(h, "QOB_IM_TARGET", &msg), QOB_SUCCESS);
    const size_t fds = entriesIn("/proc/self/fd");
    const size_t threads = entriesIn("/proc/self/task");

    for (int i = 0; i < 10; ++i) {
        stop();
        start();
        EXPECT_EQ(qob_senddata(h, "QOB_IM_TARGET", &msg), QOB_PROXY_COMM_FAILURE);
        ASSERT_EQ(registerApp(&h), QOB_SUCCESS);
        EXPECT_EQ(qob_senddata(h, "QOB_IM_TARGET", &msg), QOB_SUCCESS);
    }
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(registerApp(&h), QOB_SUCCESS);
    handle = h;
    EXPECT_TRUE(waitFor([&] { return entriesIn("/proc/self/fd") == fds; })) << entriesIn("/proc/self/fd");
    EXPECT_TRUE(waitFor([&] { return entriesIn("/proc/self/task") == threads; })) << entriesIn("/proc/self/task");

    const int before = statusCalls;
    kill(m_pid, SIGUSR1);
    ASSERT_TRUE(waitFor([&] { return statusCalls > before; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(statusCalls, before + 1);
    EXPECT_EQ(qob_close(h), QOB_SUCCESS);
}

// A misspelt call or step would make the stand-in fail or hang nothing, and
// the test that relies on it prove nothing.
TEST_F(ProxyTest, UnknownCallNamesAndStepsAreRefused)
{
    for (const char* option : { "--fail sendata=4", "--fail register=2,attach=4", "--hang senddat" }) {
        std::string command = std::string(PROXY_PATH) + " --socket " + m_socket + " " + option + " 2>/dev/null";
        int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << option;
    }
    EXPECT_FALSE(std::filesystem::exists(m_socket));
}
