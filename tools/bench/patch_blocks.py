#!/usr/bin/env python3
"""How much of an archive an upgrade must decode: the solid blocks holding
a file that the installed folder lacks or holds with another size or CRC-32
(an upgrade can skip every other block whole).

usage: patch_blocks.py ARCHIVE INSTALLED_FOLDER
prints: touched,BLOCKS,OF_BLOCKS,MIB,OF_MIB
"""
import os
import subprocess
import sys
import zlib


def entries(archive):
    """(path, size, crc, block) of each file of the archive."""
    listing = subprocess.run(["7zz", "l", "-slt", "-scsUTF-8", archive], capture_output=True, text=True,
                             check=True).stdout
    found, item = [], {}
    for line in listing.split("\n----------\n", 1)[1].splitlines() + [""]:
        if line:
            key, _, value = line.partition(" = ")
            item[key] = value
        elif item:
            if item.get("Block"):
                found.append((item["Path"], int(item["Size"]), int(item["CRC"], 16), int(item["Block"])))
            item = {}
    return found


def in_place(folder, path, size, crc):
    full = os.path.join(folder, path)
    if not os.path.isfile(full) or os.path.getsize(full) != size:
        return False
    with open(full, "rb") as f:
        return zlib.crc32(f.read()) == crc


def main():
    archive, folder = sys.argv[1:3]
    blocks, touched = {}, set()
    for path, size, crc, block in entries(archive):
        blocks[block] = blocks.get(block, 0) + size
        if block not in touched and not in_place(folder, path, size, crc):
            touched.add(block)
    mib = 1024 * 1024
    print(f"touched,{len(touched)},{len(blocks)},{sum(blocks[b] for b in touched) / mib:.1f},"
          f"{sum(blocks.values()) / mib:.1f}")


if __name__ == "__main__":
    main()
