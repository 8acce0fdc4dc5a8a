#!/usr/bin/env bash
# `quorix record` ended from outside: SIGTERM and SIGHUP end the recording early as Ctrl-C does,
# with a whole file (index and all); a recording killed outright (SIGKILL) leaves a file whose
# headers count frames that ffprobe reads, as many as they count.
# usage: record_signals_test.sh QUORIX_TOOL
#
# The frames are 256 x 64 pixels of 24 bits: chunks of 8 + 49152 bytes from offset 232.
set -uo pipefail
quorix=$(realpath "$1")

source "$(dirname "$0")/cli_support.sh"
trap 'rm -rf "$TMPDIR"' EXIT

u32() { od -An -v -tu4 --endian=little -j "$2" -N 4 "$1" | tr -d ' \n'; }
chunk=$((8 + 256 * 3 * 64))

# frames_read FILE: the frames ffprobe decodes from the file's video stream.
frames_read() {
  ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of default=noprint_wrappers=1:nokey=1 "$1" 2>&1
}

# record_until SIGNAL FILE: starts a recording far longer than the test, waits until its file's
# headers count frames and one second more, sends SIGNAL, and leaves the tool's output in $out and
# its exit status in $status.
record_until() {
  "$quorix" record --sim 1 -o "$2" --seconds 60 --window 0,0,256,64 >"$work/out" 2>&1 &
  local pid=$! tries=0
  while [ "$tries" -lt 200 ] && { [ ! -s "$2" ] || [ "$(u32 "$2" 48)" = 0 ]; }; do
    sleep 0.1
    tries=$((tries + 1))
  done
  sleep 1
  kill -s "$1" "$pid"
  { wait "$pid"; } 2>/dev/null
  status=$?
  out=$(cat "$work/out")
}

work=$TMPDIR/work
mkdir -p "$work"

# --- SIGTERM and SIGHUP: finished like Ctrl-C ------------------------------------------------------
for signal in TERM HUP; do
  avi=$work/$signal.avi
  record_until "$signal" "$avi"
  [ "$status" -eq 0 ] || fail "record ended by SIG$signal exits $status: $out"
  expect_line "Ended           stopped" "$out" "SIG$signal"
  frames=$(sed -n 's/^Recorded  *.*\.avi: \([0-9][0-9]*\) frames of 256 x 64 pixels at .*/\1/p' \
    <<<"$out")
  if [ -z "$frames" ] || [ "$frames" -eq 0 ]; then
    fail "SIG$signal: the summary reports no frames: $out"
    continue
  fi
  size=$(stat -c %s "$avi")
  [ "$size" -eq $((232 + frames * chunk + 8 + 16 * frames)) ] ||
    fail "$signal.avi is $size bytes, not $frames frames and their index"
  [ "$(u32 "$avi" 4)" -eq $((size - 8)) ] || fail "$signal.avi: RIFF size off"
  [ "$(u32 "$avi" 48)" = "$frames" ] || fail "$signal.avi counts $(u32 "$avi" 48), not $frames frames"
  [ "$(od -An -c -j $((232 + frames * chunk)) -N 4 "$avi" | tr -d ' ')" = idx1 ] ||
    fail "$signal.avi has no index after its frames"
  read_frames=$(frames_read "$avi")
  [ "$read_frames" = "$frames" ] || fail "ffprobe reads $read_frames frames of $signal.avi, not $frames"
done
no_leftovers "record ended by signals"

# --- SIGKILL: the headers as last brought up to date (the tool leaves its socket directory) ---
avi=$work/killed.avi
record_until KILL "$avi"
[ "$status" -eq 137 ] || fail "the killed recording exits $status: $out"
frames=$(u32 "$avi" 48)
if [ "$frames" -eq 0 ]; then
  fail "killed.avi counts no frames"
else
  [ "$(u32 "$avi" 140)" = "$frames" ] || fail "killed.avi: stream length $(u32 "$avi" 140), not $frames"
  [ "$(u32 "$avi" 224)" -eq $((4 + frames * chunk)) ] || fail "killed.avi: movi size off"
  [ "$(u32 "$avi" 4)" -eq $((232 + frames * chunk - 8)) ] || fail "killed.avi: RIFF size off"
  read_frames=$(frames_read "$avi")
  [ "$read_frames" = "$frames" ] || fail "ffprobe reads $read_frames frames of killed.avi, its headers count $frames"
fi


if [ "$failures" -ne 0 ]; then
  echo "$failures failures" >&2
  exit 1
fi
echo "record signals: all checks passed"
