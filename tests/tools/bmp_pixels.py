"""Prints a bitmap file's pixels as an independent decoder (PIL) reads them:
a line "width height", then one line per row from the top, each pixel as six
hex digits rrggbb."""
import sys

from PIL import Image

with Image.open(sys.argv[1]) as image:
    rgb = image.convert("RGB")
    width, height = rgb.size
    data = rgb.tobytes()
print(width, height)
for y in range(height):
    print(data[3 * width * y: 3 * width * (y + 1)].hex())
