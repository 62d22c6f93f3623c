#!/usr/bin/env python3
"""Screen capture and drawing at 1920x1080: kolvex beside ffmpeg's x11grab on
one Xvfb display started for the run, and DrawToDesktop beside a memcpy of the
frame.

    bench/screen_compare.py [--build build/default] [--rounds 3]

Each round runs ffmpeg and then bench/screen_bench on the same display; the
best round of each counts (other processes on the machine only slow a round
down). ffmpeg's rate is measured without its start-up: two runs of different
lengths, frames over seconds of the difference. Its x11grab paces frames at
-framerate (29.97 by default), so it runs with a rate it cannot reach; the
paced run of its default settings is shown as well.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time


def start_xvfb():
    read, write = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-noreset", "-screen", "0", "1920x1080x24"],
        pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):  # the number, then a newline once it accepts connections
        chunk = os.read(read, 16)
        if not chunk:
            sys.exit("Xvfb did not start")
        number += chunk
    os.close(read)
    return server, ":" + number.decode().strip()


def ffmpeg_seconds(display, frames, rate):
    command = ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "fatal", "-f", "x11grab", "-video_size",
               "1920x1080"]
    if rate:
        command += ["-framerate", rate]
    command += ["-i", display, "-frames:v", str(frames), "-f", "null", "-"]
    start = time.perf_counter()
    subprocess.run(command, check=True)
    return time.perf_counter() - start


def ffmpeg_fps(display, rate, short, long):
    return (long - short) / (ffmpeg_seconds(display, long, rate) - ffmpeg_seconds(display, short, rate))


def ours(build, display):
    out = subprocess.run([os.path.join(build, "bench", "screen_bench"), "--benchmark_format=json",
                          "--benchmark_min_time=1"],
                         env=dict(os.environ, DISPLAY=display), check=True, capture_output=True, text=True)
    return {b["name"]: b for b in json.loads(out.stdout)["benchmarks"]}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    for tool in ("Xvfb", "ffmpeg"):
        if shutil.which(tool) is None:
            sys.exit(f"{tool} is not installed (Debian: xvfb, ffmpeg)")

    server, display = start_xvfb()
    try:
        paced = 200 / ffmpeg_seconds(display, 200, None)
        ffmpeg, kolvex = [], []
        for _ in range(args.rounds):
            ffmpeg.append(ffmpeg_fps(display, "100000", 200, 1200))
            kolvex.append(ours(args.build, display))
    finally:
        server.terminate()
        server.wait()

    def best(name, field):
        values = [round_[name][field] for round_ in kolvex]
        return max(values) if field == "frames/s" else min(values)

    capture = [
        ("ffmpeg x11grab, its default -framerate (paced, start-up included)", paced),
        ("ffmpeg x11grab -framerate 100000", max(ffmpeg)),
        ("kolvex CreateFromDesktop (a new 24-bit bitmap per frame)",
         best("CreateFromDesktop/w:1920/h:1080/bits:24/real_time", "frames/s")),
        ("kolvex BitBlt into a top-down 32-bit DIB section (reused, filled in place)",
         best("BitBltToSection/top_down/w:1920/h:1080/bits:32/real_time", "frames/s")),
        ("kolvex BitBlt into a bottom-up 32-bit DIB section (reused, rows copied)",
         best("BitBltToSection/bottom_up/w:1920/h:1080/bits:32/real_time", "frames/s")),
    ]
    print(f"Capture of the 1920x1080 screen of Xvfb {display}, best of {args.rounds} rounds")
    for name, fps in capture:
        print(f"  {name:<76} {fps:8.1f} frames/s")
    memcpy = best("Memcpy/w:1920/h:1080/bits:32/real_time", "real_time")
    print("Drawing a 1920x1080 frame at natural size (ms per frame, ratio to the memcpy)")
    print(f"  {'memcpy of the 32-bit frame':<68} {memcpy:8.3f} ms")
    for bits in (32, 24):
        ms = best(f"DrawToDesktop/w:1920/h:1080/bits:{bits}/real_time", "real_time")
        print(f"  {f'kolvex DrawToDesktop, {bits} bits':<68} {ms:8.3f} ms  {ms / memcpy:4.1f}x")


if __name__ == "__main__":
    main()
