#!/usr/bin/env bash
# Runs a command in a fresh Debian 12 minbase root, on a clone of this
# checkout, to show that the project's own scripts install all it needs:
#   sudo ./scripts/fresh-root.sh [ROOT_DIR] [-- COMMAND...]
# ROOT_DIR (default /var/tmp/kestrel-root) is made with debootstrap unless it
# already holds a root; COMMAND (default ./scripts/test.sh) runs as root in
# /root/kestrel inside it, with /proc, /sys, /dev and /dev/shm mounted for the
# time of the run. The mirror is the first one in this machine's apt
# sources, or KESTREL_MIRROR. Not part of CI: it needs the mirror and time.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
root=/var/tmp/kestrel-root
if [ $# -gt 0 ] && [ "$1" != -- ]; then root=$1; shift; fi
[ "${1:-}" = -- ] && shift
command=("$@")
[ ${#command[@]} -gt 0 ] || command=(./scripts/test.sh)

[ "$(id -u)" -eq 0 ] || { echo "fresh-root: run as root (debootstrap and chroot need it)" >&2; exit 1; }
command -v git >/dev/null || { echo "fresh-root: git is missing: apt-get install git" >&2; exit 1; }
# shellcheck source=lib/debian-root.sh
. "$top/scripts/lib/debian-root.sh"
make_debian_root "$root"

mounts=()
unmount() {
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
}
trap unmount EXIT
for fs in proc sys dev dev/pts; do
  mkdir -p "$root/$fs"
  mount --bind "/$fs" "$root/$fs"
  mounts+=("$root/$fs")
done
# The web engine's shared memory: the bound /dev has only the bare folder.
mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/dev/shm"
mounts+=("$root/dev/shm")
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

# A clone, not a copy: only what is committed goes in, as CI sees it. A
# clone from an earlier run moves to this checkout's commit and keeps its
# ignored build folders, so a second run builds only what changed.
clone=$root/root/kestrel
if [ -d "$clone/.git" ]; then
  git -C "$clone" fetch --quiet "$top" HEAD
  git -C "$clone" reset --quiet --hard FETCH_HEAD
  git -C "$clone" clean --quiet -fd
else
  rm -rf "$clone"
  git clone --quiet "$top" "$clone"
fi
echo "fresh-root: running ${command[*]} in $root/root/kestrel"
chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
  bash -c 'cd /root/kestrel && exec "$@"' fresh-root "${command[@]}"
