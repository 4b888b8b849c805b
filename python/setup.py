"""Builds the extension modules with the project's own CMake build (the C++ library and the
modules come from one configuration), then packages them with the Python files.

    /usr/bin/python3 -m venv --system-site-packages venv
    venv/bin/pip install --no-build-isolation ./python

Needs CMake 3.25, a C++20 compiler and the library's dependencies (SDL2, SDL2_mixer,
libpng, zlib, FreeType), as for the C++ build, and pybind11, numpy and wheel for the
interpreter that builds. GELSIM_CMAKE_ARGS adds arguments to the configuration;
GELSIM_BUILD_JOBS sets the parallel jobs (default 2); ccache is used when it is installed
(GELSIM_CCACHE=0: not), with CCACHE_BASEDIR the build's folder unless set. pip hides a
build's output, so the progress goes to the terminal directly as one line
(GELSIM_PROGRESS=0: not); pip install -v shows all of it.

The version is the one in the C++ project's CMakeLists.txt. A source distribution carries
that project in cpp/ beside this file.
"""
import importlib.util
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import sysconfig
import time

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.sdist import sdist

HERE = pathlib.Path(__file__).resolve().parent

# What a source distribution takes from the C++ project: everything its CMake
# configuration reads, and no tests, benchmarks or documents.
CPP_ENTRIES = ["CMakeLists.txt", "cmake", "gelsim", "platform", "media", "scenes", "app", "tools", "fuzz",
               "python/CMakeLists.txt", "python/src"]
SKIPPED_NAMES = {"__pycache__", ".git", "corpus", "pending", "regressions"}


def cpp_root():
    """The C++ project: cpp/ in a source distribution, the folder above in the repository."""
    for root in (HERE / "cpp", HERE.parent):
        if (root / "CMakeLists.txt").is_file() and (root / "gelsim" / "core").is_dir():
            return root
    sys.exit(f"error: the gelsim C++ sources are neither in {HERE / 'cpp'} nor in {HERE.parent}")


ROOT = cpp_root()


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    found = re.search(r"project\(\s*SlimeTower\s+VERSION\s+([0-9]+(?:\.[0-9]+)*)", text)
    if not found:
        sys.exit(f"error: no project(SlimeTower VERSION ...) in {ROOT / 'CMakeLists.txt'}")
    return found.group(1)


def check_build_requirements():
    """Stops at once, naming the Debian packages, when this interpreter cannot build the
    package; without it, pip would fail minutes later or only at the first import."""
    # pip's isolated build installs the build requirements but not the run-time numpy;
    # the interpreter's own environment needs both.
    isolated = any("pip-build-env-" in p for p in sys.path)
    wanted = [("pybind11", "python3-pybind11"), ("wheel", "python3-wheel")]
    if not isolated:
        wanted.append(("numpy", "python3-numpy"))
    missing = [(module, package) for module, package in wanted if importlib.util.find_spec(module) is None]
    if not os.path.isfile(os.path.join(sysconfig.get_paths()["include"], "Python.h")):
        missing.append(("the Python headers (Python.h)", "python3-dev"))
    if shutil.which("cmake") is None:
        missing.append(("cmake", "cmake"))
    if not missing:
        return
    names = ", ".join(module for module, _ in missing)
    packages = " ".join(["python3-dev"] + [p for _, p in missing if p != "python3-dev"])
    sys.exit(f"""
error: gelsim cannot be built with {sys.executable} (Python {sys.version.split()[0]}): it lacks {names}.
On Debian, install the packages and build with the system's interpreter in a virtual
environment that sees them:
    sudo apt install {packages}
    /usr/bin/python3 -m venv --system-site-packages venv
    venv/bin/pip install --no-build-isolation ./python
(tools/setup-deps.sh test installs everything. With network access, a plain
`pip install ./python` fetches setuptools, wheel and pybind11 itself.)
""")


class Progress:
    """The build's progress as one line on the terminal. pip keeps a build's output to
    itself unless asked (-v), so the line is written to /dev/tty, and only when standard
    output is not the terminal already."""

    PERCENT = re.compile(r"^\[\s*(\d+)%\]\s*(.*)")
    COUNT = re.compile(r"^\[(\d+)/(\d+)\]\s*(.*)")

    def __init__(self):
        self.tty = None
        if os.environ.get("GELSIM_PROGRESS", "1") != "0" and not sys.stdout.isatty():
            try:
                self.tty = open("/dev/tty", "w")
            except OSError:
                self.tty = None
        self.start = time.monotonic()

    def show(self, text):
        if self.tty:
            line = f"  gelsim {time.monotonic() - self.start:4.0f} s: {text}"[:100]
            self.tty.write("\r\033[K" + line)
            self.tty.flush()

    def line(self, text):
        found = self.PERCENT.match(text)
        if found:
            percent, what = int(found.group(1)), found.group(2)
        else:
            found = self.COUNT.match(text)
            if not found:
                return
            percent, what = 100 * int(found.group(1)) // max(int(found.group(2)), 1), found.group(3)
        name = os.path.basename(what.split(" ")[-1])
        self.show(f"C++ build {percent:3d}% {name[:-2] if name.endswith('.o') else name}")

    def close(self):
        if self.tty:
            self.tty.write("\r\033[K")
            self.tty.close()
            self.tty = None


def run(command, progress, env):
    print("+ " + " ".join(shlex.quote(str(c)) for c in command), flush=True)
    proc = subprocess.Popen([str(c) for c in command], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, errors="replace")
    for line in proc.stdout:
        sys.stdout.write(line)
        sys.stdout.flush()
        progress.line(line.strip())
    if proc.wait() != 0:
        progress.close()
        raise subprocess.CalledProcessError(proc.returncode, command)


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    """Both modules, the shared library under them and _version.py, from one CMake build."""

    def run(self):
        # build_ext calls build_extension once per module; one CMake build makes them all.
        self.built = False
        super().run()

    def build_extension(self, ext):
        target_dir = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve().parent
        if not self.built:
            self.cmake_build(target_dir)
            self.built = True

    def cmake_build(self, target_dir):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        config = [
            "cmake", "-S", ROOT, "-B", build,
            "-DCMAKE_BUILD_TYPE=Release",
            "-DGELSIM_PYTHON=ON", "-DGELSIM_TESTS=OFF", "-DGELSIM_BENCH=OFF",
            f"-DPython3_EXECUTABLE={sys.executable}",
        ]
        try:
            import pybind11
            config.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass
        extra = shlex.split(os.environ.get("GELSIM_CMAKE_ARGS", ""))
        env = dict(os.environ)
        if (env.get("GELSIM_CCACHE", "1") != "0" and shutil.which("ccache")
                and not any("COMPILER_LAUNCHER" in a for a in extra)):
            config += ["-DCMAKE_C_COMPILER_LAUNCHER=ccache", "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
            # pip builds in a new temporary folder each time; with paths taken relative to
            # it, the compiles of an earlier install are found again.
            env.setdefault("CCACHE_BASEDIR", os.path.commonpath([ROOT, build]))
        config += extra
        progress = Progress()
        progress.show("configuring the C++ build")
        run(config, progress, env)
        jobs = env.get("GELSIM_BUILD_JOBS", "2")
        run(["cmake", "--build", build, "--target", "gelsim_python_package", "-j", jobs], progress, env)
        progress.close()
        package = build / "python" / "gelsim"
        files = [p for p in package.iterdir() if p.suffix == ".so" or p.name == "_version.py"]
        if len([p for p in files if p.name.startswith(("_gelsim", "_picture"))]) != 2:
            raise RuntimeError(f"the CMake build did not produce both gelsim modules in {package}")
        target_dir.mkdir(parents=True, exist_ok=True)
        for path in files:
            shutil.copyfile(path, target_dir / path.name)


class SourceDistribution(sdist):
    """Adds the C++ project, in cpp/, so that the archive builds offline on its own."""

    def make_release_tree(self, base_dir, files):
        super().make_release_tree(base_dir, files)
        for entry in CPP_ENTRIES:
            source = ROOT / entry
            if source.is_file():
                self.copy_cpp_file(source, base_dir)
                continue
            for dirpath, dirnames, filenames in os.walk(source):
                dirnames[:] = sorted(d for d in dirnames if d not in SKIPPED_NAMES and not d.startswith("build"))
                for name in sorted(filenames):
                    if not name.endswith((".pyc", ".swp")):
                        self.copy_cpp_file(pathlib.Path(dirpath) / name, base_dir)

    def copy_cpp_file(self, source, base_dir):
        target = pathlib.Path(base_dir) / "cpp" / source.relative_to(ROOT)
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(source, target)


if "sdist" not in sys.argv:  # an archive of the sources needs none of the build's tools
    check_build_requirements()

setup(
    version=project_version(),
    packages=["gelsim"],
    package_data={"gelsim": ["*.pyi", "py.typed"]},
    ext_modules=[CMakeExtension("gelsim._gelsim"), CMakeExtension("gelsim._picture")],
    cmdclass={"build_ext": CMakeBuild, "sdist": SourceDistribution},
)
