#!/usr/bin/python3
"""Writes tests/data/bitmaps: a small picture saved by ImageMagick and PIL in every form each
writes, and decoded.txt, each program's own decoding of every file it reads as a line "NAME
DECODER ALPHA WIDTH HEIGHT RRGGBBAA..." (ALPHA "alpha" when it read an alpha channel, else
"opaque"; pixels row by row from the top-left). Needs ImageMagick's convert and python3-pil;
commit what it writes (the tests run where neither exists)."""
import os
import subprocess
import sys

from PIL import Image

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "bitmaps")
WIDTH, HEIGHT = 13, 7  # odd: every row of every depth has padding

# name, source, ImageMagick options and output format: bmp3 (classic header),
# bmp2 (core header) or bmp (V5 header).
MAGICK = [
    ("im-24.bmp", "rgb", ["bmp3"]),
    ("im-1.bmp", "rgb", ["-colors", "2", "bmp3"]),
    ("im-4.bmp", "rgb", ["-colors", "5", "bmp3"]),
    ("im-8.bmp", "rgb", ["-colors", "60", "-compress", "none", "bmp3"]),
    ("im-rle8.bmp", "rgb", ["-colors", "60", "-compress", "rle", "bmp3"]),
    ("im-rle8-v5.bmp", "rgb", ["-colors", "60", "-compress", "rle", "bmp"]),
    ("im-core-1.bmp", "rgb", ["-colors", "2", "bmp2"]),
    ("im-core-4.bmp", "rgb", ["-colors", "9", "bmp2"]),
    ("im-core-8.bmp", "rgb", ["-colors", "60", "bmp2"]),
    ("im-core-24.bmp", "rgb", ["bmp2"]),
    ("im-565.bmp", "rgb", ["-define", "bmp:subtype=RGB565", "bmp"]),
    ("im-555.bmp", "rgb", ["-define", "bmp:subtype=RGB555", "bmp"]),
    ("im-4444.bmp", "rgba", ["-define", "bmp:subtype=ARGB4444", "bmp"]),
    ("im-1555.bmp", "rgba", ["-define", "bmp:subtype=ARGB1555", "bmp"]),
    ("im-8888.bmp", "rgba", ["bmp"]),
]


def decode_magick(path):
    pixels = subprocess.run(["convert", path, "-depth", "8", "rgba:-"], capture_output=True)
    channels = subprocess.run(["identify", "-format", "%[channels]", path], capture_output=True)
    if pixels.returncode != 0 or channels.returncode != 0:
        return None, None
    return pixels.stdout, b"a" in channels.stdout


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
    # Colour ramps across and down, a partly transparent corner.
    image = Image.new("RGBA", (WIDTH, HEIGHT))
    for y in range(HEIGHT):
        for x in range(WIDTH):
            alpha = 255 if x + y > 4 else 40 * (x + y)
            image.putpixel((x, y), (x * 255 // (WIDTH - 1), y * 255 // (HEIGHT - 1), (x * 37 + y * 91) % 256, alpha))
    rgb = image.convert("RGB")
    sources = {"rgb": (rgb, os.path.join(OUT, "rgb.png")), "rgba": (image, os.path.join(OUT, "rgba.png"))}
    for picture, path in sources.values():
        picture.save(path)
    for name, source, args in MAGICK:
        subprocess.run(["convert", sources[source][1], *args[:-1], f"{args[-1]}:{os.path.join(OUT, name)}"], check=True)
    for _, path in sources.values():
        os.remove(path)
    short = rgb.quantize(6)
    short.putpalette(short.getpalette()[:18])  # a table of 6 entries (biClrUsed 6)
    for name, picture in [("pil-1.bmp", image.convert("1")), ("pil-grey.bmp", image.convert("L")),
                          ("pil-8-short.bmp", short), ("pil-8.bmp", rgb.quantize(200)),
                          ("pil-24.bmp", rgb), ("pil-32.bmp", image)]:
        picture.save(os.path.join(OUT, name), format="BMP")

    names = sorted(os.listdir(OUT))
    with open(os.path.join(OUT, "decoded.txt"), "w") as out:
        for name in names:
            for decoder, decode in (("imagemagick", decode_magick), ("pil", decode_pil)):
                pixels, alpha = decode(os.path.join(OUT, name))
                if pixels is None or len(pixels) != 4 * WIDTH * HEIGHT:
                    print(f"{name}: {decoder} does not read it", file=sys.stderr)
                    continue
                out.write(f"{name} {decoder} {'alpha' if alpha else 'opaque'} {WIDTH} {HEIGHT} {pixels.hex()}\n")


if __name__ == "__main__":
    main()
