#!/usr/bin/env bash
# Fails when the shared library exports anything but the documented names, or misses one.
set -euo pipefail
library=$1
expected=$2
actual=$(nm -D --defined-only --format=posix "$library" | awk '{print $1}' | LC_ALL=C sort)
if ! diff <(LC_ALL=C sort "$expected") <(echo "$actual"); then
  echo "exported symbols differ from $expected (< expected, > exported)" >&2
  exit 1
fi
echo "exports match: $(echo "$actual" | wc -l) names"
