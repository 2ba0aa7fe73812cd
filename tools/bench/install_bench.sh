#!/usr/bin/env bash
# Benchmark of the whole installation, in one run on this machine: a
# game-like product (~200 MB in ~5,000 files) built into a setup.exe with
# make-installer, installed under Wine by a driver that presses the buttons.
# Prints a table and writes it as CSV to build/bench/install.csv:
#   1. Install to finish page, and the extraction alone, against `7zz x` of
#      the same archive, single-threaded and default;
#   2. setup.exe's peak working set against the payload's unpacked size and
#      its largest solid block;
#   3. start-up to the welcome page shown;
#   4. setup.exe's size against `7zz a -mx9` of the same folder.
#   install_bench.sh [STARTUP_RUNS]
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build="${BUILD_DIR:-$top/build}"
runs=${1:-5}
bash "$top/tools/setup.sh"
BUILD_DIR="$build" bash "$top/tools/build.sh"
cmake --build "$build" --target install_bench -- --no-print-directory >/dev/null
. "$top/tools/wine-session.sh"
wine_session_start "$build"

bench="$build/bench"
product="$bench/product"
mkdir -p "$bench"
if [ ! -f "$product/Marvane.exe" ]; then
  rm -rf "$product"
  python3 "$top/tools/bench/make_product.py" "$product"
fi
cat > "$bench/product.ini" <<'INI'
[IN_INFO]
OBJ_IN_CAPTION=基准棋牌 安装
OBJ_IN_PUBLISHER=基准工作室
OBJ_IN_DISPLAY_NAME=基准棋牌
OBJ_IN_FOLDER=BenchGame
OBJ_IN_DISPLAY_VERSION=1.0.0
OBJ_IN_EXE=Marvane.exe
OBJ_IN_EXE_LINK=基准棋牌
OBJ_IN_UNINSTALL_EXE=Updater.exe
OBJ_IN_REPAIR_EXE_CMD=-tp:1
OBJ_IN_REPAIR_EXE=Repair.exe
OBJ_IN_REPAIR_EXE_LINK=基准修复
OBJ_IN_USERDATA_FILE=config/settings/user.ini
INI
setup_exe="$bench/BenchSetup.exe"
if [ ! -f "$setup_exe" ] || [ "$setup_exe" -ot "$build/src/app/setup.exe" ]; then
  echo "bench: building $setup_exe (compressing ~200 MB, a few minutes)"
  BUILD_DIR="$build" "$top/tools/make-installer" --config "$bench/product.ini" --payload "$product" \
    --out "$setup_exe" --level 9 --work "$bench/make-installer"
fi
archive="$bench/make-installer/payload.7z"
if [ ! -f "$bench/product-mx9.7z" ]; then
  (cd "$product" && 7zz a -t7z -mx9 -bso0 -bsp0 "$bench/product-mx9.7z" .)
fi

# The installation runs in a prefix of its own, on its own drive D:.
wine_scratch_prefix "$bench/wine"
drive=$WINE_SCRATCH_DRIVE
setsid wineserver -p5 </dev/null >/dev/null 2>&1 || true
rm -rf "$drive/bench" "$drive/Program Files/BenchGame" "$drive/Program Files (x86)/BenchGame"
mkdir -p "$drive/bench"
cp "$setup_exe" "$drive/bench/BenchSetup.exe"
cp "$build/tools/install_bench.exe" "$drive/bench/"
sync
wine 'D:\bench\install_bench.exe' 'D:\bench\BenchSetup.exe' "$runs" </dev/null > "$bench/install.raw"
wineserver -k || true
export WINEPREFIX="$build/wineprefix"

out="$bench/out"
time_7zz() { # seconds of the best of 3
  local best=""
  for _ in 1 2 3; do
    rm -rf "$out" && sync
    local t0 t1; t0=$(date +%s.%N); 7zz x -y "$@" -o"$out" "$archive" >/dev/null; t1=$(date +%s.%N)
    local t; t=$(awk "BEGIN{print $t1 - $t0}")
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
  done
  rm -rf "$out"
  echo "$best"
}
z1=$(time_7zz -mmt1)
zd=$(time_7zz)
install=$(sed -n 's/^install,//p' "$bench/install.raw")
extract=$(sed -n 's/^extract,//p' "$bench/install.raw")
peak=$(sed -n 's/^peak_working_set,//p' "$bench/install.raw")
startup_best=$(sed -n 's/^startup,//p' "$bench/install.raw" | sort -n | head -n 1)
startup_median=$(sed -n 's/^startup,//p' "$bench/install.raw" | sort -n | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}')
unpacked=$(du -sb "$product" | cut -f1)
block=$(7zz l -slt "$archive" | awk '/^Size = /{s+=$3} END{print s}')
exe_size=$(stat -c %s "$setup_exe")
mx9_size=$(stat -c %s "$bench/product-mx9.7z")
payload_size=$(stat -c %s "$archive")
files=$(find "$product" -type f | wc -l)

mib() { awk "BEGIN{printf \"%.1f\", $1/1048576}"; }
{
  echo "measure,value,unit,reference,reference_value,ratio"
  echo "install to finish page,$install,s,7zz x -mmt1,$z1,$(awk "BEGIN{printf \"%.2f\", $install/$z1}")"
  echo "extraction alone,$extract,s,7zz x -mmt1,$z1,$(awk "BEGIN{printf \"%.2f\", $extract/$z1}")"
  echo "install to finish page,$install,s,7zz x (default threads),$zd,$(awk "BEGIN{printf \"%.2f\", $install/$zd}")"
  echo "peak working set,$(mib "$peak"),MiB,unpacked size,$(mib "$unpacked"),$(awk "BEGIN{printf \"%.2f\", $peak/$unpacked}")"
  echo "peak working set,$(mib "$peak"),MiB,largest solid block + 64 MiB,$(mib $((block + 67108864))),$(awk "BEGIN{printf \"%.2f\", $peak/($block+67108864)}")"
  echo "start-up to welcome page (median of $runs),$startup_median,s,target,0.5,$(awk "BEGIN{printf \"%.2f\", $startup_median/0.5}")"
  echo "setup.exe size,$(mib "$exe_size"),MiB,7zz a -mx9,$(mib "$mx9_size"),$(awk "BEGIN{printf \"%.3f\", $exe_size/$mx9_size}")"
} > "$bench/install.csv"

echo
echo "product: $files files, $(mib "$unpacked") MiB; payload $(mib "$payload_size") MiB in one solid block"
column -s, -t < "$bench/install.csv"
echo "(start-up best $startup_best s; CSV in $bench/install.csv)"
