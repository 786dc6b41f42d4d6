#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each
# for the given number of seconds, one core each, side by side.
#   scripts/fuzz.sh [seconds per target] [target...]
# New inputs that widen coverage go to build/fuzz/corpus/<target> (the seed
# corpus in Fuzzing/Corpus is read, never written); a crashing input is
# saved as build/fuzz/findings/<target>/crash-* and the run of that target
# stops there. Each target's log is build/fuzz/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(JsonFuzzer StringTableFuzzer ImageFuzzer)
fi

build_dir=${TOLVEX_FUZZ_BUILD_DIR:-build/fuzz}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 -DTOLVEX_FUZZ=ON
cmake --build "$build_dir" --parallel "${TOLVEX_FUZZ_JOBS:-4}"

export QT_QPA_PLATFORM=offscreen
# Leaks of Qt's and libheif's process-wide caches are not findings.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

pids=()
for target in "${targets[@]}"; do
  corpus="$build_dir/corpus/$target"
  findings="$build_dir/findings/$target"
  mkdir -p "$corpus" "$findings"
  nice "$build_dir/fuzzing/$target" "$corpus" "Fuzzing/Corpus/$target" \
    -max_total_time="$seconds" -rss_limit_mb=4096 -malloc_limit_mb=1536 -timeout=30 \
    -artifact_prefix="$findings/" -print_final_stats=1 >"$build_dir/$target.log" 2>&1 &
  pids+=($!)
done

status=0
for i in "${!pids[@]}"; do
  if ! wait "${pids[$i]}"; then
    echo "${targets[$i]}: stopped with a finding, see $build_dir/${targets[$i]}.log" >&2
    status=1
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)' "$build_dir/${targets[$i]}.log" \
    | sed "s/^/${targets[$i]} /" || true
done
exit $status
