// Starting the programs under test: the daemon, the tools, the stand-ins.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

struct ProcessResult {
    int exitStatus = -1; // exit code, or 128 + signal
    std::string output; // standard output and error together
};

// Environment changes for a child: a value sets, std::nullopt-like empty
// marker "\x01unset" removes.
using EnvChanges = std::map<std::string, std::string>;
inline const std::string unsetVar = "\x01unset";

// Starts `argv` in the background; its output goes to `outputFile` (or is
// discarded when empty).
pid_t spawnProcess(const std::vector<std::string>& argv, const EnvChanges& env, const std::string& outputFile = {});

// Runs `argv` to completion, with optional bytes on standard input.
ProcessResult runProcess(const std::vector<std::string>& argv, const EnvChanges& env = {});

// Sends `signal` and waits (at most `seconds`) for the exit; the status as
// in ProcessResult, or -1 after killing it when it did not exit in time.
int stopProcess(pid_t pid, int signal, int seconds = 10);

// Waits until something accepts connections on the Unix socket `path`.
bool waitForSocket(const std::string& path, int seconds = 10);
