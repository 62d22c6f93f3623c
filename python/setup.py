"""Builds the extension with the project's CMake and ships it with the library.

`pip install --no-build-isolation ./python` configures the project (one folder
up) in setuptools' build folder with KOLVEX_PYTHON=ON and no tests or
benchmarks, builds the extension target and copies it, with the libkolvex it
links to (rpath $ORIGIN), into the package. KOLVEX_BUILD_DIR names a build
folder that is configured already (scripts/test passes build/default), which
then only builds what changed.
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent.parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.environ.get("KOLVEX_BUILD_DIR")
        if build:
            build = Path(build).resolve()
        else:
            build = Path(self.build_temp).resolve() / "cmake"
            subprocess.run(
                [
                    "cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Release",
                    "-DKOLVEX_PYTHON=ON",
                    "-DKOLVEX_BUILD_TESTS=OFF",
                    "-DKOLVEX_BUILD_BENCH=OFF",
                    f"-DPython3_EXECUTABLE={sys.executable}",
                ],
                check=True,
            )
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(min(os.cpu_count() or 1, 2)))
        subprocess.run(
            ["cmake", "--build", str(build), "--target", "kolvex_python", "-j", jobs], check=True
        )
        built = build / "python" / "kolvex"
        target = Path(self.get_ext_fullpath(ext.name)).parent
        target.mkdir(parents=True, exist_ok=True)
        for lib in list(built.glob("_kolvex*.so")) + list(built.glob("libkolvex.so*")):
            shutil.copy2(lib, target / lib.name)


setup(ext_modules=[Extension("kolvex._kolvex", sources=[])], cmdclass={"build_ext": CMakeBuild})
