#!/usr/bin/env bash
# Starts the built browser on a private X display and photographs it.
#   scripts/screenshot.sh [picture.png] [build folder]
# Prints the picture's path. KESTREL_SCREENSHOT_WAIT sets the seconds to
# wait before the picture (default 8).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
picture=${1:-$top/build/kestrel-screenshot.png}
build=${2:-$top/build}
wait_seconds=${KESTREL_SCREENSHOT_WAIT:-8}

. "$top/scripts/lib/virtual-display.sh"

# A runtime folder of its own, so a browser already running for this user
# does not take the start over.
runtime=$(mktemp -d)
chmod 700 "$runtime"
browser_pid=
finish() {
  set +e # a stopped process reports its signal; that is no failure here
  if [ -n "$browser_pid" ]; then
    kill "$browser_pid" 2>/dev/null
    wait "$browser_pid" 2>/dev/null
  fi
  stop_virtual_display
  rm -rf "$runtime"
}
trap finish EXIT

start_virtual_display || exit 1

DISPLAY="$virtual_display" XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=xcb "$build/kestrel" &
browser_pid=$!
sleep "$wait_seconds"
kill -0 "$browser_pid" 2>/dev/null || { echo "screenshot: the browser ended before the picture" >&2; exit 1; }

mkdir -p "$(dirname "$picture")"
DISPLAY="$virtual_display" import -window root "$picture"
echo "$picture"
