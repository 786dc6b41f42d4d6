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
# The file layer's move across volumes needs a writable folder on another
# file system than the temporary folder's. /dev/shm is one on most machines;
# where it is not, a small tmpfs is mounted for the run when we may.
other_volume=""
if [[ -d /dev/shm && -w /dev/shm && "$(stat -c %d /dev/shm)" != "$(stat -c %d "${TMPDIR:-/tmp}")" ]]; then
  other_volume=/dev/shm
else
  mounted=$(mktemp -d)
  if mount -t tmpfs -o size=16m tmpfs "$mounted" 2>/dev/null; then
    other_volume=$mounted
    trap 'umount "$mounted" && rmdir "$mounted"' EXIT
  else
    rmdir "$mounted"
    echo "note: no second writable file system; the move-across-volumes test will skip" >&2
  fi
fi
export TOLVEX_OTHER_VOLUME=$other_volume

ctest --test-dir "$build_dir" --output-on-failure --parallel "$jobs" --timeout 900
