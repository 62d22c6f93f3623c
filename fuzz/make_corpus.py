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
    if info_size == 12:  # the core header: 16-bit fields, no compression
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
    else:
        info = struct.pack("<IiiHHIIiiII", info_size, width, height, 1, bits, compression,
                           len(pixels), 2835, 2835, clr_used, 0)[:info_size]
    if info_size > 40:  # a longer header: its masks come first, the rest is zero
        info += masks.ljust(info_size - 40, b"\0")[: info_size - 40]
        masks = b""
    headers = 14 + len(info) + len(masks) + len(table)
    if off is None:
        off = headers + gap
    body = info + masks + table + b"\0" * gap + pixels
    return signature + struct.pack("<IHHI", 14 + len(body), 0, 0, off) + body


def palette(n):
    return b"".join(bytes((i * 50 & 0xFF, 255 - i * 20 & 0xFF, i * 90 & 0xFF, 0)) for i in range(n))


def core_palette(n):
    return b"".join(bytes((i * 50 & 0xFF, 255 - i * 20 & 0xFF, i * 90 & 0xFF)) for i in range(n))


def grey_ramp():
    return b"".join(bytes((i, i, i, 0)) for i in range(256))


def masks(*values):
    return struct.pack("<%dI" % len(values), *values)


# Run-length streams of 5 x 3 images: every code, and broken ones.
RLE8 = bytes([0, 3, 7, 8, 9, 0, 2, 1, 0, 0, 1, 5, 0, 2, 2, 1, 0, 0, 0, 1])
RLE4 = bytes([5, 0x12, 0, 0, 0, 5, 0x12, 0x34, 0x50, 0, 0, 0, 0, 2, 1, 0, 3, 0x70, 0, 1])

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
    "ok-file-16bit-565-3x2.bmp": bmp(3, 2, 16, compression=3, masks=masks(0xF800, 0x07E0, 0x001F)),
    "ok-file-32bit-v5-2x2.bmp": bmp(2, 2, 32, compression=3, info_size=124,
                                    masks=masks(0xFF0000, 0xFF00, 0xFF, 0xFF000000)),
    "ok-file-rle8-5x3.bmp": bmp(5, 3, 8, compression=1, table=palette(256), pixels=RLE8),
    "ok-file-rle8-grey-early-end-5x3.bmp": bmp(5, 3, 8, compression=1, table=grey_ramp(),
                                               pixels=bytes([5, 9, 0, 1])),
    "ok-file-rle4-5x3.bmp": bmp(5, 3, 4, compression=2, table=palette(16), pixels=RLE4),
    "ok-file-core-8bit-5x3.bmp": bmp(5, 3, 8, info_size=12, table=core_palette(256)),
    "ok-file-core-1bit-short-table-9x2.bmp": bmp(9, 2, 1, info_size=12, table=core_palette(1)),
    "ok-file-core-24bit-3x2.bmp": bmp(3, 2, 24, info_size=12),
    "ok-file-os2-16-4bit-5x2.bmp": bmp(5, 2, 4, info_size=16, table=palette(16)),
    "ok-file-os2-64-8bit-5x2.bmp": bmp(5, 2, 8, info_size=64, table=palette(256)),
    "ok-file-2bit-7x2.bmp": bmp(7, 2, 2, table=palette(4)),
    "ok-file-2bit-short-table-7x2.bmp": bmp(7, 2, 2, clr_used=2, table=palette(2)),
    "ok-both-8bit-long-table-3x2.bmp": bmp(3, 2, 8, clr_used=300, table=palette(300)),
    "ok-file-16bit-4444-v5-3x2.bmp": bmp(3, 2, 16, compression=3, info_size=124,
                                         masks=masks(0x0F00, 0x00F0, 0x000F, 0xF000)),
    "ok-file-16bit-1555-alphabitfields-3x2.bmp": bmp(3, 2, 16, compression=6,
                                                     masks=masks(0x7C00, 0x03E0, 0x001F, 0x8000)),
    "ok-file-16bit-332-3x2.bmp": bmp(3, 2, 16, compression=3, masks=masks(0xE000, 0x1C00, 0x0300)),
    "ok-file-32bit-1010102-v5-3x2.bmp": bmp(3, 2, 32, compression=3, info_size=124,
                                            masks=masks(0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000)),
    "ok-file-32bit-rgb-order-3x2.bmp": bmp(3, 2, 32, compression=3, masks=masks(0xFF, 0xFF00, 0xFF0000)),
    "ok-file-32bit-rgba-v4-2x2.bmp": bmp(2, 2, 32, compression=3, info_size=108,
                                         masks=masks(0xFF, 0xFF00, 0xFF0000, 0xFF000000)),
    "ok-res-no-signature-3x1.bmp": bmp(3, 1, 24, signature=b"XY"),
    "bad-truncated-24bit.bmp": bmp(3, 2, 24)[:70],
    "bad-short.bmp": bmp(3, 2, 24)[:20],
    "bad-zero-width.bmp": bmp(0, 2, 24, pixels=b"\0" * 8),
    "bad-negative-width.bmp": bmp(-3, 2, 24, pixels=b"\0" * 24),
    "bad-zero-height.bmp": bmp(3, 0, 24, pixels=b"\0" * 8),
    "bad-overflowing-size.bmp": bmp(100000, 100000, 32, pixels=b"\0" * 16),
    "bad-2bit-no-table.bmp": bmp(4, 2, 2),
    "bad-info-size-18.bmp": bmp(3, 2, 24, info_size=18),
    "bad-rle8-run-past-row.bmp": bmp(5, 3, 8, compression=1, table=palette(256), pixels=bytes([9, 1, 0, 1])),
    "bad-rle8-delta-outside.bmp": bmp(5, 3, 8, compression=1, table=palette(256),
                                      pixels=bytes([0, 2, 0, 3, 0, 1])),
    "bad-rle8-after-last-row.bmp": bmp(5, 3, 8, compression=1, table=palette(256),
                                       pixels=bytes([0, 0, 0, 0, 0, 0, 1, 1, 0, 1])),
    "bad-rle4-truncated.bmp": bmp(5, 3, 4, compression=2, table=palette(16), pixels=RLE4[:8]),
    "bad-rle8-top-down.bmp": bmp(5, -3, 8, compression=1, table=palette(256), pixels=RLE8),
    "bad-rle8-huge-image.bmp": bmp(20000, 20000, 8, compression=1, table=palette(256),
                                   pixels=bytes([0, 1])),
    "bad-jpeg.bmp": bmp(3, 2, 24, compression=4, pixels=b"\xff\xd8\xff\xe0"),
    "bad-png.bmp": bmp(3, 2, 24, compression=5, pixels=b"\x89PNG\r\n\x1a\n"),
    "bad-64bit.bmp": bmp(2, 2, 64),
    "bad-os2-huffman.bmp": bmp(8, 2, 1, compression=3, info_size=64, table=palette(2)),
    "bad-masks-overlap.bmp": bmp(3, 2, 32, compression=3, masks=masks(0xFF, 0xFF00, 0xFF80)),
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for old in os.listdir(OUT):
        os.remove(os.path.join(OUT, old))
    for name, data in CASES.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
