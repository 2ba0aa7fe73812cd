#!/usr/bin/env bash
# A product split into data files beside setup.exe, end to end under Wine:
# the sample product (with a texture pack, so that it spans four data files
# of 1 MiB) built with make-installer --image-limit 0 --data-file-size 1,
# installed silently from fresh copies of what make-installer wrote, each
# copy changed as a download or a player may change it, in a prefix of its
# own whose drive D: is a scratch folder.
#   data_files.sh BUILD MISSING_DATA_FILE_TEST.EXE
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$1 box_driver=$2
work="$build/tests/scratch/data_files"
rm -rf "$work" && mkdir -p "$work"
cp -R "$build/resources/product" "$work/product"
python3 - "$work/product/data/textures.pak" <<'PY'
import random, sys
r = random.Random(7)
open(sys.argv[1], "wb").write(bytes(r.getrandbits(8) for _ in range(3 * 1024 * 1024 + 300000)))
PY
sed -n '/^\[IN_INFO\]/,$p' "$top/src/resources/config/incfg.ini" | grep -v '^OBJ_IN_SIZE' > "$work/product.ini"
BUILD_DIR="$build" "$top/tools/make-installer" --config "$work/product.ini" --payload "$work/product" \
  --out "$work/out/setup.exe" --level 1 --image-limit 0 --data-file-size 1 | tee "$work/made.txt"

failures=0
check() {  # check WHAT CONDITION...
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
count=$(ls "$work/out" | grep -c '^setup-[0-9]*\.bin$' || true)
check "the product spans four data files ($count)" test "$count" = 4
check "make-installer names every data file it wrote" test "$(grep -c 'setup-[0-9]\.bin (' "$work/made.txt")" = 4

. "$top/tools/wine-session.sh"
wine_fresh_scratch_drive "$build/tests/data-files-wine" in Games logs
drive=$WINE_SCRATCH_DRIVE
setsid wineserver -p5 </dev/null >/dev/null 2>&1 || true
installed="$drive/Games/Tovani"

# install CASE CHANGE EXPECTED LOGLINE: a fresh copy of the built files,
# changed by CHANGE (run in its folder), installed with /S; the exit code
# must be EXPECTED and the log must hold LOGLINE.
install() {
  local name=$1 change=$2 expected=$3 line=$4 status=0
  rm -rf "$drive/in" && cp -R "$work/out" "$drive/in"
  (cd "$drive/in" && eval "$change")
  wine 'D:\in\setup.exe' /S "/LOG=D:\\logs\\$name.log" '/D=D:\Games\Tovani' </dev/null >/dev/null 2>&1 || status=$?
  check "$name: exit code $status, expected $expected" test "$status" = "$expected"
  check "$name: the log says \"$line\"" grep -qF "$line" <(iconv -f utf-8 -t utf-8 "$drive/logs/$name.log")
}
same_tree() { diff -r "$1" "$2" >/dev/null; }
flip() { python3 -c "import sys; f = open(sys.argv[1], 'r+b'); f.seek(int(sys.argv[2])); b = f.read(1); f.seek(int(sys.argv[2])); f.write(bytes([b[0] ^ 0x55]))" "$@"; }
export -f flip

# Refused at start, nothing installed: a data file cut short, one missing.
install short 'truncate -s -1 setup-3.bin' 3 "data files: one is of another size"
check "short: nothing is installed" test ! -e "$installed"
install missing 'rm setup-2.bin' 3 "refused: the data file setup-2.bin is not in D:\\in"
check "missing: nothing is installed" test ! -e "$installed"
cp "$box_driver" "$drive/in/"
check "missing: the wizard tells which file, and where" \
  wine "D:\\in\\$(basename "$box_driver")" 'D:\in\setup.exe' setup-2.bin 'D:\in' </dev/null
check "missing (wizard): nothing is installed" test ! -e "$installed"
# Found as they are unpacked, everything rolled back: a byte flipped in the
# middle of one, one swapped with another of the same size.
install damaged 'flip setup-2.bin 524288' 3 "the payload cannot be read or decoded"
check "damaged: nothing is installed" test ! -e "$installed"
install swapped 'cp setup-2.bin setup-1.bin' 3 "the payload cannot be read or decoded"
check "swapped: nothing is installed" test ! -e "$installed"

install intact ':' 0 "data files: all 4 are in D:\\in with their recorded sizes"
check "intact: the installed folder is the product" same_tree "$work/product" "$installed"

# Over that installation: a damaged download puts back what it changed; the
# intact one mends the installation that a player's changes broke.
python3 -c "import sys; open(sys.argv[1], 'wb').write(b'changed')" "$installed/data/textures.pak"
rm "$installed/Marvane.exe"
cp -R "$installed" "$work/before"
install damaged-upgrade 'flip setup-3.bin 700000' 3 "the payload cannot be read or decoded"
check "damaged-upgrade: the installation is as before" same_tree "$work/before" "$installed"
install upgrade ':' 0 "exit code 0"
check "upgrade: the installed folder is the product" same_tree "$work/product" "$installed"

wineserver -k || true
echo "$failures failed"
exit $((failures > 0))
