#!/usr/bin/env python3
"""Writes the seed corpora of the bitmap-loader fuzz targets: bitmap files into
corpus/, and into corpus-resource/ inputs shaped as CreateFromResource reads
them (14 bytes it skips, a 40-byte info header, the colour table it calls for,
uncompressed pixels at their own depth, then whatever follows the image).

Names tell the replay test what to expect: "ok-both-" loads as a file and as a
resource, "ok-file-" only as a file, "ok-res-" only as a resource, "bad-"
neither. Rerun after editing; the files are committed.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")
OUT_RESOURCE = os.path.join(HERE, "corpus-resource")


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


def resource(width, height, bits, *, clr_used=0, entries=None, table=None, pixels=None,
             behind=b"", prefix="zero", planes=1, compression=0, info_size=40, cut=0):
    """A resource: `prefix` "file" is a real file header (then the input is a
    file too), "zero" 14 zero bytes, "junk" bytes no file starts with.
    `entries` is the table's length when it is not the one the header calls
    for, `table` its bytes when they are not a palette (bit-field masks);
    `cut` drops that many bytes from the end."""
    if entries is None:
        entries = clr_used or (1 << bits if bits <= 8 else 0)
    if table is None:
        table = palette(entries)
    if pixels is None:
        n = stride(bits, width) * abs(height) if width > 0 else 0
        pixels = bytes((i * 29 + 3) & 0xFF for i in range(n))
    info = struct.pack("<IiiHHIIiiII", info_size, width, height, planes, bits, compression,
                       len(pixels), 0, 0, clr_used, 0)
    body = info + table + pixels + behind
    if prefix == "file":
        head = b"BM" + struct.pack("<IHHI", 14 + len(body), 0, 0, 54 + len(table))
    elif prefix == "junk":
        head = bytes(range(0xF0, 0xFE))
    else:
        head = bytes(14)
    data = head + body
    return data[: len(data) - cut]


RESOURCE_CASES = {
    # Every depth a resource keeps, rows with and without padding, both row orders.
    "ok-res-1bit-13x3.bmp": resource(13, 3, 1),
    "ok-res-1bit-topdown-33x2.bmp": resource(33, -2, 1),
    "ok-res-4bit-5x3.bmp": resource(5, 3, 4),
    "ok-res-4bit-topdown-8x2.bmp": resource(8, -2, 4, prefix="junk"),
    "ok-res-8bit-7x3.bmp": resource(7, 3, 8),
    "ok-res-8bit-topdown-4x4.bmp": resource(4, -4, 8),
    "ok-res-16bit-3x3.bmp": resource(3, 3, 16),
    "ok-res-16bit-topdown-2x2.bmp": resource(2, -2, 16, prefix="junk"),
    "ok-res-24bit-1x1.bmp": resource(1, 1, 24),
    "ok-res-24bit-5x2.bmp": resource(5, 2, 24),
    "ok-res-24bit-topdown-3x5.bmp": resource(3, -5, 24),
    "ok-res-32bit-3x2.bmp": resource(3, 2, 32),
    "ok-res-32bit-topdown-2x3.bmp": resource(2, -3, 32, prefix="junk"),
    # Tables of several sizes: shorter and longer than the depth's, and one
    # that a depth without indices calls for.
    "ok-res-8bit-table-2-6x2.bmp": resource(6, 2, 8, clr_used=2),
    "ok-res-8bit-table-300-3x2.bmp": resource(3, 2, 8, clr_used=300),
    "ok-res-4bit-table-20-3x2.bmp": resource(3, 2, 4, clr_used=20),
    "ok-res-1bit-table-1-9x1.bmp": resource(9, 1, 1, clr_used=1),
    "ok-res-24bit-table-5-2x2.bmp": resource(2, 2, 24, clr_used=5),
    "ok-res-32bit-table-256-1x1.bmp": resource(1, 1, 32, clr_used=256),
    # Bytes behind the image, which a resource keeps.
    "ok-res-24bit-behind-1-3x2.bmp": resource(3, 2, 24, behind=b"\x5a"),
    "ok-res-8bit-behind-7-5x2.bmp": resource(5, 2, 8, behind=bytes(range(1, 8))),
    "ok-res-16bit-topdown-behind-100-3x3.bmp": resource(3, -3, 16, behind=bytes(range(100))),
    # Fields only a file checks.
    "ok-res-24bit-planes-0-2x2.bmp": resource(2, 2, 24, planes=0),
    "ok-res-24bit-planes-9-2x1.bmp": resource(2, 1, 24, planes=9, prefix="file"),
    # With a real file header in front, the same input is a file too.
    "ok-both-8bit-4x2.bmp": resource(4, 2, 8, prefix="file"),
    "ok-both-4bit-topdown-behind-3-5x2.bmp": resource(5, -2, 4, prefix="file", behind=b"abc"),
    "ok-both-32bit-2x2.bmp": resource(2, 2, 32, prefix="file"),
    # A file, but nothing a resource holds.
    "ok-file-2bit-7x2.bmp": resource(7, 2, 2, prefix="file"),
    "ok-file-32bit-bitfields-2x2.bmp": resource(2, 2, 32, prefix="file", compression=3,
                                                table=masks(0xFF0000, 0xFF00, 0xFF)),
    "ok-file-rle8-5x3.bmp": resource(5, 3, 8, prefix="file", compression=1, pixels=RLE8),
    # Refusals: sizes, header fields, compressions, short inputs.
    "bad-short-17.bmp": resource(2, 2, 24)[:17],
    "bad-header-only.bmp": resource(1, 1, 24, pixels=b""),
    "bad-info-size-12.bmp": resource(2, 2, 24, info_size=12),
    "bad-info-size-41.bmp": resource(2, 2, 24, info_size=41),
    "bad-info-size-108.bmp": resource(2, 2, 24, info_size=108),
    "bad-info-size-124.bmp": resource(2, 2, 24, info_size=124),
    "bad-zero-width.bmp": resource(0, 2, 24, pixels=bytes(8)),
    "bad-negative-width.bmp": resource(-4, 2, 24, pixels=bytes(24)),
    "bad-zero-height.bmp": resource(3, 0, 24, pixels=bytes(12)),
    "bad-height-int-min.bmp": resource(1, -0x80000000, 24, pixels=bytes(16)),
    "bad-bits-0.bmp": resource(2, 2, 0, pixels=bytes(16)),
    "bad-bits-2.bmp": resource(8, 2, 2),
    "bad-bits-3.bmp": resource(8, 2, 3, pixels=bytes(8)),
    "bad-bits-64.bmp": resource(2, 2, 64, pixels=bytes(32)),
    "bad-rle4.bmp": resource(5, 3, 4, compression=2, pixels=RLE4),
    "bad-bitfields-16bit.bmp": resource(2, 2, 16, compression=3,
                                        table=masks(0xF800, 0x07E0, 0x001F)),
    "bad-jpeg.bmp": resource(2, 2, 24, compression=4, pixels=b"\xff\xd8\xff\xe0"),
    "bad-png.bmp": resource(2, 2, 24, compression=5, pixels=b"\x89PNG\r\n\x1a\n"),
    "bad-alphabitfields.bmp": resource(2, 2, 32, compression=6,
                                       table=masks(0xFF0000, 0xFF00, 0xFF, 0xFF000000)),
    "bad-compression-7.bmp": resource(2, 2, 24, compression=7),
    "bad-pixels-one-short.bmp": resource(5, 3, 24, cut=1),
    "bad-table-past-end.bmp": resource(4, 1, 8, entries=0, pixels=bytes(4)),
    "bad-table-huge.bmp": resource(1, 1, 8, clr_used=0xFFFFFFFF, entries=1, pixels=bytes(4)),
    "bad-overflowing-size.bmp": resource(100000, 100000, 32, pixels=bytes(16)),
    "bad-widest-row.bmp": resource(0x7FFFFFFF, 1, 32, pixels=bytes(16)),
}


def write_corpus(folder, cases):
    os.makedirs(folder, exist_ok=True)
    for old in os.listdir(folder):
        os.remove(os.path.join(folder, old))
    for name, data in cases.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def main():
    write_corpus(OUT, CASES)
    write_corpus(OUT_RESOURCE, RESOURCE_CASES)


if __name__ == "__main__":
    main()
