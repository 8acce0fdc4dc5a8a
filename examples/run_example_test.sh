#!/usr/bin/env bash
# Runs one example program against an emulated camera and checks the file it writes.
# usage: run_example_test.sh CAMSIM CHECK PROGRAM [ARGUMENTS...]
#   CHECK: png:FILE:WIDTH:HEIGHT  a PNG file of that size
#          avi:FILE               an AVI file
#          none                   only the program's exit status
# The program runs in a directory of its own (its files land there), sees one camera served by
# quorix-camsim (QUORIX_SIM_DIR) and keeps its settings there too (XDG_CONFIG_HOME).
set -uo pipefail
camsim=$1 check=$2
shift 2

work=$(mktemp -d)
daemon=
cleanup() {
  [ -n "$daemon" ] && kill "$daemon" && wait "$daemon" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export QUORIX_SIM_DIR=$work/cameras XDG_CONFIG_HOME=$work/config
"$camsim" --dir "$QUORIX_SIM_DIR" --fps 5 >/dev/null &
daemon=$!
for _ in $(seq 1 300); do
  compgen -G "$QUORIX_SIM_DIR/*.sock" >/dev/null && break
  sleep 0.1
done

cd "$work" || exit 1
"$@" || { echo "FAIL: $* exited with $?" >&2; exit 1; }

# be32 FILE OFFSET: the big-endian 32-bit number at OFFSET.
be32() {
  od -An -v -tu1 -j "$2" -N 4 "$1" | awk '{ print (($1 * 256 + $2) * 256 + $3) * 256 + $4 }'
}
IFS=: read -r kind file width height <<<"$check"
case $kind in
  png)
    [ "$(od -An -tx1 -N 8 "$file" | tr -d ' ')" = 89504e470d0a1a0a ] ||
      { echo "FAIL: $file is not a PNG file" >&2; exit 1; }
    size="$(be32 "$file" 16) x $(be32 "$file" 20)"
    [ "$size" = "$width x $height" ] ||
      { echo "FAIL: $file is $size pixels, not $width x $height" >&2; exit 1; }
    ;;
  avi)
    [ "$(head -c 4 "$file")" = RIFF ] && [ "$(tail -c +9 "$file" | head -c 4)" = "AVI " ] ||
      { echo "FAIL: $file is not an AVI file" >&2; exit 1; }
    ;;
  none) ;;
  *) echo "FAIL: unknown check $check" >&2; exit 1 ;;
esac
echo "ok: $*"
