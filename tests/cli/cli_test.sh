#!/usr/bin/env bash
# The quorix tool as a user runs it: `list` and `info` against no camera, against cameras the tool
# emulates itself (--sim) and against a quorix-camsim daemon's cameras (QUORIX_SIM_DIR).
# usage: cli_test.sh QUORIX_TOOL [QUORIX_CAMSIM]
#
# Expected values are those of the emulated camera as documented in sim/camera_config.h: USB
# controller firmware 0x1201 with the readiness line wired, FPGA version 0x0140, serial numbers
# QX252-000001 upward; and those of the IMX252 head: 2048 x 1536 pixels, gain register 0..480
# (0.1 dB steps), exposure 1..20000 units of 100 us (0.1 ms to 2 s), no colour gains.
set -uo pipefail
quorix=$1
camsim=${2:-}

source "$(dirname "$0")/cli_support.sh"
daemon=
cleanup() {
  if [ -n "$daemon" ]; then
    kill "$daemon" 2>/dev/null
    wait "$daemon" 2>/dev/null
  fi
  rm -rf "$TMPDIR"
}
trap cleanup EXIT

# The tool reaches cameras only through the SDK library: no Quorix_ function may be linked into
# the tool itself, where its calls would bypass the library.
if nm --defined-only "$quorix" | grep -E ' [TtWw] Quorix_' >&2; then
  fail "the tool defines Quorix_ functions of its own"
fi
readelf -d "$quorix" | grep -q 'NEEDED.*libquorix\.so' || fail "the tool does not use libquorix.so"

# --- No camera --------------------------------------------------------------------------------
out=$("$quorix" list 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "list without cameras exits $status"
[ "$out" = "No cameras found." ] || fail "list without cameras says: $out"

out=$("$quorix" info 2>&1)
status=$?
[ "$status" -ne 0 ] || fail "info without cameras succeeds"
expect_line "No cameras found." "$out" "info without cameras"

# --- Emulated cameras of the tool's own ---------------------------------------------------------
out=$("$quorix" list --sim 2 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "list --sim 2 exits $status: $out"
[ "$out" = $'0: Quorix252DIV-USB3-R5_01\n1: Quorix252DIV-USB3-R5_02' ] ||
  fail "list --sim 2 lists:"$'\n'"$out"
no_leftovers "list --sim 2"

out=$("$quorix" info --sim 1 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "info --sim 1 exits $status: $out"
expect_line "Camera          Quorix252DIV-USB3-R5_01 (device index 0)" "$out" "info --sim 1"
expect_line "Serial number   QX252-000001" "$out" "info --sim 1"
expect_line "USB firmware    0x1201" "$out" "info --sim 1"
expect_line "Readiness line  1 (the camera reports when it is ready)" "$out" "info --sim 1"
expect_line "FPGA version    0x0140" "$out" "info --sim 1"
expect_line "Maximum size    2048 x 1536 pixels" "$out" "info --sim 1"
expect_line "Gain            0 .. 480" "$out" "info --sim 1"
expect_line "Colour gain     0 .. 0" "$out" "info --sim 1"
expect_line "Exposure        1 .. 20000 x 100 us (0.0001 .. 2 s)" "$out" "info --sim 1"
expect_line "Exposure [s]    not supported" "$out" "info --sim 1"
no_leftovers "info --sim 1"

# The main job: with no camera attached the tool falls back to one emulated camera and says so.
out=$("$quorix" info --sim-if-none 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "info --sim-if-none exits $status: $out"
expect_line "No camera attached: using the built-in emulated camera." "$out" "info --sim-if-none"
expect_line "Serial number   QX252-000001" "$out" "info --sim-if-none"
no_leftovers "info --sim-if-none"

# Several cameras: the user must choose, and --camera picks that camera's own serial number.
out=$("$quorix" info --sim 2 2>&1)
status=$?
[ "$status" -eq 2 ] || fail "info --sim 2 without --camera exits $status: $out"
out=$("$quorix" info --sim 2 --camera 1 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "info --sim 2 --camera 1 exits $status: $out"
expect_line "Camera          Quorix252DIV-USB3-R5_02 (device index 1)" "$out" "info --camera 1"
expect_line "Serial number   QX252-000002" "$out" "info --camera 1"

# A camera that is not there: the failing call and its code (2, camera not present).
out=$("$quorix" info --sim 1 --camera 5 2>&1)
status=$?
[ "$status" -eq 1 ] || fail "info --camera 5 with one camera exits $status: $out"
grep -q "Quorix_SetDeviceNumber failed (error 2" <<<"$out" ||
  fail "info --camera 5 does not name the failed call and code: $out"
no_leftovers "info --camera 5"

# Usage errors.
"$quorix" list --sim 0 >/dev/null 2>&1
[ $? -eq 2 ] || fail "list --sim 0 is not a usage error"
"$quorix" list --camera 0 >/dev/null 2>&1
[ $? -eq 2 ] || fail "list takes no --camera"

# --- A daemon's cameras through QUORIX_SIM_DIR ---------------------------------------------------
if [ -n "$camsim" ]; then
  daemon_dir=$(mktemp -d)
  "$camsim" --dir "$daemon_dir" --cameras 1 >/dev/null &
  daemon=$!
  for _ in $(seq 1 300); do
    compgen -G "$daemon_dir/*.sock" >/dev/null && break
    sleep 0.1
  done
  export QUORIX_SIM_DIR=$daemon_dir
  out=$("$quorix" list 2>&1)
  [ "$out" = "0: Quorix252DIV-USB3-R5_01" ] || fail "list with a daemon's camera lists:"$'\n'"$out"
  # Its own emulated cameras come in addition to the daemon's.
  out=$("$quorix" list --sim 1 2>&1)
  [ "$(grep -c 'Quorix252DIV-USB3-R5_0[12]$' <<<"$out")" -eq 2 ] ||
    fail "list --sim 1 beside a daemon lists:"$'\n'"$out"
  no_leftovers "list --sim 1 beside a daemon"
  [ "$(find "$daemon_dir" -name '*.sock' | wc -l)" -eq 1 ] ||
    fail "the tool touched the daemon's sockets"
  # A daemon killed outright leaves its socket file behind; with another daemon serving the one
  # camera present, that camera is still the emulated one.
  kill -KILL "$daemon"
  wait "$daemon" 2>/dev/null
  "$camsim" --dir "$daemon_dir" --cameras 1 >/dev/null &
  daemon=$!
  for _ in $(seq 1 300); do
    [ "$(find "$daemon_dir" -name '*.sock' | wc -l)" -ge 2 ] && break
    sleep 0.1
  done
  out=$("$quorix" snap -o "$daemon_dir/shot.png" 2>&1)
  grep -q "serial number QX252-000001 (simulated)" <<<"$out" ||
    fail "snap beside a killed daemon's socket says:"$'\n'"$out"
  unset QUORIX_SIM_DIR
  kill "$daemon"
  wait "$daemon" 2>/dev/null
  daemon=
  rm -rf "$daemon_dir"
fi

# --- Settings ------------------------------------------------------------------------------------
# The store is the test's own (cli_support.sh sets XDG_CONFIG_HOME), written by the commands above.
# After a reset it is empty; a file written by hand is merged in; a camera's part can be shown,
# exported, reset and imported again.
header="Windows Registry Editor Version 5.00"
"$quorix" settings reset || fail "settings reset fails"
out=$("$quorix" settings show 2>&1 | tr -d '\r')
[ "$out" = "$header" ] || fail "settings show after a reset says: $out"
product='HKEY_CURRENT_USER\Software\Voltis\Quorix252DIV3R5Sdk'
printf '%s\n\n; by hand\n[%s\\Camera_00\\Gain]\n"Global"=dword:12c\n[%s\\Camera_01]\n"Color"=dword:1\n' \
  "$header" "$product" "$product" >"$TMPDIR/hand.reg"
"$quorix" settings import "$TMPDIR/hand.reg" || fail "settings import of a hand-written file fails"
camera0=$("$quorix" settings show --camera 0 | tr -d '\r')
expect_line "[$product\\Camera_00\\Gain]" "$camera0" "settings show --camera 0"
expect_line '"Global"=dword:0000012c' "$camera0" "settings show --camera 0"
grep -q Camera_01 <<<"$camera0" && fail "settings show --camera 0 shows camera 1"
"$quorix" settings export "$TMPDIR/camera0.reg" --camera 0 || fail "settings export fails"
"$quorix" settings reset --camera 0 || fail "settings reset --camera 0 fails"
[ "$("$quorix" settings show --camera 0 | tr -d '\r')" = "$header" ] ||
  fail "settings reset --camera 0 leaves camera 0's key"
grep -q '"Color"=dword:00000001' <<<"$("$quorix" settings show)" ||
  fail "settings reset --camera 0 removed camera 1's key"
echo "not settings" >"$TMPDIR/bad.reg"
"$quorix" settings import "$TMPDIR/bad.reg" 2>/dev/null && fail "settings import of a bad file succeeds"
"$quorix" settings import "$TMPDIR/camera0.reg" || fail "settings import of an exported file fails"
[ "$("$quorix" settings show --camera 0 | tr -d '\r')" = "$camera0" ] ||
  fail "camera 0's settings do not come back from their export"
"$quorix" settings show --camera 100 >/dev/null 2>&1 && fail "settings show --camera 100 is accepted"

# A hand-edited settings file with one bad line between two cameras' keys: show prints both
# cameras, names the line in its output and on stderr, and leaves the file byte for byte as it was.
# A file with nothing readable in it is not shown as an empty store, and stays where it is. A
# store that cannot be written makes reset fail with the reason.
store="$XDG_CONFIG_HOME/quorix/settings.reg"
printf '%s\n\n[%s\\Camera_00\\Gray]\n"GainR1"=dword:40\n"GainG1"=dword:zz\n[%s\\Camera_01\\Gray]\n"GainR1"=dword:50\n' \
  "$header" "$product" "$product" >"$store"
cp "$store" "$TMPDIR/edited.reg"
out=$("$quorix" settings show 2>"$TMPDIR/show.err" | tr -d '\r')
status=$?
[ "$status" -eq 0 ] || fail "settings show of a file with a bad line exits $status"
grep -q '"GainR1"=dword:00000040' <<<"$out" || fail "settings show lost camera 0 beside a bad line: $out"
grep -q '"GainR1"=dword:00000050' <<<"$out" || fail "settings show lost camera 1 beside a bad line: $out"
grep -q '^; .*settings.reg: line 5 ignored' <<<"$out" || fail "settings show does not name line 5: $out"
grep -qF "$store: line 5 ignored" "$TMPDIR/show.err" ||
  fail "settings show does not report line 5 on stderr: $(cat "$TMPDIR/show.err")"
cmp -s "$store" "$TMPDIR/edited.reg" || fail "settings show changed the settings file"
echo "not settings" >"$store"
"$quorix" settings show >/dev/null 2>&1 && fail "settings show of a file with nothing readable succeeds"
[ "$(cat "$store")" = "not settings" ] || fail "settings show moved or changed an unreadable file"
ls "$store".corrupt-* >/dev/null 2>&1 && fail "settings show set an unreadable file aside"
rm -f "$store"
mkdir "$store"
out=$("$quorix" settings reset 2>&1)
status=$?
[ "$status" -ne 0 ] || fail "settings reset succeeds on a store that cannot be written"
grep -qF "$store: Is a directory" <<<"$out" || fail "settings reset does not say why: $out"
rmdir "$store"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all checks passed"
