#!/usr/bin/python3
"""Draws the Spacemole icon: a treemap of four tiles in a dark rounded square.

Writes data/icons/spacemole-<size>.png for every hicolor size. Each size is laid
out on its own pixel grid (tiles snap to whole pixels and the gaps never fall
below one pixel), so the mark stays crisp at 16 px instead of blurring into a
scaled-down 128 px drawing. Run with the system Python (needs python3-cairo);
the PNGs are committed, so only a change of design needs this script.

Usage: scripts/make_icon.py
"""

import math
import os

import cairo

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "data", "icons")
SIZES = (16, 32, 48, 64, 128, 256)

BACK_TOP = (0.200, 0.235, 0.290)
BACK_BOTTOM = (0.118, 0.137, 0.173)
# Largest first: the big tile is the accent blue, then warm to cool.
TILES = ((0.231, 0.533, 1.000), (1.000, 0.624, 0.110), (0.180, 0.776, 0.553), (0.937, 0.325, 0.361))


def rounded(cr, x, y, w, h, r):
    r = min(r, w / 2, h / 2)
    cr.new_sub_path()
    cr.arc(x + w - r, y + r, r, -math.pi / 2, 0)
    cr.arc(x + w - r, y + h - r, r, 0, math.pi / 2)
    cr.arc(x + r, y + h - r, r, math.pi / 2, math.pi)
    cr.arc(x + r, y + r, r, math.pi, 3 * math.pi / 2)
    cr.close_path()


def layout(size):
    """Frame inset, corner radius and the four tile rectangles for one size."""
    s = size / 128.0
    inset = max(0, round(4 * s))
    pad = round(16 * s) if size >= 32 else 1  # 16 px: every pixel counts
    gap = max(1, round(6 * s))
    lo, hi = inset + pad, size - inset - pad
    # Squarified split of about 46 / 28 / 14 / 12: big tile on the left, the rest
    # stacked on the right with the smallest pair side by side at the bottom.
    split_x = lo + round((hi - lo) * 0.46)
    split_y = lo + round((hi - lo) * 0.52)
    split_x2 = split_x + gap + round((hi - split_x - gap) * 0.52)
    tiles = [
        (lo, lo, split_x - lo, hi - lo),
        (split_x + gap, lo, hi - split_x - gap, split_y - lo),
        (split_x + gap, split_y + gap, split_x2 - split_x - gap, hi - split_y - gap),
        (split_x2 + gap, split_y + gap, hi - split_x2 - gap, hi - split_y - gap),
    ]
    return inset, max(2.5, 24 * s), max(0.0, 5 * s if size >= 32 else 0.0), tiles


def draw(size):
    surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, size, size)
    cr = cairo.Context(surface)
    inset, radius, tile_radius, tiles = layout(size)
    frame = size - 2 * inset

    rounded(cr, inset, inset, frame, frame, radius)
    grad = cairo.LinearGradient(0, inset, 0, size - inset)
    grad.add_color_stop_rgb(0, *BACK_TOP)
    grad.add_color_stop_rgb(1, *BACK_BOTTOM)
    cr.set_source(grad)
    cr.fill_preserve()
    if size >= 32:  # a faint rim keeps the square visible on dark panels
        cr.set_source_rgba(1, 1, 1, 0.10)
        cr.set_line_width(max(1.0, size / 128.0))
        cr.stroke()
    else:
        cr.new_path()

    for (x, y, w, h), colour in zip(tiles, TILES):
        if tile_radius > 0:
            rounded(cr, x, y, w, h, tile_radius)
        else:
            cr.rectangle(x, y, w, h)
        if size >= 32:  # a soft top light, like the tiles of the treemap view
            g = cairo.LinearGradient(0, y, 0, y + h)
            g.add_color_stop_rgb(0, *[min(1.0, c * 1.12 + 0.04) for c in colour])
            g.add_color_stop_rgb(1, *[c * 0.86 for c in colour])
            cr.set_source(g)
        else:
            cr.set_source_rgb(*colour)
        cr.fill()
    return surface


def main():
    os.makedirs(OUT, exist_ok=True)
    for size in SIZES:
        path = os.path.join(OUT, f"spacemole-{size}.png")
        draw(size).write_to_png(path)
        print(f"make_icon: wrote {path}")


if __name__ == "__main__":
    main()
