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

display=
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "screenshot: no free X display between :90 and :140" >&2; exit 1; }

# A runtime folder of its own, so a browser already running for this user
# does not take the start over.
runtime=$(mktemp -d)
chmod 700 "$runtime"
xvfb_pid=
wm_pid=
browser_pid=
finish() {
  set +e # a stopped process reports its signal; that is no failure here
  for pid in "$browser_pid" "$wm_pid" "$xvfb_pid"; do
    if [ -n "$pid" ]; then
      kill "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null
    fi
  done
  rm -rf "$runtime"
}
trap finish EXIT

Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.1
done
[ -e "/tmp/.X11-unix/X$display" ] || { echo "screenshot: Xvfb did not start on :$display" >&2; exit 1; }
# A window manager gives the window its frame and honours "maximised".
DISPLAY=":$display" openbox >/dev/null 2>&1 &
wm_pid=$!
sleep 1

DISPLAY=":$display" XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=xcb "$build/kestrel" &
browser_pid=$!
sleep "$wait_seconds"
kill -0 "$browser_pid" 2>/dev/null || { echo "screenshot: the browser ended before the picture" >&2; exit 1; }

mkdir -p "$(dirname "$picture")"
DISPLAY=":$display" import -window root "$picture"
echo "$picture"
