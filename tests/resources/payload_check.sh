#!/usr/bin/env bash
# The payload is one solid block with BCJ2 in front of the programs, stores
# neither times nor attributes, unpacks with the installer's own reader to
# exactly the product folder it was made from, and packing the same inputs
# again, with other times and modes on disk, gives the same bytes.
#   payload_check.sh WINE_RUN UNPACK7Z PACK_SCRIPT FILES PAYLOAD PRODUCT WORK [DEST=SOURCE ...]
set -uo pipefail
wine_run=$1 unpack=$2 pack=$3 files=$4 payload=$5 product=$6 work=$7
shift 7
rm -rf "$work" && mkdir -p "$work"
failed=0
ok() { echo "ok   $1"; }
fail() { echo "FAIL $1"; failed=1; }

listing=$(7zz l -slt "$payload")
grep -qx 'Solid = +' <<<"$listing" && grep -qx 'Blocks = 1' <<<"$listing" \
  && ok "one solid block" || fail "not one solid block"
exes=$(awk '/^Path = /{path=substr($0, 8)} /^Method = /{if (path ~ /\.exe$/) print path " " substr($0, 10)}' <<<"$listing")
[ "$(grep -c . <<<"$exes")" -eq 2 ] && ! grep -v ' BCJ2 LZMA2' <<<"$exes" \
  && ok "both programs behind BCJ2 and LZMA2" || fail "programs' methods: $exes"
grep -qE '^(Modified|Created|Accessed|Attributes) = .' <<<"$listing" \
  && fail "times or attributes stored" || ok "no times or attributes stored"

win() { echo "Z:${1//\//\\}"; }
"$wine_run" "$unpack" "$(win "$payload")" "$(win "$work/out")" > "$work/unpack.log"
code=$?
if [ $code -ne 0 ]; then
  fail "unpack7z exit $code"; cat "$work/unpack.log"
elif diff -r "$product" "$work/out" > "$work/diff.log"; then
  ok "unpack7z writes the product folder"
else
  fail "unpack7z's tree differs from the product folder"; head "$work/diff.log"
fi
entries=$(grep -c '^Path = ' <<<"$listing")
[ "$(grep -cE '^[0-9]+/[0-9]+ ' "$work/unpack.log")" -eq $((entries - 1)) ] \
  && ok "every entry reported" || fail "progress lines for $((entries - 1)) entries expected"

# The same inputs from other places, with other times and modes.
mkdir -p "$work/inputs"
cp -R "$files" "$work/inputs/files"
pairs=()
n=0
for pair in "$@"; do
  n=$((n + 1))
  cp "${pair#*=}" "$work/inputs/$n"
  pairs+=("${pair%%=*}=$work/inputs/$n")
done
find "$work/inputs" -exec touch -d '2001-02-03 04:05:06' {} +
chmod -R g+w "$work/inputs"
bash "$pack" "$work/inputs/files" "$work/stage" "$work/again.7z" "${pairs[@]}" \
  && cmp -s "$payload" "$work/again.7z" && ok "packing again gives the same bytes" \
  || fail "packing again gives other bytes"
exit $failed
