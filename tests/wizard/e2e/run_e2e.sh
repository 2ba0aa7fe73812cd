#!/usr/bin/env bash
# Runs the wizard's driver in the wizard's own prefix (wizard_prefix.sh) and
# turns the screenshots it saves into PNG files in BUILD/wizard-shots, or in
# the folder WIZARD_SHOTS names (the runs under another code page keep
# theirs apart).
#   run_e2e.sh BUILD SETUP.EXE PLANTED.DLL PROBE.EXE BIG.7z DRIVER.EXE [driver arguments...]
set -euo pipefail
build=$1 setup=$2 planted=$3 probe=$4 big=$5 driver=$6
shift 6
. "$(dirname "$0")/wizard_prefix.sh"
wizard_prefix_prepare "$build"
wizard_prefix_install "$setup" setup.exe
wizard_prefix_install "$planted" comctl32.dll
wizard_prefix_install "$probe" dll_probe.exe
wizard_prefix_install "$big" big-payload.7z
wizard_prefix_install "$driver"
# The drivers change resources of copies of setup.exe with it.
wizard_prefix_install "$build/tools/setres.exe"
rm -rf "$WIZARD_DRIVE/e2e/shots"

status=0
wine "$WIZARD_BIN/$(basename "$driver")" "$@" </dev/null || status=$?

wizard_prefix_collect_shots "${WIZARD_SHOTS:-$build/wizard-shots}"
exit $status
