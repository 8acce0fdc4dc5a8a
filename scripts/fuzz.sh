#!/usr/bin/env bash
# Runs each libFuzzer target for a bounded time from its seed corpus in fuzz/corpus/:
# scripts/fuzz.sh BUILD-DIR [SECONDS-PER-TARGET]. New inputs go to a scratch directory, never into
# the repository's corpus. Build the targets first, with clang:
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQUORIX_BUILD_FUZZ=ON \
#     -DQUORIX_BUILD_TESTS=OFF
#   cmake --build build-fuzz --target quorix_fuzz_settings_file quorix_fuzz_config_file
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
seconds=${2:-60}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in settings_file config_file; do
  dict=()
  [ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
  mkdir -p "$scratch/$target"
  echo "fuzz: $target for ${seconds} s"
  "$build/fuzz/quorix_fuzz_$target" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
    "${dict[@]}" "$scratch/$target" "fuzz/corpus/$target"
done
