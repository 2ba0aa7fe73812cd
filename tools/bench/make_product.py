#!/usr/bin/env python3
"""Writes a game-like product folder for the benchmarks: executables and
DLL-like binaries, already-compressed textures and sounds, and many small
text and configuration assets over a realistic folder tree. The same
arguments always give the same bytes.

With --next, the product's next version instead, as a patch would make it
of the first: a new main program, two new libraries, one zone's textures
redrawn, twenty scripts changed across the tree, five files added and five
dropped (about 5% of the bytes).

usage: make_product.py FOLDER [--mb 200] [--files 5000] [--next]
"""
import argparse
import os
import random

WORDS = ("player table card chip board round score dealer seat rank suit hand "
         "deck shuffle bet pot raise fold check call room lobby match rule level "
         "bonus reward quest daily friend chat emote avatar frame theme sound "
         "music volume window button label value index count timer state").split()


def code_bytes(rng, size):
    """Bytes shaped like x86 code: short instruction runs with relative calls,
    so a branch filter has something to do and LZMA finds some repetition."""
    out = bytearray()
    snippets = [bytes(rng.getrandbits(8) for _ in range(rng.randint(3, 12))) for _ in range(400)]
    while len(out) < size:
        out += rng.choice(snippets)
        if rng.random() < 0.3:
            out += b"\xE8" + rng.getrandbits(32).to_bytes(4, "little")
        if rng.random() < 0.05:
            out += rng.randbytes(rng.randint(8, 64))
    return bytes(out[:size])


def text_bytes(rng, size, kind):
    lines = []
    total = 0
    n = 0
    while total < size:
        words = " ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 9)))
        if kind == "lua":
            line = f"local {rng.choice(WORDS)}_{n} = \"{words}\" -- {rng.randint(0, 99999)}\n"
        elif kind == "xml":
            line = f"<item id=\"{n}\" name=\"{rng.choice(WORDS)}\" value=\"{rng.randint(0, 9999)}\">{words}</item>\n"
        elif kind == "json":
            line = f"  {{\"id\": {n}, \"key\": \"{rng.choice(WORDS)}\", \"text\": \"{words}\"}},\n"
        else:
            line = f"{rng.choice(WORDS)}_{n}={words}\n"
        lines.append(line)
        total += len(line)
        n += 1
    return "".join(lines).encode()[:size]


def next_version(folder, files):
    """Changes the product written from files [(path, kind, size)] in folder
    into its next version; its own seed, so the first version's bytes stay
    as they are."""
    rng = random.Random(20270115)

    def write(path, data):
        full = os.path.join(folder, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
    by_path = {path: size for path, _, size in files}
    libraries = sorted(path for path, kind, _ in files if kind == "binary" and path.endswith(".dll"))
    texts = sorted(path for path, kind, _ in files if kind == "text")
    zone = sorted({path.split("/")[2] for path, kind, _ in files if kind == "texture"})[0]
    write("Marvane.exe", code_bytes(rng, by_path["Marvane.exe"] + 4096))
    for path in (libraries[len(libraries) // 3], libraries[2 * len(libraries) // 3]):
        write(path, code_bytes(rng, by_path[path]))
    for path, kind, size in files:
        if kind == "texture" and path.split("/")[2] == zone:
            write(path, rng.randbytes(size))
    # Spread over the tree: every n-th of the text files by path.
    step = len(texts) // 20
    changed, dropped = texts[step // 2::step][:20], texts[step // 2 + 1::step * 4][:5]
    for path in changed:
        write(path, text_bytes(rng, by_path[path] + 200, path.rsplit(".", 1)[1]))
    for path in dropped:
        os.remove(os.path.join(folder, path))
    for i, path in enumerate(["scripts/events/patch_notes.lua", "ui/events/banner.xml", "data/tables/season.json",
                              "config/events/season.ini", f"data/textures/{zone}/ui/tex_new.png"]):
        write(path, rng.randbytes(300_000) if path.endswith(".png") else
              text_bytes(rng, 5000 + 1000 * i, path.rsplit(".", 1)[1]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--mb", type=int, default=200)
    parser.add_argument("--files", type=int, default=5000)
    parser.add_argument("--next", action="store_true", help="the product's next version")
    args = parser.parse_args()
    rng = random.Random(20261208)
    total_bytes = args.mb * 1024 * 1024

    # Shares of the size and of the file count per kind of asset.
    plan = [  # (kind, size share, file share)
        ("binary", 0.20, 0.012),
        ("texture", 0.45, 0.12),
        ("sound", 0.15, 0.03),
        ("text", 0.20, 0.838),
    ]
    modules = ["lobby", "table", "cards", "mahjong", "chess", "shop", "friends", "settings", "tutorial", "events"]
    files = []
    for kind, size_share, file_share in plan:
        count = max(1, round(args.files * file_share))
        budget = total_bytes * size_share
        weights = [rng.paretovariate(1.5) for _ in range(count)]
        scale = budget / sum(weights)
        for i in range(count):
            size = max(1, int(weights[i] * scale))
            module = rng.choice(modules)
            if kind == "binary":
                ext = "exe" if i < 3 else "dll"
                path = f"bin/{module}_{i}.{ext}" if ext == "dll" else f"{['Marvane', 'Updater', 'Repair'][i]}.exe"
            elif kind == "texture":
                path = f"data/textures/{module}/{rng.choice(['ui', 'cards', 'boards', 'fx'])}/tex_{i:04d}.{rng.choice(['png', 'dds'])}"
            elif kind == "sound":
                path = f"data/sounds/{module}/snd_{i:04d}.ogg"
            else:
                ext = rng.choice(["lua", "lua", "xml", "json", "ini"])
                folder = {"lua": "scripts", "xml": "ui", "json": "data/tables", "ini": "config"}[ext]
                path = f"{folder}/{module}/{rng.choice(WORDS)}_{i:04d}.{ext}"
            files.append((path, kind, size))

    for path, kind, size in files:
        full = os.path.join(args.folder, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        if kind == "binary":
            data = code_bytes(rng, size)
        elif kind in ("texture", "sound"):
            data = rng.randbytes(size)
        else:
            data = text_bytes(rng, size, path.rsplit(".", 1)[1])
        with open(full, "wb") as f:
            f.write(data)
    if args.next:
        next_version(args.folder, files)


if __name__ == "__main__":
    main()
