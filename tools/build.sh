#!/usr/bin/env bash
# Configures (once) and builds everything into build/ with the mingw-w64 cross compiler.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$top/build}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j"$(nproc)" -- --no-print-directory | grep -v -E '^\[ *[0-9]+%\] (Building|Linking|Built)' || true
test "${PIPESTATUS[0]}" -eq 0
