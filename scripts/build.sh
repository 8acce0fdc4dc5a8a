#!/usr/bin/env bash
# Configures and builds the SDK and its tools: scripts/build.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
cmake -S . -B "$dir" -G Ninja
cmake --build "$dir" -j "$(nproc)"
