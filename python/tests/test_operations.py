"""Every transform and filter against a numpy oracle of its documented rule, on
random images of odd sizes. Oracles work on stored rows (bottom row first),
as the library pairs and picks rows; arrays are top-down, so they flip."""

import os

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kolvex
from conftest import random_pixels

sizes = st.integers(1, 21)
seeds = st.integers(0, 2**32 - 1)
colour = st.sampled_from([3, 4])
fields = st.sampled_from([None, "even", "odd", kolvex.Field.Even, kolvex.Field.Odd])


def stored(a):
    return a[::-1].astype(np.int32)


def top_down(s):
    return s[::-1].astype(np.uint8)


def stored_field(field, height):
    """The stored field (0: rows 0, 2, ... from the bottom) of a picture field."""
    even = field in ("even", kolvex.Field.Even)
    return 1 if even == (height % 2 == 0) else 0


def make(a, interlaced):
    return kolvex.Bitmap.from_array(a, interlaced=interlaced)


def reduce_oracle(a, n, stored_rows):
    """n x n means rounded half up, or, for one stored field, the mean of its
    rows r and r + 2 (n = 4) or of row r (n = 2), n pixels each."""
    s = stored(a)
    h, w = s.shape[0] // n * n, s.shape[1] // n * n
    s = s[:h, :w]
    if stored_rows is None:
        rows = [s[i::n] for i in range(n)]
    else:
        rows = [s[stored_rows + 2 * k :: n] for k in range(n // 2)]
    total = sum(r[:, j::n] for r in rows for j in range(n))
    count = n * len(rows)
    return top_down((total + count // 2) // count)


@settings(max_examples=60, deadline=None)
@given(seeds, sizes, sizes, colour, st.booleans(), fields, st.sampled_from([2, 4]))
def test_reductions(seed, h, w, channels, interlaced, field, n):
    a = random_pixels(seed, h, w, channels)
    b = make(a, interlaced)
    out = b.quarter(field=field) if n == 2 else b.eighth(field=field)
    if field is not None:
        rows = stored_field(field, h)
    else:
        rows = 1 if interlaced else None
    np.testing.assert_array_equal(np.asarray(out), reduce_oracle(a, n, rows))
    assert not out.interlaced and out.alpha == (channels == 4)  # alpha flags clear: valid


def centres(dst, src):
    """The source pixel under each destination pixel's centre; a centre on a
    boundary takes the later one."""
    return [(2 * i + 1) * src // (2 * dst) for i in range(dst)]


@settings(max_examples=60, deadline=None)
@given(seeds, sizes, sizes, colour, st.integers(0, 30), st.integers(0, 30), st.booleans(), fields)
def test_scaled(seed, h, w, channels, dw, dh, interlaced, field):
    a = random_pixels(seed, h, w, channels)
    out = make(a, interlaced).scaled(dw, dh, field=field)
    assert out.shape[:2] == (dh, dw)
    rows = centres(dh, h)
    if field is not None:
        f = stored_field(field, h)
        rows = [min((r & ~1) + f, h - 1) for r in rows]
    if dw and dh:
        expected = top_down(stored(a)[rows][:, centres(dw, w)])
        np.testing.assert_array_equal(np.asarray(out), expected)
    assert out.interlaced == (interlaced and field is None)


@settings(max_examples=30, deadline=None)
@given(seeds, sizes, sizes, colour, st.booleans(), st.booleans())
def test_mirrored(seed, h, w, channels, horizontal, vertical):
    a = random_pixels(seed, h, w, channels)
    expected = a[::-1 if vertical else 1, ::-1 if horizontal else 1]
    out = make(a, False).mirrored(horizontal=horizontal, vertical=vertical)
    np.testing.assert_array_equal(np.asarray(out), expected)


def frame_oracle(a, odd, interpolate):
    """A frame from one field, by the row workers' rules in stored order."""
    s = stored(a)
    h = s.shape[0]
    f = (0 if h % 2 == 0 else 1) if odd else (1 if h % 2 == 0 else 0)
    avg = lambda i, j: (s[i] + s[j] + 1) >> 1  # noqa: E731
    out = np.empty_like(s)
    for r in range(h):
        if not interpolate:
            out[r] = s[r & ~1] if f == 0 else s[min(r | 1, h - 1)]
        elif r % 2 == f:
            out[r] = s[r]
        elif 0 < r < h - 1:
            out[r] = avg(r - 1, r + 1)
        else:  # an edge row repeats the nearest row of the field
            out[r] = s[r + 1] if r == 0 and h > 1 else s[max(r - 1, 0)]
    return top_down(out)


@settings(max_examples=60, deadline=None)
@given(seeds, sizes, sizes, st.sampled_from([1, 3, 4]), st.booleans(), st.booleans())
def test_field_frames_and_weave(seed, h, w, channels, odd, interpolate):
    a = random_pixels(seed, h, w, channels)
    b = make(a, True)
    out = b.field(odd, interpolate=interpolate)
    np.testing.assert_array_equal(np.asarray(out), frame_oracle(a, odd, interpolate))
    assert not out.interlaced
    other = random_pixels(seed + 1, h, w, channels)
    woven = kolvex.Bitmap.weave(make(other, False), b)
    expected = a.copy()
    expected[1::2] = other[1::2]
    np.testing.assert_array_equal(np.asarray(woven), expected)
    assert woven.interlaced


@settings(max_examples=40, deadline=None)
@given(seeds, sizes, sizes, colour, st.integers(-300, 600), st.booleans())
def test_brightness(seed, h, w, channels, level, inplace):
    a = random_pixels(seed, h, w, channels)
    d = min(max(level - 128, -128), 127)
    table = np.clip(np.arange(256) - d, 0, 255).astype(np.uint8)
    expected = a.copy()
    expected[..., :3] = table[a[..., :3]]
    b = make(a, False)
    out = b.brightness(level, inplace=inplace)
    if inplace:
        assert out is None
        out = b
    else:
        np.testing.assert_array_equal(np.asarray(b), a)
    np.testing.assert_array_equal(np.asarray(out), expected)


@settings(max_examples=40, deadline=None)
@given(seeds, sizes, sizes, st.sampled_from([1, 3, 4]))
def test_median(seed, h, w, channels):
    a = random_pixels(seed, h, w, channels)
    expected = a.copy()
    if h >= 3 and w >= 3:
        windows = [a[i : h - 2 + i, j : w - 2 + j] for i in range(3) for j in range(3)]
        expected[1:-1, 1:-1] = np.sort(np.stack(windows), axis=0)[4]
    np.testing.assert_array_equal(np.asarray(make(a, False).median()), expected)


def test_depths_and_arguments_refused():
    grey, colour = kolvex.Bitmap(9, 5, bits=8), kolvex.Bitmap(9, 5)
    for call, reason in [
        (grey.quarter, "takes 24, 32-bit pixels, not 8"),
        (lambda: grey.brightness(100), "takes 24, 32-bit pixels, not 8"),
        (lambda: colour.quarter(field="top"), "field must be"),
        (lambda: colour.scaled(-1, 4), "negative size"),
        (lambda: colour.scaled(70000, 70000), "over the library's limit"),
        (lambda: kolvex.Bitmap.weave(colour, kolvex.Bitmap(9, 4)), "fields differ"),
        (lambda: kolvex.Bitmap(4, 4, bits=16), "bits must be 8, 24 or 32"),
    ]:
        with pytest.raises(ValueError, match=reason):
            call()


@pytest.mark.parametrize(
    "bits, value, pixel",
    [(8, 77, [77]), (24, 0x102030, [0x30, 0x20, 0x10]), (32, (1, 2, 3, 4), [1, 2, 3, 4])],
)
def test_clear(bits, value, pixel):
    b = kolvex.Bitmap(5, 3, bits=bits)
    b.clear(value)
    assert (np.asarray(b).reshape(15, -1) == pixel).all()
    with pytest.raises(ValueError):
        b.clear(-1)


def test_threads_give_the_same_bytes():
    a = random_pixels(5, 1080, 1920, 4)  # large enough to be split into bands
    b = make(a, False)
    try:
        for n in (1, 2):
            kolvex.set_threads(n)
            assert kolvex.get_threads() == n
            np.testing.assert_array_equal(np.asarray(b.quarter()), reduce_oracle(a, 2, None))
        kolvex.set_threads(1000)
        assert kolvex.get_threads() == 256
    finally:
        kolvex.set_threads(0)
    assert kolvex.get_threads() == len(os.sched_getaffinity(0))
