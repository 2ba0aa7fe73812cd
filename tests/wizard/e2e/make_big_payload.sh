#!/usr/bin/env bash
# A payload with the sample product and 3,000 further entries, so that an
# extraction runs long enough for a test to cancel it while it runs.
#   make_big_payload.sh PRODUCT_DIR OUTPUT.7z
set -euo pipefail
product=$1
output=$2
work="$output.d"
rm -rf "$work" "$output"
mkdir -p "$work"
cp -a "$product/." "$work/"
python3 - "$work/data/filler" <<'PY'
import os, random, sys
folder = sys.argv[1]
os.makedirs(folder, exist_ok=True)
rng = random.Random(3000)  # fixed: the same archive on every build
for i in range(3000):
    with open(os.path.join(folder, "%04d.bin" % i), "wb") as f:
        f.write(rng.randbytes(4096))
PY
(cd "$work" && 7zz a -t7z -m0=LZMA2 -ms=on "$output" . >/dev/null)
rm -rf "$work"
