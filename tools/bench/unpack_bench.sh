#!/usr/bin/env bash
# Benchmark: unpacking a ~200 MB, ~5,000-file solid LZMA2 archive with the
# installer's package reader (tools/unpack7z under Wine) against `7zz x` of
# the same archive, single-threaded and default, in one run. Prints a table
# and writes it as CSV to build/bench/unpack.csv.
#   unpack_bench.sh [RUNS]
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build="${BUILD_DIR:-$top/build}"
runs=${1:-3}
. "$top/tools/wine-session.sh"
wine_built_session "$build"

bench="$build/bench"
mkdir -p "$bench"
product="$bench/product"
archive="$bench/product.7z"
if [ ! -f "$archive" ]; then
  rm -rf "$product"
  python3 "$top/tools/bench/make_product.py" "$product"
  (cd "$product" && 7zz a -t7z -m0=LZMA2 -mx5 -ms=on "$archive" . >/dev/null)
fi
files=$(find "$product" -type f | wc -l)
unpacked=$(du -sb "$product" | cut -f1)
blocks=$(7zz l -slt "$archive" | sed -n 's/^Blocks = //p' | head -n 1)
echo "archive: $(stat -c %s "$archive") bytes, $files files, $unpacked bytes unpacked, ${blocks:-1} solid block(s)"

out="$bench/out"
measure() { # label command...: best wall time and its peak RSS over $runs runs
  local label=$1; shift
  local best="" rss=""
  for _ in $(seq "$runs"); do
    rm -rf "$out" && mkdir -p "$out"
    sync
    /usr/bin/time -f '%e %M' -o "$bench/time.txt" "$@" >/dev/null 2>&1
    read -r t m < "$bench/time.txt"
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; rss=$m; fi
  done
  printf '%s,%s,%s\n' "$label" "$best" "$rss" >> "$bench/unpack.csv.tmp"
}

rm -f "$bench/unpack.csv.tmp"
measure "7zz x -mmt1" 7zz x -y -mmt1 -o"$out" "$archive"
measure "7zz x" 7zz x -y -o"$out" "$archive"
measure "unpack7z (Wine)" "$build/wine-run" "$build/tools/unpack7z.exe" "Z:${archive//\//\\}" "Z:${out//\//\\}"
diff -r "$product" "$out" >/dev/null && echo "unpack7z output matches the product folder"

{ echo "tool,seconds,peak_rss_kib"; cat "$bench/unpack.csv.tmp"; } > "$bench/unpack.csv"
rm -f "$bench/unpack.csv.tmp"
single=$(awk -F, '$1=="7zz x -mmt1"{print $2}' "$bench/unpack.csv")
printf '\n%-18s %9s %14s %10s\n' tool seconds "peak RSS MiB" "vs -mmt1"
tail -n +2 "$bench/unpack.csv" | while IFS=, read -r tool s m; do
  printf '%-18s %9.2f %14.1f %9.2fx\n' "$tool" "$s" "$(awk "BEGIN{print $m/1024}")" "$(awk "BEGIN{print $s/$single}")"
done
echo "(best of $runs runs; CSV in $bench/unpack.csv)"
