#!/bin/sh
# Checks that every C and C++ source of the project is laid out as
# .clang-format says, naming the files that are not; with --fix it rewrites
# them instead.
set -eu
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    files=$(git ls-files '*.cc' '*.h' '*.c')
else
    files=$(find cmd platform tools tests bench fuzz -name '*.cc' -o -name '*.h' -o -name '*.c')
fi
if [ "${1:-}" = --fix ]; then
    # shellcheck disable=SC2086
    clang-format -i $files
    exit 0
fi
# shellcheck disable=SC2086
if report=$(clang-format --dry-run --Werror $files 2>&1); then
    exit 0
fi
echo "not laid out as .clang-format says (scripts/check-format.sh --fix rewrites them):" >&2
echo "$report" | sed -n 's/^\([^: ]*\):[0-9]*:[0-9]*: error:.*/    \1/p' | sort -u >&2
exit 1
