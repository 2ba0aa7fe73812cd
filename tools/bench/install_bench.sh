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
#   4. setup.exe's size against `7zz a -mx9` of the same folder;
#   5. an NSIS installer of the same folder (solid LZMA, 64-bit Unicode stub)
#      run silently, from start to exit;
#   6. with --big, a 1 GB product of ~15,000 files (building it takes many
#      minutes): its installation time and peak working set;
#   7. the product's next version (about 5% of its bytes changed): a fresh
#      installation of it, an upgrade to it from the first (installed first,
#      untimed) and a repair (it over itself), on a RAM drive and on the
#      disk, with their ratios to the fresh installation, each installed
#      folder compared with the product byte for byte. Written as CSV to
#      build/bench/upgrade.csv; --upgrade runs this case alone.
#   8. with --quick, only the fresh installation of the first version on
#      the RAM drive against the floor there, in ROUNDS interleaved rounds
#      (default 3): the per-file cost alone, in well under a minute once
#      the installer is built.
#   9. with --game, a game-sized product made for the run alone (GAME_MB,
#      default 5632: a world archive past 4 GiB, media of random bytes, a
#      few thousand small files), built at level 0 (GAME_LEVEL) into setup.exe and its
#      data files, installed on the disk: install to finish page against
#      the floor and `7zz x` of the same archive there, and the peak working
#      set. It refuses to start without about three times GAME_MB free,
#      deletes everything it made at the end, and writes
#      build/bench/game.csv. It runs alone.
# Installations run in two interleaved rounds (setup.exe, then NSIS); the
# best of each is reported, since the machine's disk is noisy.
#   install_bench.sh [STARTUP_RUNS] [--big] [--upgrade] [--quick [ROUNDS]] [--game]
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build="${BUILD_DIR:-$top/build}"
runs=5 big=0 upgrade_only=0 quick=0 quick_rounds=3 game=0
for arg in "$@"; do
  case $arg in
    --big) big=1 ;;
    --upgrade) upgrade_only=1 ;;
    --quick) quick=1 ;;
    --game) game=1 ;;
    *) if [ $quick = 1 ]; then quick_rounds=$arg; else runs=$arg; fi ;;
  esac
done
bench="$build/bench"
game_mb=${GAME_MB:-5632} game_level=${GAME_LEVEL:-0}
if [ $game = 1 ]; then
  # Product, installer (its archive in the image and its data files) and
  # the archive make-installer leaves, then the installation, the floor's
  # copy or the reference's output in turn where the product was.
  mkdir -p "$bench"
  free_mb=$(df -Pm "$bench" | awk 'NR == 2 {print $4}')
  need_mb=$((game_mb * 3 + 2048))
  if [ "$free_mb" -lt "$need_mb" ]; then
    echo "bench: the game case needs about $need_mb MiB free under $bench; $free_mb MiB are" >&2
    exit 1
  fi
fi
bash "$top/tools/setup.sh"
BUILD_DIR="$build" bash "$top/tools/build.sh"
cmake --build "$build" --target install_bench write_floor -- --no-print-directory >/dev/null
. "$top/tools/wine-session.sh"
wine_session_start "$build"

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
# make_setup PRODUCT OUT.exe WORK [LEVEL [CONFIG]]: setup.exe of a product,
# rebuilt when the installer or make-installer changed.
make_setup() {
  local product=$1 exe=$2 work=$3 level=${4:-9} config=${5:-$bench/product.ini}
  if [ ! -f "$exe" ] || [ "$exe" -ot "$build/src/app/setup.exe" ] \
     || [ "$exe" -ot "$top/tools/installer/make_installer.py" ]; then
    echo "bench: building $exe (compressing $(du -sh "$product" | cut -f1), minutes)"
    BUILD_DIR="$build" "$top/tools/make-installer" --config "$config" --payload "$product" \
      --out "$exe" --level "$level" --work "$work"
  fi
}
mib() { awk "BEGIN{printf \"%.1f\", $1/1048576}"; }
ratio() { awk "BEGIN{printf \"%.${3:-2}f\", $1/$2}"; }
best_of() { sed -n "s/^$1,//p" "$2" | sort -n | head -n 1; }
seconds_of() { # seconds the command takes
  local t0 t1; t0=$(date +%s.%N); "$@"; t1=$(date +%s.%N); awk "BEGIN{print $t1 - $t0}"
}

if [ $game = 1 ]; then
  wine_scratch_prefix "$bench/wine"
  drive=$WINE_SCRATCH_DRIVE
  game_product="$bench/game-product" game_work="$bench/make-installer-game" game_bench="$drive/game"
  game_clean() {
    rm -rf "$game_product" "$game_work" "$game_bench" "$drive/Program Files/BenchGame" \
      "$drive/Program Files (x86)/BenchGame" "$drive/floor" "$drive/out"
    rmdir "$drive/Program Files" "$drive/Program Files (x86)" 2>/dev/null || true
  }
  trap 'wineserver -k >/dev/null 2>&1 || true; game_clean; wine_session_stop' EXIT
  game_clean
  echo "bench: making a product of $game_mb MiB"
  python3 "$top/tools/bench/make_game.py" "$game_product" --mb "$game_mb"
  mkdir -p "$game_bench"
  (cd "$game_product" && find . -type f -printf '%s %P\n' | sort -k2) > "$game_bench/files.txt"
  game_files=$(wc -l < "$game_bench/files.txt")
  game_unpacked=$(du -sb "$game_product" | cut -f1)
  game_largest=$(sort -n "$game_bench/files.txt" | tail -n 1 | cut -d' ' -f1)
  # Level 0 (stored) unless GAME_LEVEL says otherwise: most of its bytes are
  # random and do not pack at any level, where 7zz's LZMA2 runs at about
  # 3 MB/s over them here (half an hour for this product); stored blocks
  # are streamed like LZMA2 ones, so the installer's path is the same.
  echo "bench: building the game's installer at level $game_level"
  # Built in the build's own prefix, which sees the host's files.
  WINEPREFIX="$build/wineprefix" BUILD_DIR="$build" "$top/tools/make-installer" --config "$bench/product.ini" \
    --payload "$game_product" --out "$game_bench/GameSetup.exe" --level "$game_level" --work "$game_work"
  game_archive="$game_work/payload.7z"
  game_packed=$(stat -c %s "$game_archive")
  # What the floor needs of the product is its list; the rest goes now.
  rm -rf "$game_product" "$game_work/product"
  cp "$build/tools/install_bench.exe" "$build/tools/write_floor.exe" "$game_bench/"
  setsid wineserver -p5 </dev/null >/dev/null 2>&1 || true
  sync
  wine 'D:\game\install_bench.exe' 'D:\game\GameSetup.exe' 1 </dev/null > "$bench/game.raw" \
    || { echo "bench: the game's installation did not reach the finish page" >&2; exit 1; }
  rm -rf "$drive/Program Files/BenchGame" "$drive/Program Files (x86)/BenchGame"
  mkdir -p "$drive/floor" && sync
  wine 'D:\game\write_floor.exe' 'D:\game\files.txt' 'D:\floor' plain </dev/null >> "$bench/game.raw"
  rm -rf "$drive/floor" && sync
  game_7zz=$(seconds_of 7zz x -y -bso0 -bsp0 -o"$drive/out" "$game_archive")
  rm -rf "$drive/out"
  game_install=$(best_of install "$bench/game.raw")
  game_floor=$(best_of write_floor,plain "$bench/game.raw")
  game_peak=$(sed -n 's/^peak_working_set,//p' "$bench/game.raw" | sort -n | tail -n 1)
  {
    echo "measure,value,unit,reference,reference_value,ratio"
    echo "install to finish page,$game_install,s,floor (the files written under Wine),$game_floor,$(ratio "$game_install" "$game_floor")"
    echo "install to finish page,$game_install,s,7zz x (default threads),$game_7zz,$(ratio "$game_install" "$game_7zz")"
    echo "peak working set,$(mib "$game_peak"),MiB,target,128,$(ratio "$game_peak" 134217728)"
  } > "$bench/game.csv"
  echo
  echo "game product on the disk: $game_files files, $(mib "$game_unpacked") MiB, the largest $(mib "$game_largest") MiB;" \
       "payload $(mib "$game_packed") MiB; installer: $(cd "$game_bench" && ls GameSetup* 2>/dev/null | paste -sd' ')"
  column -s, -t < "$bench/game.csv"
  echo "(CSV in $bench/game.csv)"
  exit 0
fi

setup_exe="$bench/BenchSetup.exe"
make_setup "$product" "$setup_exe" "$bench/make-installer"
archive="$bench/make-installer/payload.7z"
if [ $quick = 1 ]; then
  wine_scratch_prefix "$bench/wine"
  quick_drive=$(mktemp -d /dev/shm/install-bench.XXXXXX)
  trap 'wineserver -k >/dev/null 2>&1 || true; ln -sfn "$WINE_SCRATCH_DRIVE" "$WINEPREFIX/dosdevices/d:"
        rm -rf "$quick_drive"; wine_session_stop' EXIT
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  ln -sfn "$quick_drive" "$WINEPREFIX/dosdevices/d:"
  setsid wineserver -p5 </dev/null >/dev/null 2>&1 || true
  mkdir -p "$quick_drive/bench"
  cp "$setup_exe" "$build/tools/install_bench.exe" "$build/tools/write_floor.exe" "$quick_drive/bench/"
  (cd "$product" && find . -type f -printf '%s %P\n' | sort -k2) > "$quick_drive/bench/files.txt"
  : > "$bench/quick.raw"
  for _ in $(seq "$quick_rounds"); do
    rm -rf "$quick_drive/Program Files" "$quick_drive/Program Files (x86)"
    wine 'D:\bench\install_bench.exe' 'D:\bench\BenchSetup.exe' 1 </dev/null | grep -v '^startup,' >> "$bench/quick.raw"
    rm -rf "$quick_drive/floor" && mkdir -p "$quick_drive/floor"
    wine 'D:\bench\write_floor.exe' 'D:\bench\files.txt' 'D:\floor' plain </dev/null >> "$bench/quick.raw"
  done
  install=$(best_of install "$bench/quick.raw")
  floor=$(best_of write_floor,plain "$bench/quick.raw")
  echo "RAM drive, $(wc -l < "$quick_drive/bench/files.txt") files, best of $quick_rounds:" \
       "install to finish page $install s, floor $floor s," \
       "install to finish page / floor $(ratio "$install" "$floor"), peak working set" \
       "$(mib "$(sed -n 's/^peak_working_set,//p' "$bench/quick.raw" | sort -n | tail -n 1)") MiB"
  echo "(installs: $(sed -n 's/^install,//p' "$bench/quick.raw" | paste -sd' ') s;" \
       "floors: $(sed -n 's/^write_floor,plain,//p' "$bench/quick.raw" | paste -sd' ') s)"
  exit 0
fi
# The next version, as its own product and installer.
product2="$bench/product-v2"
if [ ! -f "$product2/Marvane.exe" ]; then
  rm -rf "$product2"
  python3 "$top/tools/bench/make_product.py" "$product2" --next
fi
sed 's/^OBJ_IN_DISPLAY_VERSION=.*/OBJ_IN_DISPLAY_VERSION=2.0.0/' "$bench/product.ini" > "$bench/product-v2.ini"
setup2_exe="$bench/BenchSetup2.exe"
make_setup "$product2" "$setup2_exe" "$bench/make-installer-v2" 9 "$bench/product-v2.ini"
# The references and the 1 GB product, not needed by --upgrade.
if [ $upgrade_only = 0 ]; then
if [ ! -f "$bench/product-mx9.7z" ]; then
  (cd "$product" && 7zz a -t7z -mx9 -bso0 -bsp0 "$bench/product-mx9.7z" .)
fi
# The same folder as an NSIS installer: solid LZMA, 64-bit Unicode stub.
nsis_exe="$bench/BenchNsis.exe"
if [ ! -f "$nsis_exe" ]; then
  echo "bench: building $nsis_exe with makensis (minutes)"
  cat > "$bench/bench.nsi" <<NSI
Unicode true
Target amd64-unicode
SetCompressor /SOLID /FINAL lzma
SetCompressorDictSize 64
RequestExecutionLevel admin
Name "BenchGame"
OutFile "$nsis_exe"
InstallDir "\$PROGRAMFILES64\BenchNsis"
Section
  SetOutPath "\$INSTDIR"
  File /r "$product/*"
SectionEnd
NSI
  makensis -V1 "$bench/bench.nsi"
fi
if [ $big = 1 ]; then
  big_product="$bench/product-1g"
  if [ ! -f "$big_product/Marvane.exe" ]; then
    rm -rf "$big_product"
    python3 "$top/tools/bench/make_product.py" "$big_product" --mb 1024 --files 15000
  fi
  big_exe="$bench/BigSetup.exe"
  # Level 1: it is measured for time and memory, and its bytes are mostly
  # incompressible anyway; level 9 would take far longer to build.
  if ! make_setup "$big_product" "$big_exe" "$bench/make-installer-1g" 1; then
    echo "bench: the 1 GB installer could not be built; going on without it" >&2
    big=0
  fi
fi
fi

# The installation runs in a prefix of its own, on its own drive D:.
wine_scratch_prefix "$bench/wine"
drive=$WINE_SCRATCH_DRIVE
setsid wineserver -p5 </dev/null >/dev/null 2>&1 || true
clean_installs() {
  rm -rf "$drive/Program Files/BenchGame" "$drive/Program Files (x86)/BenchGame" "$drive/nsis"
  sync
}
# The RAM drive: D: moved to a folder in memory while the Wine server is
# stopped, and back to the disk when the bench ends.
disk_drive=$drive bench_prefix=$WINEPREFIX
ram_drive=$(mktemp -d /dev/shm/install-bench.XXXXXX)
trap 'WINEPREFIX=$bench_prefix wineserver -k >/dev/null 2>&1 || true
      ln -sfn "$disk_drive" "$bench_prefix/dosdevices/d:"; rm -rf "$ram_drive"; wine_session_stop' EXIT
use_drive() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  ln -sfn "$1" "$WINEPREFIX/dosdevices/d:"
  drive=$1
  setsid wineserver -p5 </dev/null >/dev/null 2>&1 || true
}
use_drive "$disk_drive"
rm -rf "$drive/bench"
clean_installs
mkdir -p "$drive/bench"
cp "$setup_exe" "$setup2_exe" "$build/tools/install_bench.exe" "$drive/bench/"
# The first version's installations and the references, not run by --upgrade.
if [ $upgrade_only = 0 ]; then
cp "$nsis_exe" "$build/tools/write_floor.exe" "$drive/bench/"
# The floor: the product's files, sizes and order written from memory by a
# tiny program under the same Wine, without decoding anything.
(cd "$product" && find . -type f -printf '%s %P\n' | sort -k2) > "$drive/bench/files.txt"
sync
: > "$bench/install.raw"
nsis_best=""
for round in 1 2; do
  clean_installs
  # Start-up is measured in the first round only.
  wine 'D:\bench\install_bench.exe' 'D:\bench\BenchSetup.exe' "$([ $round = 1 ] && echo "$runs" || echo 1)" \
    </dev/null > "$bench/install-$round.raw"
  if [ $round = 1 ]; then cat "$bench/install-1.raw"; else grep -v '^startup,' "$bench/install-2.raw"; fi \
    >> "$bench/install.raw"
  clean_installs
  t0=$(date +%s.%N)
  wine 'D:\bench\BenchNsis.exe' /S '/D=D:\nsis\BenchGame' </dev/null >/dev/null 2>&1
  t1=$(date +%s.%N)
  t=$(awk "BEGIN{print $t1 - $t0}")
  [ -f "$drive/nsis/BenchGame/Marvane.exe" ] || { echo "bench: the NSIS installer installed nothing" >&2; exit 1; }
  if [ -z "$nsis_best" ] || awk "BEGIN{exit !($t < $nsis_best)}"; then nsis_best=$t; fi
  rm -rf "$drive/floor" && mkdir -p "$drive/floor" && sync
  wine 'D:\bench\write_floor.exe' 'D:\bench\files.txt' 'D:\floor' plain </dev/null >> "$bench/install.raw"
  rm -rf "$drive/floor"
done
clean_installs
if [ $big = 1 ]; then
  rm -f "$drive/bench/BenchSetup.exe" "$drive/bench/BenchNsis.exe"
  cp "$big_exe" "$drive/bench/BigSetup.exe"
  sync
  wine 'D:\bench\install_bench.exe' 'D:\bench\BigSetup.exe' 1 </dev/null | sed 's/^/big_/' > "$bench/install-1g.raw" \
    || echo "bench: the 1 GB installation did not reach the finish page" >&2
  clean_installs
fi
fi

# The upgrade case: on each drive, in two rounds, the next version
# installed fresh, over itself (a repair), and over the first version.
# install_as CASE SETUP: one installation through the buttons, its lines
# recorded as CASE,DRIVE,MEASURE,VALUE; untimed when CASE is "-".
installed() {
  local folder
  for folder in "$drive/Program Files/BenchGame" "$drive/Program Files (x86)/BenchGame"; do
    if [ -d "$folder" ]; then echo "$folder"; return; fi
  done
}
install_as() {
  local case=$1 setup=$2 out
  sync
  out=$(wine 'D:\bench\install_bench.exe' "D:\\bench\\$setup" 1 </dev/null) \
    || { echo "bench: $setup ($case) did not reach the finish page" >&2; exit 1; }
  if [ "$case" != - ]; then
    echo "$out" | sed -n "s/^\(install\|peak_working_set\),/$case,$drive_name,\1,/p" >> "$bench/upgrade.raw"
    # What was installed is the next version, byte for byte.
    diff -r "$(installed)" "$product2" >&2 || { echo "bench: $case on $drive_name left another folder" >&2; exit 1; }
  fi
}
: > "$bench/upgrade.raw"
for round in 1 2; do
  for drive_name in ram disk; do
    use_drive "$([ $drive_name = ram ] && echo "$ram_drive" || echo "$disk_drive")"
    mkdir -p "$drive/bench"
    [ -f "$drive/bench/BenchSetup.exe" ] && [ -f "$drive/bench/BenchSetup2.exe" ] ||
      cp "$setup_exe" "$setup2_exe" "$build/tools/install_bench.exe" "$drive/bench/"
    clean_installs
    install_as fresh BenchSetup2.exe
    install_as repair BenchSetup2.exe
    clean_installs
    install_as - BenchSetup.exe
    install_as upgrade BenchSetup2.exe
    clean_installs
  done
done
use_drive "$disk_drive"
wineserver -k || true
export WINEPREFIX="$build/wineprefix"

# The upgrade case's table: the best round of each case on each drive, its
# ratio to the fresh installation there, and the highest peak.
upgrade_table() {
  local case drive_name best fresh peak
  read -r touched blocks_all touched_mib all_mib < <(python3 "$top/tools/bench/patch_blocks.py" \
    "$bench/make-installer-v2/payload.7z" "$product" | cut -d, -f2- | tr , ' ')
  {
    echo "case,drive,install to finish page (s),ratio to fresh,peak working set (MiB)"
    for drive_name in ram disk; do
      fresh=$(sed -n "s/^fresh,$drive_name,install,//p" "$bench/upgrade.raw" | sort -n | head -n 1)
      for case in fresh upgrade repair; do
        best=$(sed -n "s/^$case,$drive_name,install,//p" "$bench/upgrade.raw" | sort -n | head -n 1)
        peak=$(sed -n "s/^$case,$drive_name,peak_working_set,//p" "$bench/upgrade.raw" | sort -n | tail -n 1)
        echo "$case,$drive_name,$best,$(ratio "$best" "$fresh"),$(mib "$peak")"
      done
    done
  } > "$bench/upgrade.csv"
  echo
  echo "next version: $(find "$product2" -type f | wc -l) files; its payload's blocks holding a file the first version" \
       "lacks: $touched of $blocks_all ($touched_mib of $all_mib MiB unpacked)"
  column -s, -t < "$bench/upgrade.csv"
  echo "(each run: $(sed -n 's/^\([a-z]*\),\([a-z]*\),install,\(.*\)/\1 on \2 \3 s/p' "$bench/upgrade.raw" |
    paste -sd,); CSV in $bench/upgrade.csv)"
}
if [ $upgrade_only = 0 ]; then

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
# The better round's installation and extraction; the higher peak.
install=$(sed -n 's/^install,//p' "$bench/install.raw" | sort -n | head -n 1)
extract=$(sed -n 's/^extract,//p' "$bench/install.raw" | sort -n | head -n 1)
peak=$(sed -n 's/^peak_working_set,//p' "$bench/install.raw" | sort -n | tail -n 1)
installs=$(sed -n 's/^install,//p' "$bench/install.raw" | paste -sd' ')
floor=$(sed -n 's/^write_floor,plain,//p' "$bench/install.raw" | sort -n | head -n 1)
startup_best=$(sed -n 's/^startup,//p' "$bench/install.raw" | sort -n | head -n 1)
startup_median=$(sed -n 's/^startup,//p' "$bench/install.raw" | sort -n | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}')
unpacked=$(du -sb "$product" | cut -f1)
# blocks ARCHIVE: "COUNT LARGEST" of its solid blocks, by unpacked size.
blocks() {
  7zz l -slt "$1" | awk '/^Size = /{s=$3} /^Block = /{b[$3]+=s} END{n=0; m=0; for (k in b) {n++; if (b[k]>m) m=b[k]} print n, m}'
}
read -r block_count block < <(blocks "$archive")
exe_size=$(stat -c %s "$setup_exe")
mx9_size=$(stat -c %s "$bench/product-mx9.7z")
nsis_size=$(stat -c %s "$nsis_exe")
payload_size=$(stat -c %s "$archive")
files=$(find "$product" -type f | wc -l)

{
  echo "measure,value,unit,reference,reference_value,ratio"
  echo "install to finish page,$install,s,7zz x -mmt1,$z1,$(ratio "$install" "$z1")"
  echo "extraction alone,$extract,s,7zz x -mmt1,$z1,$(ratio "$extract" "$z1")"
  echo "install to finish page,$install,s,7zz x (default threads),$zd,$(ratio "$install" "$zd")"
  echo "install to finish page,$install,s,NSIS /S start to exit,$nsis_best,$(ratio "$install" "$nsis_best")"
  echo "files written from memory under Wine (floor),$floor,s,7zz x -mmt1,$z1,$(ratio "$floor" "$z1")"
  echo "install to finish page,$install,s,floor,$floor,$(ratio "$install" "$floor")"
  echo "peak working set,$(mib "$peak"),MiB,target,160,$(ratio "$peak" 167772160)"
  echo "peak working set,$(mib "$peak"),MiB,unpacked size,$(mib "$unpacked"),$(ratio "$peak" "$unpacked")"
  echo "start-up to welcome page (median of $runs),$startup_median,s,target,0.5,$(ratio "$startup_median" 0.5)"
  echo "setup.exe size,$(mib "$exe_size"),MiB,7zz a -mx9,$(mib "$mx9_size"),$(ratio "$exe_size" "$mx9_size" 3)"
  echo "setup.exe size,$(mib "$exe_size"),MiB,NSIS solid LZMA,$(mib "$nsis_size"),$(ratio "$exe_size" "$nsis_size" 3)"
  if [ $big = 1 ]; then
    big_archive="$bench/make-installer-1g/payload.7z"
    big_install=$(sed -n 's/^big_install,//p' "$bench/install-1g.raw")
    big_peak=$(sed -n 's/^big_peak_working_set,//p' "$bench/install-1g.raw")
    big_files=$(find "$big_product" -type f | wc -l)
    archive=$big_archive
    big_z1=$(time_7zz -mmt1)
    echo "1 GB product ($big_files files): install to finish page,$big_install,s,7zz x -mmt1,$big_z1,$(ratio "$big_install" "$big_z1")"
    echo "1 GB product: peak working set,$(mib "$big_peak"),MiB,target,160,$(ratio "$big_peak" 167772160)"
    echo "1 GB product: setup.exe size,$(mib "$(stat -c %s "$big_exe")"),MiB,unpacked size,$(mib "$(du -sb "$big_product" | cut -f1)"),$(ratio "$(stat -c %s "$big_exe")" "$(du -sb "$big_product" | cut -f1)" 3)"
  fi
} > "$bench/install.csv"

echo
echo "product: $files files, $(mib "$unpacked") MiB; payload $(mib "$payload_size") MiB in $block_count solid blocks, the largest $(mib "$block") MiB unpacked"
column -s, -t < "$bench/install.csv"
echo "(installs: $installs s; start-up best $startup_best s; CSV in $bench/install.csv)"
fi
upgrade_table
