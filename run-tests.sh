#!/bin/sh
# Builds everything with warnings as errors and runs the whole test suite.
set -eu
cd "$(dirname "$0")"
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DKAV_WERROR=ON
cmake --build "$BUILD_DIR" -j"$(nproc)"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)"
