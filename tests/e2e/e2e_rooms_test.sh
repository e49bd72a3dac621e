#!/usr/bin/env bash
# Two rooms from one announcer: the built kestrel-announce reads a rooms file
# and signs both rooms' channels with one key; two copies of the built
# browser (the single-instance rule keys on the program's path), one per
# room, each on a private X display of its own, all on 127.0.0.1. Each must
# show its own room's home page (red in room a, blue in room b), and a pause
# published in room a must cover browser a only.
#   e2e_rooms_test.sh PROGRAM ANNOUNCER
set -euo pipefail
program=$1
announcer=$2
top=$(cd "$(dirname "$0")/../.." && pwd)
. "$top/scripts/lib/virtual-display.sh"
. "$top/tests/e2e/lib/e2e-run.sh"
e2e_name=e2e_rooms
e2e_prepare python3 Xvfb openbox import convert iconv setsid

work=$(mktemp -d)
requests=$work/requests.log
program_log=$work/a/program.log
announcer_log=$work/announcer.log
mkdir -p "$work/site" "$work/state/rooms/a" "$work/state/rooms/b" "$work/a" "$work/b"
: >"$requests"
: >"$announcer_log"

# Room b's browser, and its display's variables of the library (display,
# Xvfb, window manager, marks); room a's are e2e-run's and the library's own.
program_b_pid=
display_b=()
finish() {
  set +e
  stop_processes "$announcer_pid" "$server_pid"
  if [ -n "$program_b_pid" ]; then program_pid=$program_b_pid stop_processes; fi
  stop_virtual_display
  if [ -n "${display_b[0]:-}" ]; then
    virtual_display_xvfb_pid=${display_b[1]}
    virtual_display_wm_pid=${display_b[2]}
    virtual_display_marks=${display_b[3]}
    stop_virtual_display
  fi
  rm -rf "$work"
}
announcer_pid=
trap finish EXIT
trap 'exit 1' INT TERM
e2e_more_report() {
  echo "== room b's browser output"
  tail -n 60 "$work/b/program.log" 2>/dev/null
}

free_port() {
  python3 -c 'import socket, sys; s = socket.socket(socket.AF_INET, getattr(socket, sys.argv[1])); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' "$1"
}

printf '<!DOCTYPE html><html><body style="background:#c81e1e"><h1>A</h1></body></html>\n' >"$work/site/a.html"
printf '<!DOCTYPE html><html><body style="background:#1e3cc8"><h1>B</h1></body></html>\n' >"$work/site/b.html"
start_page_server "$work/site" 127.0.0.1 "$work/http-port"
site=http://127.0.0.1:$(cat "$work/http-port")
port_a=$(free_port SOCK_DGRAM)
port_b=$(free_port SOCK_DGRAM)
printf '[link]\nname = staff\n' >"$work/catalogue.ini"
for room in a b; do
  printf '[home]\nurl = %s/%s.html\n\n[link]\nname = %s\nurl = %s/%s.html\n' "$site" "$room" "$room" "$site" "$room" \
    >"$work/state/rooms/$room/catalogue.ini"
done
printf '[room]\nid = a\nport = %s\nto = 127.0.0.1\n\n[room]\nid = b\nport = %s\nto = 127.0.0.1\n' "$port_a" "$port_b" \
  >"$work/rooms.ini"

echo "== one key, one announcer for both rooms"
"$announcer" --gen-key "$work/announce.key" >"$work/trusted-keys" 2>/dev/null || fail "no key made"
chmod 644 "$work/trusted-keys"
"$announcer" --rooms "$work/rooms.ini" --interval 1 --key "$work/announce.key" --state "$work/counter" \
  --published "$work/state/catalogue.ini" --published-state "$work/state/classroom-state.ini" \
  --report-port "$(free_port SOCK_DGRAM)" --on-air "$work/on-air" "$work/catalogue.ini" >"$announcer_log" 2>&1 &
announcer_pid=$!
both_rooms_on_air() { [ "$(grep -c "(the published catalogue): announcing 1 link and the home page" "$announcer_log")" -eq 2 ]; }
wait_until 20 both_rooms_on_air || fail "the announcer did not start both rooms"

echo "== two browsers, two copies of the program, each on its room's port and display"
start_virtual_display || fail "no virtual display"
display_b=("$virtual_display" "$virtual_display_xvfb_pid" "$virtual_display_wm_pid" "$virtual_display_marks")
virtual_display=''
virtual_display_xvfb_pid=''
virtual_display_wm_pid=''
virtual_display_marks=''
start_virtual_display || fail "no second virtual display"
display_a=$virtual_display
start_signed_browser "$work/a" "$program" "$port_a" "$work/trusted-keys" "$display_a"
program_pid=$browser_pid
start_signed_browser "$work/b" "$program" "$port_b" "$work/trusted-keys" "${display_b[0]}"
program_b_pid=$browser_pid
check "room a's home page is requested" 60 requested /a.html
check "room b's home page is requested" 60 requested /b.html
kill -0 "$program_b_pid" 2>/dev/null || fail "room b's browser ended"

# The share of DISPLAY's screen in COLOUR, in thousandths.
share() {
  DISPLAY=$1 import -window root "$work/screen.png" || fail "no screenshot of $1"
  convert "$work/screen.png" -alpha off -fill black +opaque "$2" -fill white -opaque "$2" \
    -format '%[fx:int(1000*mean)]' info:
}
shows() { [ "$(share "$1" "$2")" -ge 500 ]; }
covered() { [ "$(share "$1" "#F4F6F8")" -ge 700 ]; }
paused_lines() { grep -c "^Classroom mode: paused\$" "$work/$1/program.log" || true; }
paused() { [ "$(paused_lines "$1")" -gt 0 ]; }
publish_state() {
  printf 'mode = %s\n' "$2" >"$work/state/rooms/$1/state.saving"
  mv "$work/state/rooms/$1/state.saving" "$work/state/rooms/$1/classroom-state.ini"
}

check "browser a shows room a's page" 30 shows "$display_a" "#C81E1E"
check "browser b shows room b's page" 30 shows "${display_b[0]}" "#1E3CC8"

echo "== 暂停 in room a"
publish_state a paused
check "browser a prints that it is paused" 10 paused a
check "browser a's screen is covered" 10 covered "$display_a"
sleep 2 # two rounds on room b's channel
! paused b || fail "browser b was paused by room a's pause"
shows "${display_b[0]}" "#1E3CC8" || fail "browser b's page is not shown while room a is paused"
echo "ok: browser b goes on showing room b's page"

echo "== 开放 in room a"
publish_state a open
check "browser a shows room a's page again" 10 shows "$display_a" "#C81E1E"
echo "e2e_rooms: passed"
