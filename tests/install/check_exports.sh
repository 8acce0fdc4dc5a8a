#!/usr/bin/env bash
# Checks the library's surface against the export list (src/api/exports.list): libquorix.so
# exports exactly the names marked for Linux, nothing more (no internal symbol leaks) and nothing
# less; quorix.h declares every listed name and lists no function that is missing from the list;
# the Windows module-definition file names the DLL and exports exactly the names marked for
# Windows.
set -euo pipefail
library=$1
list=$2
header=$3
definition=$4
failed=0

# The names of the list marked for one build (both, or that build alone).
listed() {
  awk -v build="$1" '/^[[:space:]]*(#|$)/ { next }
    $2 == "both" || $2 == build { print $1 }' "$list" | LC_ALL=C sort
}
# Reports a difference between two sorted name lists.
compare() {
  if ! diff <(echo "$2") <(echo "$3"); then
    echo "$1 (< expected, > found)" >&2
    failed=1
  fi
}

linux=$(listed linux)
windows=$(listed windows)
all=$( (echo "$linux"; echo "$windows") | LC_ALL=C sort -u)

exported=$(nm -D --defined-only --format=posix "$library" | awk '{print $1}' | LC_ALL=C sort)
compare "libquorix.so does not export exactly the Linux names of $list" "$linux" "$exported"

# Every function of the header is declared as "QUORIX_API <type> Quorix_Name(".
declared=$(grep -oE '^QUORIX_API [^(]*[ *]Quorix_[A-Za-z0-9_]+\(' "$header" |
  grep -oE 'Quorix_[A-Za-z0-9_]+\($' | tr -d '(' | LC_ALL=C sort)
compare "quorix.h does not declare exactly the names of $list" "$all" "$declared"

if [[ $(sed -n 1,3p "$definition" | grep -v '^;') != $'LIBRARY QuorixSdk_252DIV_USB3_R5\nEXPORTS' ]]; then
  echo "$definition does not start with the LIBRARY and EXPORTS lines" >&2
  failed=1
fi
defined=$(sed -n '/^EXPORTS$/,$p' "$definition" | tail -n +2 | awk '{print $1}' | LC_ALL=C sort)
compare "$definition does not export exactly the Windows names of $list" "$windows" "$defined"

if [[ $failed -ne 0 ]]; then
  exit 1
fi
echo "exports match: $(echo "$exported" | wc -l) names on Linux, $(echo "$defined" | wc -l) on Windows"
