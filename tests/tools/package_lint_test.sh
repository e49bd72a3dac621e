#!/usr/bin/env bash
# Builds the three Debian packages with cpack and holds them to Debian's
# checks: lintian (no error, no warning beyond the overrides the packages
# carry), the desktop entries, the AppStream metainfo and the announcer
# and publishing services' exposure; and the manual pages to the programs:
# every option the announcer's and the publishing page's --help name and
# every key of the default settings file.
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
for unit in kestrel-announce kestrel-publish; do
  systemd-analyze security --offline=true --threshold=20 "$packaging/$unit.service" | tail -1 \
    || fail "the $unit service is exposed more than 2.0"
done
echo "== manual pages"
for program in tools/kestrel-announce publish/kestrel-publish; do
  name=${program#*/}
  for option in $("$build/$program" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "*$option*" "$packaging/man/$name.1.scd" || fail "$name(1) does not describe $option"
  done
done
browser_page=$packaging/man/kestrel.1.scd
while IFS= read -r name; do
  grep -qF -- "*$name*" "$browser_page" || fail "kestrel(1) does not describe the setting $name"
done < <(iconv -f CP936 -t UTF-8 "$packaging/kestrel.INI" | tr -d '\r' | sed -n 's/^\[\(.*\)\]$/\1/p; s/^\([^=[]*\)=.*/\1/p')
echo "ok: every option and setting has its place in the manual pages"
echo "package_lint: passed"
