"""Views of the pixels without copies, sharing kept safe, pickling, threads,
and bad input refused with nothing leaked."""

import gc
import pickle
import threading

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kolvex
from conftest import random_pixels


def address(a):
    return a.__array_interface__["data"][0]


@settings(max_examples=20, deadline=None)
@given(st.integers(0, 2**32 - 1), st.integers(1, 17), st.integers(1, 17), st.sampled_from([1, 3, 4]))
def test_view_is_the_pixels_top_down(seed, h, w, channels):
    a = random_pixels(seed, h, w, channels)
    b = kolvex.Bitmap.from_array(a)
    v = np.asarray(b)
    np.testing.assert_array_equal(v, a)
    assert v.strides[0] == -b.stride and v.strides[1:] == (channels, 1)[: v.ndim - 1]
    # Every view is the same memory, and it is what the library reads.
    assert address(np.asarray(b)) == address(v) and np.shares_memory(np.asarray(b), v)
    v[0, 0] = 255 - v[0, 0]
    np.testing.assert_array_equal(np.asarray(b.copy()), v)
    np.testing.assert_array_equal(np.asarray(pickle.loads(pickle.dumps(b))), v)
    # The view outlives its bitmap: the block is not freed and reused under it.
    del b
    gc.collect()
    for junk in [kolvex.Bitmap(w, h, bits=8 * channels) for _ in range(4)]:
        junk.clear(255 if channels == 1 else (255,) * channels)
    assert v[0, 0].tolist() == (255 - a[0, 0]).tolist()


def test_writable_view_locks_and_writes_reach_only_its_bitmap():
    a = random_pixels(1, 6, 5, 3)
    b = kolvex.Bitmap.from_array(a)
    v = np.asarray(b)
    assert v.flags.writeable and b.locked and not b.shared
    copy = b.copy()  # copies the locked block
    assert not copy.shared and not np.shares_memory(np.asarray(copy), v)
    v[:] = 9
    np.testing.assert_array_equal(np.asarray(copy), a)
    b.clear(0x010203)  # in place: the view sees it
    assert (v == [3, 2, 1]).all()
    del v
    gc.collect()
    assert not b.locked


def test_view_of_shared_block_is_a_read_only_snapshot():
    a = random_pixels(2, 4, 7, 4)
    b = kolvex.Bitmap.from_array(a)
    c = b.copy()
    assert b.shared and c.shared
    v = np.asarray(b)
    assert not v.flags.writeable and not b.locked
    with pytest.raises(ValueError):
        v[0, 0, 0] = 1
    b.clear(0)
    c.brightness(0, inplace=True)
    np.testing.assert_array_equal(v, a)  # the view keeps the block it showed
    assert not b.shared and not np.asarray(b).any()  # b and c wrote into blocks of their own
    assert np.asarray(b).flags.writeable


def test_operations_while_a_writable_view_lives_copy_first():
    assert kolvex.cache_capacity_kb(1024) == 1024
    b = kolvex.Bitmap.from_array(random_pixels(4, 8, 8, 3))
    v = np.asarray(b)
    assert b.cache(41, 42)  # the cache keeps a copy: the block is locked
    found = kolvex.lookup(41, 42, width=8, height=8)
    v[:] = 0
    assert np.asarray(found).any() and not np.shares_memory(np.asarray(found), v)
    kolvex.cache_capacity_kb(0)
    with pytest.raises(BufferError):  # contiguous bytes: rows are stored bottom-up
        np.frombuffer(b, np.uint8)


def test_pickle_every_protocol_and_out_of_band():
    b = kolvex.Bitmap.from_array(random_pixels(5, 7, 3, 4), interlaced=True, alpha=False)
    for protocol in range(2, pickle.HIGHEST_PROTOCOL + 1):
        c = pickle.loads(pickle.dumps(b, protocol=protocol))
        assert (c.shape, c.interlaced, c.alpha) == ((7, 3, 4), True, False)
        np.testing.assert_array_equal(np.asarray(c), np.asarray(b))
    buffers = []
    data = pickle.dumps(b, protocol=5, buffer_callback=buffers.append)
    assert len(buffers) == 1 and len(data) < 200  # the pixels travel out of band
    np.testing.assert_array_equal(np.asarray(pickle.loads(data, buffers=buffers)), np.asarray(b))


def test_two_threads_hammering_one_bitmap():
    b = kolvex.Bitmap(640, 480, bits=32)  # large enough for calls to overlap
    stop = threading.Event()
    bad = []

    def writer():
        try:
            for i in range(300):
                b.clear(i % 251 * 0x01010101)
                b.interlaced = i % 2 == 0
                view = np.asarray(b)  # read-only while a copy of the reader's shares the block
                if view.flags.writeable:
                    view[0, 0] = i % 251  # a writable view locks the bitmap meanwhile
                del view
                b.clear(i % 251 * 0x01010101)
        except Exception as e:  # noqa: BLE001 - reported by the assertion below
            bad.append(e)
        finally:
            stop.set()

    def reader():
        while not stop.is_set():
            for made in (b.quarter(), b.copy(), pickle.loads(pickle.dumps(b)), b.median()):
                px = np.asarray(made)
                # One clear value (the view may have set the corner pixel).
                body = px.reshape(-1, 4)[1:-1]
                if len(np.unique(body)) > 2:
                    bad.append(np.unique(body))

    threads = [threading.Thread(target=writer), threading.Thread(target=reader)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not bad
    assert not b.locked


@pytest.mark.parametrize(
    "array, reason",
    [
        (np.zeros((4, 4, 3), np.float32), "uint8 pixels, not float32"),
        (np.zeros((4, 4), np.int16), "uint8 pixels, not int16"),
        (np.zeros((4, 4, 3), bool), "uint8 pixels, not bool"),
        (np.zeros((4, 4, 2), np.uint8), r"not shape \(4, 4, 2\)"),
        (np.zeros(12, np.uint8), r"not shape \(12,\)"),
        (np.lib.stride_tricks.as_strided(np.zeros(1, np.uint8), (70000, 70000, 3), (0, 0, 0)),
         "over the library's limit"),
    ],
)
def test_bad_arrays_refused(array, reason):
    with pytest.raises(ValueError, match=reason):
        kolvex.Bitmap.from_array(array)


def test_non_contiguous_arrays_are_copied_as_they_lie():
    a = random_pixels(6, 10, 12, 4)
    for view in (a[::2, ::3], a[::-1, :, :3], a.transpose(1, 0, 2), a[..., 1]):
        np.testing.assert_array_equal(np.asarray(kolvex.Bitmap.from_array(view)), view)


def resident_kb():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4


def test_failing_calls_leak_nothing():
    grey = kolvex.Bitmap(16, 16, bits=8)
    wrong = np.zeros((4, 4), np.float64)
    calls = [
        lambda: kolvex.Bitmap.from_bytes(b"BM" + bytes(60)),
        lambda: kolvex.Bitmap.load("/nonexistent/frame.bmp"),
        lambda: kolvex.Bitmap.from_array(wrong),
        lambda: grey.quarter(),
        lambda: kolvex.Bitmap(70000, 70000),
    ]

    def fail(n):
        for i in range(n):
            try:
                calls[i % len(calls)]()
            except (ValueError, OSError):
                pass
            else:
                raise AssertionError("the call succeeded")

    fail(1000)  # warm up: allocator pools, interned messages
    gc.collect()
    before = resident_kb()
    fail(10000)
    gc.collect()
    assert resident_kb() - before < 1024  # kB; a leak of 100 bytes a call is 1 MB
