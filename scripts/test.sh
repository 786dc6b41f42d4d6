#!/usr/bin/env bash
# Installs what is missing, configures, builds everything (tests and
# benchmarks) and runs every test with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build_dir=${TOLVEX_BUILD_DIR:-build/test}
jobs=$(nproc)
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build_dir" --parallel "$jobs"
ctest --test-dir "$build_dir" --output-on-failure --parallel "$jobs" --timeout 900
