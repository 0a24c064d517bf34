#!/usr/bin/env bash
# Runs the Windows console build (TARVEL.exe, under Wine) and the Linux build
# on the same inputs and compares them: standard output and exit status must
# be identical, and the results file too once the Windows build's "\r\n" line
# ends are read as "\n". The Windows build reads its inputs in text mode, so
# it gets some inputs with CRLF line ends where the Linux build gets LF.
#
# Usage: bash tests/windows/compare.sh [TARVEL [TARVEL.exe]]
# A program not given is built: build-linux-win-compare/TARVEL and
# build-win-compare/TARVEL.exe. Prints "SKIPPED: <reason>" and exits 0 when
# the MinGW-w64 toolchain or Wine is not installed, except in CI (CI=true),
# where the Windows build must be checked: there a missing tool fails.
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
DATA="$ROOT/tests/windows/data"
[ -f "$DATA/founders.txt" ] || { echo "FAIL: no test data in $DATA"; exit 1; }
LIN=${1:-} EXE=${2:-}
skip() {
  if [ "${CI:-}" = true ]; then echo "FAIL: $* and CI=true requires the Windows comparison"
    echo "0 passed, 1 failed"; exit 1; fi
  echo "SKIPPED: $*"; exit 0
}

WINE=$(command -v wine || ls /usr/lib/wine/wine64 2>/dev/null)
WINESERVER=$(command -v wineserver || ls /usr/lib/wine/wineserver 2>/dev/null)
[ -n "$WINE" ] || skip "Wine is not installed (Debian package wine64)"
[ -n "$EXE" ] || command -v x86_64-w64-mingw32-g++-posix >/dev/null ||
  skip "the MinGW-w64 toolchain is not installed (Debian package g++-mingw-w64-x86-64)"

WORK=$(mktemp -d)
build() { # build DIR [CMAKE ARGS...]: configures and builds TARVEL, quietly
  local dir=$1; shift
  { cmake -S "$ROOT" -B "$dir" -DTARVEL_TESTS=OFF "$@" && cmake --build "$dir" -j2; } \
    >"$WORK/build.log" 2>&1 || { cat "$WORK/build.log"; echo "0 passed, 1 failed"; exit 1; }
}
[ -n "$LIN" ] || { build "$ROOT/build-linux-win-compare"; LIN="$ROOT/build-linux-win-compare/TARVEL"; }
[ -n "$EXE" ] || { build "$ROOT/build-win-compare" \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake"; EXE="$ROOT/build-win-compare/TARVEL.exe"; }
LIN=$(readlink -f "$LIN") EXE=$(readlink -f "$EXE")

# A throwaway Wine prefix, set up once and kept warm by one wineserver for all
# cases; no display, no Mono/Gecko installers, no crash dialogs.
export WINEPREFIX="$WORK/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
trap '"$WINESERVER" -k 2>/dev/null; rm -rf "$WORK"' EXIT
timeout 300 "$WINE" wineboot -i >/dev/null 2>&1 </dev/null &&
  timeout 60 "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1 </dev/null || { echo "FAIL: Wine could not set up a prefix"; echo "0 passed, 1 failed"; exit 1; }
"$WINESERVER" -p 2>/dev/null

PASSED=0 FAILED=0
crlf_lines() { grep -c $'\r$' "$1"; }
lf_lines() { tr -cd '\n' <"$1" | wc -c; }

# check NAME INPUTS STATUS ARGS...: runs both builds in fresh copies of the
# data; both must exit with STATUS.
# INPUTS: lf (both read LF files), crlf (the Windows build reads the same
# files with CRLF line ends, their empty lines becoming "\r\n"), crlf-both
# (both read CRLF files without empty lines; the Linux build keeps the "\r").
check() {
  local name=$1 inputs=$2 status=$3 l="$WORK/$1/linux" w="$WORK/$1/windows" f errs=()
  shift 3
  mkdir -p "$l" "$w"
  cp "$DATA"/* "$l"; cp "$DATA"/* "$w"
  for f in "$w"/* "$l"/*; do
    case "$inputs:$f" in
      crlf:"$w"/*) sed -i 's/$/\r/' "$f" ;;
      crlf-both:*) sed -i '/^$/d; s/$/\r/' "$f" ;;
    esac
  done
  (cd "$l" && "$LIN" "$@" >stdout 2>stderr; echo $? >status)
  (cd "$w" && timeout 120 "$WINE" "$EXE" "$@" >stdout 2>stderr </dev/null; echo $? >status)
  [ "$(cat "$l/status") $(cat "$w/status")" = "$status $status" ] ||
    errs+=("exit status $(cat "$l/status") (Linux), $(cat "$w/status") (Windows), expected $status")
  [ -s "$w/stderr" ] && errs+=("Windows build wrote to standard error: $(head -c 200 "$w/stderr")")
  # The Windows console runtime writes "\n" as "\r\n": allowed only for every line.
  [ "$(crlf_lines "$w/stdout")" = "$(lf_lines "$w/stdout")" ] || errs+=("standard output mixes line ends")
  sed 's/\r$//' "$w/stdout" | cmp -s - "$l/stdout" ||
    errs+=("standard output differs:"$'\n'"$(sed 's/\r$//' "$w/stdout" | diff "$l/stdout" - | head -8)")
  f=strain.txt.prob
  if [ -e "$l/$f" ] || [ -e "$w/$f" ]; then
    if [ ! -e "$l/$f" ] || [ ! -e "$w/$f" ]; then errs+=("results file written by one build only")
    else
      [ "$(lf_lines "$w/$f")" -gt 0 ] && [ "$(crlf_lines "$w/$f")" = "$(lf_lines "$w/$f")" ] ||
        errs+=("Windows results file has not every line ending in CRLF")
      sed 's/\r$//' "$w/$f" | cmp -s - "$l/$f" ||
        errs+=("results file differs:"$'\n'"$(sed 's/\r$//' "$w/$f" | diff "$l/$f" - | head -4 | cut -c1-300)")
      grep -qE 'e[-+][0-9]{3}' "$w/$f" && errs+=("three-digit exponent in the Windows results file")
    fi
  fi
  if [ ${#errs[@]} -eq 0 ]; then PASSED=$((PASSED + 1)); echo "ok   $name"
  else FAILED=$((FAILED + 1)); echo "FAIL $name"; printf '     %s\n' "${errs[@]}"; fi
}

start=$SECONDS
D=(founders.txt strain.txt funnel.txt)
# Every configuration in both layouts, positions in cM and in bp.
check autosome-gen5-happy          lf        0 "${D[@]}" 5 -cm cm.txt
check autosome-gen5-labelled       lf        0 "${D[@]}" 5 -bp bp.txt -of 0
check autosome-gen2-labelled       lf        0 -e 0.01 "${D[@]}" 2 -of 0 -cm cm.txt
check autosome-gen20-happy         lf        0 "${D[@]}" 20 -bp bp.txt
check autosome-gen6-labelled       lf        0 "${D[@]}" 6 -cm cm.txt -of 0
check x-male-gen4-happy            lf        0 "${D[@]}" 4 -x -cm cm.txt
check x-male-gen5-labelled         lf        0 "${D[@]}" 5 -x -s m -bp bp.txt -of 0
check x-male-gen8-happy            lf        0 "${D[@]}" 8 -x -s M -bp bp.txt
check x-male-gen8-labelled         lf        0 "${D[@]}" 8 -x -cm cm.txt -of 0
check x-female-gen3-labelled       lf        0 "${D[@]}" 3 -x -s f -cm cm.txt -of 0
check x-female-gen5-happy          lf        0 "${D[@]}" 5 -x -s f -bp bp.txt
check x-female-gen7-labelled       lf        0 "${D[@]}" 7 -x -s F -cm cm.txt -of 0
check x-female-gen7-happy          lf        0 "${D[@]}" 7 -x -s f -cm cm.txt
# Inputs with Windows line ends, empty lines included.
check crlf-autosome-gen6-happy     crlf      0 "${D[@]}" 6 -cm cm.txt
check crlf-autosome-gen4-labelled  crlf      0 "${D[@]}" 4 -bp bp.txt -of 0
check crlf-x-female-gen9-labelled  crlf      0 "${D[@]}" 9 -x -s f -cm cm.txt -of 0
check crlf-x-male-gen3-happy       crlf      0 "${D[@]}" 3 -x -bp bp.txt
check crlf-both-autosome-gen12     crlf-both 0 "${D[@]}" 12 -cm cm.txt
check crlf-unsorted                crlf      1 "${D[@]}" 8 -cm cm_unsorted.txt
# Refusals.
check usage-no-arguments           lf        1
check usage-no-positions           lf        1 "${D[@]}" 8 -of 0
check usage-option-at-end          lf        1 "${D[@]}" 8 -cm
check unsorted-positions           lf        1 "${D[@]}" 8 -cm cm_unsorted.txt
check funnel-not-permutation       lf        1 founders.txt strain.txt funnel_repeat.txt 8 -cm cm.txt
check four-founders                lf        1 founders4.txt strain.txt funnel.txt 8 -cm cm.txt
check missing-strain-file          lf        1 founders.txt nostrain.txt funnel.txt 8 -cm cm.txt

# Values under 0.0001 must have shown up, with two exponent digits.
if grep -qE 'e-0[5-9][,|]' "$WORK"/*/windows/strain.txt.prob; then
  PASSED=$((PASSED + 1)); echo "ok   two-digit exponents"
else FAILED=$((FAILED + 1)); echo "FAIL two-digit exponents: no value under 0.0001 written"; fi

echo "Windows build compared in $((SECONDS - start)) s"
echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
