#!/bin/sh
# Runs a command as user nobody when started as root, who opens any device node whatever its
# permissions; as any other user it runs as it is. Prints "cannot run as user nobody" (the test
# is then skipped) when nobody may not reach the program, as in a build tree under /root.
set -eu
if [ "$(id -u)" -ne 0 ]; then
  exec "$@"
fi
program=$1
for arg in "$@"; do
  case $arg in */*) [ -f "$arg" ] && program=$arg ;; esac
done
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
if ! command -v setpriv >/dev/null || ! as_nobody test -x "$program"; then
  echo "cannot run as user nobody: $program"
  exit 0
fi
exec setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
