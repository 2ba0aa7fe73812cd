#!/usr/bin/env bash
# Archives with hostile entry names, made by 7zz renaming a stored entry, go
# through the package reader on a drive of their own: first hostile_names_test
# (Decode, one archive a name), then unpack7z on one of them, which must exit 1
# with the log text and leave the drive as it was.
#   hostile_names.sh BUILD TEST.EXE UNPACK7Z.EXE
set -euo pipefail
build=$1 test_exe=$2 unpack7z=$3

. "$(dirname "$0")/../../tools/wine-session.sh"
wine_fresh_scratch_drive "$build/tests/hostile-names-wine" bin hostile/archives
drive=$WINE_SCRATCH_DRIVE
cp "$test_exe" "$unpack7z" "$drive/bin/"

# Names that climb out ("..", and what Windows trims to it), are rooted or
# name a drive, a share, a stream or a device (with an extension too).
names=('../evil.txt' '..\evil.txt' 'x/../../evil.txt' 'a\..\..\evil.txt' '.. /evil.txt' '../棋牌.txt'
       '/evil.txt' '\evil.txt' 'C:evil.txt' 'C:\evil.txt' '\\server\share\evil.txt' 'a.txt:stream'
       'CON' 'nul.txt' 'COM1.log' '...' ' . ' 'a/. ./evil.txt')
work=$(mktemp -d)
trap 'rm -rf "$work"; wine_session_stop' EXIT
printf 'hostile\r\n' > "$work/a.txt"
: > "$drive/hostile/names.txt"
i=0
for name in "${names[@]}"; do
  i=$((i + 1))
  (cd "$work" && 7zz a -t7z "$drive/hostile/archives/$i.7z" a.txt >/dev/null)
  7zz rn "$drive/hostile/archives/$i.7z" a.txt "$name" >/dev/null
  if ! 7zz l -slt "$drive/hostile/archives/$i.7z" | grep -qxF "Path = $name"; then
    echo "FAIL 7zz did not store the name '$name'"; exit 1
  fi
  printf '%s\n' "$name" >> "$drive/hostile/names.txt"
done

wine_server_up 5
status=0
(cd "$drive/bin" && wine "D:\\bin\\$(basename "$test_exe")" </dev/null) || status=$?

# unpack7z on the first archive: exit 1, the log text, and nothing new on the
# drive but the folder it was told to make.
snapshot() { (cd "$drive" && find . -path ./hostile/unpack7z -prune -o -printf '%p %s\n' | sort); }
before=$(snapshot)
code=0
out=$(cd "$drive/bin" && wine "D:\\bin\\$(basename "$unpack7z")" 'D:\hostile\archives\1.7z' 'D:\hostile\unpack7z' \
      </dev/null) || code=$?
if [ $code -ne 1 ]; then echo "FAIL unpack7z: exit $code, expected 1"; status=1; fi
if ! grep -qxF '包内文件名非法:../evil.txt' <<<"$out"; then echo "FAIL unpack7z: no refusal in: $out"; status=1; fi
if [ "$(snapshot)" != "$before" ] || [ -n "$(ls -A "$drive/hostile/unpack7z")" ]; then
  echo "FAIL unpack7z wrote something:"; diff <(echo "$before") <(snapshot) || true; status=1
fi
[ $status -eq 0 ] && echo "ok   unpack7z refuses ../evil.txt (exit 1)"
exit $status
