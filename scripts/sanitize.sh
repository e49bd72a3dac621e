#!/usr/bin/env bash
# Builds the core tests and the announcer with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan/ (or the folder given) and runs
# them; the first finding fails the run. The window and end-to-end tests are
# left out: the web engine is far too large to run under the address
# sanitizer, and nothing of the window is built here.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-asan}
sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
areas=(base config channel catalogue net tools)

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$sanitizers" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${areas[@]/%/_tests}"

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# Each test program in its own folder, as ctest runs it.
for area in "${areas[@]}"; do
  (cd "$build/tests/$area" && timeout 900 "./${area}_tests" --gtest_brief=1)
done
