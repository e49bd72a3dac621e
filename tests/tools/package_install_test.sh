#!/usr/bin/env bash
# Builds the three Debian packages with cpack and installs each alone into
# this machine with apt, as a school would: the browser package on a pupil
# machine, the announcer package on the one that announces. Checks what each
# installs (paths, links, conffiles, manual pages), that neither pulls in
# the other, that the browser reads and writes its settings through the link
# and starts for a user who cannot write /etc, then upgrades a 2.1-style
# single package (repacked here from today's files) with edited settings and
# catalogue and checks the edits survived. Last, all three together, with
# the state their services would have made: purging the publishing page
# leaves the announcer whole, purging the rest leaves only the signing key
# the README tells IT staff to retire. Everything is purged again at the
# end, also on failure. Needs root; exits 77 (skipped) otherwise.
#   package_install_test.sh BUILD_DIR
set -euo pipefail
build=$1
packages=(kestrel kestrel-announce kestrel-publish)
# What the services keep (a dynamic user's state lives under private/), and
# the signing key IT staff make.
service_state=(/var/lib/private/kestrel /var/lib/kestrel /var/lib/private/kestrel-announce /var/lib/kestrel-announce
  /var/lib/private/kestrel-publish /var/lib/kestrel-publish /run/kestrel /etc/credstore/kestrel-announce.key)

if [ "$(id -u)" -ne 0 ]; then
  echo "package_install: skipped: installing packages with apt needs root"
  exit 77
fi
for tool in cpack dpkg-deb dpkg-shlibdeps apt iconv man runuser systemd-analyze; do
  command -v "$tool" >/dev/null || { echo "package_install: $tool is missing (scripts/setup.sh installs it)"; exit 1; }
done
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "installed"; then
    echo "package_install: skipped: $p is installed on this machine and would be replaced"
    exit 77
  fi
done
for path in "${service_state[@]}"; do
  if [ -e "$path" ] || [ -L "$path" ]; then
    echo "package_install: skipped: $path is on this machine and a purge would remove it"
    exit 77
  fi
done

work=$(mktemp -d)
[ -d /var/lib/private ] && private_was_there=1 || private_was_there=
[ -d /etc/credstore ] && credstore_was_there=1 || credstore_was_there=
dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | awk '$1 == "ii" {print $2}' | sort >"$work/before"
# Leaves the machine as it was: the two packages purged, and whatever
# dependency apt brought in for them too.
cleanup() {
  dpkg --purge "${packages[@]}" >/dev/null 2>&1 || true
  rm -rf "${service_state[@]}"
  [ -n "$private_was_there" ] || rmdir /var/lib/private 2>/dev/null || true
  [ -n "$credstore_was_there" ] || rmdir /etc/credstore 2>/dev/null || true
  local pulled
  pulled=$(comm -13 "$work/before" <(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | awk '$1 == "ii" {print $2}' | sort))
  [ -z "$pulled" ] || DEBIAN_FRONTEND=noninteractive apt-get purge -y -q -o DPkg::Lock::Timeout=300 $pulled </dev/null >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "package_install: FAILED: $*"; exit 1; }
check() { local what=$1; shift; "$@" >/dev/null 2>&1 || fail "$what"; echo "ok: $what"; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
not_installed() { ! installed "$1"; }
# Another installation may hold dpkg's lock for a while; apt waits for it.
apt_install() {
  DEBIAN_FRONTEND=noninteractive apt install -y -q -o DPkg::Lock::Timeout=300 "$@" </dev/null >"$work/apt.log" 2>&1 \
    || { cat "$work/apt.log"; fail "apt install $*"; }
  cat "$work/apt.log"
  # An edited conffile that dpkg does not know how to carry over asks; none may.
  ! grep -q "Configuration file '" "$work/apt.log" || fail "apt install $* asked about a configuration file"
}
purge() {
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -q -o DPkg::Lock::Timeout=300 "$@" </dev/null >"$work/purge.log" 2>&1 \
    || { cat "$work/purge.log"; fail "apt-get purge $*"; }
}
settings_text() { iconv -f CP936 -t UTF-8 "$1" | tr -d '\r'; }
is_conffile() { dpkg-query -W -f='${Conffiles}\n' "$1" | awk '$3 != "obsolete" {print $1}' | grep -qx "$2"; }
# Nothing of either package is left: files, folders, the service's state.
check_purged() {
  for path in /usr/lib/kestrel /etc/kestrel /opt/kestrel /usr/bin/kestrel /usr/bin/kestrel-announce \
      /etc/default/kestrel-announce /lib/systemd/system/kestrel-announce.service \
      /etc/xdg/autostart/kestrel.desktop /usr/share/doc/kestrel /usr/share/doc/kestrel-announce \
      /var/lib/systemd/deb-systemd-helper-enabled/kestrel-announce.service.dsh-also \
      /usr/bin/kestrel-publish /etc/default/kestrel-publish /lib/systemd/system/kestrel-publish.service \
      /usr/share/doc/kestrel-publish "${service_state[@]:0:7}"; do
    [ ! -e "$path" ] && [ ! -L "$path" ] || fail "$1: $path is left"
  done
  for p in "${packages[@]}"; do
    ! dpkg-query -W "$p" >/dev/null 2>&1 || [ -z "$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" | tr -d ' n')" ] \
      || fail "$1: dpkg still knows $p"
  done
  echo "ok: $1"
}

echo "== cpack"
cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
browser_deb=$(ls "$work"/kestrel_*_amd64.deb)
announce_deb=$(ls "$work"/kestrel-announce_*_amd64.deb)
publish_deb=$(ls "$work"/kestrel-publish_*_amd64.deb)
for deb in "$browser_deb" "$announce_deb" "$publish_deb"; do dpkg-deb --info "$deb"; done
check "the browser package depends on a Chinese font and the engine's data" \
  bash -c "dpkg-deb -f '$browser_deb' Depends | grep fonts-wqy-microhei | grep libqt6webengine6-data"
check "the browser package does not pull in the announcer" \
  bash -c "! dpkg-deb -f '$browser_deb' Depends Recommends Pre-Depends | grep -q kestrel-announce"
check "the announcer package needs no web engine and no browser" \
  bash -c "! dpkg-deb -f '$announce_deb' Depends Recommends Pre-Depends | grep -Eq 'kestrel|webengine|qt6'"
check "the announcer package takes over the 2.1 files" \
  bash -c "dpkg-deb -f '$announce_deb' Replaces Breaks | grep -c 'kestrel (<< 2.2~)' | grep -qx 2"

echo "== the browser package alone"
apt_install "$browser_deb"
check "only the browser is installed" not_installed kestrel-announce
check "the program /usr/lib/kestrel/kestrel" test -x /usr/lib/kestrel/kestrel
check "/usr/bin/kestrel starts it" test "$(readlink -f /usr/bin/kestrel)" = /usr/lib/kestrel/kestrel
check "the settings path beside the program links to /etc/kestrel/kestrel.INI" \
  test "$(readlink /usr/lib/kestrel/kestrel.INI)" = /etc/kestrel/kestrel.INI
check "the settings file is a conffile" is_conffile kestrel /etc/kestrel/kestrel.INI
check "the autostart entry is a conffile" is_conffile kestrel /etc/xdg/autostart/kestrel.desktop
# Section 设置 with 主频道端口 = 9000 first; section 广播绑定IP地址 with IP地址 empty.
check "the settings file, in GBK" bash -c \
  "iconv -f CP936 -t UTF-8 /etc/kestrel/kestrel.INI | tr -d '\r' | grep -qzP '^\\[设置\\]\\n主频道端口=9000\\n(.*\\n)*\\[广播绑定IP地址\\]\\nIP地址=\\n'"
check "man -w kestrel" man -w kestrel
check "the desktop entry starts /usr/bin/kestrel" grep -qx "Exec=/usr/bin/kestrel" /usr/share/applications/kestrel.desktop
check "the browser starts at login" grep -qx "Exec=/usr/bin/kestrel" /etc/xdg/autostart/kestrel.desktop
check "the icon" test -s /usr/share/icons/hicolor/scalable/apps/kestrel.svg
check "the metainfo" test -s /usr/share/metainfo/org.kestrel_classroom.kestrel.metainfo.xml

# The browser as a pupil runs it: a user who cannot write /etc. It must keep
# running (the time-out ends it) and leave the settings file alone; root's
# run then writes a missing key back through the link.
run_browser() {
  local user=$1 home
  home=$(mktemp -d "$work/home.XXXXXX")
  chown "$user" "$home"
  local status=0
  timeout 20 runuser -u "$user" -- env HOME="$home" XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=offscreen \
    QTWEBENGINE_DISABLE_SANDBOX=1 /usr/bin/kestrel >"$work/browser-$user.log" 2>&1 || status=$?
  [ "$status" -eq 124 ] || { cat "$work/browser-$user.log"; return 1; }
}
iconv -f UTF-8 -t CP936 <<<$'[设置]\r\n[广播绑定IP地址]\r\nIP地址=\r' >/etc/kestrel/kestrel.INI
cp /etc/kestrel/kestrel.INI "$work/without-port.INI"
run_browser nobody || fail "the browser starts for a user who cannot write /etc"
echo "ok: the browser starts for a user who cannot write /etc"
check "... and leaves the settings file as it was" cmp /etc/kestrel/kestrel.INI "$work/without-port.INI"
run_browser root || fail "the browser runs as root"
echo "ok: the browser runs as root"
check "... writes the missing port into the file the link names" bash -c \
  "iconv -f CP936 -t UTF-8 /etc/kestrel/kestrel.INI | tr -d '\r' | grep -qx '主频道端口=9000'"
check "... and the link stays a link" test -L /usr/lib/kestrel/kestrel.INI
check "... with nothing else beside it" test "$(ls -A /etc/kestrel /usr/lib/kestrel | grep -c INI)" -eq 2
purge kestrel
check_purged "purging the browser package removes everything"

echo "== the announcer package alone"
apt_install "$announce_deb"
check "only the announcer is installed" not_installed kestrel
check "kestrel-announce --help" bash -c "/usr/bin/kestrel-announce --help | grep -q '^Usage: kestrel-announce'"
check "the example catalogue is valid" \
  /usr/bin/kestrel-announce --once --to 127.0.0.1 --port 9 /etc/kestrel/catalogue.ini
check "the example catalogue is a conffile" is_conffile kestrel-announce /etc/kestrel/catalogue.ini
check "the service's options are a conffile" is_conffile kestrel-announce /etc/default/kestrel-announce
check "man -w kestrel-announce" man -w kestrel-announce
check "man -w 5 kestrel-catalogue" man -w 5 kestrel-catalogue
unit=/lib/systemd/system/kestrel-announce.service
check "the service announces the catalogue" grep -q "^ExecStart=/usr/bin/kestrel-announce .*/etc/kestrel/catalogue.ini" "$unit"
check "systemd-analyze verify of the service is clean" bash -c "[ -z \"\$(systemd-analyze verify $unit 2>&1)\" ]"
systemd-analyze security --offline=true "$unit" | tail -1
check "the service is exposed 2.0 or less" systemd-analyze security --offline=true --threshold=20 "$unit"
# No systemd runs here, so the scripts are checked, not the restart: an
# upgrade (a version in $2) restarts the service where it runs, a removal
# stops it, a purge forgets its enablement.
info=/var/lib/dpkg/info/kestrel-announce
check "an upgrade restarts the running service" bash -c \
  "grep -A3 'if \[ -n \"\$2\" \]; then' $info.postinst | grep -q \"deb-systemd-invoke try-restart 'kestrel-announce.service'\""
check "a new install neither enables nor starts it" bash -c \
  "! grep -Eq 'deb-systemd-invoke (start|restart)|_dh_action' $info.postinst"
check "a removal stops it" grep -q "deb-systemd-invoke stop 'kestrel-announce.service'" "$info.prerm"
check "a purge forgets it" grep -q "deb-systemd-helper purge 'kestrel-announce.service'" "$info.postrm"
purge kestrel-announce
check_purged "purging the announcer package removes everything"

echo "== upgrade from the 2.1 single package"
# The 2.1 layout, repacked from today's files: everything in one package,
# the browser and its settings file in /opt/kestrel.
today=$work/today old=$work/old
dpkg-deb -x "$browser_deb" "$today"
dpkg-deb -x "$announce_deb" "$today"
mkdir -p "$old/DEBIAN" "$old/opt/kestrel" "$old/usr/bin" "$old/etc/kestrel" "$old/etc/default" \
  "$old/etc/xdg/autostart" "$old/lib/systemd/system" "$old/usr/share/applications" "$old/usr/share/icons/hicolor/scalable/apps"
cp "$today/usr/lib/kestrel/kestrel" "$old/opt/kestrel/kestrel"
cp --remove-destination "$today/etc/kestrel/kestrel.INI" "$old/opt/kestrel/kestrel.INI"
ln -s /opt/kestrel/kestrel "$old/usr/bin/kestrel"
cp "$today/usr/bin/kestrel-announce" "$old/usr/bin/"
cp "$today/etc/kestrel/catalogue.ini" "$old/etc/kestrel/"
cp "$today/etc/default/kestrel-announce" "$old/etc/default/"
cp "$today/etc/xdg/autostart/kestrel.desktop" "$old/etc/xdg/autostart/"
cp "$today$unit" "$old/lib/systemd/system/"
cp "$today/usr/share/applications/kestrel.desktop" "$old/usr/share/applications/"
cp "$today/usr/share/icons/hicolor/scalable/apps/kestrel.svg" "$old/usr/share/icons/hicolor/scalable/apps/"
printf '%s\n' /opt/kestrel/kestrel.INI /etc/kestrel/catalogue.ini /etc/default/kestrel-announce \
  /etc/xdg/autostart/kestrel.desktop >"$old/DEBIAN/conffiles"
cat >"$old/DEBIAN/control" <<EOF
Package: kestrel
Version: 2.1
Architecture: amd64
Maintainer: $(dpkg-deb -f "$browser_deb" Maintainer)
Depends: $(dpkg-deb -f "$browser_deb" Depends)
Section: education
Priority: optional
Description: classroom link browser and its link announcer
 The 2.1 layout, repacked for the upgrade test.
EOF
dpkg-deb --root-owner-group --build "$old" "$work/kestrel_2.1_amd64.deb" >/dev/null
apt_install "$work/kestrel_2.1_amd64.deb"
check "the 2.1 layout is installed" test -f /opt/kestrel/kestrel.INI

# The school's edits: another port, another lesson, another option.
iconv -f UTF-8 -t CP936 <<<$'[设置]\r\n主频道端口=9100\r\n[广播绑定IP地址]\r\nIP地址=\r' >/opt/kestrel/kestrel.INI
cp /opt/kestrel/kestrel.INI "$work/edited.INI"
printf '\n[link]\nname = 英语\nurl = http://192.168.1.10:8080/lessons/yingyu.html\n' >>/etc/kestrel/catalogue.ini
cp /etc/kestrel/catalogue.ini "$work/edited-catalogue.ini"
echo 'KESTREL_ANNOUNCE_OPTIONS="--interval 5"' >>/etc/default/kestrel-announce
cp /etc/default/kestrel-announce "$work/edited-default"

apt_install "$browser_deb" "$announce_deb"
check "the edited settings moved to /etc/kestrel/kestrel.INI" cmp /etc/kestrel/kestrel.INI "$work/edited.INI"
check "... and are the browser's, through the link" cmp /usr/lib/kestrel/kestrel.INI "$work/edited.INI"
check "the edited catalogue stayed" cmp /etc/kestrel/catalogue.ini "$work/edited-catalogue.ini"
check "the edited service options stayed" cmp /etc/default/kestrel-announce "$work/edited-default"
check "the catalogue belongs to the announcer package now" is_conffile kestrel-announce /etc/kestrel/catalogue.ini
check "the service options belong to the announcer package now" is_conffile kestrel-announce /etc/default/kestrel-announce
check "the settings file is the browser package's conffile" is_conffile kestrel /etc/kestrel/kestrel.INI
check "/opt/kestrel is gone" test ! -e /opt/kestrel
# dpkg-maintscript-helper keeps the new default beside the moved edits, as
# dpkg keeps one beside an edited conffile; purge removes it too.
check "the new default settings lie beside the moved ones" cmp /etc/kestrel/kestrel.INI.dpkg-new "$today/etc/kestrel/kestrel.INI"
check "no other copies were left beside the edited files" bash -c \
  "! ls -A /etc/kestrel /etc/default | grep -v '^kestrel.INI.dpkg-new\$' | grep -E 'dpkg-(new|old|dist|backup|remove)'"
check "the edited catalogue is valid" /usr/bin/kestrel-announce --once --to 127.0.0.1 --port 9 /etc/kestrel/catalogue.ini
purge kestrel kestrel-announce
check_purged "purging both packages after the upgrade removes everything"

echo "== the three packages together"
apt_install "$browser_deb" "$announce_deb" "$publish_deb"
check "kestrel-publish --help" bash -c "/usr/bin/kestrel-publish --help | grep -q 'kestrel-publish'"
check "man -w kestrel-publish" man -w kestrel-publish
check "the teachers' accounts file is root's alone" test "$(stat -c %a:%U /etc/kestrel/publish-users)" = 600:root
page_unit=/lib/systemd/system/kestrel-publish.service
check "systemd-analyze verify of the page's service is clean" bash -c "[ -z \"\$(systemd-analyze verify $page_unit 2>&1)\" ]"
check "the page's service is exposed 2.0 or less" systemd-analyze security --offline=true --threshold=20 "$page_unit"
# What the two services would have made by now, as systemd makes it for a
# dynamic user; and the signing key, as the README makes it.
mkdir -p -m 0700 /var/lib/private
mkdir -p /var/lib/private/kestrel/pictures /var/lib/private/kestrel/history /var/lib/private/kestrel/sets \
  /var/lib/private/kestrel-publish /var/lib/private/kestrel-announce /run/kestrel
ln -s private/kestrel /var/lib/kestrel
ln -s private/kestrel-publish /var/lib/kestrel-publish
ln -s private/kestrel-announce /var/lib/kestrel-announce
printf '[link]\nname = published\n' >/var/lib/kestrel/catalogue.ini
touch /var/lib/kestrel/pictures/1.bmp /var/lib/kestrel/history/1.ini /var/lib/kestrel/sets/1.ini \
  /var/lib/kestrel-publish/publish.key /var/lib/kestrel-announce/counter /run/kestrel/on-air.ini
install -d -m 0700 /etc/credstore
/usr/bin/kestrel-announce --gen-key /etc/credstore/kestrel-announce.key >"$work/trusted-keys" 2>"$work/gen-key.log"
check "--gen-key puts the trusted-keys line alone on standard output" \
  bash -c "[ \"\$(wc -l <'$work/trusted-keys')\" = 1 ] && grep -q '^ed25519 ' '$work/trusted-keys' && grep -q 'written to' '$work/gen-key.log'"

purge kestrel-publish
check "purging the page removes its own state" bash -c \
  "! ls -A /var/lib/private/kestrel | grep -q . && [ ! -e /var/lib/private/kestrel-publish ] && [ ! -e /etc/kestrel/publish-users ]"
check "... and leaves the announcer whole" bash -c \
  "[ -x /usr/bin/kestrel-announce ] && [ -d /var/lib/kestrel/ ] && [ -f /var/lib/kestrel-announce/counter ] && [ -f /run/kestrel/on-air.ini ]"
check "... which goes back to IT staff's catalogue" bash -c \
  "/usr/bin/kestrel-announce --once --to 127.0.0.1 --port 9 --published /var/lib/kestrel/catalogue.ini --on-air '$work/air' /etc/kestrel/catalogue.ini | grep -q '(nothing is published)'"
purge kestrel kestrel-announce
check_purged "purging the rest removes everything"
check "... but the signing key, for IT staff to retire" test -s /etc/credstore/kestrel-announce.key
if [ -z "$private_was_there" ]; then check "... and systemd's private folder" test ! -e /var/lib/private; fi
echo "package_install: passed"
