# shellcheck shell=bash
# A Debian 12 minbase root made with debootstrap, for the scripts that run
# the project in a fresh system. Source this file, then:
#   debian_mirror              prints the mirror: KESTREL_MIRROR, else the
#                              first one in this machine's apt sources
#   make_debian_root DIR [PACKAGES]
#                              makes the root in DIR unless it holds one
#                              already; PACKAGES (comma-separated) go in too

debian_mirror() {
  local mirror=${KESTREL_MIRROR:-$({ cat /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null || true; } \
    | sed -n 's/^URIs: *\([^ ]*\).*/\1/p; s/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) .*/\2/p' | grep -v security | awk 'NR == 1')}
  [ -n "$mirror" ] || { echo "no Debian mirror in the apt sources; set KESTREL_MIRROR" >&2; return 1; }
  echo "$mirror"
}

make_debian_root() {
  local root=$1 include=${2:-} mirror
  [ -x "$root/bin/sh" ] && return 0
  command -v debootstrap >/dev/null || { echo "debootstrap is missing: apt-get install debootstrap" >&2; return 1; }
  mirror=$(debian_mirror) || return 1
  echo "making a Debian 12 minbase root in $root from $mirror"
  debootstrap --variant=minbase ${include:+--include="$include"} bookworm "$root" "$mirror"
}
