#!/usr/bin/env python3
"""Draws a cross-section from a stackup file (doc/stackup.md, with its
conductors) as a 24-bit bitmap for the finite-difference solver atlc, to
compare with kestrelix's general field solver.

  tools/stack_bitmap.py STACKUP.json OUT.bmp [--cells 40] [--side 12] [--top 12]
                        [--drawn DRAWN.json]

--cells is the number of cells per H1, the height of the first signal's
interface above the ground plane. Green is ground: the ground plane at the
bottom, the top plane (or, open, a lid --top H1 above the stack's top), side
walls --side H1 beyond the outermost finite conductor edge, and the grounds
of the stack (unbounded ones reach the walls). The first signal is red, a
second blue (atlc then solves the odd and the even mode). Each permittivity
gets a colour of its own. Lengths are rounded to whole cells; trapezoids are
drawn row by row. No mask and no floating metal (atlc has neither).
--drawn writes the stackup as drawn (lengths rounded to cells, an open
stack's lid as its top plane; rectangles only), for kestrelix to solve the
very geometry atlc sees. Prints the atlc command line to run.
"""
import argparse
import json
import math
import struct

GROUND, LIVE, NEGATIVE, AIR = (0, 255, 0), (255, 0, 0), (0, 0, 255), (255, 255, 255)
PALETTE = [(0xD5, 0x10, 0x10), (0x10, 0x10, 0xD5), (0x10, 0xD5, 0x10), (0xD5, 0xD5, 0x10),
           (0x10, 0xD5, 0xD5), (0xD5, 0x10, 0xD5)]


def main():
    p = argparse.ArgumentParser(description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("stackup")
    p.add_argument("out")
    p.add_argument("--cells", type=int, default=40)
    p.add_argument("--side", type=float, default=12.0)
    p.add_argument("--top", type=float, default=12.0)
    p.add_argument("--drawn")
    a = p.parse_args()

    s = json.load(open(a.stackup))
    if "mask" in s:
        raise SystemExit("stack_bitmap: a mask is not drawn")
    layers, conductors = s["layers"], s["conductors"]
    signals = [c for c in conductors if c.get("role", "signal") == "signal"]
    if not 1 <= len(signals) <= 2 or any(c.get("role") == "floating" for c in conductors):
        raise SystemExit("stack_bitmap: one or two signals, no floating metal")

    def edges(c):
        if "width" in c:
            centre = c.get("centre", c.get("center"))
            return centre - c["width"] / 2, centre + c["width"] / 2
        return c["left"], c["right"]

    heights = [0.0]
    for l in layers:
        heights.append(heights[-1] + l["thickness"])
    h1 = heights[signals[0]["interface"]]
    n = lambda v: int(round(v / h1 * a.cells))  # a length in cells
    finite = [e for c in conductors for e in edges(c) if e not in ("unbounded",)]
    lo, hi = min(finite), max(finite)
    x0 = lo - a.side * h1  # the inner side of the left wall
    width = n(hi + a.side * h1 - x0) + 2
    rows = [n(v) for v in heights]
    top = rows[-1] if s.get("top_plane") else rows[-1] + n(a.top * h1)
    height = top + 2
    colour = {}
    for l in layers + [{"er": 1.0}]:
        if l["er"] != 1.0 and l["er"] not in colour:
            colour[l["er"]] = PALETTE[len(colour)]
    img = [[AIR] * width for _ in range(height)]  # img[y][x], y = 0 at the ground
    for y in range(height):
        for x in range(width):
            if y == 0 or y == height - 1 or x == 0 or x == width - 1:
                img[y][x] = GROUND
                continue
            for k, l in enumerate(layers):
                if rows[k] < y <= rows[k + 1] and l["er"] != 1.0:
                    img[y][x] = colour[l["er"]]
    for c in conductors:
        role = c.get("role", "signal")
        paint = GROUND if role == "ground" else LIVE if c is signals[0] else NEGATIVE
        left, right = edges(c)
        bottom = rows[c["interface"]]
        t = max(1, n(c.get("thickness", 0.0)))  # at least one cell
        if "top_width" in c:
            inset = ((right - left) - c["top_width"]) / 2
        elif "etch_factor" in c:
            inset = c.get("thickness", 0.0) / c["etch_factor"]
        else:
            inset = c.get("inset", 0.0)
        for r in range(t):  # row r of the conductor from its bottom
            f = (r + 0.5) / t
            xl = 1 if left == "unbounded" else 1 + n(left - x0 + f * inset)
            xr = width - 1 if right == "unbounded" else 1 + n(right - x0 - f * inset)
            for x in range(max(1, xl), min(width - 1, xr)):
                img[bottom + 1 + r][x] = paint

    if a.drawn:
        cell = h1 / a.cells
        out = {"unit": s["unit"], "top_plane": True, "layers": [], "conductors": []}
        for k, l in enumerate(layers):
            out["layers"].append({"thickness": (rows[k + 1] - rows[k]) * cell, "er": l["er"]})
        if not s.get("top_plane"):
            out["layers"].append({"thickness": (top - rows[-1]) * cell, "er": 1.0})
        for c in conductors:
            if c.get("top_width") or c.get("etch_factor") or c.get("inset"):
                raise SystemExit("stack_bitmap: --drawn takes rectangles only")
            left, right = edges(c)
            d = {"role": c.get("role", "signal"), "interface": c["interface"],
                 "thickness": max(1, n(c.get("thickness", 0.0))) * cell}
            d["left"] = left if left == "unbounded" else x0 + n(left - x0) * cell
            d["right"] = right if right == "unbounded" else x0 + n(right - x0) * cell
            out["conductors"].append(d)
        json.dump(out, open(a.drawn, "w"), indent=1)

    row = width * 3
    pad = (4 - row % 4) % 4
    data = b"".join(bytes(v for px in img[y] for v in (px[2], px[1], px[0])) + b"\0" * pad
                    for y in range(height))  # bottom-up rows, BGR
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(a.out, "wb") as f:
        f.write(header + info + data)
    flags = " ".join(f"-d {''.join('%02x' % v for v in rgb)}={er}" for er, rgb in colour.items())
    print(f"atlc -s -S {flags} {a.out}   # {width} x {height} cells")


if __name__ == "__main__":
    main()
