#!/usr/bin/env bash
# Runs the wizard's driver in a Wine prefix of its own, whose drive D: is a
# scratch folder and which has no drive Z:, so that the wizard's default
# folder (the first fixed drive other than the system's) is on D: and never
# the host's root. Programs run in a virtual desktop, so that windows are
# drawn with their title bars for the screenshots, which end up as PNG files
# in BUILD/wizard-shots.
#   run_e2e.sh BUILD SETUP.EXE PLANTED.DLL PROBE.EXE BIG.7z DRIVER.EXE [driver arguments...]
set -euo pipefail
build=$1 setup=$2 planted=$3 probe=$4 big=$5 driver=$6
shift 6

root="$build/wizard-e2e"
drive="$root/drive-d"
mkdir -p "$root"
export WINEPREFIX="$root/prefix" WINEDEBUG=-all LC_ALL=zh_CN.UTF-8
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# One run at a time: the prefix, its drive and the wizard's single-instance
# rule are shared.
exec 9>"$root/lock"
flock 9

if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -L "$WINEPREFIX/dosdevices/d:" ]; then
  rm -rf "$WINEPREFIX"
  mkdir -p "$drive"
  wineboot -i </dev/null >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f </dev/null >/dev/null 2>&1
  wineserver -w
  rm -f "$WINEPREFIX/dosdevices/z:"
  ln -sfn "$drive" "$WINEPREFIX/dosdevices/d:"
fi

bin="$drive/e2e/bin"
mkdir -p "$bin"
cp "$setup" "$bin/setup.exe"
cp "$planted" "$bin/comctl32.dll"
cp "$probe" "$bin/dll_probe.exe"
cp "$big" "$bin/big-payload.7z"
cp "$driver" "$bin/$(basename "$driver")"
rm -rf "$drive/e2e/shots"

# A server that outlives each program by a few seconds spares every start
# the server's own start-up, and ends by itself.
setsid wineserver -p5 </dev/null >/dev/null 2>&1 || true
status=0
wine "$bin/$(basename "$driver")" "$@" </dev/null || status=$?

shots="$build/wizard-shots"
if compgen -G "$drive/e2e/shots/*.bmp" >/dev/null; then
  mkdir -p "$shots"
  for bmp in "$drive/e2e/shots"/*.bmp; do
    convert "$bmp" "$shots/$(basename "${bmp%.bmp}").png"
  done
fi
exit $status
