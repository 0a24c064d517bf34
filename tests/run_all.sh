#!/usr/bin/env bash
# Builds TARVEL and runs every test. Installs what a fresh machine lacks.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2

# TARVEL.exe under Wine against the Linux build just tested.
bash tests/windows/compare.sh build/TARVEL
