#!/usr/bin/python3
"""The Python module's speed beside the same C++ calls and OpenCV's nearest calls,
and its screen capture beside PIL's ImageGrab.

    bench/python_compare.py [--build build/default] [--reps 7] [--calls 40] [--no-screen]

Operations run on 1920x1080 frames at 24 and 32 bits, cycled from a pool of 8
noise frames (more than a last-level cache holds), each result kept as a user
keeps it in a frame loop. For each operation it prints milliseconds per call
(median of the repetitions, with the spread min..max) of:
  - python: the kolvex method (a new Bitmap per call, the previous one freed);
  - c++: the same library call as a C++ client makes it (bench/python_peer);
  - cv2 1t / cv2: OpenCV's nearest call (cv2.resize INTER_AREA for the
    reductions, INTER_NEAREST for scaling, cv2.flip, cv2.LUT, cv2.medianBlur)
    on the same pixels as a contiguous array, single-threaded and with its
    default threads;
and the ratios python / c++ and python / cv2 (default threads).

The screen part starts a 1920x1080x24 Xvfb display and grabs its whole screen,
side by side in one run: PIL's ImageGrab.grab(), kolvex.capture() into a new
bitmap (24 and 32 bits), and kolvex.capture(out=...) into one reused bitmap
whose numpy view is made once. Figures are frames per second (median of the repetitions).

Run it on a quiet machine: these operations are bound by memory bandwidth.
`scripts/install-deps bench` installs OpenCV for Python (python3-opencv).
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parent.parent
W, H, POOL = 1920, 1080, 8


def summary(samples):
    return statistics.median(samples), min(samples), max(samples)


def timed(call, pool, reps, calls):
    """Milliseconds per call of each repetition; results kept as a loop keeps them."""
    out = []
    for _ in range(reps):
        kept = None
        start = time.perf_counter()
        for i in range(calls):
            kept = call(pool[i % POOL])
        out.append((time.perf_counter() - start) * 1000 / calls)
        del kept
    return out


def python_ops():
    return {
        "quarter": lambda b: b.quarter(),
        "eighth": lambda b: b.eighth(),
        "scaled 1280x720": lambda b: b.scaled(1280, 720),
        "mirrored": lambda b: b.mirrored(),
        "field odd": lambda b: b.field(True),
        "brightness": lambda b: b.brightness(100),
        "brightness in place": lambda b: b.brightness(128, inplace=True),
        "median": lambda b: b.median(),
    }


def cv2_ops(cv2):
    table = np.clip(np.arange(256) + 28, 0, 255).astype(np.uint8)
    keep = np.arange(256, dtype=np.uint8)

    def lut(a, dst=None):
        # cv2.LUT changes every channel; the library keeps a 32-bit pixel's
        # fourth byte, so at 32 bits the table is one per channel.
        t = table if a.shape[2] == 3 else np.stack([table, table, table, keep], axis=-1)
        return cv2.LUT(a, t.reshape(256, 1, -1) if t.ndim == 2 else t, dst=dst)

    return {
        "quarter": lambda a: cv2.resize(a, (W // 2, H // 2), interpolation=cv2.INTER_AREA),
        "eighth": lambda a: cv2.resize(a, (W // 4, H // 4), interpolation=cv2.INTER_AREA),
        "scaled 1280x720": lambda a: cv2.resize(a, (1280, 720), interpolation=cv2.INTER_NEAREST),
        "mirrored": lambda a: cv2.flip(a, 1),
        "brightness": lambda a: lut(a),
        "brightness in place": lambda a: lut(a, dst=a),
        "median": lambda a: cv2.medianBlur(a, 3),
    }


def cxx_times(build, reps, calls):
    peer = Path(build) / "bench" / "python_peer"
    if not peer.exists():
        print(f"({peer} is not built: no C++ column)")
        return {}
    lines = subprocess.run([str(peer), str(reps), str(calls)], check=True, capture_output=True,
                           text=True).stdout.splitlines()
    out = {}
    for line in lines:
        name, bits, *samples = line.split("\t")
        out[(name, int(bits))] = [float(s) for s in samples]
    return out


def fmt(s):
    if s is None:
        return f"{'-':>17}"
    m, lo, hi = summary(s)
    return f"{m:6.2f} ({lo:5.2f}-{hi:5.2f})"


def operations(args, kolvex):
    try:
        import cv2
    except ImportError:
        cv2 = None
        print("(OpenCV for Python is not installed: no cv2 columns)")
    cxx = cxx_times(args.build, args.reps, args.calls)
    rng = np.random.default_rng(1)
    print(f"\nms per call, median (min-max) of {args.reps} x {args.calls} calls, 1920x1080")
    print(f"{'operation':<20}{'bits':>5}  {'python':>17}  {'c++':>17}  {'cv2 1t':>17}  "
          f"{'cv2':>17}  {'py/c++':>6}  {'py/cv2':>6}")
    for bits in (24, 32):
        arrays = [rng.integers(0, 256, (H, W, bits // 8), dtype=np.uint8) for _ in range(POOL)]
        bitmaps = [kolvex.Bitmap.from_array(a) for a in arrays]
        for name, call in python_ops().items():
            py = timed(call, bitmaps, args.reps, args.calls)
            peer = cv2_ops(cv2).get(name) if cv2 else None
            one = many = None
            if peer:
                contiguous = [np.ascontiguousarray(a) for a in arrays]
                cv2.setNumThreads(1)
                one = timed(peer, contiguous, args.reps, args.calls)
                cv2.setNumThreads(-1)
                many = timed(peer, contiguous, args.reps, args.calls)
            c = cxx.get((name, bits))
            ratio_c = f"{summary(py)[0] / summary(c)[0]:6.2f}" if c else f"{'-':>6}"
            ratio_cv = f"{summary(py)[0] / summary(many)[0]:6.2f}" if many else f"{'-':>6}"
            print(f"{name:<20}{bits:>5}  {fmt(py)}  {fmt(c)}  {fmt(one)}  {fmt(many)}  "
                  f"{ratio_c}  {ratio_cv}")
        del bitmaps, arrays


def start_xvfb():
    read, write = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0", f"{W}x{H}x24"],
        pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as f:
        return server, ":" + f.readline().strip()


def rate(call, reps, frames):
    """Frames per second of each repetition."""
    out = []
    call()  # connections, first faults
    for _ in range(reps):
        start = time.perf_counter()
        for _ in range(frames):
            call()
        out.append(frames / (time.perf_counter() - start))
    return out


def screen(args, kolvex):
    if shutil.which("Xvfb") is None:
        print("\n(Xvfb is not installed: no capture figures)")
        return
    server, display = start_xvfb()
    try:
        os.environ["DISPLAY"] = display
        kolvex.use_display(display)
        kolvex.Bitmap.from_array(
            np.random.default_rng(2).integers(0, 256, (H, W, 3), dtype=np.uint8)).draw(0, 0)
        from PIL import ImageGrab

        reused = kolvex.Bitmap(W, H)
        kolvex.capture(0, 0, W, H, out=reused)  # now a DIB section, filled in place from here on
        view = np.asarray(reused)  # made once: every capture below lands in it

        def into_view():
            kolvex.capture(0, 0, W, H, out=reused)
            return view

        grabs = {
            "PIL ImageGrab.grab()": lambda: np.asarray(ImageGrab.grab(xdisplay=display)),
            "kolvex.capture() new": lambda: np.asarray(kolvex.capture(0, 0, W, H)),
            "kolvex.capture(bits=32) new": lambda: np.asarray(kolvex.capture(0, 0, W, H, bits=32)),
            "kolvex.capture(out=) reused": into_view,
            "kolvex.capture(out=, bits=32)": None,
        }
        reused32 = kolvex.capture(0, 0, W, H, bits=32)
        view32 = np.asarray(reused32)
        grabs["kolvex.capture(out=, bits=32)"] = lambda: (
            kolvex.capture(0, 0, W, H, out=reused32), view32)
        pil_pixels = np.asarray(ImageGrab.grab(xdisplay=display))[..., ::-1]
        assert np.array_equal(pil_pixels, into_view())
        assert np.array_equal(pil_pixels, np.asarray(kolvex.capture(0, 0, W, H)))
        print(f"\nwhole-screen capture into an array, {W}x{H}x24 Xvfb, frames/s "
              f"(median, min-max of {args.reps})")
        results = {name: rate(call, args.reps, args.frames) for name, call in grabs.items()}
        pil = summary(results["PIL ImageGrab.grab()"])[0]
        for name, r in results.items():
            m, lo, hi = summary(r)
            print(f"{name:<32}{m:8.1f} ({lo:7.1f}-{hi:7.1f})  x{m / pil:5.1f} PIL")
        del view, view32
    finally:
        server.terminate()
        server.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=str(ROOT / "build" / "default"))
    parser.add_argument("--reps", type=int, default=7)
    parser.add_argument("--calls", type=int, default=40)
    parser.add_argument("--frames", type=int, default=30, help="screen grabs per repetition")
    parser.add_argument("--no-screen", action="store_true")
    parser.add_argument("--no-ops", action="store_true")
    args = parser.parse_args()
    sys.path.insert(0, str(Path(args.build) / "python"))
    import kolvex

    print(f"kolvex from {Path(kolvex.__file__).parent}, {os.cpu_count()} cores")
    if not args.no_ops:
        operations(args, kolvex)
    if not args.no_screen:
        screen(args, kolvex)


if __name__ == "__main__":
    main()
