#!/usr/bin/env bash
# The demo classroom on this one machine: kestrel-announce serves demo/ (a
# Chinese home page, seven lessons and their button pictures) over HTTP on
# 127.0.0.1 and announces demo/catalogue.ini to 127.0.0.1 on the channel
# port the browser's settings file names (build/kestrel.INI, else 9000).
#
#   scripts/demo.sh start    start it in the background and return once it
#                            answers; its PID is kept in announce.pid and its
#                            output in announce.log, both in build/demo/
#   scripts/demo.sh stop     stop the one started by "start"
#   scripts/demo.sh status   say whether it runs
#   scripts/demo.sh run      run it in the foreground, showing its output;
#                            Ctrl-C or SIGTERM stops it
#
# Builds kestrel-announce first when needed. Environment:
#   KESTREL_BUILD           build folder (default: build/ beside this script)
#   KESTREL_DEMO_HTTP_PORT  port of the page server (default 8080)
#   KESTREL_DEMO_PORT       channel port (default: from the settings file)
#   KESTREL_DEMO_DIR        folder for the PID file, log and catalogue
#                           (default: build/demo)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTREL_BUILD:-$top/build}
run_dir=${KESTREL_DEMO_DIR:-$build/demo}
pid_file=$run_dir/announce.pid
log_file=$run_dir/announce.log
announcer=$build/tools/kestrel-announce
http_port=${KESTREL_DEMO_HTTP_PORT:-8080}

# The channel port as the browser reads it: key 主频道端口 of section 设置
# in the GBK settings file beside the program, leading digits only.
settings_port() {
  local settings=$build/kestrel.INI
  [ -r "$settings" ] || return 0
  iconv -f CP936 -t UTF-8 "$settings" 2>/dev/null | tr -d '\r' | awk '
    /^[[:space:]]*\[/ { section = $0; gsub(/^[[:space:]]*\[|\][[:space:]]*$/, "", section); next }
    section == "设置" && /^[[:space:]]*主频道端口[[:space:]]*=/ {
      sub(/^[^=]*=[[:space:]]*/, ""); match($0, /^[0-9]+/); print substr($0, 1, RLENGTH); exit
    }'
}
channel_port=${KESTREL_DEMO_PORT:-$(settings_port)}
channel_port=${channel_port:-9000}

running() {
  [ -f "$pid_file" ] || return 1
  local pid
  pid=$(cat "$pid_file")
  # A PID left over from an earlier boot may now belong to another program.
  [ -n "$pid" ] && grep -q kestrel-announce "/proc/$pid/cmdline" 2>/dev/null
}

build_announcer() {
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$build" --target kestrel-announce -j"$(nproc)" >/dev/null
}

# The demo catalogue with its page and picture addresses on the port served.
write_catalogue() {
  mkdir -p "$run_dir"
  sed "s#http://127.0.0.1:8080/#http://127.0.0.1:$http_port/#g" "$top/demo/catalogue.ini" >"$run_dir/catalogue.ini"
}

announcer_command=()
prepare() {
  build_announcer
  write_catalogue
  announcer_command=("$announcer" --serve "$top/demo" --http-address 127.0.0.1 --http-port "$http_port"
    --to 127.0.0.1 --port "$channel_port" --interval 1 "$run_dir/catalogue.ini")
}

# Waits (at most 5 s) until the announcer sends and serves.
wait_until_up() {
  for _ in $(seq 50); do
    if grep -q "announcing" "$log_file" 2>/dev/null \
      && (exec 3<>"/dev/tcp/127.0.0.1/$http_port") 2>/dev/null; then
      return 0
    fi
    running || break
    sleep 0.1
  done
  return 1
}

stop() {
  running || { rm -f "$pid_file"; return 0; }
  local pid
  pid=$(cat "$pid_file")
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
  rm -f "$pid_file"
  echo "demo: stopped"
}

start() {
  if running; then
    echo "demo: already running (PID $(cat "$pid_file"))"
    return 0
  fi
  prepare
  setsid "${announcer_command[@]}" >"$log_file" 2>&1 </dev/null &
  echo $! >"$pid_file"
  if ! wait_until_up; then
    echo "demo: kestrel-announce did not come up:" >&2
    cat "$log_file" >&2
    stop >/dev/null
    return 1
  fi
  echo "demo: serving http://127.0.0.1:$http_port/ and announcing to 127.0.0.1:$channel_port (log: $log_file)"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  status)
    if running; then echo "demo: running (PID $(cat "$pid_file"))"; else echo "demo: not running"; exit 1; fi ;;
  run)
    start
    trap stop EXIT
    trap 'exit 0' INT TERM
    # In the background, so that the signal traps run at once.
    tail -n +1 -f "$log_file" --pid="$(cat "$pid_file")" &
    wait $! ;;
  *)
    sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
    exit 2 ;;
esac
