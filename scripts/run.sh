#!/usr/bin/env bash
# Installs what is missing, builds, starts the demo classroom's announcer on
# this machine, then the browser, so the home page opens and the link
# buttons arrive within seconds. The announcer stops when the browser ends.
# Without a screen (no DISPLAY) the browser runs on a private X display
# instead; after a few seconds its window is photographed and the picture's
# path printed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build

"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$build"

"$top/scripts/demo.sh" start
trap '"$top/scripts/demo.sh" stop' EXIT

if [ -z "${DISPLAY:-}" ]; then
  echo "run: no screen here (DISPLAY is not set): running the demo on a private X display"
  KESTREL_SCREENSHOT_WAIT=${KESTREL_SCREENSHOT_WAIT:-12} \
    "$top/scripts/screenshot.sh" "$build/kestrel-screenshot.png" "$build"
else
  "$build/kestrel"
fi
