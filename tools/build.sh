#!/usr/bin/env bash
# Configures (once) and builds everything into build/ with the mingw-w64 cross compiler.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$top/build}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
# Progress lines are dropped; warnings, errors and the build's own status stay.
status=0
cmake --build "$build" -j"$(nproc)" -- --no-print-directory > "$build/build.log" 2>&1 || status=$?
grep -v -E '^\[ *[0-9]+%\] (Building|Linking|Built)' "$build/build.log" || true
if [ $status -ne 0 ]; then
  echo "build failed (exit $status); the whole log is $build/build.log" >&2
fi
exit $status
