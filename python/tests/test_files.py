"""Bitmap files: saved files read back by PIL, PIL's files loaded, hostile and
missing files refused with the path and the reason."""

import errno
import io
import resource
import signal
import struct
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

import kolvex
from conftest import random_pixels


@pytest.mark.parametrize("channels, alpha", [(1, False), (3, False), (4, True), (4, False)])
def test_saved_files_read_back_by_pil(tmp_path, channels, alpha):
    a = random_pixels(channels, 7, 5, channels)
    b = kolvex.Bitmap.from_array(a, alpha=alpha)
    path = tmp_path / "frame.bmp"
    b.save(path)
    buffer = io.BytesIO()
    b.save(buffer)
    assert buffer.getvalue() == path.read_bytes() == b.to_bytes()
    # Alpha is kept by a version-5 header; other files have the 40-byte one.
    assert struct.unpack_from("<I", buffer.getvalue(), 14)[0] == (124 if alpha else 40)
    mode = "L" if channels == 1 else "RGBA" if alpha else "RGB"
    with Image.open(path) as image:
        read = np.asarray(image.convert(mode))
    expected = a if channels == 1 else a[..., [2, 1, 0, 3][: len(mode)]]  # R, G, B(, A)
    np.testing.assert_array_equal(read, expected)
    loaded = kolvex.Bitmap.load(str(path))
    np.testing.assert_array_equal(np.asarray(loaded), a)
    assert loaded.alpha == alpha


@pytest.mark.parametrize("mode", ["RGB", "L", "P", "1"])
def test_pil_files_load(tmp_path, mode):
    rgb = random_pixels(9, 6, 11, 3)
    image = Image.fromarray(rgb).convert(mode)
    path = tmp_path / "pil.bmp"
    image.save(path)
    b = kolvex.Bitmap.load(path)
    expected = np.asarray(image.convert("L" if mode == "L" else "RGB"))
    got = np.asarray(b)
    np.testing.assert_array_equal(got if mode == "L" else got[..., ::-1], expected)
    np.testing.assert_array_equal(np.asarray(kolvex.Bitmap.from_bytes(path.read_bytes())), got)


def header(width, height, bits=24, offset=54, compression=0):
    return b"BM" + struct.pack("<IHHI", 1000, 0, 0, offset) + struct.pack(
        "<IiiHHIIiiII", 40, width, height, 1, bits, compression, 0, 0, 0, 0, 0)


@pytest.mark.parametrize(
    "data, reason",
    [
        (b"", "too short"),
        (b"GIF89a" + bytes(60), "not a bitmap file"),
        (header(4, 4), "truncated"),  # no pixel bytes behind the headers
        (header(1 << 30, 1 << 30) + bytes(64), "large|size|limit|short"),
        (header(4, 4, bits=7) + bytes(64), "bit"),
        (header(4, 4, compression=4) + bytes(64), "embedded JPEG"),
    ],
)
def test_hostile_files_refused_with_the_reason(tmp_path, data, reason):
    with pytest.raises(ValueError, match=reason):
        kolvex.Bitmap.from_bytes(data)
    path = tmp_path / "hostile.bmp"
    path.write_bytes(data)
    with pytest.raises(OSError, match=reason) as e:
        kolvex.Bitmap.load(path)
    assert e.value.errno == errno.EINVAL and e.value.filename == str(path)


def test_missing_and_unwritable_paths(tmp_path):
    with pytest.raises(FileNotFoundError) as e:
        kolvex.Bitmap.load(tmp_path / "missing.bmp")
    assert e.value.filename == str(tmp_path / "missing.bmp")
    with pytest.raises(OSError, match="not a regular file"):
        kolvex.Bitmap.load(tmp_path)
    with pytest.raises(FileNotFoundError):
        kolvex.Bitmap(2, 2).save(tmp_path / "no" / "such" / "dir.bmp")


def test_failed_save_leaves_no_partial_file(tmp_path):
    path = tmp_path / "big.bmp"
    # A file size limit makes the write fail part of the way (EFBIG).
    old = resource.getrlimit(resource.RLIMIT_FSIZE)
    handler = signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (4096, old[1]))
    try:
        with pytest.raises(OSError) as e:
            kolvex.Bitmap(100, 100).save(path)
    finally:
        resource.setrlimit(resource.RLIMIT_FSIZE, old)
        signal.signal(signal.SIGXFSZ, handler)
    assert e.value.errno == errno.EFBIG and not path.exists()
    with pytest.raises(OSError):
        kolvex.Bitmap(2, 2).save("/dev/full")  # written in place, never removed
    assert Path("/dev/full").exists()
