#!/bin/bash
# Each folder of src/ includes only itself and the folders the README's
# layout table allows it: nothing includes upward.
set -euo pipefail
src="${1:?usage: include_layers.sh SRC_DIR}"
declare -A allowed=(
  [system]="system"
  [package]="system package"
  [config]="system config"
  [framework]="system framework"
  [engine]="system package config engine"
  [pages]="system config framework engine pages"
  [uninstall]="system config framework uninstall"
  [app]="system package config framework engine pages uninstall app"
  [resources]="system package config framework engine pages uninstall app resources"
)
bad=0
while IFS= read -r line; do
  file="${line%%:*}"
  layer="${file#"$src"/}"; layer="${layer%%/*}"
  target="$(sed -n 's/.*#include "\([a-z_]*\)\/.*/\1/p' <<<"${line#*:}")"
  [ -n "$target" ] || continue
  if [ -z "${allowed[$layer]+set}" ] || [[ " ${allowed[$layer]} " != *" $target "* ]]; then
    echo "upward include: ${file#"$src"/} includes $target/" >&2
    bad=1
  fi
done < <(grep -rn --include='*.cpp' --include='*.h' --include='*.rc' '#include "[a-z_]*/' "$src" | cut -d: -f1,3-)
exit "$bad"
