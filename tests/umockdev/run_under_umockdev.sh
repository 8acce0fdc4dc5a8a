#!/bin/sh
# Runs a program under umockdev's preload library with the library QUORIX_PRELOAD_FIRST names
# preloaded ahead of it: AddressSanitizer's runtime must be the first library of the process.
set -eu
exec umockdev-wrapper sh -c 'LD_PRELOAD="$QUORIX_PRELOAD_FIRST:$LD_PRELOAD" exec "$@"' sh "$@"
