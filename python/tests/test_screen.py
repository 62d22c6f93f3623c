"""The screen: drawing and capture on the virtual screen, and on an Xvfb
display against ImageMagick's reading of it."""

import shutil
import subprocess

import numpy as np
import pytest
from PIL import Image

import kolvex
from conftest import random_pixels


def test_draw_then_capture_on_the_virtual_screen():
    kolvex.use_virtual_screen(64, 48)
    assert kolvex.screen_is_virtual() and kolvex.screen_size() == (64, 48)
    a = random_pixels(11, 10, 13, 3)
    kolvex.Bitmap.from_array(a).draw(5, 7)
    grabbed = kolvex.capture(5, 7, 13, 10)
    assert np.asarray(kolvex.capture(0, 0, 64, 32, bits=32)).shape == (32, 64, 4)  # kept, as on Xvfb
    np.testing.assert_array_equal(np.asarray(grabbed), a)
    # Into a bitmap of the area's size: its DIB section is filled in place, and
    # a writable view of it sees every new frame.
    view = np.asarray(grabbed)
    kolvex.Bitmap.from_array(a[::-1].copy()).draw(5, 7)
    assert kolvex.capture(5, 7, 13, 10, out=grabbed) is None
    np.testing.assert_array_equal(view, a[::-1])
    # A shared bitmap gets a new block: its sharer keeps the old frame.
    del view
    sharer = grabbed.copy()
    kolvex.Bitmap.from_array(a).draw(5, 7)
    kolvex.capture(5, 7, 13, 10, out=grabbed)
    np.testing.assert_array_equal(np.asarray(grabbed), a)
    np.testing.assert_array_equal(np.asarray(sharer), a[::-1])
    with pytest.raises(ValueError, match="the area 4 x 4"):
        kolvex.capture(0, 0, 4, 4, out=grabbed)


def test_capture_matches_imagemagick_on_xvfb(xvfb, tmp_path):
    if shutil.which("import") is None:
        pytest.skip("ImageMagick's import is not installed (Debian: imagemagick)")
    assert not kolvex.screen_is_virtual() and kolvex.screen_size() == (640, 480)
    picture = random_pixels(12, 480, 640, 3)
    kolvex.Bitmap.from_array(picture).draw(0, 0)
    screen = kolvex.capture(0, 0, 640, 480)
    np.testing.assert_array_equal(np.asarray(screen), picture)
    out = tmp_path / "root.png"
    subprocess.run(["import", "-display", xvfb, "-window", "root", str(out)], check=True)
    with Image.open(out) as image:
        pixels = np.asarray(image.convert("RGB"))
    np.testing.assert_array_equal(pixels[..., ::-1], np.asarray(screen))
    frame = kolvex.capture(10, 20, 64, 32, bits=32)
    np.testing.assert_array_equal(np.asarray(frame)[..., :3], picture[20:52, 10:74])
    # 32-bit frames are copies of a grab the module keeps: a later one leaves them be.
    kolvex.Bitmap.from_array(picture[::-1].copy()).draw(0, 0)
    again = kolvex.capture(10, 20, 64, 32, bits=32)
    np.testing.assert_array_equal(np.asarray(again)[..., :3], picture[::-1][20:52, 10:74])
    np.testing.assert_array_equal(np.asarray(frame)[..., :3], picture[20:52, 10:74])
