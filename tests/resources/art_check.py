#!/usr/bin/env python3
"""The built pictures are what tools/make_art.py draws, byte for byte on a
second run, and an independent decoder (ImageMagick) reads back the pixels
that were drawn. Leaves the side picture's drawn pixels for the Wine test.

    art_check.py MAKE_ART BUILT_FOLDER FIXTURES_FOLDER
"""

import importlib.util
import os
import subprocess
import sys
import tempfile

make_art_path, built, fixtures = sys.argv[1:4]
spec = importlib.util.spec_from_file_location("make_art", make_art_path)
make_art = importlib.util.module_from_spec(spec)
spec.loader.exec_module(make_art)

failures = []


def check(condition, text):
    print(("ok   " if condition else "FAIL ") + text)
    if not condition:
        failures.append(text)


def decoded(path, fmt):
    """The file's pixels as ImageMagick reads them, top row first."""
    return subprocess.run(["convert", path, "-depth", "8", fmt + ":-"], check=True,
                          stdout=subprocess.PIPE).stdout


names = sorted(make_art.PICTURES)
with tempfile.TemporaryDirectory() as first, tempfile.TemporaryDirectory() as second:
    for folder in (first, second):
        subprocess.run([sys.executable, make_art_path, folder], check=True)
    for name in names:
        a = open(os.path.join(first, name), "rb").read()
        b = open(os.path.join(second, name), "rb").read()
        check(a == b, name + ": two runs write the same bytes")
        check(a == open(os.path.join(built, name), "rb").read(), name + ": the build's copy is current")

# What each picture should decode to, at 100% and at 200%. The side
# picture's colours are its palette entries, so its expectation goes through
# the same quantisation.
for suffix, scale in (("", 1.0), ("-200", 2.0)):
    palette, rows = make_art.indexed(make_art.draw_side(scale))
    pixels = bytes(channel for row in rows for index in row for channel in palette[index])
    check(decoded(os.path.join(built, f"side{suffix}.bmp"), "rgb") == pixels,
          f"side{suffix}.bmp: decodes to the drawing in its palette")
    if scale == 1.0:
        side = pixels
    for name, draw in (("header", make_art.draw_header), ("folder", make_art.draw_folder)):
        pixels = bytes(channel for pixel in draw(scale).rgb() for channel in pixel)
        check(decoded(os.path.join(built, f"{name}{suffix}.bmp"), "rgb") == pixels,
              f"{name}{suffix}.bmp: decodes to the drawing")

# The icon at each size: clear outside the rounded tile, opaque inside it,
# the card at the top left and the red chip at the bottom right (rows not
# upside down). Places are on the icon's 32 units.
for number, size in enumerate(make_art.ICON_SIZES):
    icon = decoded(os.path.join(built, f"app.ico[{number}]"), "rgba")
    check(len(icon) == size * size * 4, f"app.ico: image {number + 1} is {size} x {size}")

    def pixel(x, y):
        x, y = int(x * size / 32), int(y * size / 32)
        return tuple(icon[(y * size + x) * 4:(y * size + x) * 4 + 4])

    check(pixel(0, 0)[3] == 0 and pixel(31, 31)[3] == 0, f"app.ico, {size}: the corners are clear")
    check(all(pixel(x, y)[3] == 255 for x, y in ((16, 16), (2, 16), (16, 29))), f"app.ico, {size}: the tile is opaque")
    r, g, b, _ = pixel(22, 23)
    check(r > 150 and g < 90 and b < 90, f"app.ico, {size}: the red chip is at the bottom right")
    r, g, b, _ = pixel(9, 8)
    check(min(r, g, b) > 200, f"app.ico, {size}: the white card is at the top left")

os.makedirs(fixtures, exist_ok=True)
with open(os.path.join(fixtures, "side.rgb"), "wb") as f:
    f.write(side)
sys.exit(1 if failures else 0)
