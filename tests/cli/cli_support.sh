# Shared by the quorix tool's tests: failure counting, output checks, and a private TMPDIR where
# the tool makes its socket directories, so that a test can see them removed. Sourced.

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# expect_line TEXT OUTPUT NAME: OUTPUT has a line exactly equal to TEXT.
expect_line() {
  grep -qxF -- "$1" <<<"$2" || fail "$3: no line '$1' in:"$'\n'"$2"
}

unset QUORIX_SIM_DIR
TMPDIR=$(mktemp -d)
export TMPDIR
# The tool's settings go to the test's directory, never the user's.
XDG_CONFIG_HOME=$TMPDIR/config
export XDG_CONFIG_HOME
no_leftovers() {
  local left
  left=$(find "$TMPDIR" -mindepth 1 -maxdepth 1 -name 'quorix-sim-*')
  [ -z "$left" ] || fail "$1 left its socket directory behind: $left"
}
