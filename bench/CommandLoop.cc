// kav-command-loop RUNS COMMAND
//
// Runs the shell command line COMMAND RUNS times one after the other through
// system_safe, the way the email channel runs a mail-submission script, and
// prints the mean wall time of one run:
//   runs=200 failures=0 mean_us=812.4
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "system_safe.h"

int main(int argc, char** argv)
{
    if (argc != 3 || std::atoi(argv[1]) <= 0) {
        std::fprintf(stderr, "usage: kav-command-loop RUNS COMMAND\n");
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    int failures = 0;
    auto began = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i)
        if (system_safe(argv[2]) != 0)
            ++failures;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("runs=%d failures=%d mean_us=%.1f\n", runs, failures, seconds * 1e6 / runs);
    return failures == 0 ? 0 : 1;
}
