#!/bin/sh
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) in build-fuzz,
# with every other library and program of ours beside them so that clang's
# -Wthread-safety checks all the locking (warnings are errors here too),
# and runs each for FUZZ_SECONDS (default 60) on a scratch copy of its
# checked-in corpus, as many at once as there are cores. Any crash, leak,
# timeout or broken property fails the run and names the input that caused
# it; the checked-in tree is never written to.
#
# FUZZ_TARGETS picks targets (default: all), FUZZ_BUILD_DIR the build folder.
set -eu
cd "$(dirname "$0")/.."
ROOT=$PWD
FUZZ_BUILD_DIR=${FUZZ_BUILD_DIR:-build-fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
FUZZ_TARGETS=${FUZZ_TARGETS:-"event_codec door_request event_db control_file template mime"}
JOBS=$(nproc)

CC=clang CXX=clang++ cmake -S . -B "$FUZZ_BUILD_DIR" -DKAV_FUZZ=ON -DKAV_WERROR=ON >/dev/null
cmake --build "$FUZZ_BUILD_DIR" -j"$JOBS" --target fuzzers libraries_and_programs
case $FUZZ_BUILD_DIR in
/*) BIN=$FUZZ_BUILD_DIR/fuzz ;;
*) BIN=$ROOT/$FUZZ_BUILD_DIR/fuzz ;;
esac

SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/kav-fuzz-run.XXXXXX")

# Runs target $1 in its own scratch folder and leaves the fuzzer's exit
# status in the file "status" there.
fuzz_one() {
    work=$SCRATCH/$1
    mkdir -p "$work/corpus" "$work/artifacts" "$work/tmp"
    cp "$ROOT/fuzz/corpus/$1/"* "$work/corpus/"
    status=0
    TMPDIR=$work/tmp "$BIN/fuzz_$1" "$work/corpus" \
        -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$work/artifacts/" -print_final_stats=1 >"$work/log" 2>&1 || status=$?
    echo "$status" >"$work/status"
}

# Tells how target $1 did; nonzero when it failed, naming what it left.
report() {
    work=$SCRATCH/$1
    if [ "$(cat "$work/status")" = 0 ]; then
        echo "fuzz_$1: $(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log") runs, no failure"
        return 0
    fi
    tail -n 40 "$work/log" >&2
    for artifact in "$work/artifacts/"*; do
        [ -e "$artifact" ] || continue
        echo "fuzz_$1 failed on input $artifact" >&2
        echo "  keep it as a regression input, under a name that says what it holds:" >&2
        echo "  cp '$artifact' '$ROOT/fuzz/corpus/$1/'" >&2
    done
    echo "full log: $work/log" >&2
    return 1
}

# As many targets at once as there are cores.
failed=""
set -- $FUZZ_TARGETS
while [ $# -gt 0 ]; do
    batch=""
    while [ $# -gt 0 ] && [ "$(echo $batch | wc -w)" -lt "$JOBS" ]; do
        fuzz_one "$1" &
        batch="$batch $1"
        shift
    done
    wait
    for target in $batch; do
        report "$target" || failed="$failed $target"
    done
done

if [ -n "$failed" ]; then
    echo "fuzzing failed for:$failed (scratch kept in $SCRATCH)" >&2
    exit 1
fi
rm -rf "$SCRATCH"
echo "fuzzing passed: $FUZZ_TARGETS, $FUZZ_SECONDS s each"
