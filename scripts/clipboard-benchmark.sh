#!/usr/bin/env bash
# Runs the clipboard intake benchmark on a test desktop of its own, beside
# CopyQ, the clipboard manager it is compared with. CopyQ is a yardstick of
# the benchmark only, not something the program needs: it is installed here,
# and only when it is missing.
#
# Usage: scripts/clipboard-benchmark.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}

if ! command -v copyq >/dev/null 2>&1; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
  fi
  "${sudo_cmd[@]}" apt-get install -y --no-install-recommends copyq
fi

cmake --build "$build_dir" --target ClipboardIntakeBenchmark
exec scripts/test-desktop.sh run -- "$build_dir/benchmarks/ClipboardIntakeBenchmark"
