#!/usr/bin/env bash
# Builds the libFuzzer target and runs it on a copy of the seed corpus.
# Usage: tests/fuzz/run_fuzz.sh [seconds] (default 60). Fails on any crash,
# hang, leak or sanitizer report; the failing input is kept in
# build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/../.."
secs=${1:-60}
cxx=$(command -v clang++ || command -v clang++-14)
cmake -S tests/fuzz -B build-fuzz -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build build-fuzz -j2 >/dev/null
mkdir -p build-fuzz/corpus build-fuzz/artifacts
./build-fuzz/tarvel_fuzz \
  -max_total_time="$secs" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -dict=tests/fuzz/tarvel.dict -print_final_stats=1 \
  -artifact_prefix=build-fuzz/artifacts/ \
  build-fuzz/corpus tests/fuzz/corpus
