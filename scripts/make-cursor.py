#!/usr/bin/env python3
"""Writes app/resources/HAND-M.CUR, the hand pointer shown over push buttons.

A 32x32 Windows cursor: one 32-bit BGRA image with its AND mask, hot spot at the
tip of the index finger. Run from anywhere; the output path is fixed.
"""
import os
import struct

# '#' outline, '.' fill, ' ' transparent.
HAND = [
    "     ##",
    "    #..#",
    "    #..#",
    "    #..#",
    "    #..#",
    "    #..###",
    "    #..#..###",
    "    #..#..#..##",
    "    #..#..#..#.#",
    " ## #..#..#..#..#",
    "#..##..#..#..#..#",
    "#...#..#..#..#..#",
    " #..#...........#",
    "  #.............#",
    "  #.............#",
    "   #............#",
    "   #...........#",
    "    #..........#",
    "    #..........#",
    "     #........#",
    "     #........#",
    "     ##########",
]
HOT_SPOT = (5, 0)
SIZE = 32


def pixels():
    rows = [row.ljust(SIZE) for row in HAND] + [" " * SIZE] * (SIZE - len(HAND))
    return [[{"#": (0, 0, 0, 255), ".": (255, 255, 255, 255)}.get(c, (0, 0, 0, 0))
             for c in row] for row in rows]


def cursor_bytes():
    image = pixels()
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(struct.pack("<BBBB", b, g, r, a)
                      for row in reversed(image) for (r, g, b, a) in row)
    mask = b""
    for row in reversed(image):
        bits = 0
        for (_, _, _, a) in row:
            bits = (bits << 1) | (1 if a == 0 else 0)
        mask += struct.pack(">I", bits)  # rows of 32 bits are already 4-byte aligned
    body = header + colour + mask
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, HOT_SPOT[0], HOT_SPOT[1], len(body),
                        6 + 16)
    return directory + entry + body


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = os.path.join(here, "..", "app", "resources", "HAND-M.CUR")
    with open(target, "wb") as out:
        out.write(cursor_bytes())


if __name__ == "__main__":
    main()
