#include <fcntl.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/io/FdGuard.h"
#include "platform/io/FdIo.h"
#include "tests/support/TempDir.h"

namespace {

// A stand-in for a system call that moves at most three bytes a call and is
// interrupted by a signal every other call.
struct ChoppyCall {
    std::string& sink;
    const std::string& source;
    int calls = 0;
    ssize_t operator()(size_t done, size_t left)
    {
        if (++calls % 2 == 1) {
            errno = EINTR;
            return -1;
        }
        const size_t n = std::min<size_t>(left, 3);
        sink.append(source, done, n);
        return static_cast<ssize_t>(n);
    }
};

void onAlarm(int)
{
}

// Fires SIGALRM every 200 µs without SA_RESTART, so that blocking reads and
// writes really are cut short while it lives.
class Interrupter {
public:
    Interrupter()
    {
        struct sigaction action { };
        action.sa_handler = onAlarm;
        sigaction(SIGALRM, &action, &m_previous);
        itimerval every { { 0, 200 }, { 0, 200 } };
        setitimer(ITIMER_REAL, &every, nullptr);
    }
    ~Interrupter()
    {
        itimerval off {};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &m_previous, nullptr);
    }

private:
    struct sigaction m_previous { };
};

}

TEST(FdIoTest, CarriesOnThroughInterruptionsAndShortTransfers)
{
    const std::string source = "a line of text that takes many calls";
    std::string sink;
    const orv::io::TransferResult result = orv::io::transferAll(source.size(), ChoppyCall { sink, source });
    EXPECT_EQ(result.error, 0);
    EXPECT_EQ(result.moved, source.size());
    EXPECT_EQ(sink, source);
}

TEST(FdIoTest, StopsAtAFailureOrAnEndAndSaysHowFarItGot)
{
    int calls = 0;
    auto failsSecond = [&](size_t, size_t) -> ssize_t {
        errno = ENOSPC;
        return ++calls == 1 ? 4 : -1;
    };
    orv::io::TransferResult result = orv::io::transferAll(10, failsSecond);
    EXPECT_EQ(result.moved, 4U);
    EXPECT_EQ(result.error, ENOSPC);

    result = orv::io::transferAll(10, [](size_t done, size_t) -> ssize_t { return done == 0 ? 6 : 0; });
    EXPECT_EQ(result.moved, 6U);
    EXPECT_EQ(result.error, ENODATA);
}

TEST(FdIoTest, PipeTransfersSurviveASignalStorm)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string sent(4 << 20, '\0');
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<char>(i * 7 + i / 4099);
    std::string received;
    bool written = false;
    bool read = false;
    {
        Interrupter storm;
        std::thread writer([&] {
            written = orv::io::writeAll(fds[1], sent.data(), sent.size()).ok();
            close(fds[1]);
        });
        read = orv::io::readToEnd(fds[0], received).ok();
        writer.join();
    }
    close(fds[0]);
    EXPECT_TRUE(written);
    EXPECT_TRUE(read);
    EXPECT_TRUE(received == sent) << received.size() << " of " << sent.size() << " bytes";
}

TEST(FdIoTest, PositionedWriteLandsAtItsOffsetAndReadToEndAppends)
{
    TempDir dir;
    const std::string path = dir.path("file");
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(orv::io::writeAll(fd, "0123456789", 10));
    ASSERT_TRUE(orv::io::pwriteAll(fd, "abc", 3, 4));
    ASSERT_EQ(lseek(fd, 2, SEEK_SET), 2);
    std::string text = "<";
    EXPECT_TRUE(orv::io::readToEnd(fd, text));
    EXPECT_EQ(text, "<23abc789");
    close(fd);

    const orv::io::Status failed = orv::io::readToEnd(-1, text);
    EXPECT_FALSE(failed.ok());
    EXPECT_EQ(failed.code(), EBADF);
}

// A failed transfer keeps its reason and what was being done, whatever
// later calls do to errno.
TEST(FdIoTest, FailuresCarryTheCallAndTheReason)
{
    const orv::io::FdGuard full(open("/dev/full", O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(full.valid());
    const orv::io::Status written = orv::io::writeAll(full.get(), "x", 1);
    const orv::io::Status positioned = orv::io::pwriteAll(full.get(), "x", 1, 0);
    std::string text;
    const orv::io::Status read = orv::io::readToEnd(full.get(), text);
    errno = 0;
    EXPECT_EQ(written.code(), ENOSPC);
    EXPECT_EQ(written.toString(), "write: No space left on device");
    EXPECT_EQ(positioned.toString(), "pwrite: No space left on device");
    EXPECT_EQ(read.code(), EBADF);
    EXPECT_EQ(read.toString(), "read: Bad file descriptor");
}
