#!/usr/bin/env bash
# Builds TARVEL and runs every test. Installs what a fresh machine lacks.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2

# Every output byte against a build of the baseline revision, on simulated
# inputs of every configuration (the short form: the covering cases).
/usr/bin/python3 tests/diff/diff_test.py --short

# TARVEL.exe under Wine against the Linux build just tested.
bash tests/windows/compare.sh build/TARVEL
# The number formatter against each platform's own stream, Linux and Wine.
bash tests/windows/format_number_check.sh

# The panel tooling and workflow (Debian's Python), then the workflow through
# the Slurm profile on a private single-node cluster.
/usr/bin/python3 -m pytest tests/panel bench/test_bench.py tests/diff/test_diff_tools.py -q -p no:cacheprovider
bash tests/slurm/run.sh

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
# A sanitizer report ends the process with status 1 by default, which TARVEL's
# own refusals also use; status 86 keeps the two apart.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEL_SANITIZE=ON
cmake --build build-asan -j2
ASAN_OPTIONS=exitcode=86 UBSAN_OPTIONS=exitcode=86:print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j2

# The suite under ThreadSanitizer: the results lines and the pair-factor
# blocks are made on a second thread.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread
cmake --build build-tsan -j2
TSAN_OPTIONS=exitcode=86:halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j2

# A minute of fuzzing the whole program (clang, libFuzzer).
bash tests/fuzz/run_fuzz.sh 60
