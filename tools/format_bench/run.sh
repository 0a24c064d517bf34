#!/usr/bin/env bash
# Builds and runs the formatNumber micro-benchmark with the Release flags.
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BIN=$(mktemp)
trap 'rm -f "$BIN"' EXIT
g++ -std=c++17 -O3 -DNDEBUG -ffp-contract=off -fno-fast-math -DTARVEL_COUNT_FORMAT_FALLBACKS \
  -I"$ROOT/src" "$ROOT/tools/format_bench/format_bench.cpp" "$ROOT/src/output/format_number.cpp" -o "$BIN"
"$BIN"
