#!/usr/bin/env python3
"""Draws Chipsight's icon, a DIP chip seen from above, as 16-colour PNGs of 32x32 and 16x16
pixels: icons/128.png and icons/128-16.png. The output is the same on every run."""
import pathlib
import struct
import zlib

HERE = pathlib.Path(__file__).resolve().parent

# The 16 colours of the classic desktop palette; the icon uses a few of them.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BODY, EDGE, PIN, NOTCH, LABEL, LENS = 0, 8, 7, 8, 11, 14
CLEAR = 5  # made transparent through the tRNS chunk


def draw(n: int) -> list:
    s = n / 32
    px = [[CLEAR] * n for _ in range(n)]

    def box(x0, y0, x1, y1, colour):
        for y in range(max(0, int(y0 * s)), min(n, int(y1 * s + 0.999))):
            for x in range(max(0, int(x0 * s)), min(n, int(x1 * s + 0.999))):
                px[y][x] = colour

    for i in range(6):  # pins on both long sides
        y = 5 + i * 4
        box(3, y, 8, y + 2, PIN)
        box(24, y, 29, y + 2, PIN)
    box(7, 3, 25, 29, EDGE)
    box(8, 4, 24, 28, BODY)
    box(14, 4, 18, 6, NOTCH)  # the notch that marks pin 1
    box(10, 9, 22, 13, LABEL)  # the label of an EPROM
    box(13, 17, 19, 24, LENS)  # its erasing window
    return px


def png(pixels: list) -> bytes:
    n = len(pixels)
    raw = b"".join(b"\0" + bytes((row[x] << 4) | row[x + 1] for x in range(0, n, 2)) for row in pixels)

    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    trns = bytes(0 if i == CLEAR else 255 for i in range(16))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", n, n, 4, 3, 0, 0, 0))
            + chunk(b"PLTE", b"".join(bytes(c) for c in PALETTE)) + chunk(b"tRNS", trns)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main() -> None:
    (HERE / "icons").mkdir(exist_ok=True)
    (HERE / "icons" / "128.png").write_bytes(png(draw(32)))
    (HERE / "icons" / "128-16.png").write_bytes(png(draw(16)))


if __name__ == "__main__":
    main()
