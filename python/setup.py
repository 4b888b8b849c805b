"""Builds the extension module with the project's own CMake build (the C++ library and
the module come from one configuration), then packages it with the Python files.

    pip install --no-build-isolation ./python

Needs CMake 3.25, a C++20 compiler and the library's dependencies (SDL2, SDL2_mixer,
libpng, zlib, FreeType), as for the C++ build. GELSIM_CMAKE_ARGS adds arguments to the
configuration; GELSIM_BUILD_JOBS sets the parallel jobs (default 2).
"""
import os
import pathlib
import shlex
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        if not (ROOT / "CMakeLists.txt").is_file() or not (ROOT / "gelsim").is_dir():
            raise RuntimeError(f"the gelsim sources are expected in {ROOT} (build from the repository's python/ folder)")
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        config = [
            "cmake", "-S", str(ROOT), "-B", str(build),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DGELSIM_PYTHON=ON", "-DGELSIM_TESTS=OFF", "-DGELSIM_BENCH=OFF",
            f"-DPython3_EXECUTABLE={sys.executable}",
        ]
        try:
            import pybind11
            config.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass
        config += shlex.split(os.environ.get("GELSIM_CMAKE_ARGS", ""))
        subprocess.check_call(config)
        jobs = os.environ.get("GELSIM_BUILD_JOBS", "2")
        subprocess.check_call(["cmake", "--build", str(build), "--target", "gelsim_python", "-j", jobs])
        built = list((build / "python" / "gelsim").glob("_gelsim*.so"))
        if len(built) != 1:
            raise RuntimeError("the CMake build did not produce the gelsim module")
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[0], target)


setup(ext_modules=[CMakeExtension("gelsim._gelsim")], cmdclass={"build_ext": CMakeBuild})
