#!/usr/bin/env bash
# `quorix snap` and `quorix stream` against the tool's own emulated camera: the files a snapshot
# writes hold the camera's known scene in the documented layouts, and a windowless preview
# delivers frames without errors.
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
[ ! -e "$work/quorix-snap.raw" ] || fail "snap without cameras wrote a file"
out=$("$quorix" stream --seconds 1 2>&1)
status=$?
[ "$status" -eq 1 ] || fail "stream without cameras exits $status: $out"
expect_line "No cameras found." "$out" "stream without cameras"

# --- snap: full resolution, 8-bit raw, default file names ------------------------------------------
out=$(cd "$work" && "$quorix" snap --sim 1 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "snap --sim 1 exits $status: $out"
expect_line "Camera          Quorix252DIV-USB3-R5_01, serial number QX252-000001 (simulated)" \
  "$out" "snap --sim 1"
expect_line "Image           2048 x 1536 pixels" "$out" "snap --sim 1"
grep -q "quorix-snap\.raw" <<<"$out" || fail "snap does not name the raw file: $out"
grep -q "quorix-snap\.bmp" <<<"$out" || fail "snap does not name the BMP file: $out"
no_leftovers "snap --sim 1"

raw=$work/quorix-snap.raw
bmp=$work/quorix-snap.bmp
if [ -f "$raw" ] && [ -f "$bmp" ]; then
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
  fail "snap --sim 1 did not write $raw and $bmp"
fi

# --- snap --bits 16 --out PREFIX ---------------------------------------------------------------
out=$("$quorix" snap --sim 1 --bits 16 --out "$work/deep" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "snap --bits 16 exits $status: $out"
raw=$work/deep.raw
if [ -f "$raw" ] && [ -f "$work/deep.bmp" ]; then
  [ "$(stat -c %s "$raw")" -eq $((2 * 2048 * 1536)) ] ||
    fail "16-bit raw file of $(stat -c %s "$raw") bytes, not 2 x 2048 x 1536"
  near "16-bit raw red site (128, 1281)" "$(raw_sample "$raw" 2048 2 128 1281)" "$(to16 3200)" \
    "$tolerance16"
  near "16-bit raw horizontal ramp (900, 1000)" "$(raw_sample "$raw" 2048 2 900 1000)" \
    "$(to16 2000)" "$tolerance16"
  # The colour picture is 24-bit whatever the raw file's depth.
  bmp_header "snap --bits 16 BMP" "$work/deep.bmp" 2048 1536
else
  fail "snap --bits 16 did not write $raw and $work/deep.bmp"
fi

# --- snap --subsample: half the size in each direction -------------------------------------------
out=$("$quorix" snap --sim 1 --subsample --out "$work/half" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "snap --subsample exits $status: $out"
expect_line "Image           1024 x 768 pixels" "$out" "snap --subsample"
raw=$work/half.raw
if [ -f "$raw" ] && [ -f "$work/half.bmp" ]; then
  [ "$(stat -c %s "$raw")" -eq $((1024 * 768)) ] ||
    fail "sub-sampled raw file of $(stat -c %s "$raw") bytes, not 1024 x 768"
  # Sub-sampled pixel (r, c) comes from within a pixel or two of scene pixel (2r, 2c); gray places
  # read the same through any filter colour: the middle of patch 0 and the horizontal ramp.
  near "sub-sampled raw patch 0 (64, 64)" "$(raw_sample "$raw" 1024 1 64 64)" "$(to8 3600)" \
    "$tolerance8"
  near "sub-sampled raw ramp (450, 500)" "$(raw_sample "$raw" 1024 1 450 500)" \
    "$(to8 $((2 * 1000)))" "$tolerance8"
  bmp_header "snap --subsample BMP" "$work/half.bmp" 1024 768
  bmp_expect "sub-sampled patch 5 (red)" "$work/half.bmp" 64 $((5 * 128 + 64)) 3200 400 400
else
  fail "snap --subsample did not write $raw and $work/half.bmp"
fi
# The same at 16 bits, where the sensor's lines take twice as long.
out=$("$quorix" snap --sim 1 --subsample --bits 16 --out "$work/half16" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "snap --subsample --bits 16 exits $status: $out"
raw=$work/half16.raw
if [ -f "$raw" ]; then
  [ "$(stat -c %s "$raw")" -eq $((2 * 1024 * 768)) ] ||
    fail "sub-sampled 16-bit raw file of $(stat -c %s "$raw") bytes, not 2 x 1024 x 768"
  near "sub-sampled 16-bit raw patch 0 (64, 64)" "$(raw_sample "$raw" 1024 2 64 64)" \
    "$(to16 3600)" "$tolerance16"
else
  fail "snap --subsample --bits 16 did not write $raw"
fi
no_leftovers "snap --subsample"

# --- snap errors: the failing call with its code, and nothing left behind ------------------------
out=$("$quorix" snap --sim 1 --camera 5 --out "$work/none" 2>&1)
status=$?
[ "$status" -eq 1 ] || fail "snap --camera 5 with one camera exits $status: $out"
grep -q "Quorix_SetDeviceNumber failed (error 2" <<<"$out" ||
  fail "snap --camera 5 does not name the failed call and code: $out"
[ ! -e "$work/none.raw" ] || fail "snap --camera 5 wrote a file"
out=$("$quorix" snap --sim 1 --out "$work/missing/dir/shot" 2>&1)
status=$?
[ "$status" -ne 0 ] || fail "snap into a missing directory succeeds: $out"
grep -q "missing/dir/shot.raw" <<<"$out" || fail "snap does not name the file it cannot write: $out"
no_leftovers "snap errors"
"$quorix" snap --sim 1 --bits 24 >/dev/null 2>&1
[ $? -eq 2 ] || fail "snap --bits 24 is not a usage error"

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

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all checks passed"
