#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "platform/framework/DoorClient.h"
#include "tests/door/DoorTestEnv.h"

using namespace std::chrono_literals;
using orv::framework::DoorClient;
using orv::framework::doorPath;
using orv::framework::DoorReply;

namespace {

pid_t startServer()
{
    pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(DOOR_TEST_SERVER, DOOR_TEST_SERVER, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

bool waitForDoor(const std::string& path)
{
    for (int i = 0; i < 500; ++i) {
        DoorReply reply;
        if (DoorClient("testdoor").call(0, nullptr, 0, reply) == 0)
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return std::filesystem::exists(path);
}

int exitStatusOf(pid_t pid)
{
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

}

using DoorShutdownTest = DoorTestEnv;

TEST_F(DoorShutdownTest, SigtermFinishesTheCallInProgressAndCleansUp)
{
    std::string marker = root + "/marker";
    ::setenv("DOOR_TEST_MARKER", marker.c_str(), 1);
    pid_t server = startServer();
    ASSERT_GT(server, 0);
    std::string path = doorPath("testdoor");
    ASSERT_TRUE(waitForDoor(path));

    EXPECT_EQ(exitStatusOf(startServer()), EADDRINUSE) << "a second server must not take the door";

    auto slowCall = std::async(std::launch::async, [] {
        DoorReply reply;
        int rc = DoorClient("testdoor").call(1, "slow", 4, reply);
        return rc == 0 ? std::string(reply.data.begin(), reply.data.end()) : std::string("failed");
    });
    for (int i = 0; i < 500 && !std::filesystem::exists(marker + ".started"); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(::kill(server, SIGTERM), 0);

    EXPECT_EQ(slowCall.get(), "slow");
    EXPECT_EQ(exitStatusOf(server), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    std::stringstream text;
    text << std::ifstream(marker).rdbuf();
    EXPECT_EQ(text.str(), "destroyed");
}

TEST_F(DoorShutdownTest, SigtermEndsAWaitOnTheShutdownDescriptorAtOnce)
{
    std::string marker = root + "/marker";
    ::setenv("DOOR_TEST_MARKER", marker.c_str(), 1);
    pid_t server = startServer();
    ASSERT_GT(server, 0);
    ASSERT_TRUE(waitForDoor(doorPath("testdoor")));

    auto stuckCall = std::async(std::launch::async, [] {
        DoorReply reply;
        int rc = DoorClient("testdoor").call(2, "wait", 4, reply);
        return rc == 0 ? std::string(reply.data.begin(), reply.data.end()) : std::string("failed");
    });
    for (int i = 0; i < 500 && !std::filesystem::exists(marker + ".started"); ++i)
        std::this_thread::sleep_for(10ms);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(::kill(server, SIGTERM), 0);

    EXPECT_EQ(stuckCall.get(), "cut");
    EXPECT_EQ(exitStatusOf(server), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}
