#!/usr/bin/env bash
# uninst.exe /S on folders laid out by hand under D:\Games, in a prefix of its
# own whose drive D: is a scratch folder, one case a row: what the folder
# holds, whether an uninstall entry names its uninstaller, which uninstaller
# is started (the one in the folder, or a copy elsewhere told the folder with
# /_from=), the exit code it must return once it has ended, and what must be
# left of the folder at that moment. A folder laid out by hand has no record
# of what an installation put there, so all of it but the uninstaller stays.
# Files outside, two of them reached through links planted in an
# installation, must stay as they were.
#   silent_uninstall.sh BUILD UNINST.EXE PRODUCT_DIR
set -euo pipefail
build=$1 uninst=$2 product=$3

. "$(dirname "$0")/../../tools/wine-session.sh"
wine_fresh_scratch_drive "$build/tests/uninstall-wine" Games outside/folder
drive=$WINE_SCRATCH_DRIVE
printf 'outside\r\n' > "$drive/outside/file.txt"
printf 'outside\r\n' > "$drive/outside/folder/inner.txt"
cd "$drive"
wine_server_up 5
# A copy started by hand marks its own file for deletion at the prefix's next
# start: a name of this run's own.
copy="copy-$$"
mkdir "$drive/$copy" && cp "$uninst" "$drive/$copy/uninst.exe"

key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
listing() { (cd "$1" && find . -printf '%p %s %l\n' | sort); }
outside=$(listing "$drive/outside")
status=0
while IFS='|' read -r name holds entry start expected left; do
  folder="$drive/Games/$name" windows="D:\\Games\\$name"
  mkdir -p "$folder"
  if [ "$holds" = plain ]; then
    cp "$uninst" "$folder/uninst.exe" && printf 'mine\r\n' > "$folder/notes.txt"
  else
    cp -r "$product"/. "$folder/" && rm "$folder/UserSetting.ini"
  fi
  if [ "$holds" = links ]; then
    ln -s "$drive/outside/folder" "$folder/data/outside folder" && ln -s "$drive/outside/file.txt" "$folder/outside.txt"
  fi
  wine reg delete "$key\\卸载测试 $name" /f </dev/null >/dev/null 2>&1 || true
  if [ "$entry" = yes ]; then
    wine reg add "$key\\卸载测试 $name" /v UninstallString /d "\"$windows\\uninst.exe\"" /f </dev/null >/dev/null
  fi
  before=$(listing "$folder")
  code=0
  if [ "$start" = copy ]; then
    wine "D:\\$copy\\uninst.exe" /S "/_from=$windows\\uninst.exe" </dev/null || code=$?
  else
    wine "$windows\\uninst.exe" /S </dev/null || code=$?
  fi
  got=$([ -e "$folder" ] && listing "$folder" || true)
  case $left in
    everything) want=$before ;;
    unrecorded) want=$(echo "$before" | grep -v '^\./uninst\.exe ') ;;
  esac
  if [ $code -ne "$expected" ]; then echo "FAIL $name: exit $code, expected $expected"; status=1; fi
  if [ "$got" != "$want" ]; then
    echo "FAIL $name: the folder holds afterwards:"; diff <(echo "$want") <(echo "$got") | head || true; status=1
  fi
done <<'CASES'
unregistered|product|no|copy|2|everything
plain|plain|yes|original|2|everything
removed|product|yes|original|0|unrecorded
links|links|yes|original|0|unrecorded
CASES
# The originals' files, moved aside while they waited, go once they have
# ended, with the folders they were moved into.
for _ in $(seq 100); do
  aside=$(cd "$drive/Games" && ls -d setup-uninst-* 2>/dev/null || true)
  [ -z "$aside" ] && break
  sleep 0.1
done
if [ -n "$aside" ]; then echo "FAIL left beside the installations: $aside"; status=1; fi
if [ "$(listing "$drive/outside")" != "$outside" ]; then
  echo "FAIL files outside changed:"; diff <(echo "$outside") <(listing "$drive/outside") || true; status=1
fi
[ $status -eq 0 ] && echo "ok   uninst.exe /S returns the outcome once it has ended, refuses foreign folders, follows no link"
exit $status
