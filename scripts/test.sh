#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/check-includes.sh"
"$top/scripts/build.sh" "$top/build"
cd "$top/build"
ctest --output-on-failure --timeout 300 -j"$(nproc)"
# The core again under the address and undefined-behaviour sanitizers, then
# every fuzz target for a minute.
"$top/scripts/sanitize.sh"
"$top/scripts/fuzz.sh" 60
