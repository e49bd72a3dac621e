#!/usr/bin/env bash
# Follows the README's deployment steps in a booted Debian 12 and says what
# each one showed: the three packages built in BUILD_DIR (default build/,
# built whole) are installed on the announcing machine, the announcer signs
# and serves, a teacher publishes over 127.0.0.1, the page is opened to the
# network, the machine reboots, the page is purged (the announcer goes on),
# then the rest (nothing is left but the signing key, which is retired).
#   sudo ./scripts/check-deployment.sh [BUILD_DIR]
# The machine is a Debian 12 minbase root with systemd, made once with
# debootstrap in KESTREL_BOOT_DIR/base (default /var/tmp/kestrel-boot), which
# keeps the packages' dependencies from Debian's mirror too; every run boots
# a fresh copy of it with systemd-nspawn on a private network (loopback
# only), which works also where the host runs no systemd. Every step and
# request is bounded in time; a run takes a few minutes once the root is
# made. What each step printed is in KESTREL_BOOT_DIR/check.log.
# Not part of CI: it needs root, the mirror and time.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
place=${KESTREL_BOOT_DIR:-/var/tmp/kestrel-boot}
base=$place/base machine=$place/machine
# What the machine needs besides minbase: systemd to boot, curl for the
# requests a teacher's browser makes, iproute2 for an address to open to.
base_packages=systemd,systemd-sysv,dbus,curl,ca-certificates,iproute2
address=10.20.30.40 teacher=wang.li password=kestrel-check-password

[ "$(id -u)" -eq 0 ] || { echo "check-deployment: run as root (debootstrap and systemd-nspawn need it)" >&2; exit 1; }
for tool in debootstrap systemd-nspawn nsenter cpack; do
  command -v "$tool" >/dev/null || { echo "check-deployment: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
[ -f "$build/CPackConfig.cmake" ] || { echo "check-deployment: $build is no build folder" >&2; exit 1; }
# shellcheck source=lib/debian-root.sh
. "$top/scripts/lib/debian-root.sh"

failures=0
log=$place/check.log
say() { echo "check-deployment: $*" | tee -a "$log"; }
ok() { say "ok: $*"; }
failed() { say "FAILED: $*"; failures=$((failures + 1)); }

nspawn_pid= init_pid=
inside() {
  timeout 300 nsenter -t "$init_pid" -m -u -i -n -p -- /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    HOME=/root bash -c "cd /root && $1"
}
# Checks a command run inside the machine; its output goes to the log.
check() {
  local what=$1
  if inside "$2" >>"$log" 2>&1; then ok "$what"; else failed "$what"; fi
}
# Waits (at most SECONDS) until a command inside succeeds.
wait_inside() {
  local seconds=$1
  for _ in $(seq $((seconds * 2))); do
    inside "$2" >/dev/null 2>&1 && return 0
    sleep 0.5
  done
  return 1
}
boot() {
  systemd-nspawn -D "$machine/root" -b --register=no --keep-unit --private-network -M kestrel-check \
    >>"$place/console.log" 2>&1 </dev/null &
  nspawn_pid=$!
  init_pid=
  for _ in $(seq 60); do
    init_pid=$(ps -e -o pid=,ppid= | awk -v p="$nspawn_pid" '$2 == p {print $1; exit}')
    [ -n "$init_pid" ] && break
    sleep 0.5
  done
  [ -n "$init_pid" ] || { failed "the machine booted"; exit 1; }
  wait_inside 30 "test -S /run/systemd/private" || { failed "systemd started in the machine"; exit 1; }
  if inside "timeout 90 systemctl is-system-running --wait" >>"$log" 2>&1; then ok "the machine booted"; else
    failed "the machine booted without a failed unit"; inside "systemctl --failed" >>"$log" 2>&1 || true
  fi
}
power_off() {
  { echo "-- the services' journal of this boot"; inside "journalctl -b --no-pager -u kestrel-announce -u kestrel-publish"; } \
    >>"$log" 2>&1 || true
  inside "systemctl poweroff" >/dev/null 2>&1 || true
  for _ in $(seq 120); do
    kill -0 "$nspawn_pid" 2>/dev/null || { wait "$nspawn_pid" 2>/dev/null || true; nspawn_pid=; return 0; }
    sleep 0.5
  done
  failed "the machine powered off within a minute"
  kill "$nspawn_pid" 2>/dev/null || true
}
cleanup() { [ -z "$nspawn_pid" ] || power_off; }
trap cleanup EXIT

mkdir -p "$place"
: >"$log"
: >"$place/console.log"
make_debian_root "$base" "$base_packages"
say "packages from $build"
rm -rf "$place/debs"
cpack --config "$build/CPackConfig.cmake" -B "$place/debs" >>"$log" 2>&1 || { failed "cpack"; exit 1; }

# What the packages depend on goes into the kept root, fetched while it can
# reach the mirror (only what is new after the first run); the machine is a
# fresh copy of it, so the purge at the end leaves it as the install found it.
rm -rf "$base/root/debs"
mkdir -p "$base/root/debs"
cp "$place"/debs/*.deb "$base/root/debs/"
cp /etc/resolv.conf "$base/etc/resolv.conf"
chroot "$base" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive bash -c \
  "apt-get update -q && apt-get install -y -q ${base_packages//,/ } && apt-get install -y -q --download-only /root/debs/*.deb \
   && needed=\$(ls /var/cache/apt/archives/*.deb 2>/dev/null | grep -v '/kestrel' || true) \
   && if [ -n \"\$needed\" ]; then apt-get install -y -q \$needed; fi \
   && apt-get clean" >>"$log" 2>&1 || { failed "installing the packages' dependencies"; exit 1; }
rm -rf "$machine"
mkdir -p "$machine"
cp -a "$base" "$machine/root"
cp "$top/demo/pictures/kexue-hot.bmp" "$machine/root/root/picture.bmp"
echo "max-time = 10" >"$machine/root/root/.curlrc"
# What a purge must leave as it found it.
list_files='find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /tmp -o -path /var/tmp -o -path /var/cache \
  -o -path /var/lib/apt -o -path /var/lib/dpkg -o -path /var/log -o -path /root -o -path /etc/ld.so.cache \
  \) -prune -o -print | sort'

say "== boot"
boot
inside "$list_files" >"$place/files-before"

say "== install (README: On the one machine that announces; The teachers' publishing page)"
check "apt install the three packages" \
  "DEBIAN_FRONTEND=noninteractive apt-get install -y -q ./debs/kestrel_*.deb ./debs/kestrel-announce_*.deb ./debs/kestrel-publish_*.deb"
check "both services are off until enabled" \
  "! systemctl is-enabled kestrel-announce && ! systemctl is-enabled kestrel-publish"

say "== sign (README: Signed announcements, steps 1 and 2)"
check "make the key; the trusted-keys line alone on standard output" \
  "install -d -m 0700 /etc/credstore && kestrel-announce --gen-key /etc/credstore/kestrel-announce.key > trusted-keys \
   && [ \$(wc -l < trusted-keys) = 1 ] && grep -q '^ed25519 ' trusted-keys"
inside "mkdir -p /srv/kestrel && echo '<h1>school</h1>' > /srv/kestrel/index.html && cat > /etc/default/kestrel-announce <<'EOF'
KESTREL_ANNOUNCE_OPTIONS=\"--to 127.0.0.1 --serve /srv/kestrel --serve-at /pictures/=/var/lib/kestrel/pictures --key /run/credentials/kestrel-announce.service/kestrel-announce.key\"
EOF
echo 'KESTREL_PUBLISH_OPTIONS=\"--picture-url http://127.0.0.1:8080/pictures/\"' > /etc/default/kestrel-publish"
check "enable the announcer, before the page ever ran" "systemctl enable --now kestrel-announce"
check "it signs" "timeout 20 sh -c 'until journalctl -u kestrel-announce | grep -q \"signing with key\"; do sleep 0.5; done'"
check "the journal says what is on the air" \
  "timeout 20 sh -c 'until journalctl -u kestrel-announce | grep -q \"on the air: /etc/kestrel/catalogue.ini (nothing is published)\"; do sleep 0.5; done'"
check "the school's pages are served at /" "curl -sf http://127.0.0.1:8080/index.html | grep -q school"
check "the pictures folder, not there yet, is answered 404" \
  "[ \$(curl -s -o /dev/null -w '%{http_code}' http://127.0.0.1:8080/pictures/none.bmp) = 404 ]"
check "kestrel-announce --listen hears verified announcements" \
  "timeout 6 kestrel-announce --listen --from 127.0.0.1 --trust trusted-keys > heard || true; grep -q ', verified]' heard"

say "== publish (README: add the teachers, start the page; a teacher publishes)"
check "add a teacher" "printf '%s\n' '$password' | kestrel-publish --add-user $teacher"
check "enable the page" "systemctl enable --now kestrel-publish"
check "the page answers on 127.0.0.1:8443" "timeout 20 sh -c 'until curl -sf http://127.0.0.1:8443/ >/dev/null; do sleep 0.5; done'"
# The requests the page's script makes: a token, sign-in, a picture, the edit.
publish='page=http://127.0.0.1:8443
post() { curl -sf -b jar -c jar -H "Origin: $page" -H "X-CSRF-Token: $(token)" -H "Content-Type: $1" --data-binary "$2" "$page$3"; }
token() { curl -sf -b jar -c jar "$page/api/state" | sed -n "s/.*\"csrf\":\"\([^\"]*\)\".*/\1/p"; }
post application/json "{\"user\":\"'$teacher'\",\"password\":\"'$password'\"}" /api/sign-in >/dev/null
picture=$(post image/bmp @picture.bmp /api/picture | sed -n "s/.*\"picture\":\"\([^\"]*\)\".*/\1/p")
[ -n "$picture" ] && echo "$picture" > picture-url
post application/json "{\"home\":\"http://127.0.0.1:8080/index.html\",\"links\":[{\"name\":\"科学\",\"caption\":\"\",\"url\":\"http://127.0.0.1:8080/kexue.html\",\"picture\":\"$picture\",\"coolPicture\":\"$picture\"}]}" /api/publish'
check "a teacher signs in, uploads a picture and publishes" "$publish"
check "the announcer announces what was published" \
  "timeout 20 sh -c 'until journalctl -u kestrel-announce | grep -q \"on the air: /var/lib/kestrel/catalogue.ini (the published catalogue): announcing 1 link and the home page\"; do sleep 0.5; done'"
check "the uploaded picture is served under /pictures/" "curl -sf \$(cat picture-url) -o got.bmp && [ \$(stat -c %s got.bmp) = 1782 ]"
check "/run/kestrel says what is on the air" \
  "grep -qx source=/var/lib/kestrel/catalogue.ini /run/kestrel/on-air.status && grep -q 科学 /run/kestrel/on-air.ini"
check "the page's key is not in the folder the announcer reaches" "! find /var/lib/private/kestrel -name '*.key' | grep -q ."

say "== open the page to the network (README: Opening the page to the school network)"
# The machine's address, brought up with its network at every boot.
check "an address on the machine" "cat > /etc/systemd/system/check-address.service <<'EOF'
[Unit]
Before=network-online.target
[Service]
Type=oneshot
RemainAfterExit=yes
ExecStart=/sbin/ip address add $address/32 dev lo
[Install]
WantedBy=network-online.target
EOF
systemctl enable --now check-address"
inside "echo 'KESTREL_PUBLISH_OPTIONS=\"--address $address --host-name announcer.school.lan --picture-url http://$address:8080/pictures/\"' > /etc/default/kestrel-publish"
check "the page restarts over HTTPS" "systemctl restart kestrel-publish && timeout 20 sh -c 'until journalctl -u kestrel-publish | grep -q fingerprint; do sleep 0.5; done'"
check "https://ADDRESS:8443/ is answered with a certificate that names the address" \
  "crt=\$(find /var/lib/private/kestrel-publish -name '*.crt' | head -1) && timeout 20 sh -c \"until curl -sf --cacert \$crt https://$address:8443/ >/dev/null; do sleep 0.5; done\""
check "... and the host name too" \
  "crt=\$(find /var/lib/private/kestrel-publish -name '*.crt' | head -1) && curl -sf --cacert \$crt --resolve announcer.school.lan:8443:$address https://announcer.school.lan:8443/ >/dev/null"

say "== reboot"
power_off
boot
check "both services run again" "systemctl is-active kestrel-announce kestrel-publish"
check "the page answers on the network again" \
  "crt=\$(find /var/lib/private/kestrel-publish -name '*.crt' | head -1) && timeout 20 sh -c \"until curl -sf --cacert \$crt https://$address:8443/ >/dev/null; do sleep 0.5; done\""
check "the published catalogue is on the air again" \
  "timeout 20 sh -c 'until journalctl -b -u kestrel-announce | grep -q \"on the air: /var/lib/kestrel/catalogue.ini (the published catalogue)\"; do sleep 0.5; done'"
check "once: no other file is said to be on the air at boot" \
  "[ \$(journalctl -b -u kestrel-announce | grep -c 'on the air:') = 1 ]"

say "== purge the page"
check "apt purge kestrel-publish" "DEBIAN_FRONTEND=noninteractive apt-get purge -y -q kestrel-publish"
check "the announcer goes back to IT staff's catalogue" \
  "timeout 20 sh -c 'until journalctl -b -u kestrel-announce | grep -q \"on the air: /etc/kestrel/catalogue.ini (nothing is published)\"; do sleep 0.5; done'"
check "the announcer restarts and keeps announcing" \
  "systemctl restart kestrel-announce && sleep 3 && systemctl is-active kestrel-announce \
   && timeout 6 kestrel-announce --listen --from 127.0.0.1 --trust trusted-keys > heard-after || true; grep -q ', verified]' heard-after"
check "the page's state is gone" "[ ! -e /var/lib/private/kestrel-publish ] && [ ! -e /var/lib/kestrel/catalogue.ini ]"

say "== purge the rest"
check "apt purge kestrel kestrel-announce" "DEBIAN_FRONTEND=noninteractive apt-get purge -y -q kestrel kestrel-announce"
# What the check itself made, as IT staff would: the address and the school's pages.
inside "systemctl disable --now check-address && rm /etc/systemd/system/check-address.service && rm -r /srv/kestrel" \
  >>"$log" 2>&1 || true
inside "$list_files" >"$place/files-after"
left=$(comm -13 "$place/files-before" "$place/files-after")
if [ "$left" = "$(printf '%s\n' /etc/credstore /etc/credstore/kestrel-announce.key)" ]; then
  ok "nothing is left but the signing key"
else
  failed "left behind:"$'\n'"$left"
fi
check "nothing is left in /run either" "[ ! -e /run/kestrel ]"
check "retire the key (README: Retiring a key)" "shred -u /etc/credstore/kestrel-announce.key && rmdir /etc/credstore"
power_off

if [ "$failures" -eq 0 ]; then say "passed (log: $log)"; else say "$failures FAILED (log: $log, console: $place/console.log)"; fi
[ "$failures" -eq 0 ]
