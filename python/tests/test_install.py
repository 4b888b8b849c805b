"""The source archive: it carries the C++ project and installs offline into a virtual
environment with Debian's packages; an interpreter without them is stopped at once.

A full C++ build. ccache, when installed, keeps repeated runs short: setup.py makes the
folder pip unpacks and builds in ccache's base, so the compiles have the same relative
paths each time and are found again (about 20 seconds then, several minutes on a cold
cache).
"""
import os
import pathlib
import re
import subprocess
import sys
import tarfile
import time

import pytest

HERE = pathlib.Path(__file__).resolve().parent
PYTHON_DIR = HERE.parent
ROOT = pathlib.Path(os.environ.get("GELSIM_SOURCE_ROOT", PYTHON_DIR.parent))


def clean_env(tmp):
    """No PYTHONPATH (the build tree's package must not be the one imported), temporary
    files under tmp, and ccache as setup.py sets it up."""
    env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "PIP_", "CCACHE_BASEDIR"))}
    env.update(TMPDIR=str(tmp), PIP_DISABLE_PIP_VERSION_CHECK="1", GELSIM_PROGRESS="0")
    return env


@pytest.fixture(scope="module")
def sdist(tmp_path_factory):
    out = tmp_path_factory.mktemp("sdist")
    run = subprocess.run([sys.executable, "setup.py", "-q", "egg_info", "--egg-base", str(out), "sdist",
                          "--dist-dir", str(out)], cwd=PYTHON_DIR, env=clean_env(out), capture_output=True, text=True,
                         timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr
    (archive,) = out.glob("gelsim-*.tar.gz")
    return archive


def test_sdist_installs_offline_into_a_venv(sdist, tmp_path):
    names = set(tarfile.open(sdist).getnames())
    top = sdist.name[:-len(".tar.gz")]
    for needed in ("setup.py", "pyproject.toml", "gelsim/__init__.py", "gelsim/_gelsim.pyi", "gelsim/py.typed",
                   "cpp/CMakeLists.txt", "cpp/gelsim/core/Physics.cpp", "cpp/platform/detail/SoftRaster.cpp",
                   "cpp/python/src/World.cpp"):
        assert f"{top}/{needed}" in names, needed

    work = tmp_path / "tmp"  # where pip unpacks and builds
    work.mkdir()
    env = clean_env(work)
    venv = tmp_path / "venv"
    subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", str(venv)], check=True, env=env)
    started = time.monotonic()
    run = subprocess.run([str(venv / "bin" / "pip"), "install", "--no-build-isolation", "--no-index", "--no-cache-dir",
                          str(sdist)], env=env, capture_output=True, text=True, timeout=1500)
    print(f"pip install took {time.monotonic() - started:.0f} s")
    assert run.returncode == 0, run.stdout[-4000:] + run.stderr[-4000:]

    cmake = (ROOT / "CMakeLists.txt").read_text()
    (version,) = re.findall(r"project\(\s*SlimeTower\s+VERSION\s+([0-9.]+)", cmake)
    check = subprocess.run([str(venv / "bin" / "python"), "-c", """if True:
        import importlib.metadata, pathlib, gelsim
        world = gelsim.World(300, 200)
        ball = gelsim.Mass(150, 50, radius=8)
        ball.add_ref()
        world.step(20)
        png = world.picture(30, 20)
        print(gelsim.__file__)
        print(gelsim.__version__, importlib.metadata.version("gelsim"))
        print(ball.y > 50, png[:4] == b"\\x89PNG", (pathlib.Path(gelsim.__file__).parent / "py.typed").is_file())
    """], env=dict(env, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy"), cwd=tmp_path, capture_output=True,
                           text=True, timeout=120)
    assert check.returncode == 0, check.stderr
    where, versions, results = check.stdout.splitlines()
    assert where.startswith(str(venv))
    assert versions.split() == [version, version]
    assert results.split() == ["True", "True", "True"]


def test_install_without_the_build_requirements_stops_at_once(sdist, tmp_path):
    env = clean_env(tmp_path)
    bare = tmp_path / "bare"  # no system packages: no pybind11, numpy or wheel
    subprocess.run(["/usr/bin/python3", "-m", "venv", str(bare)], check=True, env=env)
    started = time.monotonic()
    run = subprocess.run([str(bare / "bin" / "pip"), "install", "--no-build-isolation", "--no-index", "--no-cache-dir",
                          str(sdist)], env=env, capture_output=True, text=True, timeout=300)
    assert run.returncode != 0
    assert time.monotonic() - started < 60
    out = run.stdout + run.stderr
    for text in ("python3-pybind11", "python3-numpy", "python3-wheel", str(bare / "bin" / "python"),
                 "/usr/bin/python3 -m venv --system-site-packages"):
        assert text in out, (text, out[-3000:])
    assert "cmake --build" not in out
