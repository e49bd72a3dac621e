#!/usr/bin/env bash
# Photographs what a lesson shows besides its pages, on a private X display:
#   1-waiting.png   the waiting notice, once it says what to check (12 s)
#   2-download.png  a lesson page whose worksheet was saved: the status line
#   3-find.png      the find bar (Ctrl+F) looking for a word on that page
#   scripts/screenshot-lessons.sh [picture folder] [build folder]
# The browser runs as a copy in a folder of its own, with its own settings,
# channel port and download folder; kestrel-announce serves the lesson and
# announces it on 127.0.0.1 only. Prints the pictures' paths.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
pictures=${1:-$top/build/lesson-screenshots}
build=${2:-$top/build}

. "$top/scripts/lib/virtual-display.sh"

work=$(mktemp -d)
chmod 700 "$work"
browser_pid=
announcer_pid=
finish() {
  set +e # a stopped process reports its signal; that is no failure here
  for pid in "$browser_pid" "$announcer_pid"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  stop_virtual_display
  rm -rf "$work"
}
trap finish EXIT

# Free ports for the channel and the page server, from the system.
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
channel_port=$(free_port)
http_port=$(free_port)

mkdir -p "$work/program" "$work/site" "$work/config" "$work/downloads" "$work/runtime" "$pictures"
chmod 700 "$work/runtime"
cp "$build/kestrel" "$work/program/kestrel"
printf '[设置]\r\n主频道端口=%s\r\n[广播绑定IP地址]\r\nIP地址=127.0.0.1\r\n' "$channel_port" |
  iconv -f UTF-8 -t CP936 >"$work/program/kestrel.INI"
printf 'XDG_DOWNLOAD_DIR="%s"\n' "$work/downloads" >"$work/config/user-dirs.dirs"
cat >"$work/site/lesson.html" <<'HTML'
<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8"><title>第三课</title></head>
<body style="font: 20px sans-serif; margin: 40px">
<h1>第三课：水的循环（water cycle）</h1>
<p>今天我们学习水的循环：蒸发、凝结、降水。请下载练习纸，写完后交给老师。</p>
<p><a href="worksheet.zip">练习纸</a></p>
<script>setTimeout(function () { location.href = 'worksheet.zip'; }, 1500);</script>
</body></html>
HTML
head -c 20000 /dev/urandom >"$work/site/worksheet.zip"
printf '[home]\nurl = http://127.0.0.1:%s/lesson.html\n' "$http_port" >"$work/catalogue.ini"

start_virtual_display || exit 1
export DISPLAY=$virtual_display XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=xcb

"$work/program/kestrel" >"$work/browser.log" 2>&1 &
browser_pid=$!
sleep 12
kill -0 "$browser_pid" 2>/dev/null || { echo "screenshot: the browser ended before the picture" >&2; exit 1; }
import -window root "$pictures/1-waiting.png"

"$build/tools/kestrel-announce" --serve "$work/site" --http-address 127.0.0.1 --http-port "$http_port" \
  --to 127.0.0.1 --port "$channel_port" --interval 1 "$work/catalogue.ini" >"$work/announce.log" 2>&1 &
announcer_pid=$!
# The home page, then the worksheet it downloads (at most 30 s).
for _ in $(seq 60); do
  [ -f "$work/downloads/worksheet.zip" ] && break
  sleep 0.5
done
[ -f "$work/downloads/worksheet.zip" ] || { echo "screenshot: the worksheet was not saved" >&2; cat "$work/browser.log" >&2; exit 1; }
sleep 2
import -window root "$pictures/2-download.png"

xdotool search --pid "$browser_pid" --onlyvisible windowactivate --sync 2>/dev/null | head -1 || true
xdotool key --clearmodifiers ctrl+f
sleep 1
xdotool type --delay 100 "water"
sleep 2
import -window root "$pictures/3-find.png"
printf '%s\n' "$pictures/1-waiting.png" "$pictures/2-download.png" "$pictures/3-find.png"
