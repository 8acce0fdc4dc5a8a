#!/usr/bin/env bash
# Cross-builds for 64-bit Windows with mingw-w64 what builds there today (the image pipeline and
# its unit tests): scripts/build-windows.sh [build-dir]   (default build-windows)
# Then run the tests under Wine: ctest --test-dir build-windows --output-on-failure
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-windows}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw-w64-x86_64.cmake"
cmake --build "$dir" -j "${QUORIX_JOBS:-$(nproc)}"
