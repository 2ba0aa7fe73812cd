#!/usr/bin/env bash
# The wizard at 100%, 150% and 200% display scale (96, 144 and 192 DPI).
# Wine takes the scale from HKCU\Control Panel\Desktop\LogPixels as its
# server starts, so each scale runs in a server started anew, in a prefix of
# its own (BUILD/wizard-e2e-scale) that no other test shares, and on an Xvfb
# display of its own, where no other test's window covers what the driver
# compares on the screen. The screenshots go to SHOTS/scale-100, -150, -200.
# WIZARD_DPIS chooses other scales.
#   run_scale_e2e.sh BUILD SETUP.EXE BIG.7z TEXT_FIT_PROBE.DLL DRIVER.EXE SHOTS [driver arguments...]
set -euo pipefail
build=$1 setup=$2 big=$3 probe=$4 driver=$5 shots=$6
shift 6
here=$(dirname "$0")
. "$here/../../../tools/wine-session.sh"
. "$here/wizard_prefix.sh"
wine_own_display
trap 'WINEPREFIX="$build/wizard-e2e-scale/prefix" wineserver -k >/dev/null 2>&1 || true; kill "$WINE_SESSION_XVFB" 2>/dev/null || true' EXIT

status=0
for dpi in ${WIZARD_DPIS:-96 144 192}; do
  WIZARD_PREFIX=wizard-e2e-scale WIZARD_LOG_PIXELS=$dpi wizard_prefix_prepare "$build"
  wizard_prefix_install "$setup" setup.exe
  # The driver changes resources of copies of setup.exe with setres.
  for file in "$big" "$probe" "$driver" "$build/tools/setres.exe"; do wizard_prefix_install "$file"; done
  rm -rf "$WIZARD_DRIVE/e2e/shots"
  echo "== $dpi DPI ($((dpi * 100 / 96))%)"
  WIZARD_DPI=$dpi wine "$WIZARD_BIN/$(basename "$driver")" "$@" </dev/null || status=1
  wizard_prefix_collect_shots "$shots/scale-$((dpi * 100 / 96))"
done
exit $status
