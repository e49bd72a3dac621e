#!/usr/bin/env bash
# The browser on a pupil's machine hearing a teacher's machine over a
# multicast group only: two network namespaces this test makes and removes,
# joined by a veth pair (teacher t1 10.12.1.1/24, pupil p1 10.12.1.2/24).
# The built program runs in the pupil's namespace (offscreen) with "IP地址"
# naming p1 and "组播地址" set, started before p1 has its address, as on a
# machine where the pupil logs in before the network is up. The real
# kestrel-announce sends to the group from the teacher's namespace, and a
# page server there logs every request. Checks, each within a bounded wait:
# the 10049 line while the address is missing, one line when it appears,
# then the home page, every link picture and link 1's page requested by the
# browser from 10.12.1.2.
#   e2e_multicast_test.sh PROGRAM ANNOUNCER
# Exits 77 (skipped), saying why, where network namespaces cannot be made
# or entered.
set -euo pipefail
program=$1
announcer=$2
group=239.12.0.1
tag=$$
teacher=kestrel-e2e-teacher-$tag
pupil=kestrel-e2e-pupil-$tag

top=$(cd "$(dirname "$0")/../.." && pwd)
e2e_name=e2e_multicast

for tool in ip python3 iconv setsid; do
  command -v "$tool" >/dev/null || { echo "$e2e_name: $tool is missing (scripts/setup.sh installs it)"; exit 1; }
done

unset http_proxy https_proxy all_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY

work=$(mktemp -d)
requests=$work/requests.log
program_log=$work/program.log
announcer_log=$work/announcer.log
mkdir -p "$work/site/pictures" "$work/bin" "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
: >"$requests"
: >"$program_log"
. "$top/tests/e2e/lib/e2e-run.sh"

announcer_pid=
finish() {
  set +e # a stopped process reports its signal; that is no failure here
  stop_processes "$announcer_pid" "$server_pid"
  ip netns del "$teacher" 2>/dev/null
  ip netns del "$pupil" 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 1' INT TERM

# The machines are made step by step, and a program is run in each as the
# test will: where any step fails (no root, no "ip netns", or, in a chroot,
# an "ip netns exec" that cannot make its mount namespace), the test skips
# with that step's own words.
for step in "netns add $teacher" "netns add $pupil" "-n $teacher link set lo up" "-n $pupil link set lo up" \
    "-n $teacher link add t1 type veth peer name p1 netns $pupil" \
    "-n $teacher addr add 10.12.1.1/24 broadcast + dev t1" "-n $teacher link set t1 up" "-n $pupil link set p1 up" \
    "netns exec $teacher true" "netns exec $pupil true"; do
  # shellcheck disable=SC2086 # each step is split into its arguments
  if ! said=$(ip $step 2>&1); then
    echo "e2e_multicast: skipped: network namespaces cannot be made here: \"ip $step\" failed: ${said:-no reason given}"
    exit 77
  fi
done

page() { printf '<!DOCTYPE html><html><head><meta charset="utf-8"><title>%s</title></head><body><h1>%s</h1></body></html>\n' "$1" "$1" >"$work/site/$2"; }
page "Home" home.html
for k in 1 2; do
  page "Lesson $k" "link$k.html"
  python3 - "$work/site/pictures/link$k.bmp" <<'PYTHON'
import struct, sys
# 24 x 24, 24 bits, one colour: rows of 72 bytes need no padding.
pixels = bytes([0x1E, 0x96, 0x32]) * (24 * 24)
header = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
info = struct.pack("<IiiHHIIiiII", 40, 24, 24, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
open(sys.argv[1], "wb").write(header + info + pixels)
PYTHON
done

echo "== page server on 10.12.1.1 (teacher)"
start_page_server "$work/site" 10.12.1.1 "$work/http-port" ip netns exec "$teacher"
site=http://10.12.1.1:$(cat "$work/http-port")

# The catalogue with the home page and the first COUNT links, replaced whole
# so the announcer reads it as one edit. The home page goes on the air
# first: home and links heard in one merge pass open link 1 at once.
write_catalogue() {
  local count=$1 k
  {
    printf '[home]\nurl = %s/home.html\n' "$site"
    for ((k = 1; k <= count; k++)); do
      printf '\n[link]\nname = lesson%d\nurl = %s/link%d.html\npicture = %s/pictures/link%d.bmp\n' "$k" "$site" "$k" "$site" "$k"
    done
  } >"$work/catalogue.part"
  mv "$work/catalogue.part" "$work/catalogue.ini"
}
write_catalogue 0
echo "== announcer to $group (teacher)"
ip netns exec "$teacher" "$announcer" --to "$group" --ttl 1 --from t1 --interval 1 "$work/catalogue.ini" \
  >"$announcer_log" 2>&1 &
announcer_pid=$!
wait_until 20 grep -q "announcing 0 links and the home page" "$announcer_log" || fail "the announcer did not start"

cp "$program" "$work/bin/kestrel"
printf '[设置]\n主频道端口=9000\n[广播绑定IP地址]\nIP地址=10.12.1.2\n组播地址=%s\n' "$group" \
  | iconv -f UTF-8 -t GBK >"$work/bin/kestrel.INI"
cp "$work/bin/kestrel.INI" "$work/settings-before"

echo "== program (pupil), before its card has an address"
(
  cd "$work/home"
  exec ip netns exec "$pupil" env HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen \
    QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --disable-dev-shm-usage" \
    setsid "$work/bin/kestrel"
) >"$program_log" 2>&1 &
program_pid=$!

check "the missing address is reported as a failed bind" 60 \
  grep -qxF "bind() port: 9000 failed, Err: 10049:Cannot assign requested address" "$program_log"
sleep 4
[ ! -s "$requests" ] || fail "pages were requested before the pupil's card had an address"

echo "== the pupil's card gets its address"
ip -n "$pupil" addr add 10.12.1.2/24 broadcast + dev p1
check "one line says the channel opened" 20 grep -qxF "bind() port: 9000 on 10.12.1.2 done: the address has appeared" "$program_log"
requested_from_pupil() { cut -f1,3 "$requests" | grep -qxF "$1	10.12.1.2"; }
pictures_requested_by_browser() { requested_by_browser /pictures/link1.bmp && requested_by_browser /pictures/link2.bmp; }
check "the home page is requested" 60 requested_from_pupil /home.html

echo "== the links go on the air"
write_catalogue 2
wait_until 20 grep -q "announcing 2 links and the home page" "$announcer_log" || fail "the announcer did not take the links"
check "the link pictures are requested with the user agent MarlowBrowser1.0" 60 pictures_requested_by_browser
check "link 1's page opens by itself" 60 requested_from_pupil /link1.html

[ "$(grep -c "10049" "$program_log")" -eq 1 ] || fail "the failed bind was reported more than once"
cmp -s "$work/bin/kestrel.INI" "$work/settings-before" || fail "the settings file changed"
echo "e2e_multicast: passed"
