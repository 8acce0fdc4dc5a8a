#!/usr/bin/env bash
# `quorix snap`, `quorix record` and `quorix stream` against the tool's own emulated camera: the files a snapshot
# writes hold the camera's known scene in the documented layouts, a recording is a whole AVI file,
# and a windowless preview delivers frames without errors; `quorix preview` and `record --show`
# show the picture in a window on an Xvfb server of the test's own, and `quorix dialog` a settings
# dialog over it.
# usage: snap_stream_test.sh QUORIX_TOOL
#
# Expected values come from the emulated camera's scene (sim/scene.h), seen at the camera's
# default exposure and gain, where the samples are the nominal 12-bit scene values: 8-bit samples
# are value >> 4, 16-bit samples value << 4. The scene, row 0 at the top:
#   rows    0.. 767  3 x 8 colour patches of 256 x 256 pixels; patch 0 gray 3600, patch 5 red
#                    (3200, 400, 400), patch 7 blue (400, 400, 3200), patch 16 (2000, 1200, 400)
#   rows  768..1023  horizontal gray ramp, value 2 x column
#   rows 1024..1279  vertical gray ramp, value 16 x (row - 1024)
# Colour filter: G R on even rows, B G on odd rows.
#
# Only bash and coreutils: a freshly set up machine has nothing else for reading binary files.
set -uo pipefail
# Absolute, as some commands run in a directory of their own.
quorix=$(realpath "$1")

source "$(dirname "$0")/cli_support.sh"
trap 'rm -rf "$TMPDIR"' EXIT

# --- Reading little-endian numbers from files ------------------------------------------------
# u8 FILE OFFSET, u16 FILE OFFSET, u32 FILE OFFSET: the unsigned number at OFFSET.
u8() { od -An -v -tu1 -j "$2" -N 1 "$1" | tr -d ' \n'; }
u16() { od -An -v -tu2 --endian=little -j "$2" -N 2 "$1" | tr -d ' \n'; }
u32() { od -An -v -tu4 --endian=little -j "$2" -N 4 "$1" | tr -d ' \n'; }

# near NAME ACTUAL EXPECTED TOLERANCE: ACTUAL within EXPECTED +- TOLERANCE.
near() {
  if [ -z "$2" ]; then
    fail "$1: nothing read"
  elif [ $(($2 - $3)) -gt "$4" ] || [ $(($3 - $2)) -gt "$4" ]; then
    fail "$1 is $2, expected $3 +- $4"
  fi
}

# A 12-bit scene value as the 8-bit and the 16-bit samples of the camera's raw output.
to8() { echo $(($1 >> 4)); }
to16() { echo $(($1 << 4)); }

# Samples are exact at the default exposure and gain; the tolerances allow for rounding only: two
# 8-bit steps, and two converter steps in 16-bit samples, which carry the converter's value whole.
tolerance8=2
tolerance16=$((2 << 4))

# raw_sample FILE WIDTH BYTES ROW COLUMN: a sample of a raw file, top row first, no row padding.
raw_sample() {
  local offset=$((($4 * $2 + $5) * $3))
  if [ "$3" -eq 1 ]; then u8 "$1" "$offset"; else u16 "$1" "$offset"; fi
}

# bmp_pixel FILE ROW COLUMN: "B G R" of the pixel at ROW (counted from the top of the picture) and
# COLUMN of a 24-bit BMP whose rows are stored bottom row first, padded to 4 bytes.
bmp_pixel() {
  local width height stride offset
  width=$(u32 "$1" 18)
  height=$(u32 "$1" 22)
  stride=$(((width * 3 + 3) / 4 * 4))
  offset=$((54 + (height - 1 - $2) * stride + $3 * 3))
  od -An -v -tu1 -j "$offset" -N 3 "$1"
}

# bmp_expect NAME FILE ROW COLUMN RED GREEN BLUE: the pixel shows the 12-bit scene colour.
bmp_expect() {
  local name=$1 file=$2 blue green red
  read -r blue green red <<<"$(bmp_pixel "$file" "$3" "$4")"
  near "$name red" "${red:-}" "$(to8 "$5")" "$tolerance8"
  near "$name green" "${green:-}" "$(to8 "$6")" "$tolerance8"
  near "$name blue" "${blue:-}" "$(to8 "$7")" "$tolerance8"
}

# bmp_header NAME FILE WIDTH HEIGHT: the headers of a 24-bit uncompressed BMP of that size.
bmp_header() {
  local name=$1 file=$2 width=$3 height=$4
  local stride=$(((width * 3 + 3) / 4 * 4))
  local size=$((54 + height * stride))
  [ "$(head -c 2 "$file")" = "BM" ] || fail "$name: the file does not start with 'BM'"
  [ "$(stat -c %s "$file")" -eq "$size" ] || fail "$name: $(stat -c %s "$file") bytes, not $size"
  [ "$(u32 "$file" 2)" = "$size" ] || fail "$name: header file size $(u32 "$file" 2), not $size"
  [ "$(u32 "$file" 10)" = 54 ] || fail "$name: pixels at offset $(u32 "$file" 10), not 54"
  [ "$(u32 "$file" 14)" = 40 ] || fail "$name: info header of $(u32 "$file" 14) bytes, not 40"
  [ "$(u32 "$file" 18)" = "$width" ] || fail "$name: width $(u32 "$file" 18), not $width"
  # A positive height: the bottom row comes first.
  [ "$(u32 "$file" 22)" = "$height" ] || fail "$name: height $(u32 "$file" 22), not $height"
  [ "$(u16 "$file" 26)" = 1 ] || fail "$name: $(u16 "$file" 26) planes, not 1"
  [ "$(u16 "$file" 28)" = 24 ] || fail "$name: $(u16 "$file" 28) bits per pixel, not 24"
  [ "$(u32 "$file" 30)" = 0 ] || fail "$name: compression $(u32 "$file" 30), not 0"
  [ "$(u32 "$file" 34)" = $((height * stride)) ] ||
    fail "$name: image size $(u32 "$file" 34), not $((height * stride))"
}

work=$(mktemp -d -p "$TMPDIR" work-XXXXXX)

# --- No camera: nothing to take pictures with --------------------------------------------------
out=$(cd "$work" && "$quorix" snap 2>&1)
status=$?
[ "$status" -eq 1 ] || fail "snap without cameras exits $status: $out"
expect_line "No cameras found." "$out" "snap without cameras"
[ ! -e "$work/quorix-snap.png" ] || fail "snap without cameras wrote a file"
out=$("$quorix" stream --seconds 1 2>&1)
status=$?
[ "$status" -eq 1 ] || fail "stream without cameras exits $status: $out"
expect_line "No cameras found." "$out" "stream without cameras"

# --- The main job: a colour PNG from the emulated camera when none is attached ----------------------
out=$(cd "$work" && "$quorix" snap --sim-if-none -o picture.png 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "snap --sim-if-none -o picture.png exits $status: $out"
expect_line "No camera attached: using the built-in emulated camera." "$out" "snap --sim-if-none"
expect_line "Camera          Quorix252DIV-USB3-R5_01, serial number QX252-000001 (simulated)" \
  "$out" "snap --sim-if-none"
expect_line "Image           2048 x 1536 pixels, 24 bits per pixel" "$out" "snap --sim-if-none"
png=$work/picture.png
if [ -f "$png" ]; then
  expect_line "Saved           picture.png (PNG, $(stat -c %s "$png") bytes)" "$out" "snap PNG"
  # The signature, then IHDR: width and height big-endian, 8 bits per sample, colour type 2 (RGB).
  [ "$(od -An -v -tx1 -N 8 "$png" | tr -d ' \n')" = 89504e470d0a1a0a ] ||
    fail "picture.png has no PNG signature"
  [ "$(od -An -v -tu1 -j 16 -N 10 "$png" | tr -s ' ' | sed 's/^ //')" = "0 0 8 0 0 0 6 0 8 2" ] ||
    fail "picture.png is not a 2048 x 1536 8-bit RGB PNG"
else
  fail "snap --sim-if-none did not write $png"
fi
no_leftovers "snap --sim-if-none"

# --- snap -o FILE.bmp: full resolution, 24-bit colour ---------------------------------------------
out=$("$quorix" snap --sim 1 -o "$work/shot.bmp" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "snap -o shot.bmp exits $status: $out"
bmp=$work/shot.bmp
if [ -f "$bmp" ]; then
  bmp_header "snap BMP" "$bmp" 2048 1536
  # Patch centres: patch i of the top patch row covers columns 256 i .. 256 i + 255.
  bmp_expect "patch 0 (light gray)" "$bmp" 128 128 3600 3600 3600
  bmp_expect "patch 5 (red)" "$bmp" 128 $((5 * 256 + 128)) 3200 400 400
  bmp_expect "patch 7 (blue)" "$bmp" 128 $((7 * 256 + 128)) 400 400 3200
  # Patch 16 opens the third patch row; its three channels differ, so any swap shows.
  bmp_expect "patch 16 (2000, 1200, 400)" "$bmp" $((2 * 256 + 128)) 128 2000 1200 400
  # In the lower half: the vertical ramp, where one row of the picture is one 8-bit step; half a
  # row's shift by the demosaic stays within the tolerance.
  value=$((16 * (1100 - 1024)))
  bmp_expect "vertical ramp (1100, 500)" "$bmp" 1100 500 "$value" "$value" "$value"
else
  fail "snap -o shot.bmp did not write $bmp"
fi

# --- snap --bits 8 / 16 --format raw: the raw mosaic as the pixel memory ------------------------------
out=$("$quorix" snap --sim 1 --bits 8 -o "$work/mosaic.raw" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "snap --bits 8 -o mosaic.raw exits $status: $out"
raw=$work/mosaic.raw
if [ -f "$raw" ]; then
  # 2048 samples a row fill whole words: no row padding.
  [ "$(stat -c %s "$raw")" -eq $((2048 * 1536)) ] ||
    fail "8-bit raw file of $(stat -c %s "$raw") bytes, not 2048 x 1536"
  # The mosaic, top row first: a red patch site and its neighbours in patch 5 (rows 0..255,
  # columns 1280..1535), where an even row holds G R and an odd row B G.
  near "raw red site (128, 1281)" "$(raw_sample "$raw" 2048 1 128 1281)" "$(to8 3200)" "$tolerance8"
  near "raw green site (128, 1280)" "$(raw_sample "$raw" 2048 1 128 1280)" "$(to8 400)" "$tolerance8"
  near "raw blue site (129, 1280)" "$(raw_sample "$raw" 2048 1 129 1280)" "$(to8 400)" "$tolerance8"
  # The gray ramps read the same through any filter colour.
  near "raw horizontal ramp (900, 1000)" "$(raw_sample "$raw" 2048 1 900 1000)" \
    "$(to8 $((2 * 1000)))" "$tolerance8"
  near "raw vertical ramp (1100, 501)" "$(raw_sample "$raw" 2048 1 1100 501)" \
    "$(to8 $((16 * (1100 - 1024))))" "$tolerance8"
else
  fail "snap --bits 8 did not write $raw"
fi
out=$("$quorix" snap --sim 1 --bits 16 --format raw -o "$work/deep" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "snap --bits 16 --format raw exits $status: $out"
raw=$work/deep
if [ -f "$raw" ]; then
  [ "$(stat -c %s "$raw")" -eq $((2 * 2048 * 1536)) ] ||
    fail "16-bit raw file of $(stat -c %s "$raw") bytes, not 2 x 2048 x 1536"
  near "16-bit raw red site (128, 1281)" "$(raw_sample "$raw" 2048 2 128 1281)" "$(to16 3200)" \
    "$tolerance16"
  near "16-bit raw horizontal ramp (900, 1000)" "$(raw_sample "$raw" 2048 2 900 1000)" \
    "$(to16 2000)" "$tolerance16"
else
  fail "snap --bits 16 --format raw did not write $raw"
fi

# --- snap --subsample, --window and --exposure ------------------------------------------------------
out=$("$quorix" snap --sim 1 --subsample -o "$work/half.bmp" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "snap --subsample exits $status: $out"
expect_line "Image           1024 x 768 pixels, 24 bits per pixel" "$out" "snap --subsample"
if [ -f "$work/half.bmp" ]; then
  bmp_header "snap --subsample BMP" "$work/half.bmp" 1024 768
  bmp_expect "sub-sampled patch 5 (red)" "$work/half.bmp" 64 $((5 * 128 + 64)) 3200 400 400
else
  fail "snap --subsample did not write $work/half.bmp"
fi
# A window on patch 1 (gray 2700) at half the default exposure of 17 ms: half the light.
out=$("$quorix" snap --sim 1 --window 256,0,256,256 --exposure 8.5 -o "$work/window.bmp" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "snap --window --exposure exits $status: $out"
expect_line "Image           256 x 256 pixels, 24 bits per pixel" "$out" "snap --window"
if [ -f "$work/window.bmp" ]; then
  bmp_header "snap --window BMP" "$work/window.bmp" 256 256
  bmp_expect "patch 1 at half exposure" "$work/window.bmp" 128 128 1350 1350 1350
else
  fail "snap --window did not write $work/window.bmp"
fi
no_leftovers "snap --subsample"

# --- snap errors: the failing call with its code, and nothing left behind ------------------------
out=$("$quorix" snap --sim 1 --camera 5 -o "$work/none.png" 2>&1)
status=$?
[ "$status" -eq 1 ] || fail "snap --camera 5 with one camera exits $status: $out"
grep -q "Quorix_SetDeviceNumber failed (error 2" <<<"$out" ||
  fail "snap --camera 5 does not name the failed call and code: $out"
[ ! -e "$work/none.png" ] || fail "snap --camera 5 wrote a file"
out=$("$quorix" snap --sim 1 -o "$work/missing/dir/shot.png" 2>&1)
status=$?
[ "$status" -eq 1 ] || fail "snap into a missing directory exits $status: $out"
grep -q "missing/dir/shot.png" <<<"$out" || fail "snap does not name the file it cannot write: $out"
grep -q "Quorix_SaveImage failed (error 12" <<<"$out" ||
  fail "snap into a missing directory does not name the failed call and code: $out"
no_leftovers "snap errors"
"$quorix" snap --sim 1 -o "$work/shot.xyz" >/dev/null 2>&1
[ $? -eq 2 ] || fail "snap to a file of no known format is not a usage error"
"$quorix" snap --sim 1 --bits 12 >/dev/null 2>&1
[ $? -eq 2 ] || fail "snap --bits 12 is not a usage error"
[ "$(find "$work" -name '.quorix-save-*' | wc -l)" -eq 0 ] || fail "snap left temporary files"

# --- record: one second of the preview into an AVI file ----------------------------------------------
out=$("$quorix" record --sim 1 -o "$work/clip.avi" --seconds 1 --window 0,0,256,64 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "record exits $status: $out"
avi=$work/clip.avi
frames=$(sed -n 's/^Recorded  *.*clip\.avi: \([0-9][0-9]*\) frames of 256 x 64 pixels at .*/\1/p' \
  <<<"$out")
expect_line "Ended           the time was up" "$out" "record"
if [ -z "$frames" ] || [ "$frames" -eq 0 ]; then
  fail "record reports no frames: $out"
elif [ -f "$avi" ]; then
  [ "$(head -c 4 "$avi")" = "RIFF" ] || fail "clip.avi is not a RIFF file"
  [ "$(u32 "$avi" 4)" -eq $(($(stat -c %s "$avi") - 8)) ] || fail "clip.avi's RIFF size is off"
  [ "$(u32 "$avi" 48)" = "$frames" ] || fail "clip.avi counts $(u32 "$avi" 48), not $frames frames"
  [ "$(stat -c %s "$avi")" -eq $((232 + frames * (8 + 256 * 3 * 64) + 8 + 16 * frames)) ] ||
    fail "clip.avi is $(stat -c %s "$avi") bytes, not $frames frames and their index"
else
  fail "record did not write $avi"
fi
no_leftovers "record"

# --- stream: a windowless preview delivers frames ------------------------------------------------
out=$("$quorix" stream --sim 1 --seconds 2 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "stream --sim 1 --seconds 2 exits $status: $out"
expect_line "Camera          Quorix252DIV-USB3-R5_01, serial number QX252-000001 (simulated)" \
  "$out" "stream"
# The frame record the SDK delivers with each frame.
expect_line "Frame size      2048 x 1536 pixels, 8 bits per pixel" "$out" "stream"
frames=$(sed -n 's/^Frames  *\([0-9][0-9]*\) delivered in .*/\1/p' <<<"$out")
if [ -z "$frames" ] || [ "$frames" -eq 0 ]; then
  fail "stream delivered no frames: $out"
fi
# The SDK's rate comes in tenths of a frame per second.
tenths=$(sed -n 's/^Frame rate .*, \([0-9]*\)\.\([0-9]\) frames\/s reported by the SDK$/\1\2/p' \
  <<<"$out")
if [ -z "$tenths" ] || [ $((10#$tenths)) -eq 0 ]; then
  fail "stream reports no frame rate from the SDK: $out"
fi
expect_line "Errors          none" "$out" "stream"
no_leftovers "stream"

# Colour frames of half size, paced by a pause: the record follows the format.
out=$("$quorix" stream --sim 1 --seconds 1 --bits 24 --subsample --wait 20 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "stream --bits 24 --subsample exits $status: $out"
expect_line "Frame size      1024 x 768 pixels, 24 bits per pixel" "$out" "stream --bits 24"
expect_line "Errors          none" "$out" "stream --bits 24"
no_leftovers "stream --bits 24"

# Every frame in camera order: nothing is overtaken, and each frame received was delivered or
# failed once the stream has stopped.
out=$("$quorix" stream --sim 1 --seconds 1 --every-frame --ring 8 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "stream --every-frame exits $status: $out"
expect_line "Delivery        every frame" "$out" "stream --every-frame"
counts=$(sed -n 's/^Camera frames *\([0-9]*\) received: \([0-9]*\) delivered, \([0-9]*\) overtaken, \([0-9]*\) failed;.*/\1 \2 \3 \4/p' <<<"$out")
read -r received delivered overtaken failed <<<"$counts"
if [ -z "$failed" ] || [ "$overtaken" -ne 0 ] || [ "$delivered" -eq 0 ] ||
  [ "$received" -ne $((delivered + overtaken + failed)) ]; then
  fail "stream --every-frame statistics do not add up: $out"
fi
"$quorix" stream --sim 1 --ring 3 >/dev/null 2>&1
[ $? -eq 2 ] || fail "stream --ring 3 is not a usage error"

# --- preview: the picture in a window on an X server of the test's own ---------------------------
# Without a display the preview cannot show anything and says so.
out=$(env -u DISPLAY "$quorix" preview --sim 1 --seconds 1 2>&1)
status=$?
[ "$status" -eq 1 ] || fail "preview without a display exits $status: $out"
expect_line "quorix: no X display (DISPLAY is not set)" "$out" "preview without a display"
if ! command -v Xvfb >/dev/null; then
  fail "Xvfb is not installed (Debian package xvfb): the preview tests need an X server"
else
  exec {displayfd}<> <(:)
  Xvfb -displayfd "$displayfd" -screen 0 1280x1024x24 -nolisten tcp -noreset 2>/dev/null &
  xvfb=$!
  read -r -t 20 -u "$displayfd" number
  if [ -z "$number" ]; then
    fail "Xvfb did not start"
  else
    out=$(DISPLAY=":$number" "$quorix" preview --sim 1 --seconds 2 --subsample 2>&1)
    status=$?
    [ "$status" -eq 0 ] || fail "preview exits $status: $out"
    expect_line "Frame size      1024 x 768, 24 bits" "$out" "preview"
    frames=$(sed -n 's/^Frames *\([0-9]*\) delivered.*/\1/p' <<<"$out")
    [ "${frames:-0}" -gt 0 ] || fail "preview delivered no frames: $out"
    out=$(DISPLAY=":$number" "$quorix" record --sim 1 --seconds 1 --subsample --show \
      -o "$TMPDIR/shown.avi" 2>&1)
    status=$?
    [ "$status" -eq 0 ] || fail "record --show exits $status: $out"
    expect_line "Ended           the time was up" "$out" "record --show"
    # dialog: the image dialog opens over the live picture; once it is mapped (its X window
    # exists, with its title, a moment before), Escape (a real key press, through
    # the server's test extension) cancels it and the tool ends.
    DISPLAY=":$number" timeout 60 "$quorix" dialog image --sim 1 --subsample >"$TMPDIR/dialog.out" 2>&1 &
    dialog=$!
    window=""
    for _ in $(seq 1 80); do
      window=$(DISPLAY=":$number" xdotool search --onlyvisible --name '^Property$' 2>/dev/null | head -n 1)
      [ -n "$window" ] && break
      sleep 0.25
    done
    if [ -z "$window" ]; then
      fail "quorix dialog image showed no dialog: $(cat "$TMPDIR/dialog.out")"
    else
      DISPLAY=":$number" xdotool windowfocus --sync "$window" key Escape 2>/dev/null
    fi
    wait "$dialog"
    status=$?
    out=$(cat "$TMPDIR/dialog.out")
    [ "$status" -eq 0 ] || fail "dialog exits $status: $out"
    expect_line "Dialog          image closed" "$out" "dialog"
    no_leftovers "preview"
  fi
  kill "$xvfb"
  wait "$xvfb" 2>/dev/null
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all checks passed"
