#!/usr/bin/env bash
# Builds everything and runs the whole test suite under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$top/build}"
. "$top/tools/wine-session.sh"
wine_built_session "$build"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "$@"
