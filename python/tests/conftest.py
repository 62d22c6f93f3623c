"""Shared fixtures: random pixels, and a private Xvfb display for screen tests."""

import os
import shutil
import subprocess

import numpy as np
import pytest

# Nothing draws on the developer's display: the virtual screen unless a test
# chooses the Xvfb display below.
os.environ["KOLVEX_SCREEN"] = "virtual"

import kolvex  # noqa: E402


def random_pixels(seed, height, width, channels):
    rng = np.random.default_rng(seed)
    shape = (height, width) if channels == 1 else (height, width, channels)
    return rng.integers(0, 256, shape, dtype=np.uint8)


@pytest.fixture(scope="session")
def xvfb():
    if shutil.which("Xvfb") is None:
        pytest.skip("Xvfb is not installed (Debian: xvfb)")
    read, write = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0", "320x240x24"],
        pass_fds=(write,),
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
    )
    os.close(write)
    with os.fdopen(read) as f:
        number = f.readline().strip()
    if not number:
        server.kill()
        pytest.skip("Xvfb did not start")
    name = ":" + number
    kolvex.use_display(name)
    yield name
    kolvex.use_virtual_screen()
    server.terminate()
    server.wait()
