#!/usr/bin/env bash
# Builds the two Debian packages with cpack and holds them to Debian's
# checks: lintian (no error, no warning beyond the overrides the packages
# carry), the desktop entries, the AppStream metainfo and the announcer
# service's exposure.
#   package_lint_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
packaging=$2/packaging

for tool in cpack lintian desktop-file-validate appstreamcli systemd-analyze; do
  command -v "$tool" >/dev/null || { echo "package_lint: $tool is missing (scripts/setup.sh installs it)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package_lint: FAILED: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
echo "== lintian"
lintian --fail-on error,warning --display-level '>=warning' "$work"/*.deb || fail "lintian"
echo "== desktop-file-validate"
desktop-file-validate "$packaging/kestrel.desktop" "$packaging/kestrel-autostart.desktop" || fail "desktop-file-validate"
echo "== appstreamcli validate"
appstreamcli validate --no-net "$packaging/kestrel.metainfo.xml" || fail "appstreamcli validate"
echo "== systemd-analyze security"
systemd-analyze security --offline=true --threshold=20 "$packaging/kestrel-announce.service" | tail -1 \
  || fail "the announcer service is exposed more than 2.0"
echo "package_lint: passed"
