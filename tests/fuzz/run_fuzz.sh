#!/usr/bin/env bash
# Builds the libFuzzer target (the top-level project with clang and
# -DTARVEL_FUZZ=ON) and runs it on a copy of the seed corpus.
# Usage: tests/fuzz/run_fuzz.sh [seconds] (default 60). Fails on any crash,
# hang, leak or sanitizer report; the failing input is kept in
# build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/../.."
secs=${1:-60}
cxx=$(command -v clang++ || command -v clang++-14)
# a build-fuzz/ configured from another source directory (tests/fuzz, once a
# project of its own) is configured afresh
if [ -f build-fuzz/CMakeCache.txt ] &&
  ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$PWD" build-fuzz/CMakeCache.txt; then
  rm -rf build-fuzz/CMakeCache.txt build-fuzz/CMakeFiles
fi
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVEL_FUZZ=ON -DTARVEL_TESTS=OFF >/dev/null
cmake --build build-fuzz -j2 --target tarvel_fuzz >/dev/null
mkdir -p build-fuzz/corpus build-fuzz/artifacts
./build-fuzz/tests/fuzz/tarvel_fuzz \
  -max_total_time="$secs" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -dict=tests/fuzz/tarvel.dict -print_final_stats=1 \
  -artifact_prefix=build-fuzz/artifacts/ \
  build-fuzz/corpus tests/fuzz/corpus
