#!/usr/bin/python3
"""Writes the bitmap files of tests/data/bitmaps: one small picture saved by
ImageMagick and by PIL in every form they write, and each program's own
decoding of every file it reads, in decoded.txt:

    NAME DECODER ALPHA WIDTH HEIGHT RRGGBBAA...

ALPHA is "alpha" when the decoder read an alpha channel, else "opaque"; the
pixels run from the top-left, row by row.

The loader tests compare the library's loading of each file with these
decodings. Needs ImageMagick's `convert` and python3-pil; rerun after
editing and commit the results (the tests run where neither program exists).
"""
import io
import os
import subprocess
import sys

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "data", "bitmaps")
WIDTH, HEIGHT = 13, 7  # odd: every row of every depth has padding


def picture():
    """Colour ramps across, brightness down, a partly transparent corner."""
    image = Image.new("RGBA", (WIDTH, HEIGHT))
    for y in range(HEIGHT):
        for x in range(WIDTH):
            r = x * 255 // (WIDTH - 1)
            g = y * 255 // (HEIGHT - 1)
            b = (x * 37 + y * 91) % 256
            a = 255 if x + y > 4 else 40 * (x + y)
            image.putpixel((x, y), (r, g, b, a))
    return image


def magick(source, args, name):
    """args end in the output format: bmp3 (classic header), bmp2 (core
    header) or bmp (the V5 header)."""
    path = os.path.join(OUT, name)
    subprocess.run(["convert", source, *args[:-1], f"{args[-1]}:{path}"], check=True)


def pil(image, name):
    image.save(os.path.join(OUT, name), format="BMP")


def decode_magick(path):
    run = subprocess.run(["convert", path, "-depth", "8", "rgba:-"], capture_output=True)
    channels = subprocess.run(["identify", "-format", "%[channels]", path], capture_output=True)
    if run.returncode != 0 or channels.returncode != 0:
        return None, None
    return run.stdout, b"a" in channels.stdout


def decode_pil(path):
    try:
        with Image.open(path) as image:
            return image.convert("RGBA").tobytes(), "A" in image.mode
    except OSError:
        return None, None


def main():
    os.makedirs(OUT, exist_ok=True)
    for old in os.listdir(OUT):
        os.remove(os.path.join(OUT, old))
    image = picture()
    opaque = os.path.join(OUT, "source-opaque.png")
    alpha = os.path.join(OUT, "source-alpha.png")
    image.convert("RGB").save(opaque)
    image.save(alpha)

    for name, source, args in [
        ("im-24.bmp", opaque, ["bmp3"]),
        ("im-1.bmp", opaque, ["-colors", "2", "bmp3"]),
        ("im-4.bmp", opaque, ["-colors", "5", "bmp3"]),
        ("im-8.bmp", opaque, ["-colors", "60", "-compress", "none", "bmp3"]),
        ("im-rle8.bmp", opaque, ["-colors", "60", "-compress", "rle", "bmp3"]),
        ("im-rle8-v5.bmp", opaque, ["-colors", "60", "-compress", "rle", "bmp"]),
        ("im-core-1.bmp", opaque, ["-colors", "2", "bmp2"]),
        ("im-core-4.bmp", opaque, ["-colors", "9", "bmp2"]),
        ("im-core-8.bmp", opaque, ["-colors", "60", "bmp2"]),
        ("im-core-24.bmp", opaque, ["bmp2"]),
        ("im-565.bmp", opaque, ["-define", "bmp:subtype=RGB565", "bmp"]),
        ("im-555.bmp", opaque, ["-define", "bmp:subtype=RGB555", "bmp"]),
        ("im-4444.bmp", alpha, ["-define", "bmp:subtype=ARGB4444", "bmp"]),
        ("im-1555.bmp", alpha, ["-define", "bmp:subtype=ARGB1555", "bmp"]),
        ("im-8888.bmp", alpha, ["bmp"]),
    ]:
        magick(source, args, name)

    rgb = image.convert("RGB")
    pil(image.convert("1"), "pil-1.bmp")
    pil(image.convert("L"), "pil-grey.bmp")
    short = rgb.quantize(6)
    short.putpalette(short.getpalette()[:18])  # a table of 6 entries (biClrUsed 6)
    pil(short, "pil-8-short.bmp")
    pil(rgb.quantize(200), "pil-8.bmp")
    pil(rgb, "pil-24.bmp")
    pil(image, "pil-32.bmp")
    os.remove(opaque)
    os.remove(alpha)

    lines = []
    for name in sorted(os.listdir(OUT)):
        path = os.path.join(OUT, name)
        for decoder, decode in (("imagemagick", decode_magick), ("pil", decode_pil)):
            pixels, alpha = decode(path)
            if pixels is None or len(pixels) != 4 * WIDTH * HEIGHT:
                print(f"{name}: {decoder} does not read it", file=sys.stderr)
                continue
            kind = "alpha" if alpha else "opaque"
            lines.append(f"{name} {decoder} {kind} {WIDTH} {HEIGHT} {pixels.hex()}\n")
    with open(os.path.join(OUT, "decoded.txt"), "w") as f:
        f.writelines(lines)


if __name__ == "__main__":
    main()
