#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang into build-fuzz/ and runs
# each for the seconds given (default 60), starting from its seeds in
# fuzz/corpus/<target>/. Inputs that reach new code are kept in
# build-fuzz/corpus/<target>/, so a later run goes on from there; an input
# that breaks a promise is written to build-fuzz/artifacts/ and fails the run.
#   scripts/fuzz.sh [seconds]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=$top/build-fuzz

cmake -S "$top/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j"$(nproc)"
mkdir -p "$build/artifacts"

passed=0
for seeds in "$top"/fuzz/corpus/*/; do
  target=$(basename "$seeds")
  mkdir -p "$build/corpus/$target"
  log=$build/$target.log
  if ! "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-" "$build/corpus/$target" "$seeds" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz: $target broke a promise; the input is in $build/artifacts/"
    echo "fuzz: $passed passed, 1 failed"
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz: $target: $runs inputs in $seconds s, nothing broken"
  passed=$((passed + 1))
done
echo "fuzz: $passed passed, 0 failed"
