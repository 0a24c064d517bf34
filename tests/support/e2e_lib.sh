# Shared helpers for the end-to-end scripts in tests/e2e/.
# Each script is called as: bash script.sh <TARVEL binary> <tests source dir>
set -u
TARVEL=$(readlink -f "$1")
TESTS=$(readlink -f "$2")
DATA="$TESTS/data"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
FAILS=0

# run ARGS...: runs TARVEL in $WORK; sets OUT (standard output), ERR
# (standard error) and RC (exit status).
run() {
  OUT=$("$TARVEL" "$@" 2>"$WORK/.stderr"; echo "rc=$?")
  RC=${OUT##*rc=}
  OUT=${OUT%rc=*}
  ERR=$(cat "$WORK/.stderr")
}

fail() { echo "FAIL: $*"; FAILS=$((FAILS + 1)); }

expect_eq() { # expect_eq WHAT EXPECTED ACTUAL
  [ "$2" == "$3" ] || fail "$1: expected [$2] got [$3]"
}

expect_rc() { expect_eq "exit status" "$1" "$RC"; }
expect_no_stderr() { [ -z "$ERR" ] || fail "standard error not empty: $ERR"; }
expect_out_contains() { [[ "$OUT" == *"$1"* ]] || fail "output lacks [$1]: $OUT"; }
expect_absent() { [ ! -e "$1" ] || fail "$1 exists"; }

finish() {
  if [ "$FAILS" -gt 0 ]; then echo "$FAILS check(s) failed"; exit 1; fi
  echo "all checks passed"
}
