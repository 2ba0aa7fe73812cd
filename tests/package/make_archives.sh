#!/usr/bin/env bash
# Makes the package tests' archives with 7zz, each beside the tree it was made
# from, in OUT: the coders the payload uses, solid and not, empty archives,
# unusual names, and broken or unsupported archives.
set -euo pipefail
out=$1
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$out" && mkdir -p "$out"
cd "$out"

# The basic tree: nested levels, an empty file, an empty folder, text and binary.
mkdir -p basic/a/b basic/emptydir basic/docs
printf 'nested file\r\n' > basic/a/b/c.txt
: > basic/empty.txt
printf '说明文字\r\n' > basic/docs/readme.txt
python3 - <<'PY'
import random
r = random.Random(7)
open('basic/data.bin', 'wb').write(bytes(r.getrandbits(8) for _ in range(150000)))
open('basic/text.txt', 'w').write(''.join('line %d of the text asset\n' % i for i in range(4000)))
PY
cp /usr/bin/7zz basic/game.exe

pack() { # archive tree options...
  local archive=$1 tree=$2; shift 2
  (cd "$tree" && 7zz a -t7z "$@" "$out/$archive" . >/dev/null)
}
pack lzma.7z basic -m0=LZMA
pack lzma2.7z basic -m0=LZMA2
pack bcj_lzma2.7z basic -m0=BCJ -m1=LZMA2
pack bcj2.7z basic -m0=BCJ2 -m1=LZMA2 -m2=LZMA -m3=LZMA -mb0s0:1 -mb0s1:2 -mb0s2:3
pack copy.7z basic -m0=Copy
pack nonsolid.7z basic -m0=LZMA2 -ms=off
# Several solid blocks, so the one-block cache is replaced along the way,
# for every coder: blocks are decoded ahead of the entries being written.
pack blocks.7z basic -m0=LZMA2 -ms=2f
pack lzma_blocks.7z basic -m0=LZMA -ms=2f
pack bcj_blocks.7z basic -m0=BCJ -m1=LZMA2 -ms=2f
pack bcj2_blocks.7z basic -m0=BCJ2 -m1=LZMA2 -m2=LZMA -m3=LZMA -mb0s0:1 -mb0s1:2 -mb0s2:3 -ms=1f
pack copy_blocks.7z basic -m0=Copy -ms=2f
# Five blocks of data that does not compress, each read in several pieces.
mkdir -p five
python3 -c "import random; r = random.Random(5); [open('five/part%d.bin' % i, 'wb').write(r.randbytes(300000)) for i in range(5)]"
pack five_blocks.7z five -m0=LZMA2 -ms=1f
# Empty files and folders between the entries of a block and between blocks,
# and the same with its second block undecodable.
python3 "$here/make_interleaved.py" "$out"

# Blocks past the size the reader holds in memory, which it decodes as it
# writes them: one file, and one block of several files (for every coder
# that can be decoded in pieces), a copy with one byte flipped where the
# coder stores what does not compress, so that only the CRC-32 can tell,
# and a block whose coder gives more bytes than the archive says it holds.
python3 - <<'PY'
import os, random
r = random.Random(13)
os.makedirs('streamed_one', exist_ok=True)
os.makedirs('streamed_many/sub', exist_ok=True)
text = b''.join(b'row %d of a streamed table\r\n' % i for i in range(400000))
open('streamed_one/big.pak', 'wb').write(r.randbytes(24 << 20) + text)
open('streamed_many/a.bin', 'wb').write(r.randbytes(14 << 20))
open('streamed_many/b.txt', 'wb').write(text[:8 << 20])
open('streamed_many/sub/c.bin', 'wb').write(r.randbytes(14 << 20))
open('streamed_many/sub/d.txt', 'wb').write(b'the last entry\r\n')
PY
# Packing these takes most of the script's time; side by side, the others
# take little more than the longest.
packing=()
pack streamed_lzma2.7z streamed_one -m0=LZMA2 -mx=1 -md=16m & packing+=($!)
pack streamed_lzma.7z streamed_one -m0=LZMA -mx=1 -md=16m & packing+=($!)
pack streamed_many.7z streamed_many -m0=LZMA2 -mx=1 -md=16m & packing+=($!)
pack streamed_copy.7z streamed_one -m0=Copy
# One by one, so that any that failed fails the script.
for job in "${packing[@]}"; do wait "$job"; done
python3 -c "
b = bytearray(open('streamed_many.7z', 'rb').read()); b[32 + (5 << 20)] ^= 0x10
open('streamed_many_damaged.7z', 'wb').write(b)"
python3 "$here/make_interleaved.py" "$out" overlong

# An installed folder to upgrade: an archive of several solid blocks, its
# tree, and a copy of that tree where some files are as packed, one differs
# in a byte, one is missing, and others are a link, a hard link, a folder,
# or reached through a linked folder, one has the packed file's size and
# CRC-32 but other bytes, one the packed bytes with more after them. 7zz packs the files by extension, then by path,
# two to a block: one block is all in place, others mix kept and not.
python3 - <<'PY'
import os, random
r = random.Random(9)
files = {
    'asfolder.bin': r.randbytes(7000), 'gone.bin': r.randbytes(5000),
    'held.bin': r.randbytes(8000), 'hardlinked.bin': r.randbytes(4000), 'keep/deep/k3.bin': r.randbytes(9000),
    'keep/k1.bin': r.randbytes(20000), 'keep/k2.bin': r.randbytes(30000),
    'linked.bin': r.randbytes(6000), 'linkdir/inside.txt': b'reached through a linked folder\r\n',
    'mixed/m1.txt': b'kept beside a change\r\n' * 500, 'mixed/m2.txt': b'changed by one byte\r\n' * 400,
    'zz/last.txt': b'the last block, kept\r\n' * 300, 'empty.txt': b'',
    'forged.bin': r.randbytes(3000), 'appended.txt': b'longer than packed\r\n' * 100,
}
for name, data in files.items():
    os.makedirs(os.path.dirname('inplace/' + name) or 'inplace', exist_ok=True)
    open('inplace/' + name, 'wb').write(data)
PY
pack inplace.7z inplace -m0=LZMA2 -ms=2f
cp -r inplace inplace_installed
(cd inplace_installed
 python3 -c "b = bytearray(open('mixed/m2.txt', 'rb').read()); b[100] ^= 1; open('mixed/m2.txt', 'wb').write(b)"
 rm gone.bin asfolder.bin linked.bin
 mkdir asfolder.bin
 ln -s ../inplace/linked.bin linked.bin
 rm hardlinked.bin
 ln ../inplace/hardlinked.bin hardlinked.bin
 rm -r linkdir
 ln -s ../inplace/linkdir linkdir
 cat ../inplace/appended.txt > appended.txt && printf 'more\r\n' >> appended.txt
 python3 - <<'PY'
import zlib
# Other bytes of the same size whose last four bytes are chosen so that the
# CRC-32 stays: CRC-32 is affine in the bits of a message of fixed length.
data = open('forged.bin', 'rb').read()
forged = bytearray(b'planted program ' + data[16:])
def crc(b): return zlib.crc32(bytes(b))
base = crc(forged[:-4] + b'\0\0\0\0')
columns = []
for bit in range(32):
    e = bytearray(4); e[bit // 8] = 1 << (bit % 8)
    columns.append(crc(forged[:-4] + e) ^ base)
need = crc(data) ^ base
# Solve columns . x = need over GF(2) by elimination.
rows = [(columns[i], 1 << i) for i in range(32)]
basis = {}
for value, mask in rows:
    for top in sorted(basis, reverse=True):
        if value >> top & 1:
            value ^= basis[top][0]; mask ^= basis[top][1]
    if value:
        basis[value.bit_length() - 1] = (value, mask)
x, value = 0, need
for top in sorted(basis, reverse=True):
    if value >> top & 1:
        value ^= basis[top][0]; x ^= basis[top][1]
assert value == 0
forged[-4:] = x.to_bytes(4, 'little')
assert crc(forged) == crc(data) and bytes(forged) != data and len(forged) == len(data)
open('forged.bin', 'wb').write(forged)
PY
)

mkdir -p empty
pack empty.7z empty -x'!*'

# A read-only entry.
mkdir -p readonly
printf 'keep me\r\n' > readonly/locked.txt
chmod 444 readonly/locked.txt
pack readonly.7z readonly -m0=LZMA2

# Names inside GBK and outside it (Thai and an emoji have no GBK form).
mkdir -p names/棋牌
printf 'gbk\r\n' > names/棋牌/规则.txt
printf 'thai\r\n' > names/ภาษาไทย.txt
printf 'emoji\r\n' > 'names/牌😀.txt'
pack names.7z names -m0=LZMA2

# One 70 MiB file, stored, so it is written in one piece of that size.
mkdir -p big
python3 -c "import random; open('big/big.bin','wb').write(random.Random(70).randbytes(70*1024*1024))"
pack big.7z big -m0=Copy

# Broken and unsupported archives.
cp lzma2.7z damaged.7z
# Flip a byte inside the packed data, which starts right after the 32-byte header.
python3 - <<'PY'
b = bytearray(open('damaged.7z', 'rb').read())
b[32 + 1000] ^= 0xFF
open('damaged.7z', 'wb').write(b)
PY
head -c "$(( $(stat -c %s lzma2.7z) / 2 ))" lzma2.7z > truncated.7z
printf 'this is not an archive\r\n' > notarchive.7z
pack encrypted.7z basic -m0=LZMA2 -pSecret -mhe=off
pack encrypted_headers.7z basic -m0=LZMA2 -pSecret -mhe=on
pack ppmd.7z basic -m0=PPMd
chmod -R u+w readonly
