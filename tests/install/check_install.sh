#!/usr/bin/env bash
# Installs the build into a private prefix and builds a C program with the installed quorix.pc,
# as an application would, then runs it against the installed library.
set -euo pipefail
build=$1
source=$2
prefix=$3
cc=$4
sanitize=${5:-}
# A library built with sanitizers needs their runtime in the program too.
extra=()
if [ -n "$sanitize" ]; then
  extra=(-fsanitize="$sanitize")
fi
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
pc=$(find "$prefix" -name quorix.pc -print -quit)
[ -n "$pc" ] || { echo "quorix.pc was not installed" >&2; exit 1; }
export PKG_CONFIG_PATH=$(dirname "$pc")
libdir=$(pkg-config --variable=libdir quorix)
# shellcheck disable=SC2046
"$cc" -std=c11 -Wall -Wextra -Werror -pedantic -o "$prefix/hello_quorix" "$source" \
  "${extra[@]}" $(pkg-config --cflags --libs quorix) -Wl,-rpath,"$libdir"
# The program's settings go to the prefix, never the user's.
XDG_CONFIG_HOME="$prefix/config" "$prefix/hello_quorix"
