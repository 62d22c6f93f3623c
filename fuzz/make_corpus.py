#!/usr/bin/env python3
"""Writes the seed corpus of the bitmap-loader fuzz targets into corpus/.

Names tell the replay test what to expect: "ok-both-" loads as a file and as a
resource, "ok-file-" only as a file, "ok-res-" only as a resource, "bad-"
neither. Rerun after editing; the files are committed.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")


def stride(bits, width):
    return (bits * width + 31) // 32 * 4


def bmp(width, height, bits, *, compression=0, clr_used=0, table=b"", masks=b"",
        info_size=40, off=None, pixels=None, signature=b"BM", gap=0):
    rows = abs(height)
    if pixels is None:
        n = stride(bits, width) * rows if width > 0 else 0
        pixels = bytes((i * 37 + 11) & 0xFF for i in range(n))
    info = struct.pack("<IiiHHIIiiII", info_size, width, height, 1, bits, compression, 0,
                       2835, 2835, clr_used, 0)
    if info_size > 40:  # a longer header: its masks come first, the rest is zero
        extra = masks.ljust(info_size - 40, b"\0")
        info += extra[: info_size - 40]
        masks = b""
    headers = 14 + len(info) + len(masks) + len(table)
    if off is None:
        off = headers + gap
    body = info + masks + table + b"\0" * gap + pixels
    return signature + struct.pack("<IHHI", 14 + len(body), 0, 0, off) + body


def palette(n):
    return b"".join(bytes((i * 50 & 0xFF, 255 - i * 20 & 0xFF, i * 90 & 0xFF, 0)) for i in range(n))


CASES = {
    "ok-both-24bit-3x2.bmp": bmp(3, 2, 24),
    "ok-both-24bit-topdown-5x3.bmp": bmp(5, -3, 24),
    "ok-both-32bit-3x2.bmp": bmp(3, 2, 32),
    "ok-both-16bit-555-5x2.bmp": bmp(5, 2, 16),
    "ok-both-8bit-4colours-5x3.bmp": bmp(5, 3, 8, clr_used=4, table=palette(4),
                                         pixels=bytes([0, 1, 2, 3, 1, 0, 0, 0] * 3)),
    "ok-both-4bit-7x2.bmp": bmp(7, 2, 4, table=palette(16)),
    "ok-both-1bit-topdown-9x3.bmp": bmp(9, -3, 1, table=palette(2)),
    "ok-both-24bit-gap-2x2.bmp": bmp(2, 2, 24, gap=8),
    "ok-file-8bit-no-table-6x2.bmp": bmp(6, 2, 8),
    "ok-file-16bit-565-3x2.bmp": bmp(3, 2, 16, compression=3,
                                     masks=struct.pack("<III", 0xF800, 0x07E0, 0x001F)),
    "ok-file-32bit-v5-2x2.bmp": bmp(2, 2, 32, compression=3, info_size=124,
                                    masks=struct.pack("<IIII", 0xFF0000, 0xFF00, 0xFF, 0xFF000000)),
    "ok-res-no-signature-3x1.bmp": bmp(3, 1, 24, signature=b"XY"),
    "bad-truncated-24bit.bmp": bmp(3, 2, 24)[:70],
    "bad-short.bmp": bmp(3, 2, 24)[:20],
    "bad-zero-width.bmp": bmp(0, 2, 24, pixels=b"\0" * 8),
    "bad-negative-width.bmp": bmp(-3, 2, 24, pixels=b"\0" * 24),
    "bad-zero-height.bmp": bmp(3, 0, 24, pixels=b"\0" * 8),
    "bad-overflowing-size.bmp": bmp(100000, 100000, 32, pixels=b"\0" * 16),
    "bad-rle8.bmp": bmp(4, 2, 8, compression=1, table=palette(256)[:16], clr_used=4),
    "bad-2bit.bmp": bmp(4, 2, 2),
    "bad-info-size-12.bmp": bmp(3, 2, 24, info_size=12, pixels=b"\0" * 40),
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in CASES.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
