#!/usr/bin/env bash
# Installations into a drive root and into a folder above a system folder, in
# a prefix of its own whose drive D: is a scratch folder (install_roots_test),
# and the sample product's uninstaller run from those two places, which must
# refuse (exit 2) and remove nothing.
#   install_roots.sh BUILD TEST.EXE UNINST.EXE
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$1 test_exe=$2 uninst=$3

. "$top/tools/wine-session.sh"
wine_fresh_scratch_drive "$build/tests/install-roots-wine"
drive=$WINE_SCRATCH_DRIVE
mkdir -p "$drive/bin"
cp "$test_exe" "$drive/bin/"

setsid wineserver -p5 </dev/null >/dev/null 2>&1 || true
status=0
(cd "$drive/bin" && wine "D:\\bin\\$(basename "$test_exe")" </dev/null) || status=$?

# The uninstaller's copy does the removing; it is run here as the original
# starts it, told which installation it removes, from a folder of its own on
# C: (it marks its own file for deletion at the next start of the prefix).
# An uninstall entry names each place, as one of an installation would, so
# that the folder guards are what refuses.
users="$WINEPREFIX/drive_c/users"
copy="uninst-copy-$$"
rm -rf "$WINEPREFIX"/drive_c/uninst-copy-* && mkdir -p "$WINEPREFIX/drive_c/$copy"
cp "$uninst" "$WINEPREFIX/drive_c/$copy/uninst.exe"
snapshot() { (cd "$1" && find . -maxdepth 2 -printf '%p %s\n' | sort); }
for place in D users; do
  if [ $place = D ]; then host=$drive windows='D:'; else host=$users windows='C:\users'; fi
  cp "$uninst" "$host/uninst.exe"
  printf 'notes\r\n' > "$host/keep-notes.txt"
  entry="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\卸载根目录 $place"
  wine reg add "$entry" /v UninstallString /d "\"$windows\\uninst.exe\"" /f </dev/null >/dev/null 2>&1
  before=$(snapshot "$host")
  code=0
  (cd "$WINEPREFIX/drive_c" && wine "C:\\$copy\\uninst.exe" /S "/_from=$windows\\uninst.exe" </dev/null) || code=$?
  wine reg delete "$entry" /f </dev/null >/dev/null 2>&1 || true
  if [ $code -ne 2 ]; then echo "FAIL uninstaller in $windows: exit $code, expected 2"; status=1; fi
  if [ "$(snapshot "$host")" != "$before" ]; then
    echo "FAIL uninstaller in $windows removed:"; { diff <(echo "$before") <(snapshot "$host") || true; } | head; status=1
  fi
  rm -f "$host/uninst.exe" "$host/keep-notes.txt"
done
[ $status -eq 0 ] && echo "ok   installations and the uninstaller refuse a drive root and C:\\users"
exit $status
