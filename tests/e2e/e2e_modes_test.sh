#!/usr/bin/env bash
# The classroom modes from the teacher's click to the pupil's screen: the
# built kestrel-publish, the built kestrel-announce signing with a key of its
# own and announcing what the page writes, and the built browser trusting
# that key on a private X display, all on 127.0.0.1. The teacher's clicks go
# to the page's HTTP API as its buttons send them (signed in, with the
# session's token). "暂停" must cover the browser (its mode line, and the
# cover's colour over most of the screen) and "开放" uncover it, each
# within a bounded wait.
#   e2e_modes_test.sh PROGRAM ANNOUNCER PUBLISH
set -euo pipefail
program=$1
announcer=$2
publish=$3
top=$(cd "$(dirname "$0")/../.." && pwd)
. "$top/scripts/lib/virtual-display.sh"
. "$top/tests/e2e/lib/e2e-run.sh"
e2e_name=e2e_modes
e2e_prepare python3 Xvfb openbox import convert curl iconv setsid

work=$(mktemp -d)
requests=$work/requests.log
program_log=$work/program.log
announcer_log=$work/announcer.log
publish_log=$work/publish.log
mkdir -p "$work/site" "$work/bin" "$work/home" "$work/runtime" "$work/state"
chmod 700 "$work/runtime"
: >"$requests"
: >"$program_log"

announcer_pid=
publish_pid=
finish() {
  set +e
  stop_processes "$announcer_pid" "$publish_pid" "$server_pid"
  stop_virtual_display
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 1' INT TERM
e2e_more_report() {
  echo "== publishing page output"
  cat "$publish_log" 2>/dev/null
  echo "== classroom state file"
  cat "$work/state/classroom-state.ini" 2>/dev/null
}

free_port() {
  python3 -c 'import socket, sys; s = socket.socket(socket.AF_INET, getattr(socket, sys.argv[1])); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' "$1"
}

printf '<!DOCTYPE html><html><body style="background:#fff"><h1>Lesson</h1></body></html>\n' >"$work/site/home.html"
start_page_server "$work/site" 127.0.0.1 "$work/http-port"
site=http://127.0.0.1:$(cat "$work/http-port")
channel_port=$(free_port SOCK_DGRAM)
page_port=$(free_port SOCK_STREAM)
page=http://127.0.0.1:$page_port
printf '[home]\nurl = %s/home.html\n\n[link]\nname = 语文\nurl = %s/home.html\n' "$site" "$site" >"$work/catalogue.ini"

echo "== key, teacher, page and announcer"
"$announcer" --gen-key "$work/announce.key" >"$work/trusted-keys" 2>/dev/null || fail "no key made"
chmod 644 "$work/trusted-keys"
echo "correct horse" | "$publish" --add-user anna --users "$work/users" >/dev/null || fail "no teacher added"
echo "correct horse" | "$publish" --add-user bo --rooms r999 --users "$work/users" | grep "/etc/kestrel/rooms.ini has no room r999" >/dev/null \
  || fail "a room missing from rooms.ini went unnamed"
"$publish" --port "$page_port" --state "$work/state" --users "$work/users" --catalogue "$work/catalogue.ini" \
  --picture-url "$site/pictures/" >"$publish_log" 2>&1 &
publish_pid=$!
wait_until 20 grep -q "publishing page on" "$publish_log" || fail "the page did not start"
"$announcer" --to 127.0.0.1 --port "$channel_port" --interval 1 --key "$work/announce.key" --state "$work/counter" \
  --published "$work/state/catalogue.ini" --published-state "$work/state/classroom-state.ini" \
  "$work/catalogue.ini" >"$announcer_log" 2>&1 &
announcer_pid=$!
wait_until 20 grep -q "announcing 1 link and the home page" "$announcer_log" || fail "the announcer did not start"

echo "== the browser, trusting the announcer's key"
start_virtual_display || fail "no virtual display"
start_signed_browser "$work" "$program" "$channel_port" "$work/trusted-keys" "$virtual_display"
program_pid=$browser_pid
check "the home page is requested" 60 requested /home.html
sleep 3 # the page is drawn and signed states are heard

echo "== the teacher signs in"
jar=$work/cookies
token() { python3 -c 'import json, sys; print(json.load(sys.stdin)["csrf"])'; }
post() {
  curl -sS --max-time 10 -b "$jar" -c "$jar" -H "Origin: $page" -H "X-CSRF-Token: $csrf" \
    -H "Content-Type: application/json" --data "$2" "$page$1"
}
csrf=$(curl -sS --max-time 10 -c "$jar" "$page/api/state" | token) || fail "no page state"
csrf=$(post /api/sign-in '{"user": "anna", "password": "correct horse"}' | token) || fail "sign-in refused"

# The share of the screen in the pause cover's colour, in thousandths.
cover_share() {
  DISPLAY=$virtual_display import -window root "$work/screen.png" || fail "no screenshot"
  convert "$work/screen.png" -alpha off -fill black +opaque "#F4F6F8" -fill white -opaque "#F4F6F8" \
    -format '%[fx:int(1000*mean)]' info:
}
covered() { [ "$(cover_share)" -ge 700 ]; }
uncovered() { [ "$(cover_share)" -le 100 ]; }
mode_lines() { grep -c "^Classroom mode: $1\$" "$program_log" || true; }

check "no cover before any pause" 20 uncovered
for round in 1 2; do
  echo "== round $round: 暂停"
  before=$(mode_lines paused)
  post /api/mode '{"mode": "paused", "message": "请看黑板"}' >/dev/null || fail "the pause was refused"
  check "the browser prints that it is paused" 5 test "$(mode_lines paused)" -gt "$before"
  check "the cover fills the screen" 10 covered
  echo "== round $round: 开放"
  before=$(mode_lines open)
  post /api/mode '{"mode": "open"}' >/dev/null || fail "open was refused"
  check "the browser prints that it is open" 5 test "$(mode_lines open)" -gt "$before"
  check "the cover is gone" 10 uncovered
done
grep -q "pause-id = " "$work/state/classroom-state.ini" || fail "the state file holds no pause id"
echo "e2e_modes: passed"
