// The daemon as a systemd notify service, with the test in the service
// manager's place: readiness, status lines with the counters, watchdog pings
// and the word on a reload and on the stop reach the socket NOTIFY_SOCKET
// names, and the pings stop while the daemon is stopped.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <string>

#include "platform/io/FdGuard.h"
#include "platform/io/SocketIo.h"
#include "tests/e2e/SandboxEvents.h"

using namespace sandbox;

namespace {

// The service manager's end: a datagram socket of the test's own.
class NotifyListener {
public:
    explicit NotifyListener(const std::string& path)
        : m_fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address;
        if (orv::io::unixAddress(path, address) != 0
            || ::bind(m_fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot bind " + path);
    }

    // Reads messages until one holds `text`; false when none did within
    // `wait` (only a fault should take that long).
    bool awaits(const std::string& text, std::chrono::milliseconds wait = 30s)
    {
        const auto end = std::chrono::steady_clock::now() + wait;
        for (std::string message; read(message, end);)
            if (message.find(text) != std::string::npos)
                return true;
        return false;
    }

    void drain()
    {
        for (std::string message; read(message, std::chrono::steady_clock::now());) { }
    }

private:
    bool read(std::string& message, std::chrono::steady_clock::time_point end)
    {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd ready { m_fd.get(), POLLIN, 0 };
        if (::poll(&ready, 1, std::max<int>(0, static_cast<int>(left.count()))) != 1)
            return false;
        char buffer[4096];
        const ssize_t length = ::recv(m_fd.get(), buffer, sizeof buffer, 0);
        message.assign(buffer, length > 0 ? static_cast<size_t>(length) : 0);
        return true;
    }

    orv::io::FdGuard m_fd;
};

// Whether the process has come to a stop ("T" in /proc/PID/stat).
bool stopped(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const size_t end = text.rfind(')');
    return end != std::string::npos && text.compare(end, 4, ") T ") == 0;
}

}

TEST(NotifyTest, ReadyStatusAndPingsWhileTheDaemonRuns)
{
    DaemonSandbox box;
    box.writeEventDB(json { { "test.note", sampleEntry({ "message" }, 2, 0, "T") } }.dump());
    NotifyListener manager(box.hostPath("/run/notify"));
    ASSERT_TRUE(box.startKav("0", { { "NOTIFY_SOCKET", "/run/notify" }, { "WATCHDOG_USEC", "1000000" } }));
    EXPECT_TRUE(manager.awaits("READY=1"));
    EXPECT_TRUE(manager.awaits("WATCHDOG=1"));

    ASSERT_EQ(box.post(sampleEvent("test.note", "N1").dump()).exitStatus, 0);
    EXPECT_TRUE(manager.awaits("STATUS=1 events received"));

    ASSERT_EQ(::kill(box.kavPid(), SIGSTOP), 0);
    ASSERT_TRUE(eventuallyTrue([&] { return stopped(box.kavPid()); }));
    manager.drain();
    EXPECT_FALSE(manager.awaits("WATCHDOG=1", 3s)) << "pings from a stopped daemon";
    ASSERT_EQ(::kill(box.kavPid(), SIGCONT), 0);
    EXPECT_TRUE(manager.awaits("WATCHDOG=1"));

    ASSERT_EQ(::kill(box.kavPid(), SIGHUP), 0);
    EXPECT_TRUE(manager.awaits("RELOADING=1"));
    EXPECT_TRUE(manager.awaits("READY=1"));
    EXPECT_EQ(box.stopKav(), 0);
    EXPECT_TRUE(manager.awaits("STOPPING=1", 0s));
}
