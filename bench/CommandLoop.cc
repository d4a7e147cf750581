// kav-command-loop RUNS SCRIPT ARG...
//
// Starts SCRIPT with the given arguments RUNS times one after the other
// through system_safe, the way the email channel runs a mail-submission
// script, and prints the mean wall time of one run:
//   runs=200 failures=0 mean_us=812.4
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/system_safe/system_safe.h"

int main(int argc, char** argv)
{
    if (argc < 3 || std::atoi(argv[1]) <= 0) {
        std::fprintf(stderr, "usage: kav-command-loop RUNS SCRIPT ARG...\n");
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    const std::vector<std::string> command(argv + 2, argv + argc);
    int failures = 0;
    auto began = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i)
        if (system_safe(command, orv::process::RunLimits {}) != 0)
            ++failures;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("runs=%d failures=%d mean_us=%.1f\n", runs, failures, seconds * 1e6 / runs);
    return failures == 0 ? 0 : 1;
}
