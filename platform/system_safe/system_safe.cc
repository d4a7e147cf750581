#include "platform/system_safe/system_safe.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "platform/io/FdGuard.h"

extern char** environ;

using orv::process::RunLimits;
using orv::process::RunStop;

namespace {

using Clock = std::chrono::steady_clock;

// Without a process descriptor (an old kernel), the wait looks again this often.
constexpr int pollSliceMilliseconds = 20;

// Owns the spawn attributes for the length of one call.
class SpawnAttributes {
public:
    SpawnAttributes()
        : m_status(posix_spawnattr_init(&m_attributes))
    {
    }
    ~SpawnAttributes()
    {
        if (m_status == 0)
            posix_spawnattr_destroy(&m_attributes);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    // The caller's thread may block signals (the daemon routes them to one
    // thread) or ignore some; the command gets a clean slate instead. Its own
    // process group lets a stop reach everything it started.
    int prepare()
    {
        if (m_status != 0)
            return m_status;
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        int status = posix_spawnattr_setsigmask(&m_attributes, &none);
        if (status == 0)
            status = posix_spawnattr_setsigdefault(&m_attributes, &all);
        if (status == 0)
            status = posix_spawnattr_setpgroup(&m_attributes, 0);
        if (status == 0) {
            status = posix_spawnattr_setflags(
                &m_attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
        }
        return status;
    }

    const posix_spawnattr_t* get() const { return &m_attributes; }

private:
    posix_spawnattr_t m_attributes;
    int m_status;
};

// Owns the spawn file actions for the length of one call.
class SpawnFileActions {
public:
    SpawnFileActions()
        : m_status(posix_spawn_file_actions_init(&m_actions))
    {
    }
    ~SpawnFileActions()
    {
        if (m_status == 0)
            posix_spawn_file_actions_destroy(&m_actions);
    }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;

    // Descriptors the daemon inherited from whoever started it are not
    // close-on-exec; the command gets its standard three only.
    int closeAllButStandard()
    {
        if (m_status != 0)
            return m_status;
        return posix_spawn_file_actions_addclosefrom_np(&m_actions, 3);
    }

    const posix_spawn_file_actions_t* get() const { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions;
    int m_status;
};

// A descriptor of the process `pid`, or none (an old kernel).
orv::io::FdGuard openProcess(pid_t pid)
{
    return orv::io::FdGuard(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
}

int spawn(pid_t& child, const std::vector<std::string>& args)
{
    SpawnAttributes attributes;
    SpawnFileActions actions;
    int status = attributes.prepare();
    if (status == 0)
        status = actions.closeAllButStandard();
    if (status != 0)
        return status;
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    return posix_spawn(&child, argv[0], actions.get(), attributes.get(), argv.data(), environ);
}

// True once the child has ended (not reaped, so its process group cannot be
// reused meanwhile), false at `deadline` or when `cancelFd` turned readable.
bool waitForEnd(pid_t child, const orv::io::FdGuard& process, Clock::time_point deadline, bool limited, int cancelFd,
    bool& cancelled)
{
    for (;;) {
        siginfo_t info {};
        if (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == child)
            return true;
        int timeout = -1;
        if (limited) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            timeout = static_cast<int>(std::min<long long>(left, 1 << 30));
        }
        if (process.get() < 0)
            timeout = timeout < 0 ? pollSliceMilliseconds : std::min(timeout, pollSliceMilliseconds);
        pollfd fds[2] = { { process.get(), POLLIN, 0 }, { cancelFd, POLLIN, 0 } };
        if (poll(fds, 2, timeout) > 0 && fds[1].revents != 0) {
            cancelled = true;
            return false;
        }
    }
}

int reap(pid_t child)
{
    int waitStatus = 0;
    while (waitpid(child, &waitStatus, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return waitStatus;
}

// SIGTERM to the whole group, SIGKILL to whatever is left once the leader
// has ended or the grace time is over; the wait status the stop gave.
int stopGroup(pid_t child, const orv::io::FdGuard& process, int graceMilliseconds)
{
    kill(-child, SIGTERM);
    bool unused = false;
    const bool ended
        = waitForEnd(child, process, Clock::now() + std::chrono::milliseconds(graceMilliseconds), true, -1, unused);
    kill(-child, SIGKILL);
    const int waitStatus = reap(child);
    // A script that catches SIGTERM and exits still ended because of it.
    if (waitStatus >= 0 && WIFSIGNALED(waitStatus))
        return waitStatus;
    return ended ? SIGTERM : SIGKILL;
}

}

int system_safe(const std::vector<std::string>& argv, const RunLimits& limits, RunStop* stop)
{
    if (stop != nullptr)
        *stop = RunStop::None;
    if (argv.empty()) {
        errno = EINVAL;
        return -1;
    }
    const auto started = Clock::now();
    pid_t child = -1;
    int status = spawn(child, argv);
    if (status == ENOEXEC) {
        // No "#!" line: the shell reads it, as it would if it had run the file.
        std::vector<std::string> shell { "/bin/sh" };
        shell.insert(shell.end(), argv.begin(), argv.end());
        status = spawn(child, shell);
    }
    if (status != 0) {
        errno = status;
        return -1;
    }
    const orv::io::FdGuard process = openProcess(child);
    bool cancelled = false;
    const bool limited = limits.timeoutSeconds > 0;
    if (waitForEnd(child, process, started + std::chrono::seconds(limits.timeoutSeconds), limited, limits.cancelFd,
            cancelled)) {
        return reap(child);
    }
    if (stop != nullptr)
        *stop = cancelled ? RunStop::Cancelled : RunStop::TimedOut;
    return stopGroup(child, process, limits.graceMilliseconds);
}
