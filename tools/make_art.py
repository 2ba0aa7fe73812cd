#!/usr/bin/env python3
"""Draws the setup wizard's pictures and its icon and writes them as BMP/ICO.

    make_art.py OUTPUT_FOLDER

writes into OUTPUT_FOLDER:

    side.bmp    164 x 290, 8 bits per pixel, palette, BI_RGB    (bitmap 129)
    header.bmp   53 x 49, 32 bits per pixel, BI_RGB, opaque      (bitmap 131)
    folder.bmp   25 x 34, 24 bits per pixel, BI_RGB              (bitmap 132)
    side-200.bmp, header-200.bmp, folder-200.bmp: the same, twice as large,
                 for 200% display scale          (bitmaps 2129, 2131, 2132)
    app.ico      16 to 64 pixels square, 32 bits per pixel with alpha (icon 128)

Everything is drawn here, and written through Pillow: shapes are signed
distance functions, painted with one pixel of anti-aliasing, composited in
floating point and rounded once at the end. There is no randomness other than
a fixed integer hash, so the same script always writes the same bytes.

The pictures sit on fixed backgrounds in the wizard: the side and header
pictures on white, the folder picture on the dialog's face colour. Their
edges are blended into those colours here, because a bitmap static control
draws them opaque.
"""

import io
import math
import os
import struct
import sys

from PIL import Image

WHITE = (255.0, 255.0, 255.0)
# The classic dialog face of the Windows versions the installer targets.
DIALOG_FACE = (240.0, 240.0, 240.0)


# ---------------------------------------------------------------- shapes --
#
# A shape is (sdf, bbox): sdf(x, y) is the signed distance in pixels from the
# point to the shape's outline (negative inside), bbox is (x0, y0, x1, y1).


def circle(cx, cy, r):
    def sdf(x, y):
        return math.hypot(x - cx, y - cy) - r
    return sdf, (cx - r, cy - r, cx + r, cy + r)


def ellipse(cx, cy, rx, ry):
    m = min(rx, ry)

    def sdf(x, y):
        # Scaled distance: exact on the axes, close enough elsewhere for a
        # one-pixel edge.
        return (math.hypot((x - cx) / rx, (y - cy) / ry) - 1.0) * m
    return sdf, (cx - rx, cy - ry, cx + rx, cy + ry)


def box(cx, cy, hw, hh, r=0.0):
    """An axis-aligned rectangle of half sizes hw, hh with corner radius r."""
    def sdf(x, y):
        qx = abs(x - cx) - (hw - r)
        qy = abs(y - cy) - (hh - r)
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r
    return sdf, (cx - hw, cy - hh, cx + hw, cy + hh)


def segment(ax, ay, bx, by, width):
    hw = width / 2.0
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy or 1e-9

    def sdf(x, y):
        t = ((x - ax) * dx + (y - ay) * dy) / length2
        t = 0.0 if t < 0.0 else 1.0 if t > 1.0 else t
        return math.hypot(x - ax - t * dx, y - ay - t * dy) - hw
    return sdf, (min(ax, bx) - hw, min(ay, by) - hw, max(ax, bx) + hw, max(ay, by) + hw)


def polygon(points):
    n = len(points)

    def sdf(x, y):
        best = float("inf")
        inside = False
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            dx, dy = bx - ax, by - ay
            length2 = dx * dx + dy * dy or 1e-9
            t = ((x - ax) * dx + (y - ay) * dy) / length2
            t = 0.0 if t < 0.0 else 1.0 if t > 1.0 else t
            best = min(best, math.hypot(x - ax - t * dx, y - ay - t * dy))
            if (ay > y) != (by > y) and x < ax + (y - ay) * dx / (by - ay):
                inside = not inside
        return -best if inside else best
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return sdf, (min(xs), min(ys), max(xs), max(ys))


def polyline(points, width):
    return union(*[segment(a[0], a[1], b[0], b[1], width) for a, b in zip(points, points[1:])])


def union(*shapes):
    sdfs = [s[0] for s in shapes]

    def sdf(x, y):
        return min(f(x, y) for f in sdfs)
    return sdf, (min(s[1][0] for s in shapes), min(s[1][1] for s in shapes),
                 max(s[1][2] for s in shapes), max(s[1][3] for s in shapes))


def intersect(a, b):
    fa, fb = a[0], b[0]
    ba, bb = a[1], b[1]
    return (lambda x, y: max(fa(x, y), fb(x, y)),
            (max(ba[0], bb[0]), max(ba[1], bb[1]), min(ba[2], bb[2]), min(ba[3], bb[3])))


def subtract(a, b):
    fa, fb = a[0], b[0]
    return (lambda x, y: max(fa(x, y), -fb(x, y))), a[1]


def outline(shape, width):
    """The band of the given width centred on the shape's edge."""
    f, (x0, y0, x1, y1) = shape
    hw = width / 2.0
    return (lambda x, y: abs(f(x, y)) - hw), (x0 - hw, y0 - hw, x1 + hw, y1 + hw)


def grow(shape, amount):
    f, (x0, y0, x1, y1) = shape
    return (lambda x, y: f(x, y) - amount), (x0 - amount, y0 - amount, x1 + amount, y1 + amount)


class Frame:
    """A local coordinate frame: origin (ox, oy), rotated by angle degrees,
    scaled by scale. Shapes built in it are placed on the canvas."""

    def __init__(self, ox, oy, angle=0.0, scale=1.0):
        self.ox, self.oy, self.scale = ox, oy, scale
        a = math.radians(angle)
        self.c, self.s = math.cos(a), math.sin(a)

    def to_canvas(self, x, y):
        x, y = x * self.scale, y * self.scale
        return self.ox + x * self.c - y * self.s, self.oy + x * self.s + y * self.c

    def to_local(self, x, y):
        dx, dy = x - self.ox, y - self.oy
        return (dx * self.c + dy * self.s) / self.scale, (-dx * self.s + dy * self.c) / self.scale

    def place(self, shape):
        f, (x0, y0, x1, y1) = shape
        corners = [self.to_canvas(x, y) for x, y in ((x0, y0), (x1, y0), (x0, y1), (x1, y1))]
        scale = self.scale

        def sdf(x, y):
            lx, ly = self.to_local(x, y)
            return f(lx, ly) * scale
        return sdf, (min(c[0] for c in corners), min(c[1] for c in corners),
                     max(c[0] for c in corners), max(c[1] for c in corners))

    def colour(self, fn):
        """A colour function written in local coordinates, for the canvas."""
        return lambda x, y: fn(*self.to_local(x, y))

    def sub(self, x, y, angle=0.0, scale=1.0):
        ox, oy = self.to_canvas(x, y)
        return Frame(ox, oy, math.degrees(math.atan2(self.s, self.c)) + angle, self.scale * scale)


# ---------------------------------------------------------------- canvas --


def mix(a, b, t):
    return (a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t)


def noise(x, y, seed):
    """A fixed integer hash of a pixel position, in [0, 1)."""
    n = (x * 374761393 + y * 668265263 + seed * 2246822519) & 0xFFFFFFFF
    n = ((n ^ (n >> 13)) * 1274126177) & 0xFFFFFFFF
    return ((n ^ (n >> 16)) & 0xFFFF) / 65536.0


class Canvas:
    """width x height units of drawing, scale pixels to the unit: the same
    drawing at 1x, 1.5x or 2x is drawn anew at each, not stretched."""

    def __init__(self, width, height, background, scale=1.0):
        self.width, self.height, self.scale = width, height, scale
        self.pixel_width, self.pixel_height = round(width * scale), round(height * scale)
        count = self.pixel_width * self.pixel_height
        self.red = [background[0]] * count
        self.green = [background[1]] * count
        self.blue = [background[2]] * count
        self.alpha = None

    def paint(self, shape, colour, opacity=1.0, soft=1.0):
        """Composites colour (a tuple or a function of x, y) over the shape.
        soft widens the anti-aliased edge, for shadows and glows: a blur in
        the drawing's units, while a plain edge stays one pixel wide."""
        f, (x0, y0, x1, y1) = shape
        s = self.scale
        edge = soft if soft <= 1.0 else soft * s
        margin = edge / 2.0 + 1.0
        ix0 = max(0, int(math.floor(x0 * s - margin)))
        iy0 = max(0, int(math.floor(y0 * s - margin)))
        ix1 = min(self.pixel_width, int(math.ceil(x1 * s + margin)))
        iy1 = min(self.pixel_height, int(math.ceil(y1 * s + margin)))
        solid = not callable(colour)
        for y in range(iy0, iy1):
            row = y * self.pixel_width
            py = (y + 0.5) / s
            for x in range(ix0, ix1):
                px = (x + 0.5) / s
                a = 0.5 - f(px, py) * s / edge
                if a <= 0.0:
                    continue
                a = (1.0 if a > 1.0 else a) * opacity
                c = colour if solid else colour(px, py)
                i = row + x
                self.red[i] += (c[0] - self.red[i]) * a
                self.green[i] += (c[1] - self.green[i]) * a
                self.blue[i] += (c[2] - self.blue[i]) * a
                if self.alpha is not None:
                    self.alpha[i] += (255.0 - self.alpha[i]) * a

    def fill(self, colour):
        self.paint(box(self.width / 2.0, self.height / 2.0, self.width, self.height), colour)

    def rgb(self):
        """The pixels top row first, as (r, g, b) byte triples."""
        def byte(v):
            v = int(math.floor(v + 0.5))
            return 0 if v < 0 else 255 if v > 255 else v
        return [(byte(r), byte(g), byte(b)) for r, g, b in zip(self.red, self.green, self.blue)]

    def alpha_bytes(self):
        return [max(0, min(255, int(math.floor(a + 0.5)))) for a in self.alpha]


def shadow(canvas, shape, dx, dy, blur, opacity):
    f, (x0, y0, x1, y1) = shape
    moved = (lambda x, y: f(x - dx, y - dy)), (x0 + dx, y0 + dy, x1 + dx, y1 + dy)
    canvas.paint(moved, (0.0, 0.0, 0.0), opacity, soft=blur)


# ----------------------------------------------------------------- motifs --
#
# Suits and card letters in unit size: a suit fits a 1 x 1 square centred on
# the origin; a letter stands in the box x 0..0.7, y 0..1 (y grows down).


def heart():
    return union(circle(-0.245, -0.17, 0.265), circle(0.245, -0.17, 0.265),
                 polygon([(-0.5, -0.09), (0.5, -0.09), (0.0, 0.47)]))


def spade():
    body = union(circle(-0.235, 0.08, 0.235), circle(0.235, 0.08, 0.235),
                 polygon([(-0.46, 0.13), (0.46, 0.13), (0.0, -0.47)]))
    stem = polygon([(0.0, 0.05), (-0.17, 0.47), (0.17, 0.47)])
    return union(body, stem)


def diamond():
    return polygon([(0.0, -0.5), (0.37, 0.0), (0.0, 0.5), (-0.37, 0.0)])


def club():
    return union(circle(0.0, -0.22, 0.21), circle(-0.23, 0.09, 0.21), circle(0.23, 0.09, 0.21),
                 circle(0.0, 0.02, 0.12), polygon([(0.0, 0.0), (-0.15, 0.47), (0.15, 0.47)]))


SUITS = {"S": spade, "H": heart, "D": diamond, "C": club}
RED = (200.0, 24.0, 38.0)
BLACK = (24.0, 24.0, 30.0)
SUIT_COLOUR = {"S": BLACK, "C": BLACK, "H": RED, "D": RED}


def letter(ch, width):
    if ch == "A":
        return union(polyline([(0.02, 1.0), (0.35, 0.0), (0.68, 1.0)], width),
                     segment(0.15, 0.64, 0.55, 0.64, width))
    if ch == "K":
        return union(segment(0.06, 0.0, 0.06, 1.0, width), segment(0.64, 0.0, 0.1, 0.58, width),
                     segment(0.26, 0.4, 0.66, 1.0, width))
    if ch == "Q":
        return union(outline(ellipse(0.35, 0.48, 0.31, 0.47), width), segment(0.4, 0.72, 0.7, 1.04, width))
    if ch == "J":
        arc = [(0.3 + 0.26 * math.cos(math.radians(a)), 0.72 + 0.26 * math.sin(math.radians(a)))
               for a in range(0, 181, 20)]
        return union(segment(0.56, 0.0, 0.56, 0.72, width), polyline(arc, width))
    raise ValueError(ch)


# ------------------------------------------------------------------ props --


def draw_card(canvas, frame, hw, hh, rank, suit, shadow_opacity=0.45, index=None):
    """A playing card of half sizes hw, hh centred on the frame's origin.
    index is the corner letter's height in pixels (0: no corner index, for
    cards too small to read one); by default a quarter of the half height."""
    radius = hw * 0.16
    body = frame.place(box(0.0, 0.0, hw, hh, radius))
    shadow(canvas, body, 1.5 * frame.scale, 2.5 * frame.scale, 5.0 * frame.scale, shadow_opacity)
    face = frame.colour(lambda x, y: mix((255.0, 254.0, 250.0), (232.0, 230.0, 224.0), (y + hh) / (2 * hh)))
    canvas.paint(body, face)
    canvas.paint(frame.place(outline(box(0.0, 0.0, hw - 0.4, hh - 0.4, radius), 0.8)), (150.0, 150.0, 150.0))

    colour = SUIT_COLOUR[suit]
    make_suit = SUITS[suit]
    size = hh * 0.24 if index is None else index
    if size:
        # Corner indices: letter and small suit, at the top left and, turned
        # half round, at the bottom right.
        stroke = max(1.0, size * 0.14) / size
        inset_x, inset_y = max(hw * 0.14, 1.5), max(hh * 0.08, 1.5)
        for turn in (0.0, 180.0):
            corner = frame.sub(0.0, 0.0, turn)
            canvas.paint(corner.sub(-hw + inset_x, -hh + inset_y, 0.0, size).place(letter(rank, stroke)),
                         colour)
            canvas.paint(corner.sub(-hw + inset_x + size * 0.35, -hh + inset_y + size * 1.55, 0.0,
                                    size * 0.8).place(make_suit()), colour)
    # The ace's one big pip.
    pip = frame.sub(0.0, hh * 0.02, 0.0, hw * (1.05 if size else 1.3))
    canvas.paint(pip.place(make_suit()), colour)


def chip_face(canvas, cx, cy, rx, ry, colour, stripe=(250.0, 248.0, 240.0), emblem=None):
    """The top face of a chip: a coloured disc with the classic rim inserts,
    an inner ring and an emblem, squashed vertically by ry / rx."""
    frame_scale = rx
    flat = ry / rx
    dark = mix(colour, (0.0, 0.0, 0.0), 0.35)

    def squash(shape):
        # Shapes drawn in a unit disc, then squashed into the ellipse.
        f, (x0, y0, x1, y1) = shape

        def sdf(x, y):
            return f((x - cx) / frame_scale, (y - cy) / (frame_scale * flat)) * frame_scale * (0.5 + flat / 2)
        return sdf, (cx + x0 * frame_scale, cy + y0 * frame_scale * flat,
                     cx + x1 * frame_scale, cy + y1 * frame_scale * flat)

    light = mix(colour, WHITE, 0.18)
    canvas.paint(squash(circle(0.0, 0.0, 1.0)),
                 lambda x, y: mix(light, colour, min(1.0, math.hypot((x - cx + rx * 0.4) / rx,
                                                                     (y - cy + ry * 0.4) / ry) / 1.5)))
    ring = subtract(circle(0.0, 0.0, 0.97), circle(0.0, 0.0, 0.72))
    for k in range(6):
        a = math.radians(k * 60.0 + 15.0)
        wedge = polygon([(0.0, 0.0), (1.2 * math.cos(a - 0.26), 1.2 * math.sin(a - 0.26)),
                         (1.2 * math.cos(a + 0.26), 1.2 * math.sin(a + 0.26))])
        canvas.paint(squash(intersect(ring, wedge)), stripe)
    canvas.paint(squash(outline(circle(0.0, 0.0, 0.62), 0.05)), stripe, 0.9)
    canvas.paint(squash(outline(circle(0.0, 0.0, 0.985), 0.03)), dark, 0.8)
    if emblem:
        canvas.paint(squash(Frame(0.0, 0.0, 0.0, 0.62).place(SUITS[emblem]())), stripe)


def chip_stack(canvas, cx, base, rx, ry, thickness, count, colour):
    """A stack of chips seen from slightly above; base is the bottom chip's
    lower face centre."""
    side = mix(colour, (0.0, 0.0, 0.0), 0.3)
    shadow(canvas, ellipse(cx + 2.0, base + 1.5, rx + 1.0, ry + 0.5), 0.0, 0.0, 6.0, 0.5)
    for k in range(count):
        bottom = base - k * thickness
        top = bottom - thickness
        band = union(ellipse(cx, bottom, rx, ry), box(cx, (top + bottom) / 2.0, rx, thickness / 2.0))
        canvas.paint(band, lambda x, y: mix(side, mix(side, (0.0, 0.0, 0.0), 0.45),
                                            abs(x - cx) / rx))
        # The white inserts show on the band as short stripes, narrower
        # towards the sides.
        for j in range(-2, 3):
            a = j * 0.62 + (k % 2) * 0.31
            if abs(a) > 1.3:
                continue
            sx = cx + rx * math.sin(a)
            half = max(0.4, 1.6 * math.cos(a))
            stripe = intersect(band, box(sx, (top + bottom) / 2.0 + ry * math.cos(a) * 0.5, half, thickness))
            canvas.paint(stripe, (236.0, 232.0, 222.0), 0.95)
        canvas.paint(outline(ellipse(cx, top, rx, ry), 0.6), mix(side, (0.0, 0.0, 0.0), 0.3), 0.6)
    chip_face(canvas, cx, base - count * thickness, rx, ry, colour)


def stone(canvas, cx, cy, r, black):
    shadow(canvas, circle(cx, cy, r), 0.8, 1.4, 2.2, 0.55)
    if black:
        hi, lo = (110.0, 110.0, 118.0), (12.0, 12.0, 16.0)
    else:
        hi, lo = (255.0, 255.0, 255.0), (196.0, 194.0, 186.0)
    canvas.paint(circle(cx, cy, r),
                 lambda x, y: mix(hi, lo, min(1.0, math.hypot(x - cx + r * 0.35, y - cy + r * 0.4) / (r * 1.55))))


def draw_board(canvas, frame, hw, hh, lines, spacing, stones):
    body = frame.place(box(0.0, 0.0, hw, hh, 3.0))
    shadow(canvas, body, 2.0, 3.0, 7.0, 0.55)
    # A side edge below the top face gives the board its thickness.
    canvas.paint(frame.place(box(0.0, 3.0, hw, hh, 3.0)), (120.0, 78.0, 38.0))

    def wood(x, y):
        grain = math.sin(x * 0.55 + 3.0 * math.sin(y * 0.11) + 0.8 * math.sin(x * 0.09 + y * 0.05))
        streak = 0.5 + 0.5 * grain
        base = mix((222.0, 178.0, 112.0), (196.0, 146.0, 80.0), streak * 0.7)
        return mix(base, (236.0, 198.0, 138.0), max(0.0, 1.0 - math.hypot(x + hw * 0.3, y + hh * 0.6) / (hw * 1.4)) * 0.6)
    canvas.paint(body, frame.colour(wood))
    canvas.paint(frame.place(outline(box(0.0, 0.0, hw - 0.5, hh - 0.5, 3.0), 1.0)), (150.0, 102.0, 52.0), 0.8)

    half = (lines - 1) * spacing / 2.0
    ink = (70.0, 44.0, 22.0)
    for i in range(lines):
        p = -half + i * spacing
        canvas.paint(frame.place(segment(p, -half, p, half, 0.9)), ink, 0.85)
        canvas.paint(frame.place(segment(-half, p, half, p, 0.9)), ink, 0.85)
    for sx, sy in ((2, 2), (2, 6), (6, 2), (6, 6), (4, 4)):
        if sx < lines and sy < lines:
            canvas.paint(frame.place(circle(-half + sx * spacing, -half + sy * spacing, 1.6)), ink)
    for gx, gy, black in stones:
        x, y = frame.to_canvas(-half + gx * spacing, -half + gy * spacing)
        stone(canvas, x, y, spacing * 0.47 * frame.scale, black)


def felt(width, height, centre_x, centre_y, inner, outer, seed, grain=1.0):
    reach = math.hypot(max(centre_x, width - centre_x), max(centre_y, height - centre_y))

    def colour(x, y):
        t = min(1.0, math.hypot(x - centre_x, y - centre_y) / reach) ** 1.4
        c = mix(inner, outer, t)
        # The cloth's weave: a faint per-pixel grain and diagonal threads.
        ix, iy = int(x), int(y)
        g = ((noise(ix, iy, seed) - 0.5) * 7.0 + ((ix + iy) % 3 == 0) * 1.5) * grain
        return (c[0] + g * 0.6, c[1] + g, c[2] + g * 0.7)
    return colour


# --------------------------------------------------------------- pictures --


def draw_side(scale=1.0):
    """The tall picture of the welcome and finish pages: a hand of cards,
    chips and a game board on a card table."""
    w, h = 164, 290
    c = Canvas(w, h, (10.0, 60.0, 34.0), scale)
    # No grain here: a smooth cloth keeps the run-length coding short.
    c.fill(felt(w, h, 80.0, 120.0, (34.0, 124.0, 72.0), (6.0, 40.0, 24.0), 129, grain=0.0))

    # A row of the four suits in soft gold near the top.
    gold = (226.0, 190.0, 104.0)
    for k, suit in enumerate("SHCD"):
        c.paint(Frame(37.0 + k * 30.0, 26.0, 0.0, 13.0).place(SUITS[suit]()), gold, 0.85)
    c.paint(segment(18.0, 44.0, 146.0, 44.0, 0.8), gold, 0.55)
    c.paint(segment(18.0, 9.0, 146.0, 9.0, 0.8), gold, 0.55)

    draw_board(c, Frame(74.0, 262.0, -9.0), 84.0, 62.0, 9, 15.0,
               [(3, 2, True), (4, 3, False), (3, 4, True), (5, 2, False), (2, 3, False),
                (5, 4, True), (4, 5, False), (6, 3, True)])

    chip_stack(c, 122.0, 222.0, 19.0, 8.5, 4.2, 6, (196.0, 30.0, 36.0))
    chip_stack(c, 40.0, 212.0, 17.0, 7.5, 4.0, 3, (32.0, 84.0, 178.0))
    chip_face(c, 84.0, 206.0, 15.0, 6.8, (28.0, 28.0, 32.0), emblem=None)

    # The hand: three cards fanned from a point below them.
    pivot = Frame(80.0, 190.0)
    for angle, rank, suit in ((-24.0, "K", "H"), (-4.0, "Q", "C"), (16.0, "A", "S")):
        card = pivot.sub(0.0, 0.0, angle).sub(0.0, -86.0)
        draw_card(c, card, 25.0, 36.0, rank, suit)

    # A light rim where the picture meets the page's white area.
    c.paint(box(163.0, h / 2.0, 1.0, h / 2.0), (200.0, 168.0, 92.0), 0.6)
    return c


def draw_header(scale=1.0):
    """The header picture of the destination, ready and installing pages:
    two cards and a chip on white."""
    w, h = 53, 49
    c = Canvas(w, h, WHITE, scale)
    draw_card(c, Frame(19.0, 23.0, -14.0), 13.0, 19.0, "A", "H", 0.3, index=6.0)
    draw_card(c, Frame(29.0, 21.0, 9.0), 13.0, 19.0, "A", "S", 0.3, index=6.0)
    shadow(c, circle(39.0, 36.0, 10.5), 1.0, 1.5, 3.0, 0.35)
    chip_face(c, 39.0, 36.0, 10.5, 10.5, (198.0, 30.0, 36.0), emblem="D")
    return c


def draw_folder(scale=1.0):
    """The small picture beside the destination folder: a card standing in a
    folder. The control shows the top 32 rows only, so the art keeps clear of
    the last two."""
    w, h = 25, 34
    c = Canvas(w, h, DIALOG_FACE, scale)
    back = (208.0, 150.0, 44.0)
    c.paint(union(box(12.5, 19.5, 11.5, 10.0, 1.5), box(6.5, 9.5, 5.0, 2.0, 1.0)), back)
    draw_card(c, Frame(13.5, 12.0, 8.0), 6.5, 9.5, "A", "S", 0.25, index=0)
    front = polygon([(0.8, 14.5), (24.2, 14.5), (23.4, 29.5), (1.6, 29.5)])
    shadow(c, front, 0.0, -0.5, 2.0, 0.3)
    c.paint(front, lambda x, y: mix((255.0, 214.0, 102.0), (232.0, 168.0, 48.0), (y - 14.5) / 15.0))
    c.paint(outline(front, 0.7), (170.0, 112.0, 28.0), 0.8)
    c.paint(Frame(12.5, 22.0, 0.0, 6.0).place(heart()), RED, 0.85)
    return c


def draw_icon(size=32):
    """The application icon: a card and a chip on a rounded felt tile,
    drawn on 32 units at size pixels."""
    w = h = 32
    c = Canvas(w, h, (0.0, 0.0, 0.0), size / 32.0)
    c.alpha = [0.0] * (c.pixel_width * c.pixel_height)
    tile = box(16.0, 16.0, 15.5, 15.5, 6.0)
    c.paint(tile, felt(w, h, 12.0, 10.0, (44.0, 146.0, 86.0), (10.0, 62.0, 36.0), 128))
    c.paint(outline(box(16.0, 16.0, 15.0, 15.0, 5.5), 1.0), (6.0, 40.0, 22.0), 0.9)
    draw_card(c, Frame(13.0, 14.0, -12.0), 8.5, 11.5, "A", "S", 0.4, index=0)
    shadow(c, circle(22.0, 22.0, 7.5), 0.8, 1.2, 2.5, 0.4)
    chip_face(c, 22.0, 22.0, 7.5, 7.5, (204.0, 30.0, 36.0))
    return c


# ---------------------------------------------------------------- writers --


def image_bytes(image, fmt):
    buffer = io.BytesIO()
    image.save(buffer, fmt)
    return buffer.getvalue()


def palette_bmp(palette, rows):
    """An 8-bit BMP with its palette: what the side picture is stored as."""
    image = Image.new("P", (len(rows[0]), len(rows)))
    image.putpalette([channel for colour in palette for channel in colour])
    image.putdata([index for row in rows for index in row])
    return image_bytes(image, "BMP")


def quantized(image):
    """An RGB image in at most 256 colours as a palette image: Pillow's
    median cut, its entries moved once to the mean of the colours they
    stand for (on the side picture the 99th percentile of the error falls
    from 31 to 19 levels), without dithering, whose speckles would blur
    the drawn edges."""
    return image.quantize(256, method=Image.Quantize.MEDIANCUT, kmeans=1, dither=Image.Dither.NONE)


def indexed(canvas):
    """The canvas in at most 256 colours: (palette, index rows top first)."""
    image = quantized(canvas_image(canvas))
    flat = image.getpalette()
    palette = [tuple(flat[i:i + 3]) for i in range(0, len(flat), 3)]
    w, indices = image.width, image.tobytes()
    return palette, [list(indices[y * w:(y + 1) * w]) for y in range(image.height)]


def canvas_image(canvas):
    return Image.frombytes("RGB", (canvas.pixel_width, canvas.pixel_height),
                           bytes(channel for pixel in canvas.rgb() for channel in pixel))


def icon_image_bytes(image):
    """One RGBA image as an icon stores it: the DIB with the doubled height
    that counts its AND mask, then that mask (opaque where alpha is at
    least half, for systems that ignore alpha), rows bottom first."""
    dib = bytearray(image_bytes(image, "DIB"))
    w, h = image.size
    dib[8:12] = struct.pack("<i", h * 2)
    mask = image.getchannel("A").point(lambda a: 0 if a >= 128 else 255).convert("1")
    row_bytes, stride = (w + 7) // 8, ((w + 31) // 32) * 4
    packed = mask.tobytes()
    rows = [packed[y * row_bytes:(y + 1) * row_bytes] + b"\0" * (stride - row_bytes) for y in range(h)]
    return bytes(dib) + b"".join(reversed(rows))


def icon_file(images):
    """An .ico holding each RGBA image, 32 bits per pixel."""
    data = [icon_image_bytes(image) for image in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for image, bytes_ in zip(images, data):
        w, h = image.size
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(bytes_), offset)
        offset += len(bytes_)
    return out + b"".join(data)


def canvas_icon_image(canvas):
    """The canvas with straight (not premultiplied) alpha, as icons store
    it; the colour of a fully clear pixel does not matter, keep it black."""
    pixels, alpha = canvas.rgb(), canvas.alpha_bytes()
    rgba = bytearray()
    for (r, g, b), a in zip(pixels, alpha):
        if a:
            # The canvas holds colour composited over black: undo that.
            r, g, b = (min(255, int(v * 255.0 / a + 0.5)) for v in (r, g, b))
        else:
            r = g = b = 0
        rgba += bytes((r, g, b, a))
    return Image.frombytes("RGBA", (canvas.pixel_width, canvas.pixel_height), bytes(rgba))


# ------------------------------------------------------- team pictures --
#
# make-installer converts a product team's pictures into the same formats:
# resource id -> (what it is, width, height, the background it sits on).
TEAM_PICTURES = {
    129: ("side picture", 164, 290, WHITE),
    131: ("header picture", 53, 49, WHITE),
    132: ("folder picture", 25, 34, DIALOG_FACE),
}


def team_picture_size(resource_id, percent):
    """The size of a picture drawn for percent display scale: the 100% size
    times the scale, halves rounded up."""
    _, width, height, _ = TEAM_PICTURES[resource_id]
    return (width * percent + 50) // 100, (height * percent + 50) // 100


def team_picture_bmp(image, resource_id):
    """A PNG or BMP of the resource's size at some display scale as the BMP
    the wizard loads: transparency flattened onto the picture's background,
    the side picture in at most 256 colours (exact when it has no more), the
    header in 32 opaque bits, the folder picture in 24."""
    _, _, _, background = TEAM_PICTURES[resource_id]
    width, height = image.size
    flat = Image.new("RGBA", image.size, tuple(int(c) for c in background) + (255,))
    flat.alpha_composite(image.convert("RGBA"))
    rgb = flat.convert("RGB")
    if resource_id == 129:
        colours = rgb.getcolors(256)
        if colours is not None:
            palette = sorted(colour for _, colour in colours)
            index = {colour: i for i, colour in enumerate(palette)}
            pixels = list(rgb.getdata())
            return palette_bmp(palette, [[index[p] for p in pixels[y * width:(y + 1) * width]]
                                         for y in range(height)])
        return image_bytes(quantized(rgb), "BMP")
    if resource_id == 131:
        rgb.putalpha(255)
    return image_bytes(rgb, "BMP")


def header_bmp(canvas):
    image = canvas_image(canvas)
    image.putalpha(255)
    return image_bytes(image, "BMP")


# The sizes of the icon: the small and the large icon at 100% to 200%.
ICON_SIZES = (16, 20, 24, 32, 40, 48, 64)

PICTURES = {
    "side.bmp": lambda: palette_bmp(*indexed(draw_side())),
    "header.bmp": lambda: header_bmp(draw_header()),
    "folder.bmp": lambda: image_bytes(canvas_image(draw_folder()), "BMP"),
    # The same drawings for 200% display scale, twice as large.
    "side-200.bmp": lambda: palette_bmp(*indexed(draw_side(2.0))),
    "header-200.bmp": lambda: header_bmp(draw_header(2.0)),
    "folder-200.bmp": lambda: image_bytes(canvas_image(draw_folder(2.0)), "BMP"),
    "app.ico": lambda: icon_file([canvas_icon_image(draw_icon(size)) for size in ICON_SIZES]),
}


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_art.py OUTPUT_FOLDER\n")
        return 2
    folder = argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, make in PICTURES.items():
        data = make()
        path = os.path.join(folder, name)
        # Written through a temporary name so a build stopped half-way never
        # leaves a truncated picture that looks up to date.
        with open(path + ".tmp", "wb") as f:
            f.write(data)
        os.replace(path + ".tmp", path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
