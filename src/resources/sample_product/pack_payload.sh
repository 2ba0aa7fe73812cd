#!/usr/bin/env bash
# Lays out the sample product in STAGE and packs it into ARCHIVE, the
# installer's payload: one solid 7z block, LZMA2 behind BCJ2 (the x86 branch
# filter that makes the programs pack well; on the data files it costs
# nothing).
#   pack_payload.sh FILES STAGE ARCHIVE [DEST=SOURCE ...]
# FILES is copied whole; each DEST=SOURCE adds the file SOURCE as DEST
# (relative to STAGE); an empty logs folder is added.
#
# The same inputs give the same bytes: only names and contents are stored
# (no times, no attributes), and one thread packs, because LZMA2's block
# split depends on the thread count.
set -euo pipefail
files=$1 stage=$2 archive=$3
shift 3

rm -rf "$stage" && mkdir -p "$stage"
cp -R "$files"/. "$stage"/
for pair in "$@"; do
  dest=${pair%%=*} source=${pair#*=}
  mkdir -p "$(dirname "$stage/$dest")"
  cp "$source" "$stage/$dest"
done
mkdir -p "$stage/logs"

archive=$(realpath -m "$archive")
mkdir -p "$(dirname "$archive")"
rm -f "$archive" "$archive.part"
(cd "$stage" && 7zz a -t7z -bso0 -bsp0 -m0=LZMA2 -mf=BCJ2 -ms=on -mmt=1 \
   -mtm=off -mtc=off -mta=off -mtr=off "$archive.part" .)
mv "$archive.part" "$archive"
