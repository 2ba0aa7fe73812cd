#!/usr/bin/env python3
"""Writes 7z archives whose entries without data (empty files, folders) stand
between the entries of a solid block and between blocks, which 7zz never
makes (it puts them first). Two LZMA2 blocks; the damaged copy has an
invalid first chunk in its second block, so that block cannot be decoded.

usage: make_interleaved.py OUT_DIR   writes interleaved.7z, interleaved_damaged.7z
and the tree interleaved/ that 7zz x must give;
make_interleaved.py OUT_DIR overlong   writes streamed_overlong.7z."""
import lzma
import os
import random
import struct
import sys
import zlib


def number(n):
    for extra in range(9):
        if extra == 8 or n < 1 << (7 * (extra + 1)):
            first = (0xFF << (8 - extra)) & 0xFF | (n >> (8 * extra)) if extra < 8 else 0xFF
            return bytes([first]) + (n & ((1 << (8 * extra)) - 1)).to_bytes(extra, "little")


def bits(flags):
    out = bytearray((len(flags) + 7) // 8)
    for i, flag in enumerate(flags):
        if flag:
            out[i // 8] |= 0x80 >> (i % 8)
    return bytes(out)


def prop(kind, payload):
    return bytes([kind]) + number(len(payload)) + payload


def main():
    out = sys.argv[1]
    rng = random.Random(11)
    text = "".join(f"line {i} of an interleaved entry\n" for i in range(3000)).encode()
    # (name, data or None for an empty file, "dir" for a folder, block)
    entries = [
        ("dir1", "dir", None),
        ("dir1/a.bin", rng.randbytes(40000), 0),
        ("dir1/empty1.txt", b"", None),
        ("b.txt", text, 0),
        ("emptydir", "dir", None),
        ("c.bin", rng.randbytes(30000) + text, 1),
        ("empty2.txt", b"", None),
        ("d.txt", text[::-1], 1),
        ("empty3.txt", b"", None),
    ]
    tree = os.path.join(out, "interleaved")
    os.makedirs(tree, exist_ok=True)
    for name, data, _ in entries:
        path = os.path.join(tree, name)
        if data == "dir":
            os.makedirs(path, exist_ok=True)
        else:
            with open(path, "wb") as f:
                f.write(data)

    blocks = [[d for _, d, b in entries if b == k] for k in (0, 1)]
    packed = [lzma.compress(b"".join(files), format=lzma.FORMAT_RAW,
                            filters=[{"id": lzma.FILTER_LZMA2, "dict_size": 1 << 21}]) for files in blocks]

    folders = b""
    for _ in blocks:
        # One coder: LZMA2 (id 21), one property byte (dictionary 2 MiB).
        folders += number(1) + bytes([0x20 | 1, 0x21]) + number(1) + bytes([18])
    header = b"\x01\x04"
    header += b"\x06" + number(0) + number(len(packed)) + b"\x09" + b"".join(number(len(p)) for p in packed) + b"\x00"
    header += b"\x07\x0B" + number(len(blocks)) + b"\x00" + folders
    header += b"\x0C" + b"".join(number(sum(len(d) for d in files)) for files in blocks) + b"\x00"
    header += b"\x08\x0D" + b"".join(number(len(files)) for files in blocks)
    header += b"\x09" + b"".join(number(len(d)) for files in blocks for d in files[:-1])
    header += b"\x0A\x01" + b"".join(struct.pack("<I", zlib.crc32(d)) for files in blocks for d in files)
    header += b"\x00\x00"
    empty_stream = [b is None for _, _, b in entries]
    empty_file = [d != "dir" for _, d, b in entries if b is None]
    names = b"\x00" + b"".join(n.encode("utf-16-le") + b"\x00\x00" for n, _, _ in entries)
    header += b"\x05" + number(len(entries))
    header += prop(0x0E, bits(empty_stream)) + prop(0x0F, bits(empty_file)) + prop(0x11, names) + b"\x00\x00"

    for name, second_block in (("interleaved.7z", packed[1]), ("interleaved_damaged.7z", b"\x03" + packed[1][1:])):
        body = packed[0] + second_block
        tail = struct.pack("<QQI", len(body), len(header), zlib.crc32(header))
        with open(os.path.join(out, name), "wb") as f:
            f.write(b"7z\xBC\xAF\x27\x1C\x00\x04" + struct.pack("<I", zlib.crc32(tail)) + tail + body + header)


def overlong():
    """streamed_overlong.7z: one LZMA2 block past the size the reader holds in
    memory, of one entry, whose coder gives 4096 bytes more than the archive
    says the block and the entry hold (the entry's CRC-32 is of the bytes it
    says it holds)."""
    out = sys.argv[1]
    text = b"".join(b"row %d of an entry longer than it says\r\n" % i for i in range(900000))
    said = len(text) - 4096
    packed = lzma.compress(text, format=lzma.FORMAT_RAW,
                           filters=[{"id": lzma.FILTER_LZMA2, "preset": 0, "dict_size": 1 << 20}])
    header = b"\x01\x04"
    header += b"\x06" + number(0) + number(1) + b"\x09" + number(len(packed)) + b"\x00"
    header += b"\x07\x0B" + number(1) + b"\x00" + number(1) + bytes([0x20 | 1, 0x21]) + number(1) + bytes([16])
    header += b"\x0C" + number(said) + b"\x00"
    header += b"\x08\x0A\x01" + struct.pack("<I", zlib.crc32(text[:said])) + b"\x00\x00"
    names = b"\x00" + "long.txt".encode("utf-16-le") + b"\x00\x00"
    header += b"\x05" + number(1) + prop(0x11, names) + b"\x00\x00"
    tail = struct.pack("<QQI", len(packed), len(header), zlib.crc32(header))
    with open(os.path.join(out, "streamed_overlong.7z"), "wb") as f:
        f.write(b"7z\xBC\xAF\x27\x1C\x00\x04" + struct.pack("<I", zlib.crc32(tail)) + tail + packed + header)


if __name__ == "__main__":
    if sys.argv[2:] == ["overlong"]:
        overlong()
    else:
        main()
