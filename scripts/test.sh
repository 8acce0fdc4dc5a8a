#!/usr/bin/env bash
# Configures, builds and runs the whole test suite: scripts/test.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
cmake -S . -B "$dir" -G Ninja -DQUORIX_BUILD_BENCH=ON  # benchmarks are built, not run
cmake --build "$dir" -j "$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
