#!/usr/bin/env bash
# Builds the Debian package with cpack, installs it into this machine with
# dpkg -i and checks what a pupil machine relies on: the program and its
# settings file under /opt/kestrel, the /usr/bin links, the announcer, the
# desktop and autostart entries, the service and its example catalogue.
# A package that was not installed before is purged again at the end.
# Needs root; exits 77 (skipped) otherwise.
#   package_install_test.sh BUILD_DIR
set -euo pipefail
build=$1

if [ "$(id -u)" -ne 0 ]; then
  echo "package_install: skipped: installing a package with dpkg -i needs root"
  exit 77
fi
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "package_install: $tool is missing (scripts/setup.sh installs it)"; exit 1; }
done

work=$(mktemp -d)
was_installed=no
dpkg-query -W -f='${Status}' kestrel 2>/dev/null | grep -q "install ok installed" && was_installed=yes
cleanup() {
  [ "$was_installed" = no ] && dpkg --purge kestrel >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "package_install: FAILED: $*"; exit 1; }
check() { local what=$1; shift; "$@" >/dev/null 2>&1 || fail "$what"; echo "ok: $what"; }

echo "== cpack"
cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/kestrel_*.deb)
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb" >"$work/contents"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles >"$work/conffiles"
check "the package depends on a Chinese font" bash -c "dpkg-deb -f '$deb' Depends | grep fonts-wqy-microhei"
check "the settings file is a conffile" grep -qx /opt/kestrel/kestrel.INI "$work/conffiles"
check "the example catalogue is a conffile" grep -qx /etc/kestrel/catalogue.ini "$work/conffiles"

echo "== dpkg -i"
# Another installation may hold dpkg's lock for a moment.
for attempt in $(seq 30); do
  if dpkg -i --force-confdef --force-confold "$deb" >"$work/dpkg.log" 2>&1; then break; fi
  grep -q "lock" "$work/dpkg.log" && [ "$attempt" -lt 30 ] || { cat "$work/dpkg.log"; fail "dpkg -i"; }
  sleep 2
done
cat "$work/dpkg.log"

check "kestrel-announce --help" bash -c "/usr/bin/kestrel-announce --help | grep -q '^Usage: kestrel-announce'"
check "the example catalogue is valid" \
  /usr/bin/kestrel-announce --once --to 127.0.0.1 --port 9 /etc/kestrel/catalogue.ini
check "the desktop entry starts /usr/bin/kestrel" grep -qx "Exec=/usr/bin/kestrel" /usr/share/applications/kestrel.desktop
check "the desktop entry is an application" grep -qx "Type=Application" /usr/share/applications/kestrel.desktop
check "the browser starts at login" grep -qx "Exec=/usr/bin/kestrel" /etc/xdg/autostart/kestrel.desktop
check "the icon" test -s /usr/share/icons/hicolor/scalable/apps/kestrel.svg
check "the announcer service" grep -q "^ExecStart=/usr/bin/kestrel-announce .*/etc/kestrel/catalogue.ini" \
  /lib/systemd/system/kestrel-announce.service
check "/usr/bin/kestrel links to /opt/kestrel/kestrel" test "$(readlink /usr/bin/kestrel)" = /opt/kestrel/kestrel
# Section 设置, key 主频道端口 = 9000; section 广播绑定IP地址, key IP地址 empty.
check "the settings file beside the program, in GBK" bash -c \
  "iconv -f CP936 -t UTF-8 /opt/kestrel/kestrel.INI | tr -d '\r' | diff - <(printf '[设置]\n主频道端口=9000\n[广播绑定IP地址]\nIP地址=\n')"
if grep -q ' ./opt/kestrel/kestrel$' "$work/contents"; then
  check "the program /opt/kestrel/kestrel" test -x /opt/kestrel/kestrel
else
  echo "note: this build has no kestrel program; the package holds the announcer only"
fi
echo "package_install: passed"
