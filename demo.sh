#!/bin/sh
# Builds the daemon if needed and runs it on the sample configuration in a
# private sandbox (no root needed, the host's files stay untouched): posts a
# few sample events and prints the log lines and frames they produced.
set -eu
cd "$(dirname "$0")"
BUILD_DIR=${BUILD_DIR:-build}
scripts/install-deps.sh demo

if ! { cmake -S . -B "$BUILD_DIR" && cmake --build "$BUILD_DIR" -j"$(nproc)"; } >"${TMPDIR:-/tmp}/kav-demo-build.log" 2>&1; then
    cat "${TMPDIR:-/tmp}/kav-demo-build.log" >&2
    echo "demo: the build failed" >&2
    exit 1
fi

root=$(mktemp -d "${TMPDIR:-/tmp}/kav-demo-XXXXXX")
trap 'rm -rf "$root"' EXIT INT TERM
mkdir -p "$root/etc-opt/KTRXORV/ORV" "$root/var-opt/KTRXORV/ORV/logs"
cp -r config "$root/etc-opt/KTRXORV/ORV/config"
cp -r demo "$root/demo"
"$BUILD_DIR/tools/kav-sandbox/kav-sandbox" "$root" "$BUILD_DIR" /bin/sh /run/sandbox/demo/inside.sh
