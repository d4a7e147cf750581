// Runs a command and waits for it, from any thread, with a deadline.
#pragma once

#include <string>
#include <vector>

namespace orv::process {

// Why a run was stopped before the command ended by itself.
enum class RunStop {
    None,
    TimedOut, // still running when the time limit ran out
    Cancelled, // the cancel descriptor became readable
};

struct RunLimits {
    // Seconds from the start; 0 or less: no limit.
    int timeoutSeconds = 0;
    // Ends the wait at once when readable (negative: none).
    int cancelFd = -1;
    // Between SIGTERM and SIGKILL to the command's process group.
    int graceMilliseconds = 2000;
};

}

// Starts argv[0] directly with `argv` as its arguments (no shell in between;
// a file without "#!" is run by /bin/sh, as the shell would) in a process
// group of its own, with only descriptors 0, 1 and 2, default signal
// dispositions and an empty signal mask, and waits for it.
//
// Past the limit, or once the cancel descriptor is readable, the whole group
// gets SIGTERM and, `graceMilliseconds` later, SIGKILL; `stop` then says why,
// and the result is the wait status of a death by the signal that ended it.
//
// The command's wait status (0 when it exited with status 0), or a negative
// value with errno set when it could not be started or waited for.
int system_safe(
    const std::vector<std::string>& argv, const orv::process::RunLimits& limits, orv::process::RunStop* stop = nullptr);
