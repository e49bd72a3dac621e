#!/usr/bin/env bash
# Installs what is missing, builds, and starts the browser.
# Without a screen (no DISPLAY) the browser runs on a private X display
# instead; after a few seconds its window is photographed and the picture's
# path printed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build

"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$build"

if [ -z "${DISPLAY:-}" ]; then
  exec "$top/scripts/screenshot.sh" "$build/kestrel-screenshot.png" "$build"
fi
exec "$build/kestrel"
