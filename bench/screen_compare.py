#!/usr/bin/env python3
"""The screen at 1920x1080: kolvex's capture beside ffmpeg's x11grab, and its
drawing beside the bound, the X server's own copy of the frame handed to it
already converted. One Xvfb display is started for the run.

    bench/screen_compare.py [--build build/default] [--rounds 5] [--seconds 1]
    bench/screen_compare.py --wine [--windows-build build/windows] ...

Each round runs ffmpeg (twice: without and with the mouse pointer drawn in)
and then every case of bench/screen_bench for --seconds each, so that a change
in the machine's load meets all of them; the figures are the medians over the
rounds with their spread (lowest to highest), and each ratio is taken within
a round before its median. ffmpeg's rate is its own frame count over its own
clock (the grab's timestamps), from its second progress report to one about
three seconds later: its start-up (connecting, probing, the first frame) is
outside the count. x11grab paces frames at -framerate, so it is given a rate
it cannot reach, and frames pass through unduplicated.

--wine runs the Windows build's screen_bench under Wine (its desktop on the
display started here) beside ffmpeg and the bound on the same display. Wine's
GDI is not Windows': those figures are reported, not targeted.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys

SIZE = "1920x1080"
SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def start_xvfb():
    read, write = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-noreset", "-screen", "0", SIZE + "x24"],
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


def ffmpeg_fps(display, pointer, seconds=3.0):
    """Frames per second of x11grab by ffmpeg's own count and clock: frames
    over the difference of out_time (the grab's wall-clock timestamps)
    between its second progress report and one `seconds` later. Frames are
    passed through, never duplicated (dup_frames must stay 0)."""
    command = ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-nostats",
               "-f", "x11grab", "-draw_mouse", "1" if pointer else "0", "-framerate", "100000",
               "-video_size", SIZE, "-i", display, "-fps_mode", "passthrough", "-f", "null", "-",
               "-progress", "pipe:1", "-stats_period", "0.25"]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
    reports = []  # (out_time in seconds, frames) at each progress report
    block = {}
    try:
        for line in process.stdout:
            key, _, value = line.strip().partition("=")
            block[key] = value
            if key != "progress":
                continue
            if int(block.get("dup_frames", "0")) != 0:
                sys.exit("ffmpeg duplicated frames: its count is not the grab's")
            reports.append((int(block["out_time_us"]) / 1e6, int(block["frame"])))
            if len(reports) >= 2 and reports[-1][0] - reports[1][0] >= seconds:
                break
    finally:
        process.terminate()
        process.wait()
    if len(reports) < 3 or reports[-1][0] <= reports[1][0]:
        sys.exit("ffmpeg stopped before it reported its progress")
    (t0, f0), (t1, f1) = reports[1], reports[-1]
    return (f1 - f0) / (t1 - t0)


def screen_bench(command, seconds, only=None):
    """Milliseconds per frame of each case of one round, by name."""
    args = command + ["--rounds", "1", "--seconds", str(seconds)]
    if only:
        args += ["--only", ",".join(only)]
    out = subprocess.run(args, check=True, capture_output=True, text=True).stdout
    cases = {}
    for line in out.splitlines():
        if line.startswith("{"):
            case = json.loads(line)
            if not case.get("failed") and case["ms"]:
                cases[case["name"]] = case["ms"][0]
    return cases


def spread(values, unit, digits=1):
    if not values:
        return "(not measured)"
    f = f"{{:.{digits}f}}"
    return (f"{f.format(statistics.median(values))} {unit}"
            f"  [{f.format(min(values))} .. {f.format(max(values))}]")


def report(rounds, title):
    """rounds: per round, a dict of figures (fps for captures, ms for drawing)."""
    def column(name):
        return [r[name] for r in rounds if name in r]

    def ratio(a, b, invert=False):
        return [(r[b] / r[a] if invert else r[a] / r[b]) for r in rounds if a in r and b in r]

    fps = {name: [1000 / ms for ms in column(name)] for name in
           ("CreateFromDesktop", "BitBltTopDown", "BitBltBottomUp")}
    print(title)
    print(f"  {'capture, frames/s (median [lowest .. highest])':<58} {'':>28} of ffmpeg's")
    print(f"  {'ffmpeg x11grab, pointer not drawn (the peer)':<58} {spread(column('ffmpeg'), 'f/s'):>28}")
    print(f"  {'ffmpeg x11grab, its default (pointer drawn in)':<58} {spread(column('ffmpeg+pointer'), 'f/s'):>28}")
    rows = [("CreateFromDesktop", "kolvex CreateFromDesktop (a 24-bit bitmap per frame)"),
            ("BitBltTopDown", "kolvex BitBlt into a reused top-down 32-bit DIB section"),
            ("BitBltBottomUp", "kolvex BitBlt into a reused bottom-up 32-bit DIB section")]
    for name, label in rows:
        ratios = [1000 / r[name] / r["ffmpeg"] for r in rounds if name in r and "ffmpeg" in r]
        print(f"  {label:<58} {spread(fps[name], 'f/s'):>28}  {spread(ratios, 'x', 2)}")
    print(f"  {'drawing a frame at natural size, ms (median [range])':<58} {'':>28} of the bound")
    print(f"  {'bound: xcb_shm_put_image of the converted 32-bit frame':<58} {spread(column('PutImageBound'), 'ms', 3):>28}")
    for bits in (32, 24):
        name = f"DrawToDesktop{bits}"
        print(f"  {f'kolvex DrawToDesktop, {bits} bits':<58} {spread(column(name), 'ms', 3):>28}"
              f"  {spread(ratio(name, 'PutImageBound'), 'x', 2)}")
    print(f"  {'memcpy of the 32-bit frame':<58} {spread(column('Memcpy'), 'ms', 3):>28}")


def linux(args):
    bench = [os.path.join(args.build, "bench", "screen_bench")]
    server, display = start_xvfb()
    os.environ["DISPLAY"] = display
    rounds = []
    try:
        for _ in range(args.rounds):
            figures = {"ffmpeg": ffmpeg_fps(display, False), "ffmpeg+pointer": ffmpeg_fps(display, True)}
            figures.update(screen_bench(bench, args.seconds))
            rounds.append(figures)
    finally:
        server.terminate()
        server.wait()
    report(rounds, f"Xvfb {display} ({SIZE}x24), {args.rounds} rounds of {args.seconds} s per case")


def wine(args):
    build = args.windows_build
    subprocess.run(["cmake", "--preset", "windows", "-DKOLVEX_BUILD_BENCH=ON"], cwd=SOURCE, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target", "screen_bench"], cwd=SOURCE, check=True,
                   stdout=subprocess.DEVNULL)
    state = os.path.join(SOURCE, build, "wine-bench")
    session = os.path.join(SOURCE, "cmake", "wine", "session")
    subprocess.run([session, "start", state], check=True, stdout=subprocess.DEVNULL)
    rounds = []
    try:
        with open(os.path.join(state, "display")) as f:
            display = f.read().strip()
        os.environ["DISPLAY"] = display
        windows = [os.path.join(SOURCE, "cmake", "wine", "run"), state,
                   os.path.join(SOURCE, build, "bin", "screen_bench.exe")]
        bound = [os.path.join(args.build, "bench", "screen_bench")]
        for _ in range(args.rounds):
            figures = {"ffmpeg": ffmpeg_fps(display, False), "ffmpeg+pointer": ffmpeg_fps(display, True)}
            figures.update(screen_bench(windows, args.seconds))
            figures.update(screen_bench(bound, args.seconds, ["PutImageBound"]))
            rounds.append(figures)
    finally:
        subprocess.run([session, "stop", state], check=False)
    report(rounds, f"Windows build under Wine, its desktop on Xvfb {display} ({SIZE}x24), "
                   f"{args.rounds} rounds of {args.seconds} s per case (reported, not targeted)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--windows-build", default="build/windows")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--seconds", type=float, default=1.0)
    parser.add_argument("--wine", action="store_true")
    args = parser.parse_args()
    for tool in ("Xvfb", "ffmpeg") + (("wine",) if args.wine else ()):
        if shutil.which(tool) is None:
            sys.exit(f"{tool} is not installed (Debian: xvfb, ffmpeg, wine)")
    wine(args) if args.wine else linux(args)


if __name__ == "__main__":
    main()
