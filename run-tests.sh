#!/bin/sh
# Builds everything with warnings as errors and runs the whole test suite,
# then runs it again under the address and undefined-behaviour sanitizers,
# and the tests that exercise threads under the thread sanitizer, and ends
# with a bounded run of each fuzzer. It starts by checking that every source
# is laid out as .clang-format says. Any sanitizer report or fuzzer finding
# fails the run.
#
# SANITIZERS=no skips the two sanitizer passes and the fuzzers; FUZZ=no the
# fuzzers alone.
set -eu
cd "$(dirname "$0")"
scripts/install-deps.sh test
# Layout first: it takes a second and names every file that strays.
scripts/check-format.sh
BUILD_DIR=${BUILD_DIR:-build}
ASAN_BUILD_DIR=${ASAN_BUILD_DIR:-build-asan}
TSAN_BUILD_DIR=${TSAN_BUILD_DIR:-build-tsan}
JOBS=$(nproc)

cmake -S . -B "$BUILD_DIR" -DKAV_WERROR=ON
cmake --build "$BUILD_DIR" -j"$JOBS"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$JOBS"

[ "${SANITIZERS:-yes}" = no ] && exit 0

# Runs ctest in build folder $1 (further arguments go to ctest) and fails if
# a test fails or any sanitizer report shows in the tests' output: the daemon
# started by the end-to-end tests shares their standard error, and a test may
# not look at its exit status.
run_sanitized() {
    dir=$1
    shift
    status=0
    ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
        ctest --test-dir "$dir" --output-on-failure -j"$JOBS" "$@" || status=$?
    log=$dir/Testing/Temporary/LastTest.log
    if grep -E "$REPORT_PATTERN" "$log"; then
        echo "sanitizer reports in $log" >&2
        exit 1
    fi
    [ "$status" -eq 0 ] || exit "$status"
}
REPORT_PATTERN='runtime error:|ERROR: (AddressSanitizer|LeakSanitizer)|WARNING: ThreadSanitizer|SUMMARY: [A-Za-z]*Sanitizer'

cmake -S . -B "$ASAN_BUILD_DIR" -DKAV_WERROR=ON -DKAV_SANITIZE=address,undefined
cmake --build "$ASAN_BUILD_DIR" -j"$JOBS"
# The stress test's stream is shortened here: the sanitizers make every
# event some ten times dearer, and its memory check is off under them.
export KAV_STRESS_EVENTS=2000
run_sanitized "$ASAN_BUILD_DIR"

# Only the test programs that run threads (door server, log, remote channel,
# event database lookups and the end-to-end runs of the daemon, faults and
# hostile callers included): tests/CMakeLists.txt gives their tests the
# label tsan and builds them with the target tsan_tests.
cmake -S . -B "$TSAN_BUILD_DIR" -DKAV_WERROR=ON -DKAV_SANITIZE=thread
cmake --build "$TSAN_BUILD_DIR" -j"$JOBS" --target tsan_tests
# The tests that fill a small /tmp are about disk space, not threads, and
# the thread sanitizer's runtime keeps a file of its own there that changes
# what fits.
run_sanitized "$TSAN_BUILD_DIR" -L tsan -E 'FaultTest\.(FullTmp|MessageThatCannotBeWritten)'

# The fuzzers, each for FUZZ_SECONDS (60), in a clang build of their own
# (build-fuzz), which also compiles every library and program for clang's
# -Wthread-safety; FUZZ=no skips them.
[ "${FUZZ:-yes}" = no ] || fuzz/run-fuzzers.sh
