#!/usr/bin/env bash
# Benchmark: how long FindEntriesInPlace takes to check a game-like product
# (~200 MB in ~5,000 files) unpacked on a RAM drive against its archive's
# entries, every file in place, so every file is opened and read whole.
# The archive is stored (no compression): only its database is read.
#   in_place_bench.sh [RUNS]
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build="${BUILD_DIR:-$top/build}"
runs=${1:-5}
. "$top/tools/wine-session.sh"
wine_built_session "$build" in_place_bench

ram=/dev/shm/in-place-bench-$$
trap 'rm -rf "$ram"; wine_session_stop' EXIT
mkdir -p "$ram"
python3 "$top/tools/bench/make_product.py" "$ram/product"
(cd "$ram/product" && 7zz a -t7z -m0=Copy "$ram/product.7z" . >/dev/null)
7zz x -y -o"$ram/installed" "$ram/product.7z" >/dev/null
"$build/wine-run" "$build/tools/in_place_bench.exe" "Z:${ram//\//\\}\\product.7z" "Z:${ram//\//\\}\\installed" "$runs"
