"""The package as users meet it: stubs that cover the module, help texts, and
the Dask example on a 2-worker LocalCluster equal to the serial run."""

import ast
import filecmp
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import kolvex
from conftest import random_pixels

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "python" / "frames_on_dask.py"


def test_stubs_cover_the_module():
    stub = ast.parse((Path(kolvex.__file__).parent / "__init__.pyi").read_text())
    top = {n.name for n in stub.body if isinstance(n, (ast.FunctionDef, ast.ClassDef))}
    assert set(kolvex.__all__) <= top
    bitmap = next(n for n in stub.body if isinstance(n, ast.ClassDef) and n.name == "Bitmap")
    stubbed = {n.name for n in bitmap.body if isinstance(n, ast.FunctionDef)}
    public = {n for n in dir(kolvex.Bitmap) if not n.startswith("_")}
    assert public <= stubbed
    assert "mean of a 2 x 2 block" in kolvex.Bitmap.quarter.__doc__


def run_example(*args):
    done = subprocess.run([sys.executable, str(EXAMPLE), *map(str, args)], capture_output=True,
                          text=True, timeout=240)
    assert done.returncode == 0, done.stderr
    return done.stdout


def same_files(a, b):
    names = sorted(p.name for p in a.iterdir())
    match, mismatch, errors = filecmp.cmpfiles(a, b, names, shallow=False)
    return names == sorted(p.name for p in b.iterdir()) and not mismatch and not errors


def test_dask_example_equals_the_serial_run(tmp_path):
    pytest.importorskip("distributed")
    av = pytest.importorskip("av")
    frames = tmp_path / "frames"
    frames.mkdir()
    for i in range(9):
        kolvex.Bitmap.from_array(random_pixels(i, 37, 50, 3)).save(frames / f"{i:03d}.bmp")
    ops = "median,quarter:odd,brightness:100"
    run_example(frames, tmp_path / "serial", "--ops", ops, "--serial")
    out = run_example(frames, tmp_path / "cluster", "--ops", ops, "--workers", 2, "--batch", 2)
    assert "9 frames" in out and "2 worker(s)" in out
    assert same_files(tmp_path / "serial", tmp_path / "cluster")
    first = np.asarray(kolvex.Bitmap.load(tmp_path / "cluster" / "frame_000000.bmp"))
    expected = kolvex.Bitmap.load(frames / "000.bmp").median().quarter(field="odd").brightness(100)
    np.testing.assert_array_equal(first, np.asarray(expected))

    video = tmp_path / "clip.mkv"
    with av.open(str(video), "w") as container:
        stream = container.add_stream("ffv1", rate=25)
        stream.width, stream.height, stream.pix_fmt = 48, 32, "bgr0"
        for i in range(5):
            frame = av.VideoFrame.from_ndarray(random_pixels(i, 32, 48, 3), format="bgr24")
            for packet in stream.encode(frame):
                container.mux(packet)
        for packet in stream.encode():
            container.mux(packet)
    run_example(video, tmp_path / "v-serial", "--ops", "mirror", "--serial")
    # Results sent back to be written here, as on a cluster without a shared folder.
    run_example(video, tmp_path / "v-cluster", "--ops", "mirror", "--workers", 2, "--batch", 3,
                "--results-here")
    assert same_files(tmp_path / "v-serial", tmp_path / "v-cluster")
    assert len(list((tmp_path / "v-cluster").iterdir())) == 5
    # ffv1 over bgr0 is lossless: the frames come back exactly, mirrored.
    last = np.asarray(kolvex.Bitmap.load(tmp_path / "v-serial" / "frame_000004.bmp"))
    np.testing.assert_array_equal(last, random_pixels(4, 32, 48, 3)[:, ::-1])
