#!/usr/bin/env bash
# Installs the Debian 12 packages the SDK needs to build, test and benchmark.
# Shared by the README and .ci/run; safe to run again (does nothing when all are present).
set -euo pipefail

packages=(
  cmake ninja-build g++ pkgconf
  libjpeg62-turbo-dev libpng-dev libtiff-dev
  libx11-dev libxext-dev xvfb xdotool
  libgtk-3-dev  # the settings dialogs' view module
  fonts-ipafont-gothic  # Japanese text in the settings dialogs (a ja_* locale)
  libusb-1.0-0-dev  # real cameras
  umockdev libumockdev-dev  # the libusb tests against an emulated USB device
  libgtest-dev libgmock-dev libbenchmark-dev ffmpeg
  libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev
  # the GStreamer source element and its tests (gst-launch-1.0, videoconvert, pngenc,
  # multifilesink)
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  clang libclang-rt-dev  # the libFuzzer targets (scripts/fuzz.sh)
  python3-numpy python3-pytest  # the Python package (python/quorix) and its tests
  # the Windows build (scripts/build-windows.sh): mingw-w64 with the posix thread model compiler,
  # and Wine for its tests
  mingw-w64 g++-mingw-w64-x86-64-posix wine64 wine
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
echo "install-deps: installing ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
