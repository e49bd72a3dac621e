# shellcheck shell=bash
# What the end-to-end runs share: the failure report, bounded waits, the stop
# of the program's process group, a page server that logs every request and
# the start of a browser copy that trusts a signing key.
# Source this file after setting:
#   e2e_name       the run's name, for its lines
#   work           the run's temporary folder
#   requests       the page server's log: one line per request, path, user
#                  agent and client address, tab-separated
#   program_log, announcer_log
# with KESTREL_TEST_HTTP_SERVER in the environment naming the test server
# program (tests/support; ctest sets it), and set program_pid once the
# program runs. A run may define e2e_more_report to add lines to the failure
# report.

program_pid=
server_pid=

# Ends the run at once when a tool it needs is missing, and takes the
# proxies away: every address of a run is 127.0.0.1.
e2e_prepare() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$e2e_name: $tool is missing (scripts/setup.sh installs it)"; exit 1; }
  done
  unset http_proxy https_proxy all_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY
  export no_proxy=127.0.0.1
}

fail() {
  echo "$e2e_name: FAILED: $*"
  echo "== requests to the page server (path, user agent, client)"
  cat "$requests"
  echo "== program output"
  tail -n 60 "$program_log" 2>/dev/null
  echo "== announcer output"
  cat "$announcer_log" 2>/dev/null
  if declare -F e2e_more_report >/dev/null; then e2e_more_report; fi
  exit 1
}

# Waits at most SECONDS until COMMAND succeeds; fails at once when the
# program has ended.
wait_until() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  while ! "$@"; do
    [ -z "$program_pid" ] || kill -0 "$program_pid" 2>/dev/null || fail "the program ended"
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.5
  done
}

check() {
  local what=$1 seconds=$2
  shift 2
  wait_until "$seconds" "$@" || fail "$what (waited $seconds s)"
  echo "ok: $what"
}

requested() { cut -f1 "$requests" | grep -qxF "$1"; }
requested_by_browser() { cut -f1,2 "$requests" | grep -qxF "$1	MarlowBrowser1.0"; }

# Stops the program and its web engine processes, which form one process
# group, then each other PID given.
stop_processes() {
  if [ -n "$program_pid" ]; then
    kill -TERM -- "-$program_pid" 2>/dev/null || kill -TERM "$program_pid" 2>/dev/null
    for _ in $(seq 50); do
      kill -0 -- "-$program_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL -- "-$program_pid" 2>/dev/null
    wait "$program_pid" 2>/dev/null
  fi
  local pid
  for pid in "$@"; do
    if [ -n "$pid" ]; then
      kill "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null
    fi
  done
}

# Serves the files of ROOT, as they are when it starts, on ADDRESS and a
# port the system picks, written to PORT_FILE once it listens, logging every
# request to $requests; sets server_pid. Any further words run the server
# through that command (ip netns exec NAME).
start_page_server() {
  local root=$1 address=$2 port_file=$3
  shift 3
  "$@" "${KESTREL_TEST_HTTP_SERVER:?the test HTTP server program; ctest names it}" "$root" "$address" "$port_file" \
    "$requests" >"$work/server.log" 2>&1 &
  server_pid=$!
  wait_until 20 test -s "$port_file" || { cat "$work/server.log"; fail "the page server did not start"; }
}

# Starts a copy of PROGRAM as FOLDER/bin/kestrel (the single-instance rule
# keys on the program's path) on X display DISPLAY, hearing 127.0.0.1:PORT
# and trusting the keys of the file KEYS, with its home and runtime folders
# in FOLDER and its output in FOLDER/program.log; sets browser_pid, the
# leader of its process group.
start_signed_browser() {
  local folder=$1 program=$2 port=$3 keys=$4 display=$5
  mkdir -p "$folder/bin" "$folder/home" "$folder/runtime"
  chmod 700 "$folder/runtime"
  cp "$program" "$folder/bin/kestrel"
  printf '[设置]\n主频道端口=%s\n[广播绑定IP地址]\nIP地址=127.0.0.1\n[广播签名]\n公钥文件=%s\n' "$port" "$keys" |
    iconv -f UTF-8 -t GBK >"$folder/bin/kestrel.INI"
  (
    cd "$folder/home"
    exec env HOME="$folder/home" XDG_RUNTIME_DIR="$folder/runtime" DISPLAY="$display" QT_QPA_PLATFORM=xcb \
      QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --disable-dev-shm-usage" \
      setsid "$folder/bin/kestrel"
  ) >"$folder/program.log" 2>&1 &
  browser_pid=$!
}
