#!/usr/bin/env bash
# Builds format_number_check.cpp for Linux and, with MinGW-w64, for Windows,
# and runs both (the Windows one under Wine): formatNumber must write what
# each runtime's own stream writes. Prints "SKIPPED: <reason>" and exits 0
# when MinGW-w64 or Wine is missing, unless CI=true, where that is a failure.
# Usage: bash tests/windows/format_number_check.sh
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
missing() {
  [ "${CI:-}" = true ] && { echo "FAIL: $*"; echo "0 passed, 1 failed"; exit 1; }
  echo "SKIPPED: $*"; exit 0
}
WINE=$(command -v wine || ls /usr/lib/wine/wine64 2>/dev/null)
WINESERVER=$(command -v wineserver || ls /usr/lib/wine/wineserver 2>/dev/null)
[ -n "$WINE" ] || missing "Wine is not installed (Debian package wine64)"
command -v x86_64-w64-mingw32-g++ >/dev/null ||
  missing "the MinGW-w64 toolchain is not installed (Debian package g++-mingw-w64-x86-64)"

WORK=$(mktemp -d)
export WINEPREFIX="$WORK/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
trap '"$WINESERVER" -k 2>/dev/null; rm -rf "$WORK"' EXIT

# The flags of the project's builds that bear on numbers (CMakeLists.txt and
# cmake/mingw-w64-x86_64.cmake).
SOURCES=("$ROOT/tests/windows/format_number_check.cpp" "$ROOT/src/output/format_number.cpp")
FLAGS=(-std=c++17 -O2 -ffp-contract=off -fno-fast-math -I"$ROOT/src" -I"$ROOT/tests/support")
g++ "${FLAGS[@]}" "${SOURCES[@]}" -o "$WORK/check" || { echo "0 passed, 1 failed"; exit 1; }
x86_64-w64-mingw32-g++ "${FLAGS[@]}" -D__USE_MINGW_ANSI_STDIO=1 -static "${SOURCES[@]}" \
  -o "$WORK/check.exe" || { echo "0 passed, 1 failed"; exit 1; }

PASSED=0 FAILED=0
result() { if [ "$1" -eq 0 ]; then PASSED=$((PASSED + 1)); else FAILED=$((FAILED + 1)); fi; }
echo "Linux:"
"$WORK/check"
result $?
echo "Windows (Wine):"
timeout 300 "$WINE" wineboot -i >/dev/null 2>&1 </dev/null
timeout 600 "$WINE" "$WORK/check.exe" </dev/null | tr -d '\r'
result "${PIPESTATUS[0]}"
echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
