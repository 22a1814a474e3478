#!/usr/bin/env python3
"""Draws the edge-coupled pair as a 24-bit bitmap for the finite-difference
solver atlc, to compare with kestrelix's field solver.

  tools/field_bitmap.py OUT.bmp --er 4.4 --w 1 --s 0.2 --t 0.1 --h2 2 \\
      [--coat 0.05 --er-coat 3.3] [--cells 40] [--side 12] [--top 12]

Lengths are in units of the substrate height H; --cells is the number of
cells per H. Green is the ground (plane at the bottom, the cover or a far
lid on top, walls --side H beyond the strips); red and blue are the two
strips (atlc solves the odd and the even mode); the substrate and the
coating get colours of their own. Prints the atlc command line to run.
"""
import argparse
import struct

GROUND, LIVE, NEGATIVE, AIR = (0, 255, 0), (255, 0, 0), (0, 0, 255), (255, 255, 255)
SUBSTRATE, COATING = (0xD5, 0x10, 0x10), (0x10, 0x10, 0xD5)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("out")
    for name in ("er", "w", "s", "t"):
        p.add_argument("--" + name, type=float, required=True)
    p.add_argument("--h2", type=float, help="cover height above the substrate (default: open, lid at --top)")
    p.add_argument("--coat", type=float, default=0.0)
    p.add_argument("--er-coat", type=float, default=1.0)
    p.add_argument("--cells", type=int, default=40)
    p.add_argument("--side", type=float, default=12.0, help="walls this far beyond the strips (H)")
    p.add_argument("--top", type=float, default=12.0, help="open: lid this far above the substrate (H)")
    a = p.parse_args()

    n = lambda v: int(round(v * a.cells))  # a length in cells
    h, w, s, t, c = n(1.0), n(a.w), n(a.s), n(a.t), n(a.coat) if a.er_coat != 1.0 else 0
    room = n(a.h2) if a.h2 is not None else n(a.top)
    half = s // 2 + w + n(a.side)  # from the middle to the inner side of a wall
    width, height = 2 * half + 2, h + room + 2  # a one-cell ground frame
    img = [[AIR] * width for _ in range(height)]  # img[y][x], y = 0 at the ground
    mid = half + 1
    for y in range(height):
        for x in range(width):
            if y == 0 or y == height - 1 or x == 0 or x == width - 1:
                img[y][x] = GROUND
            elif y <= h:
                img[y][x] = SUBSTRATE
    top = h + t  # the strips occupy rows h+1 .. h+t
    if c:
        gap_filled = s < 2 * c
        for y in range(h + 1, min(height - 1, top + c + 1)):
            for x in range(1, width - 1):
                d = abs(x - mid + 0.5)  # distance from the middle in cells
                inner, outer = s / 2, s / 2 + w
                over_strips = inner - c <= d <= outer + c or (gap_filled and d <= outer + c)
                if y <= h + c or (over_strips and y <= top + c):
                    img[y][x] = COATING
    for y in range(h + 1, top + 1):
        for x in range(1, width - 1):
            d = x - mid + 0.5
            if s / 2 <= abs(d) <= s / 2 + w:
                img[y][x] = LIVE if d > 0 else NEGATIVE

    row = width * 3
    pad = (4 - row % 4) % 4
    data = b"".join(bytes(v for px in img[y] for v in (px[2], px[1], px[0])) + b"\0" * pad
                    for y in range(height))  # bottom-up rows, BGR
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(a.out, "wb") as f:
        f.write(header + info + data)
    colours = f"-d {''.join('%02x' % v for v in SUBSTRATE)}={a.er}"
    if c:
        colours += f" -d {''.join('%02x' % v for v in COATING)}={a.er_coat}"
    print(f"atlc -s -S {colours} {a.out}   # {width} x {height} cells")


if __name__ == "__main__":
    main()
