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

# What each picture should decode to. The side picture's colours are its
# palette entries, so its expectation goes through the same quantisation.
palette, rows = make_art.indexed(make_art.draw_side())
side = bytes(channel for row in rows for index in row for channel in palette[index])
check(decoded(os.path.join(built, "side.bmp"), "rgb") == side, "side.bmp: decodes to the drawing in its palette")
for name, draw in (("header.bmp", make_art.draw_header), ("folder.bmp", make_art.draw_folder)):
    pixels = bytes(channel for pixel in draw().rgb() for channel in pixel)
    check(decoded(os.path.join(built, name), "rgb") == pixels, name + ": decodes to the drawing")

# The icon: clear outside the rounded tile, opaque inside it, the card at
# the top left and the red chip at the bottom right (rows not upside down).
icon = decoded(os.path.join(built, "app.ico"), "rgba")
check(len(icon) == 32 * 32 * 4, "app.ico: one 32 x 32 image")


def pixel(x, y):
    return tuple(icon[(y * 32 + x) * 4:(y * 32 + x) * 4 + 4])


check(pixel(0, 0)[3] == 0 and pixel(31, 31)[3] == 0, "app.ico: the corners are clear")
check(all(pixel(x, y)[3] == 255 for x, y in ((16, 16), (2, 16), (16, 29))), "app.ico: the tile is opaque")
r, g, b, _ = pixel(22, 23)
check(r > 150 and g < 90 and b < 90, "app.ico: the red chip is at the bottom right")
r, g, b, _ = pixel(9, 8)
check(min(r, g, b) > 200, "app.ico: the white card is at the top left")

os.makedirs(fixtures, exist_ok=True)
with open(os.path.join(fixtures, "side.rgb"), "wb") as f:
    f.write(side)
sys.exit(1 if failures else 0)
