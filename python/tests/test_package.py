"""The package as Python users meet it: what importing it loads, its version and type
information, paths, values refused at the edge, the grid a World chooses by itself, and
threads making the first array."""
import math
import os
import pathlib
import re
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import gelsim

ROOT = pathlib.Path(os.environ.get("GELSIM_SOURCE_ROOT", pathlib.Path(__file__).resolve().parents[2]))
HERE = pathlib.Path(__file__).resolve().parent
PACKAGE_PARENT = os.path.dirname(os.path.dirname(gelsim.__file__))


def run_python(code, timeout=120):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in [PACKAGE_PARENT, env.get("PYTHONPATH", "")] if p)
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True, text=True,
                          timeout=timeout)


def test_import_loads_no_sdl_until_the_first_picture():
    run = run_python("""
        import gelsim

        def sdl():
            with open("/proc/self/maps") as f:
                return any("libSDL2" in line for line in f)

        world = gelsim.World(200, 100)
        ball = gelsim.Mass(100, 50, radius=10)
        ball.add_ref()
        world.step(3)
        before = sdl()
        png = world.picture(20, 10)
        print(before, sdl(), png[:4] == b"\\x89PNG")
    """)
    assert run.returncode == 0, run.stderr
    assert run.stdout.split() == ["False", "True", "True"]


def test_version_is_the_projects():
    cmake = (ROOT / "CMakeLists.txt").read_text()
    (version,) = re.findall(r"project\(\s*SlimeTower\s+VERSION\s+([0-9.]+)", cmake)
    assert gelsim.__version__ == version


def test_stubs_match_the_module_and_the_examples_type_check(tmp_path):
    package = pathlib.Path(gelsim.__file__).parent
    assert (package / "py.typed").is_file()
    env = dict(os.environ, MYPYPATH=PACKAGE_PARENT, PYTHONPATH=PACKAGE_PARENT, MYPY_CACHE_DIR=os.devnull)
    # Every public name of the modules is in the stubs and the other way round.
    run = subprocess.run([sys.executable, "-m", "mypy.stubtest", "--allowlist", str(HERE / "stubtest-allowlist.txt"),
                          "gelsim"], env=env, capture_output=True, text=True, timeout=300, cwd=tmp_path)
    assert run.returncode == 0, run.stdout + run.stderr
    run = subprocess.run([sys.executable, "-m", "mypy", "--strict", str(ROOT / "examples" / "python")], env=env,
                         capture_output=True, text=True, timeout=300, cwd=tmp_path)
    assert run.returncode == 0, run.stdout + run.stderr


def test_paths_may_be_path_objects(world, tmp_path):
    body = gelsim.IndexedBody("blob")
    a, b = body.masses.add(100, 100), body.masses.add(120, 100)
    body.constraints.add(a, b)
    rgba = np.zeros((4, 4, 4), dtype=np.uint8)
    rgba[..., 3] = 255
    body.images.add(gelsim.Image.from_array(rgba))
    body.save(tmp_path / "blob.plb", embed_images=False)
    assert len(gelsim.IndexedBody.load(tmp_path / "blob.plb").masses) == 2
    assert gelsim.Image.load(tmp_path / "blob_img0.png").width == 4
    assert body.images.add(tmp_path / "blob_img0.png") == 1
    zone = gelsim.Zone([(0, 0), (50, 0), (50, 10)], style=gelsim.Zone.FILL)
    zone.save(tmp_path / "floor")
    assert len(gelsim.Zone.load(tmp_path / "floor.plz")) == 3
    with pytest.raises(TypeError):
        gelsim.Zone.load(3)


NAN, INF = math.nan, math.inf


def _mass():
    return gelsim.Mass(10.0, 10.0)


def _zone():
    return gelsim.Zone([(0, 0), (10, 0)])


BAD_VALUES = {
    "negative step count": lambda w: w.step(-1),
    "unknown zone style": lambda w: gelsim.Zone([(0, 0), (10, 0)], style=4),
    "unknown zone style set": lambda w: setattr(_zone(), "style", -1),
    "nan mass x": lambda w: gelsim.Mass(NAN, 0.0),
    "infinite mass y": lambda w: gelsim.Mass(0.0, INF),
    "nan table mass": lambda w: gelsim.IndexedBody().masses.add(1.0, NAN),
    "nan position": lambda w: setattr(_mass(), "position", (NAN, 1.0)),
    "infinite move": lambda w: _mass().move(-INF, 0.0),
    "nan translate": lambda w: _mass().translate(0.0, NAN),
    "nan velocity": lambda w: setattr(_mass(), "velocity", (NAN, 0.0)),
    "nan zone vertex": lambda w: gelsim.Zone([(0, 0), (NAN, 0)]),
    "infinite zone position": lambda w: setattr(_zone(), "position", (INF, 0.0)),
    "nan body position": lambda w: setattr(gelsim.IndexedBody(), "position", (0.0, NAN)),
    "nan body move": lambda w: gelsim.IndexedBody().move(NAN, 0.0),
    "negative radius": lambda w: gelsim.Mass(0.0, 0.0, radius=-1.0),
    "negative mass": lambda w: gelsim.Mass(0.0, 0.0, mass=-2.0),
    "negative table radius": lambda w: gelsim.IndexedBody().masses.add(1.0, 1.0, radius=-5.0),
    "negative radius set": lambda w: setattr(_mass(), "radius", -0.5),
    "nan mass set": lambda w: setattr(_mass(), "mass", NAN),
    "nan gravity": lambda w: setattr(w, "gravity", (0.0, NAN)),
    "infinite bounds": lambda w: setattr(w, "bounds", (0.0, 0.0, INF, 100.0)),
    "nan world size": lambda w: gelsim.World(NAN, 100.0),
}


@pytest.mark.parametrize("case", sorted(BAD_VALUES))
def test_bad_values_raise_value_error(world, case):
    masses_before = len(world.masses)
    with pytest.raises(ValueError):
        BAD_VALUES[case](world)
    # Nothing was stored on the way: the world is still current and unchanged.
    assert world.is_current and len(world.masses) == masses_before
    assert all(math.isfinite(v) for v in (*world.gravity, *world.bounds))


def test_a_python_world_fits_its_grid_to_the_box_and_the_largest_disc():
    world = gelsim.World(600.0, 400.0)
    assert world.auto_grid
    masses = [gelsim.Mass(10.0 + 11.0 * (k % 50), 10.0 + 11.0 * (k // 50), radius=5.0) for k in range(1000)]
    for m in masses:
        m.add_ref()
    world.step()
    assert world.use_grid and world.grid_size == 40  # 400 units / 10 across
    big = gelsim.Mass(300.0, 300.0, radius=12.0)
    big.add_ref()
    world.step()
    assert world.grid_size == 23  # 400 / (12 + 5): the two largest discs must fit a cell
    world.bounds = (0.0, 0.0, 2000.0, 2000.0)
    world.step()
    assert world.grid_size == 117
    big.radius = 300.0  # 8 cells per side could not hold it: every pair is tested
    world.step()
    assert not world.use_grid and world.auto_grid
    # A choice made by hand stays.
    world.grid_size = 64
    assert not world.auto_grid
    big.radius = 5.0
    world.step()
    assert world.grid_size == 64 and not world.use_grid
    world.auto_grid = True
    world.step()
    assert world.use_grid and world.grid_size == 128
    world.free()
    assert not gelsim.World(100.0, 100.0, grid=None).use_grid
    chosen = gelsim.World(100.0, 100.0, grid=16)
    assert chosen.use_grid and chosen.grid_size == 16 and not chosen.auto_grid
    chosen.free()


def test_threads_making_the_first_array_at_once_do_not_deadlock():
    code = """
        import threading
        import gelsim

        world = gelsim.World(200, 200)
        body = gelsim.IndexedBody()
        body.masses.add(10, 10)
        ball = gelsim.Mass(20, 20)
        ball.add_ref()
        start = threading.Barrier(4)
        shapes = []

        def first_array(k):
            start.wait()
            shapes.append((world.positions() if k % 2 else body.masses.positions()).shape)

        threads = [threading.Thread(target=first_array, args=(k,)) for k in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        print(sorted(shapes))
    """
    for _ in range(3):  # each run is a fresh process: the first array is made once per process
        try:
            run = run_python(code, timeout=30)
        except subprocess.TimeoutExpired:
            pytest.fail("four threads making the first array deadlocked")
        assert run.returncode == 0, run.stderr
        assert run.stdout.strip() == "[(1, 2), (1, 2), (1, 2), (1, 2)]"
