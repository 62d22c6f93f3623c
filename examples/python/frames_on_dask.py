#!/usr/bin/env python3
"""Runs a chain of Kolvex operations over the frames of a folder of bitmap files
or of a video, on a dask.distributed cluster, and writes the results in frame
order.

    frames_on_dask.py IN OUT [--ops quarter,median] [--workers 2] [--batch 8]
    frames_on_dask.py IN OUT --scheduler tcp://HOST:8786
    frames_on_dask.py IN OUT --serial

IN is a folder of .bmp files (taken in name order) or a video file (decoded
with PyAV). OUT is a folder; frame i's result is OUT/frame_000i.bmp (six
digits). Without --scheduler a LocalCluster of --workers processes (one thread
each) runs here; with it, the workers of a real cluster (`dask scheduler` on
one machine, `dask worker tcp://HOST:8786` on each of the others; every
machine needs kolvex installed). --serial runs the chain in this process, the
reference the cluster's output must equal.

Frames travel in batches of --batch consecutive frames, a few batches per
worker in flight at once: bitmaps pickle as their header and pixels (out of
band), so a frame crosses the network once each way. Files are read by the
workers themselves when they can reach IN at the same path (a LocalCluster,
or a folder shared by every machine; --send-pixels turns that off), and by
this process otherwise. Results are written by the workers themselves on a
LocalCluster, or on a real one given --shared-output (OUT seen by every
machine at the same path): only counts travel back, each result lands under
its frame's name, and batches are awaited in order. Otherwise results come
back as bitmaps and are written here, in frame order, as they arrive in
order. Every file is written under a temporary name and renamed, so no half
file is ever left under a frame's name.

Operations (comma-separated, applied left to right): quarter, eighth,
scaled:WxH, mirror, flip, field:odd|even, brightness:LEVEL, median,
quarter:even|odd, eighth:even|odd.
"""

import argparse
import os
import sys
import time
from collections import deque
from pathlib import Path

import kolvex


def parse_ops(text):
    """The chain as (name, argument) pairs, checked before any frame is read."""
    chain = []
    for word in filter(None, text.split(",")):
        name, _, arg = word.partition(":")
        if name in ("quarter", "eighth") and arg in ("", "even", "odd"):
            chain.append((name, arg or None))
        elif name == "scaled" and "x" in arg:
            w, h = arg.split("x")
            chain.append((name, (int(w), int(h))))
        elif name in ("mirror", "flip", "median") and not arg:
            chain.append((name, None))
        elif name == "field" and arg in ("odd", "even"):
            chain.append((name, arg == "odd"))
        elif name == "brightness" and arg.lstrip("-").isdigit():
            chain.append((name, int(arg)))
        else:
            raise ValueError(f"unknown operation {word!r}")
    return chain


def apply(chain, frame):
    for name, arg in chain:
        if name in ("quarter", "eighth"):
            frame = getattr(frame, name)(field=arg)
        elif name == "scaled":
            frame = frame.scaled(*arg)
        elif name == "mirror":
            frame = frame.mirrored(horizontal=True)
        elif name == "flip":
            frame = frame.mirrored(horizontal=False, vertical=True)
        elif name == "field":
            frame = frame.field(arg)
        elif name == "brightness":
            frame = frame.brightness(arg)
        elif name == "median":
            frame = frame.median()
    return frame


def process_batch(chain, sources):
    """One task: the chain over consecutive frames (paths or bitmaps). The
    cluster already runs a frame per worker thread at once, so the library
    splits none over threads of its own (as with the tool's --jobs): that would
    only crowd the same cores."""
    kolvex.set_threads(1)
    return [apply(chain, kolvex.Bitmap.load(s) if isinstance(s, str) else s) for s in sources]


def bitmap_files(folder):
    return sorted(str(p) for p in Path(folder).iterdir() if p.suffix.lower() == ".bmp")


def video_frames(path):
    import av  # PyAV (Debian: python3-av)

    with av.open(str(path)) as container:
        for frame in container.decode(video=0):
            yield kolvex.Bitmap.from_array(frame.to_ndarray(format="bgr24"))


def sources(path, send_pixels):
    """Frames in order: paths a worker can load, or bitmaps loaded here."""
    if Path(path).is_dir():
        for f in bitmap_files(path):
            yield kolvex.Bitmap.load(f) if send_pixels else f
    else:
        yield from video_frames(path)


def batches(items, size):
    batch = []
    for item in items:
        batch.append(item)
        if len(batch) == size:
            yield batch
            batch = []
    if batch:
        yield batch


def frame_path(folder, index):
    return Path(folder) / f"frame_{index:06d}.bmp"


def save_whole(frame, path):
    """Saves under a temporary name and renames: a reader, or a run that is
    stopped, never meets half a file under the frame's name."""
    temp = path.with_name(f".{path.name}.partial-{os.getpid()}")
    try:
        frame.save(temp)
        os.replace(temp, path)
    finally:
        if temp.exists():
            temp.unlink()


def process_and_write(chain, sources, folder, first):
    """One task that writes its own results (frames first, first + 1, ...):
    only their count travels back, not their pixels."""
    frames = process_batch(chain, sources)
    for k, frame in enumerate(frames):
        save_whole(frame, frame_path(folder, first + k))
    return len(frames)


class Writer:
    """Writes results as OUT/frame_NNNNNN.bmp in frame order."""

    def __init__(self, folder):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.count = 0

    def write(self, frames):
        for frame in frames:
            save_whole(frame, frame_path(self.folder, self.count))
            self.count += 1


def run_serial(chain, path, out, batch):
    writer = Writer(out)
    for b in batches(sources(path, send_pixels=False), batch):
        writer.write(process_batch(chain, b))
    return writer.count


def run_cluster(chain, path, out, client, batch, send_pixels, in_flight, write_there):
    """Keeps `in_flight` batches submitted and gathers them in order. With
    `write_there` the workers write the results into OUT themselves (it must be
    the same folder for them: a LocalCluster, or one shared by every machine);
    otherwise the results travel back and are written here."""
    writer = Writer(out)
    pending = deque()
    first = 0

    def gather():
        done = pending.popleft().result()
        if write_there:
            writer.count += done
        else:
            writer.write(done)

    for i, b in enumerate(batches(sources(path, send_pixels), batch)):
        # Keyed by position, so that no two batches are ever taken for one.
        key = f"kolvex-batch-{i}"
        if write_there:
            task = client.submit(process_and_write, chain, b, str(writer.folder), first, key=key)
        else:
            task = client.submit(process_batch, chain, b, key=key)
        pending.append(task)
        first += len(b)
        while len(pending) >= in_flight:
            gather()
    while pending:
        gather()
    return writer.count


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("input", help="a folder of .bmp files or a video file")
    parser.add_argument("output", help="the folder for the results")
    parser.add_argument("--ops", default="median,quarter", help="the chain (default: median,quarter)")
    parser.add_argument("--scheduler", help="tcp://HOST:8786 of a running cluster")
    parser.add_argument("--workers", type=int, default=2, help="LocalCluster processes (default 2)")
    parser.add_argument("--batch", type=int, default=4, help="frames per task (default 4)")
    parser.add_argument("--send-pixels", action="store_true",
                        help="load files here and send pixels, not paths")
    parser.add_argument("--shared-output", action="store_true",
                        help="with --scheduler: every worker sees OUT at the same path and writes "
                        "its results there (a LocalCluster always does)")
    parser.add_argument("--results-here", action="store_true",
                        help="results travel back and are written by this process")
    parser.add_argument("--serial", action="store_true", help="no cluster: run here")
    args = parser.parse_args(argv)
    try:
        chain = parse_ops(args.ops)
    except ValueError as e:
        parser.error(str(e))
    if args.batch < 1 or args.workers < 1:
        parser.error("--batch and --workers are at least 1")
    path = os.path.abspath(args.input)
    start = time.perf_counter()
    if args.serial:
        count = run_serial(chain, path, args.output, args.batch)
        where = "serial"
    else:
        from dask.distributed import Client, LocalCluster

        # A real cluster may not see this machine's files.
        send = args.send_pixels or (args.scheduler is not None and not Path(path).is_dir())
        if args.scheduler:
            cluster = None
            client = Client(args.scheduler)
        else:
            cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1,
                                   processes=True, dashboard_address=None)
            client = Client(cluster)
        workers = len(client.scheduler_info()["workers"])
        start = time.perf_counter()  # the cluster's start-up is not the frames' time
        try:
            count = run_cluster(chain, path, os.path.abspath(args.output), client, args.batch,
                                send, in_flight=2 * max(workers, 1),
                                write_there=(args.scheduler is None or args.shared_output)
                                and not args.results_here)
        finally:
            client.close()
            if cluster is not None:
                cluster.close()
        where = f"{workers} worker(s)"
    seconds = time.perf_counter() - start
    print(f"{count} frames in {seconds:.2f} s on {where}: {count / seconds:.1f} frames/s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
