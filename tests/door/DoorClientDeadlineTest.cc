// Door calls to a server that never answers: the deadline ends them, and so
// does the start of a shutdown.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/io/Deadline.h"
#include "platform/framework/DoorClient.h"
#include "tests/door/DoorTestEnv.h"
#include "platform/io/ShutdownSignal.h"

using namespace std::chrono_literals;
using orv::framework::DoorClient;
using orv::framework::doorPath;
using orv::framework::DoorReply;
using orv::io::Deadline;
using orv::io::FdGuard;

namespace {

// A door whose server listens but never accepts a call.
FdGuard silentDoor(const std::string& path, int backlog)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    FdGuard fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address;
    orv::io::unixAddress(path, address);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(fd.get(), backlog) != 0)
        fd.reset();
    return fd;
}

// Connections that fill the listener's queue, so the next connect waits.
std::vector<FdGuard> fillQueue(const std::string& path)
{
    std::vector<FdGuard> queued;
    sockaddr_un address;
    orv::io::unixAddress(path, address);
    for (int i = 0; i < 64; ++i) {
        FdGuard fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            break;
        queued.push_back(std::move(fd));
    }
    return queued;
}

struct Timed {
    int rc;
    std::chrono::milliseconds took;
};

Timed timedCall(const Deadline& deadline)
{
    auto start = std::chrono::steady_clock::now();
    DoorReply reply;
    int rc = DoorClient("silent").call(0, "x", 1, reply, deadline);
    return { rc, std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start) };
}

}

using DoorClientDeadlineTest = DoorTestEnv;

TEST_F(DoorClientDeadlineTest, SilentServerCostsOneDeadlineWhetherItTakesTheCallOrNot)
{
    FdGuard listener = silentDoor(doorPath("silent"), 1);
    ASSERT_TRUE(listener.valid());

    Timed accepted = timedCall(Deadline(300ms));
    EXPECT_EQ(accepted.rc, ETIMEDOUT);
    EXPECT_GE(accepted.took, 250ms);
    EXPECT_LT(accepted.took, 3s);

    std::vector<FdGuard> queued = fillQueue(doorPath("silent"));
    Timed waiting = timedCall(Deadline(300ms));
    EXPECT_EQ(waiting.rc, ETIMEDOUT);
    EXPECT_GE(waiting.took, 250ms);
    EXPECT_LT(waiting.took, 3s);

    // A server that is not there is reported at once, as before.
    listener.reset();
    std::filesystem::remove(doorPath("silent"));
    EXPECT_EQ(timedCall(Deadline(5s)).rc, ENOENT);
}

// In a child process: the shutdown note is process-wide and stays set.
TEST_F(DoorClientDeadlineTest, ShutdownEndsACallWithoutDeadlineAtOnce)
{
    FdGuard listener = silentDoor(doorPath("silent"), 1);
    ASSERT_TRUE(listener.valid());
    pid_t child = ::fork();
    if (child == 0) {
        std::thread stopper([] {
            std::this_thread::sleep_for(200ms);
            orv::io::requestShutdown();
        });
        Timed call = timedCall(Deadline());
        stopper.join();
        // After the note, a new call ends before it starts.
        Timed late = timedCall(Deadline());
        ::_exit(call.rc == ECANCELED && call.took < 3s && late.rc == ECANCELED ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(DeadlineTest, SecondsFromTheEnvironment)
{
    const auto fallback = std::chrono::milliseconds(10s);
    const std::pair<const char*, std::chrono::milliseconds> cases[] = {
        { "2", 2s },
        { "0.25", 250ms },
        { "0", fallback },
        { "-1", fallback },
        { "5s", fallback },
        { "", fallback },
        { "nan", fallback },
        { "1e9", fallback },
    };
    for (const auto& [text, expected] : cases) {
        ::setenv("KAV_TEST_DEADLINE", text, 1);
        EXPECT_EQ(Deadline::fromEnvironment("KAV_TEST_DEADLINE", fallback), expected) << text;
    }
    ::unsetenv("KAV_TEST_DEADLINE");
    EXPECT_EQ(Deadline::fromEnvironment("KAV_TEST_DEADLINE", fallback), fallback);
    EXPECT_EQ(Deadline().pollTimeout(), -1);
    EXPECT_EQ(Deadline(0ms).pollTimeout(), 0);
}
