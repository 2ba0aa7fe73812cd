#!/usr/bin/env bash
# Builds everything and runs the whole test suite under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$top/build}"
bash "$top/tools/setup.sh"
BUILD_DIR="$build" bash "$top/tools/build.sh"
. "$top/tools/wine-session.sh"
wine_session_start "$build"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "$@"
