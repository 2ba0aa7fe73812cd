#!/usr/bin/env bash
# The main job: builds everything, packs a sample product folder with 7zz and
# unpacks it with the installer's package reader under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$top/build}"
bash "$top/tools/setup.sh"
BUILD_DIR="$build" bash "$top/tools/build.sh"
. "$top/tools/wine-session.sh"
wine_session_start "$build"

work="$build/sample"
rm -rf "$work" && mkdir -p "$work/product/data/棋牌" "$work/product/config"
printf 'sample main program\r\n' > "$work/product/Marvane.exe"
printf '[user]\r\nname=player\r\n' > "$work/product/config/user.ini"
printf '牌桌规则\r\n' > "$work/product/data/棋牌/rules.txt"
(cd "$work/product" && 7zz a -t7z -m0=LZMA2 -ms=on "$work/sample.7z" . >/dev/null)
echo "== unpack7z $work/sample.7z"
"$build/wine-run" "$build/tools/unpack7z.exe" "$(winepath -w "$work/sample.7z")" "$(winepath -w "$work/out")"
echo "== what it wrote in $work/out"
(cd "$work/out" && find . -type f | sort)
