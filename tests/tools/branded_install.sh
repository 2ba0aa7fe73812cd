#!/usr/bin/env bash
# make-installer end to end: builds a setup.exe for a product folder made
# here (not the sample product) and installs it with a driver under Wine, in
# a prefix of its own whose drive D: is a scratch folder.
#   branded_install.sh BUILD DRIVER.EXE
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$1 driver=$2
work="$build/tests/scratch/branded_install"
rm -rf "$work" && mkdir -p "$work/product/bin" "$work/product/tools" "$work/product/data"
python3 - "$work/product" <<'PY'
import sys
root = sys.argv[1]
open(f"{root}/bin/Game.exe", "wb").write(bytes((i * 7) % 251 for i in range(3 * 1024 * 1024 + 5)))
open(f"{root}/tools/Uninstall.exe", "wb").write(b"uninstaller")
open(f"{root}/data/棋盘 1.dat", "wb").write(b"x" * 70000)
PY
cat > "$work/product.ini" <<'INI'
[IN_INFO]
OBJ_IN_CAPTION=星河麻将 安装
OBJ_IN_PUBLISHER=星河游戏
OBJ_IN_DISPLAY_NAME=星河麻将
OBJ_IN_FOLDER=StarMahjong
OBJ_IN_DISPLAY_VERSION=3.2.0
OBJ_IN_EXE=bin/Game.exe
OBJ_IN_EXE_LINK=星河麻将
OBJ_IN_UNINSTALL_EXE=tools\Uninstall.exe
OBJ_IN_REPAIR_EXE_CMD=--repair
OBJ_IN_REPAIR_EXE=bin/Game.exe
OBJ_IN_REPAIR_EXE_LINK=修复星河麻将
OBJ_IN_USERDATA_FILE=user.ini
INI
BUILD_DIR="$build" "$top/tools/make-installer" --config "$work/product.ini" --payload "$work/product" \
  --out "$work/StarSetup.exe" --level 3

. "$top/tools/wine-session.sh"
root="$build/tests/branded-wine"
mkdir -p "$root"
exec 9>"$root.lock"
flock 9
wine_scratch_prefix "$root"
drive=$WINE_SCRATCH_DRIVE
rm -rf "$drive/bin" "$drive/Program Files/StarMahjong"
mkdir -p "$drive/bin"
cp "$work/StarSetup.exe" "$driver" "$drive/bin/"
setsid wineserver -p5 </dev/null >/dev/null 2>&1 || true
status=0
wine "D:\\bin\\$(basename "$driver")" 'D:\bin\StarSetup.exe' </dev/null || status=$?
wineserver -k || true
exit $status
