#!/usr/bin/env bash
# Fails when a program file includes a header against the direction of the
# libraries:
#   base -> config, channel, catalogue, net -> ui -> app;  base, channel -> tools -> publish
# The build refuses most of these by itself (each library sees only its own
# headers and those of what it links); this also catches the includes it
# cannot see, such as "../other/Name.h" or a header named without its folder.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [base]="base"
  [config]="base config"
  [channel]="base channel"
  [catalogue]="base catalogue"
  [net]="base net"
  [ui]="base config channel catalogue net ui"
  [app]="base config channel catalogue net ui app"
  [tools]="base channel tools"
  [publish]="base channel tools publish"
)

status=0
for folder in "${!allowed[@]}"; do
  while IFS=: read -r file line text; do
    header=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/' <<<"$text")
    top=${header%%/*}
    if [ "$top" = "$header" ] || [[ " ${allowed[$folder]} " != *" $top "* ]]; then
      echo "$file:$line: $folder/ may not include \"$header\" (it may include ${allowed[$folder]// /, })"
      status=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$folder" --include='*.cpp' --include='*.h' || true)
done
[ $status -eq 0 ] && echo "includes: every folder includes only what lies below it"
exit $status
