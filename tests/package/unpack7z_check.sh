#!/usr/bin/env bash
# unpack7z writes the same tree and bytes as `7zz x` on every archive it can
# read, and exits 1 without crashing on those it cannot.
#   unpack7z_check.sh WINE_RUN UNPACK7Z_EXE FIXTURES
set -uo pipefail
wine_run=$1 exe=$2 fixtures=$3
work="$fixtures/unpack7z_check"
rm -rf "$work" && mkdir -p "$work"
failed=0

for archive in lzma lzma2 bcj_lzma2 bcj2 copy nonsolid blocks lzma_blocks bcj_blocks bcj2_blocks copy_blocks \
               interleaved empty names readonly big; do
  mkdir -p "$work/$archive.ref"
  7zz x -y -o"$work/$archive.ref" "$fixtures/$archive.7z" >/dev/null
  "$wine_run" "$exe" "Z:${fixtures//\//\\}\\$archive.7z" "Z:${work//\//\\}\\$archive.out" > "$work/$archive.log"
  code=$?
  if [ $code -ne 0 ]; then
    echo "FAIL $archive: exit $code"; cat "$work/$archive.log"; failed=1; continue
  fi
  if ! diff -r "$work/$archive.ref" "$work/$archive.out" >/dev/null; then
    echo "FAIL $archive: differs from 7zz x"; diff -r "$work/$archive.ref" "$work/$archive.out" | head; failed=1; continue
  fi
  entries=$(7zz l -slt "$fixtures/$archive.7z" | grep -c '^Path = ' || true)
  reports=$(grep -c -E '^[0-9]+/[0-9]+ ' "$work/$archive.log" || true)
  if [ "$reports" -ne $((entries - 1)) ]; then
    echo "FAIL $archive: $reports progress lines for $((entries - 1)) entries"; failed=1; continue
  fi
  echo "ok   $archive"
done

for archive in damaged interleaved_damaged truncated notarchive encrypted encrypted_headers ppmd; do
  "$wine_run" "$exe" "Z:${fixtures//\//\\}\\$archive.7z" "Z:${work//\//\\}\\$archive.out" > "$work/$archive.log" 2>&1
  code=$?
  if [ $code -ne 1 ]; then echo "FAIL $archive: exit $code, expected 1"; failed=1; else echo "ok   $archive (exit 1)"; fi
done

"$wine_run" "$exe" only-one-argument >/dev/null 2>&1
code=$?
if [ $code -ne 2 ]; then echo "FAIL usage: exit $code, expected 2"; failed=1; else echo "ok   usage (exit 2)"; fi
chmod -R u+w "$work"
exit $failed
