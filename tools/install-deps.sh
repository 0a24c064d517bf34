#!/usr/bin/env bash
# Installs with apt-get whatever the build and the tests need and this
# machine lacks. Does nothing when all is there.
set -euo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -e /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
# Sanitizer build: g++ brings its own runtimes. Fuzz target: clang and libFuzzer.
command -v clang++ >/dev/null || need+=(clang)
compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null ||
  need+=(libclang-rt-dev)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}"
fi

# The Windows build and its test (tests/windows/compare.sh, skipped without them).
win=()
command -v x86_64-w64-mingw32-g++ >/dev/null || win+=(g++-mingw-w64-x86-64)
command -v wine >/dev/null || win+=(wine wine64)
if [ ${#win[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  { apt-get update -qq && apt-get install -y -qq "${win[@]}"; } ||
    echo "could not install ${win[*]}: the Windows build will not be tested"
fi
