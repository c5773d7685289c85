#!/usr/bin/env bash
# Sets up a fresh machine, builds everything in Debug and in Release and runs
# the whole test suite through CTest in both. Debug catches framework
# assertions; Release is what hosts load.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
for config in Debug Release; do
    dir="build/test-${config,,}"
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$config" -DLUMIRO_BUILD_TESTS=ON
    cmake --build "$dir" -j"$jobs"
    ctest --test-dir "$dir" --output-on-failure -j"$jobs"
done
