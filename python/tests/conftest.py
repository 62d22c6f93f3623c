"""Shared fixtures: random pixels, and for screen tests the Xvfb display that
the C++ suites' fixture script starts."""

import os
import subprocess
from pathlib import Path

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
def xvfb(tmp_path_factory):
    """The 640 x 480 display (with MIT-SHM) that the C++ suites' Xvfb fixture starts."""
    folder = tmp_path_factory.mktemp("xvfb")
    fixture = Path(__file__).resolve().parents[2] / "tests" / "tools" / "xvfb-fixture"
    subprocess.run([fixture, "start", folder], check=True, stdout=subprocess.DEVNULL)
    if not (folder / "shm").exists():
        pytest.skip("Xvfb is not installed (Debian: xvfb)")
    name = (folder / "shm").read_text().strip()
    kolvex.use_display(name)
    yield name
    kolvex.use_virtual_screen()
    subprocess.run([fixture, "stop", folder], check=True)
