"""Kolvex for Python: the library's exact, fast bitmap operations on numpy arrays.

    import numpy as np, kolvex
    frame = kolvex.Bitmap.from_array(bgr)       # H x W x 3 uint8 (B, G, R): one copy
    half = frame.quarter()                      # a new Bitmap, 2 x 2 means rounded half up
    view = np.asarray(half)                     # no copy: rows top-down, negative row stride
    kolvex.Bitmap.load("in.bmp").median().save("out.bmp")
    screen = np.asarray(kolvex.capture(0, 0, 1920, 1080))

Every pixel operation releases the GIL. Bitmaps pickle (header and pixels), so
they travel between processes (multiprocessing, Dask). Linux only.
"""

from . import _kolvex
from ._kolvex import (
    Bitmap,
    Field,
    capture,
    get_threads,
    lookup,
    screen_is_virtual,
    screen_size,
    set_threads,
    use_display,
    use_virtual_screen,
)

__all__ = [
    "Bitmap",
    "Field",
    "cache_capacity_kb",
    "cache_used_kb",
    "capture",
    "get_threads",
    "lookup",
    "screen_is_virtual",
    "screen_size",
    "set_threads",
    "use_display",
    "use_virtual_screen",
]

for _name in ("Bitmap", "Field"):
    getattr(_kolvex, _name).__module__ = __name__


def _restore(bits, width, height, interlaced, alpha_flag, pixels):
    """Rebuilds a pickled Bitmap (see Bitmap.__reduce_ex__)."""
    return Bitmap._from_state(bits, width, height, interlaced, alpha_flag, pixels)


def cache_capacity_kb(kb=None):
    """The image cache's capacity in kilobytes; with kb, sets it first.

    The cache keeps nothing until a capacity is set (0 at start). Setting it
    evicts down to the new capacity at once, least looked-up entries first;
    0 empties the cache and keeps it empty."""
    if kb is not None:
        _kolvex._set_cache_capacity_kb(kb)
    return _kolvex._cache_capacity_kb()


def cache_used_kb():
    """Kilobytes the cached entries count together."""
    return _kolvex._cache_used_kb()
