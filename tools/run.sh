#!/usr/bin/env bash
# The main job: builds setup.exe and runs the wizard on the sample product
# under Wine, in the wizard's own prefix, whose drive D: is
# BUILD/wizard-e2e/drive-d.
#
# With a display (DISPLAY set), it opens the wizard for a person. Without
# one, it drives the wizard headless on an Xvfb display: first through the
# cancel question, the folder dialog, a refused folder and a folder in use,
# for their screenshots, then through its pages again under a Western
# system's code page (1252), then at 100%, 150% and 200% display scale, then
# through one whole installation, and prints where the product went and
# where the screenshots are.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$top/build}"
person_display="${DISPLAY:-}"
. "$top/tools/wine-session.sh"
wine_built_session "$build"

setup="$build/src/app/setup.exe"
if [ -n "$person_display" ]; then
  . "$top/tests/wizard/e2e/wizard_prefix.sh"
  wizard_prefix_prepare "$build"
  wizard_prefix_install "$setup" setup.exe
  echo "== the wizard is open on $DISPLAY; it installs into drive D: = $WIZARD_DRIVE"
  wine 'D:\e2e\bin\setup.exe' </dev/null >/dev/null 2>&1 || true
  exit 0
fi

tests="$build/tests/wizard"
drive() {
  bash "$top/tests/wizard/e2e/run_e2e.sh" "$build" "$setup" "$tests/comctl32.dll" "$tests/dll_probe.exe" \
       "$tests/big-payload.7z" "$tests/wizard_e2e_test.exe" --gtest_brief=1 "$@"
}
rm -rf "$build/wizard-shots" "$build/wizard-shots-1252"
echo "== driving the wizard's boxes (the damaged-download box among them) and the cancelled finish page"
drive --gtest_filter='Wizard.CancelConfirmedDuringExtractionRollsBack:Wizard.BrowseAppendsTheDisplayNameAndBackKeepsTheFolder:Wizard.BrowseRefusesADriveWithoutRoom:Wizard.FolderInUseStopsTheReplacementWithItsErrorBox:Wizard.DamagedDownloadShowsOneBoxWritesNothingAndEnds'
echo "== the same wizard on a Western system (code page 1252): its pages, a box, and a folder of many scripts"
SETUP_LOCALE=en_US.UTF-8 WIZARD_SHOTS="$build/wizard-shots-1252" \
  drive --gtest_filter='Wizard.WholeRoadInstallsTheProductAndShowsEveryPage:Wizard.CancelConfirmedDuringExtractionRollsBack:WizardNames.*'
echo "== the wizard at 100%, 150% and 200% display scale (96, 144 and 192 DPI), each in a Wine server of its own"
bash "$top/tests/wizard/e2e/run_scale_e2e.sh" "$build" "$setup" "$tests/big-payload.7z" "$tests/text_fit_probe.dll" \
  "$tests/wizard_scale_e2e_test.exe" "$build/wizard-shots" --gtest_brief=1
echo "== driving one whole installation: welcome, destination, ready, installing, finish"
drive --gtest_filter='Wizard.WholeRoadInstallsTheProductAndShowsEveryPage'

product="$build/wizard-e2e/drive-d/Program Files/Tovani"
echo "== the product went to D:\\Program Files\\Tovani, which is $product:"
(cd "$product" && find . -type f | sort)
echo "== screenshots of every page and box: $build/wizard-shots"
ls "$build/wizard-shots"
echo "== the same at 100%, 150% and 200% display scale: $build/wizard-shots/scale-100, scale-150, scale-200"
echo "== the same under code page 1252: $build/wizard-shots-1252"
ls "$build/wizard-shots-1252"
# The wizard's prefix has a server of its own; it must not outlive the display.
WINEPREFIX="$build/wizard-e2e/prefix" wineserver -k >/dev/null 2>&1 || true
