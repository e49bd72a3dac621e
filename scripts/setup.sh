#!/usr/bin/env bash
# Installs every Debian package Kestrel needs to build, run and test.
# Quiet when everything is already there; run as root on Debian 12.
set -euo pipefail

packages=(
  # build
  cmake g++ make pkg-config
  qt6-base-dev qt6-webengine-dev libqt6webenginecore6-bin libgl-dev
  libcurl4-openssl-dev
  # Ed25519 signatures of announcements (channel and kestrel-announce)
  libsodium-dev
  # certificate chains checked against the system store (libcrypto); the
  # window tests make their own certificate authority with the openssl tool
  libssl-dev openssl
  # an HTTP client for the tests of the web servers; dpkg-shlibdeps for the
  # packages' dependencies
  libcpp-httplib-dev dpkg-dev
  # the web layer of kestrel-announce --serve and kestrel-publish: limits per
  # connection and per address, time-outs, an epoll thread pool, TLS
  libmicrohttpd-dev
  # kestrel-publish: its HTTPS certificate (OpenSSL) and the uploaded pictures,
  # decoded and scaled by libgd (PNG, JPEG, GIF and BMP in one small C library)
  libssl-dev libgd-dev
  # kestrel-publish: a JPEG's size from libjpeg-turbo's own header reader, before
  # libgd decodes any pixel (a size walk of our own can be fooled by fill bytes)
  libjpeg62-turbo-dev
  # kestrel-publish: the page's requests and answers in JSON, read with limits
  nlohmann-json3-dev
  # cpack's DEB generator inspects the programs with file; the manual pages are scdoc
  file scdoc
  # the package tests: lintian, the desktop entries, the metainfo, the service's
  # exposure (systemd-analyze), man -w, and the browser package's own
  # dependencies, so that apt installs it without the network
  lintian desktop-file-utils appstream systemd man-db
  libqt6webengine6-data qt6-qpa-plugins xdg-utils
  # Qt's dialogs in Chinese, and the certificate bundle the browser trusts
  qt6-translations-l10n ca-certificates
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev libboost-dev
  python3
  # the publishing page's tests drive it in Debian's Chromium
  chromium chromium-driver python3-selenium
  # Qt's platform interface, to queue input as the window system does in window tests and benchmarks
  qt6-base-private-dev
  # a real web server for the window tests' faulty picture servers
  nginx-light
  # ab, the load of a classroom fetching pictures, against --serve and nginx
  apache2-utils
  # "ip netns" and veth pairs for the tests of several cards and multicast
  iproute2
  # fuzz targets: clang with libFuzzer and the sanitizer runtimes
  clang libclang-rt-14-dev
  # scripts/fresh-root.sh and scripts/check-deployment.sh make Debian 12 roots
  # (debootstrap); the deployment check boots one (systemd-nspawn)
  debootstrap systemd-container
  # windows without a screen, screenshots (with a window manager), clicks, Chinese text
  xvfb xauth x11-apps xdotool imagemagick fonts-wqy-microhei openbox
  # the end-to-end run of the classroom modes signs in to the publishing page
  # and presses its buttons over HTTP, with a cookie jar
  curl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]}; run this script as root to install them" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q "${missing[@]}"
