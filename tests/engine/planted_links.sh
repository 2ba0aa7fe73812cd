#!/usr/bin/env bash
# Links planted inside an installation by a program of the user's: a
# symbolic link to a folder outside and one to a file outside (Wine shows
# the first as a reparse point and opens the target of either). An upgrade
# over that installation, which deletes the earlier version at its end, must
# delete neither the folder's files nor the file the links point to; and a
# user data file that is a link must not carry what it points to into the
# new installation.
#   planted_links.sh BUILD SETUP.EXE
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$1 setup=$2

. "$top/tools/wine-session.sh"
wine_fresh_scratch_drive "$build/tests/planted-links-wine"
drive=$WINE_SCRATCH_DRIVE
outside="$build/tests/planted-links-outside"
rm -rf "$outside" && mkdir -p "$drive/bin" "$outside/folder"
# A program group left a link by an earlier run of this check.
find "$WINEPREFIX/drive_c/users" -type l -path '*Start Menu*' -delete
cp "$setup" "$drive/bin/setup.exe"
printf 'not the product\r\n' > "$outside/folder/keep.txt"
printf 'not the product either\r\n' > "$outside/file.txt"
printf 'secret\r\n' > "$outside/secret.txt"
setsid wineserver -p5 </dev/null >/dev/null 2>&1 || true

status=0
install() { (cd "$drive/bin" && wine 'D:\bin\setup.exe' /S '/D=D:\Games\Marvane' </dev/null) || echo "exit $?"; }
first=$(install)
if [ -n "$first" ]; then echo "FAIL first installation: $first"; exit 1; fi
ln -s "$outside/folder" "$drive/Games/Marvane/folder-link"
ln -s "$outside/file.txt" "$drive/Games/Marvane/file-link"
upgrade=$(install)
if [ -n "$upgrade" ]; then echo "FAIL upgrade: $upgrade"; status=1; fi
for kept in "$outside/folder/keep.txt" "$outside/file.txt"; do
  [ -f "$kept" ] || { echo "FAIL the upgrade deleted $kept through a link"; status=1; }
done
[ -f "$drive/Games/Marvane/Marvane.exe" ] || { echo "FAIL the upgrade left no product"; status=1; }
rm -f "$drive/Games/Marvane/UserSetting.ini"
ln -s "$outside/secret.txt" "$drive/Games/Marvane/UserSetting.ini"
install >/dev/null
if grep -qs secret "$drive/Games/Marvane/UserSetting.ini" && [ ! -L "$drive/Games/Marvane/UserSetting.ini" ]; then
  echo "FAIL the upgrade copied what a planted user data link points to"; status=1
fi
[ -f "$drive/Games/Marvane/Marvane.exe" ] || { echo "FAIL the last upgrade left no product"; status=1; }
# A program group that is a link takes no links of the installer's.
rm -f "$drive/Games/Marvane/UserSetting.ini"
group=$(find "$WINEPREFIX/drive_c/users" -path '*Start Menu/Programs/*' -name '*.lnk' -printf '%h\n' | head -n 1)
if [ -n "$group" ]; then
  rm -rf "$group" && ln -s "$outside/folder" "$group"
  install >/dev/null
  if ls "$outside/folder" | grep -q '\.lnk$'; then echo "FAIL links written through a planted program group"; status=1; fi
else
  echo "FAIL no program group after the upgrades"; status=1
fi
# A link above a place the installer writes (the desktop folder made a link
# to a folder outside): the folder above is opened level by level, so
# nothing is read or written through it.
desktop="$WINEPREFIX/drive_c/users/$(id -un)/Desktop"
if [ -d "$desktop" ] && [ ! -L "$desktop" ]; then
  mkdir -p "$outside/desktop"
  mv "$desktop" "$desktop.real" && ln -s "$outside/desktop" "$desktop"
  install >/dev/null
  rm "$desktop" && mv "$desktop.real" "$desktop"
  if ls "$outside/desktop" | grep -q .; then echo "FAIL written through a link above the desktop link"; status=1; fi
else
  echo "FAIL no plain desktop folder in the prefix"; status=1
fi
# A log asked for at a planted link's name, or in a folder that is a link,
# is not written through it: the name's next free one, or no log.
mkdir -p "$drive/logs"
ln -s "$outside/secret.txt" "$drive/logs/setup.log"
ln -s "$outside/folder" "$drive/logs/linked"
for log in 'D:\logs\setup.log' 'D:\logs\linked\setup.log'; do
  (cd "$drive/bin" && wine 'D:\bin\setup.exe' /S "/LOG=$log" '/D=games' </dev/null) || true
done
if [ "$(cat "$outside/secret.txt")" != $'secret\r' ] || [ -n "$(ls "$outside/folder" | grep -v '^keep.txt$')" ]; then
  echo "FAIL a log was written through a planted link"; status=1
fi
grep -qs 'exit code 1' "$drive/logs/setup-2.log" || { echo "FAIL no log at the next free name"; status=1; }

# Links planted while a run unpacks, into a fresh installation and an
# upgrade in place (one changed file, so the staging folder gets files):
# the staging folder itself before the run and once it appears, and a
# subfolder once it appears. Nothing may land in the place a link names;
# the run ends with the product whole and no link in it, or fails and
# leaves the earlier installation as it was.
[ -n "$group" ] && rm -f "$group"
# With 3,000 more entries the unpacking lasts long enough for a link to land
# while it runs: the same installer carrying the tests' larger payload,
# with its table and digest made as make-installer makes them.
big="$build/tests/wizard/big-payload.7z"
python3 "$top/tools/installer/payload_digest.py" "$build/resources/incfg.ini" "$big" \
  "$drive/bin/digest.bin" "$drive/bin/entries.txt"
cp "$big" "$drive/bin/big.7z" && cp "$build/tools/setres.exe" "$drive/bin/setres.exe"
(cd "$drive/bin" && wine 'D:\bin\setres.exe' 'D:\bin\setup.exe' DATA 148 'D:\bin\big.7z' \
  DIGEST 141 'D:\bin\entries.txt' DIGEST 140 'D:\bin\digest.bin' </dev/null >/dev/null)
inst="$drive/Games/Marvane" staging="$drive/Games/Marvane.temp" trap_dir="$outside/trap"
plant() {  # PATH: once PATH exists, it moves away and a link to the trap takes its place
  for _ in $(seq 4000); do
    if [ -e "$1" ] && [ ! -L "$1" ]; then mv "$1" "$1.moved" 2>/dev/null && ln -s "$trap_dir" "$1"; return; fi
    sleep 0.002
  done
}
for mode in fresh upgrade; do
  for where in staging-before staging-during subfolder-during; do
    rm -rf "$trap_dir" "$drive/Games" && mkdir -p "$trap_dir" "$drive/Games"
    if [ $mode = upgrade ]; then install >/dev/null; printf 'changed\r\n' >> "$inst/Marvane.exe" || status=1; fi
    watcher=
    case $where in
      staging-before) ln -s "$trap_dir" "$staging" ;;
      staging-during) plant "$staging" & watcher=$! ;;
      subfolder-during) plant "$staging/data" & watcher=$! ;;
    esac
    result=$(install)
    [ -n "$watcher" ] && { kill "$watcher" 2>/dev/null || true; wait "$watcher" 2>/dev/null || true; }
    if [ -n "$(find "$trap_dir" -mindepth 1 | head -n 1)" ]; then
      echo "FAIL $mode, $where: written through the link: $(find "$trap_dir" -mindepth 1 | head -n 3 | tr '\n' ' ')"; status=1
    fi
    if [ -z "$result" ]; then
      [ -f "$inst/Marvane.exe" ] || { echo "FAIL $mode, $where: success without the product"; status=1; }
      [ -z "$(find "$inst" -type l | head -n 1)" ] || { echo "FAIL $mode, $where: a link inside the installation"; status=1; }
    elif [ $mode = upgrade ] && ! grep -qs changed "$inst/Marvane.exe"; then
      echo "FAIL $mode, $where: failed ($result) without putting the earlier installation back"; status=1
    fi
    planted=no; { [ -e "$staging.moved" ] || [ -e "$staging/data.moved" ] || [ -e "$inst/data.moved" ]; } && planted=yes
    echo "     $mode, $where: ${result:-exit 0}, link planted: $planted"
    rm -rf "$inst/data.moved"
    rm -rf "$staging" "$staging.moved"
  done
done

[ $status -eq 0 ] && echo "ok   an upgrade deletes and copies no file through a link planted in the earlier installation"
exit $status
