#!/usr/bin/env bash
# Installs what is missing, builds, installs into a local prefix and starts
# the installed program. Extra arguments are passed on to `tolvex`.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build_dir=${TOLVEX_BUILD_DIR:-build/release}
prefix=${TOLVEX_PREFIX:-$PWD/build/prefix}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOLVEX_BUILD_TESTS=OFF -DTOLVEX_BUILD_BENCHMARKS=OFF \
  -DCMAKE_INSTALL_PREFIX="$prefix"
cmake --build "$build_dir" --parallel "$(nproc)"
cmake --install "$build_dir"
exec "$prefix/bin/tolvex" "$@"
