#!/usr/bin/env python3
"""Writes a game-sized product folder for the benchmark's game case: one
world archive past 4 GiB, hundreds of already-compressed media files of a
few MiB to a few tens of MiB (random bytes, as packed assets are to a
compressor), and a few thousand small scripts and tables over the same
tree as the studio-sized product, with its three programs. The same
arguments always give the same bytes.

With --mb below what a world archive past 4 GiB needs, the world archive
is 60% of the product instead: the case run small, to check the script.

usage: make_game.py FOLDER [--mb 5632] [--files 3000]
"""
import argparse
import os
import random

from make_product import WORDS, code_bytes, text_bytes

MIB = 1 << 20
# Past the 32-bit sizes, so that every byte count on the way must be 64-bit.
WORLD_SIZE = 4 * 1024 * MIB + 300 * MIB
CHUNK = 16 * MIB


def write_random(path, size, rng):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        left = size
        while left > 0:
            piece = min(CHUNK, left)
            f.write(rng.randbytes(piece))
            left -= piece


def write_bytes(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--mb", type=int, default=5632)
    parser.add_argument("--files", type=int, default=3000)
    args = parser.parse_args()
    rng = random.Random(20261209)
    total = args.mb * MIB
    world = WORLD_SIZE if total >= WORLD_SIZE + 512 * MIB else total * 6 // 10

    programs = {"Marvane.exe": 12 * MIB, "Updater.exe": 2 * MIB, "Repair.exe": 3 * MIB}
    for name, size in programs.items():
        write_bytes(os.path.join(args.folder, name), code_bytes(rng, size))
    modules = ["lobby", "table", "cards", "mahjong", "chess", "shop", "friends", "settings", "tutorial", "events"]
    # Small files: about 40 MiB of text over the tree, most under 16 KiB.
    small_budget = 0
    for i in range(args.files):
        ext = rng.choice(["lua", "lua", "xml", "json", "ini"])
        folder = {"lua": "scripts", "xml": "ui", "json": "data/tables", "ini": "config"}[ext]
        size = min(256 * 1024, max(64, int(rng.paretovariate(1.3) * 4000)))
        path = f"{folder}/{rng.choice(modules)}/{rng.choice(WORDS)}_{i:04d}.{ext}"
        write_bytes(os.path.join(args.folder, path), text_bytes(rng, size, ext))
        small_budget += size
    write_random(os.path.join(args.folder, "data", "world.pak"), world, rng)
    # The rest in media files of 1 to 48 MiB.
    left = total - world - small_budget - sum(programs.values())
    n = 0
    while left > MIB:
        size = min(left, rng.randint(1, 48) * MIB + rng.randint(0, MIB))
        kind = rng.choice(["sounds", "movies", "textures"])
        path = f"data/{kind}/{rng.choice(modules)}/{kind[:3]}_{n:04d}.{'ogg' if kind == 'sounds' else 'bik' if kind == 'movies' else 'dds'}"
        write_random(os.path.join(args.folder, path), size, rng)
        left -= size
        n += 1


if __name__ == "__main__":
    main()
