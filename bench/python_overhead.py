#!/usr/bin/env python3
"""What the Python binding costs: calls per second of a simple getter, and a step of a
1,000-mass pile driven from Python against the same step driven by a C++ loop.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_overhead.py [--masses 1000] [--steps 400]

Times are the thread's CPU time (the machine is shared); each figure is the best of
--repeats runs. Both step figures run exactly the same states: the pile is built the same
way each time and lands for --settle steps before the timed part.
"""
import argparse
import sys
import timeit

import numpy as np

import gelsim
from gelsim import _scenes


def build_pile(n):
    """The falling pile of the C++ benchmarks (scenes/Scenes.cpp), built from Python."""
    f = np.float32
    world = gelsim.World(1024.0, 4096.0, gravity=(0.0, 0.1), iterations=1)
    world.use_grid = True
    world.grid_size = 128
    s, per_row, spacing = 12345, 90, f(11.0)
    top = f(4096.0) - f(20.0) - f((n + per_row - 1) // per_row) * spacing
    keep = []
    for k in range(n):
        s = (s * 1664525 + 1013904223) & 0xFFFFFFFF
        x = f(17.0) + f(k % per_row) * spacing + (f(s >> 8) / f(16777216.0)) * f(0.5)
        m = gelsim.Mass(x, top + f(k // per_row) * spacing, 1.0, 5.0, 0.5, -1)
        m.add_ref()
        keep.append(m)
    return world


def landed(n, settle):
    world = build_pile(n)
    world.step(settle)
    return world


def time_python_loop(n, settle, steps):
    world = landed(n, settle)
    step = world.step
    t0 = _scenes.thread_seconds()
    for _ in range(steps):
        step()
    t = _scenes.thread_seconds() - t0
    h = world.positions().tobytes()
    world.free()
    return t, h


def time_cpp_loop(n, settle, steps):
    world = landed(n, settle)
    t = _scenes.time_steps(steps)
    h = world.positions().tobytes()
    world.free()
    return t, h


def time_with_callback(n, settle, steps):
    world = landed(n, settle)
    calls = [0]

    def count(event):
        calls[0] += 1

    with gelsim.on_collision(count):
        t0 = _scenes.thread_seconds()
        world.step(steps)
        t = _scenes.thread_seconds() - t0
    world.free()
    return t, calls[0]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--masses", type=int, default=1000)
    ap.add_argument("--settle", type=int, default=300)
    ap.add_argument("--steps", type=int, default=400)
    ap.add_argument("--repeats", type=int, default=5)
    ap.add_argument("--calls", type=int, default=2_000_000)
    a = ap.parse_args()

    world = gelsim.World()
    m = gelsim.Mass(1.0, 2.0)
    loop = min(timeit.repeat("m.x", globals={"m": m}, number=a.calls, repeat=a.repeats))
    empty = min(timeit.repeat("m", globals={"m": m}, number=a.calls, repeat=a.repeats))
    world.free()

    class Plain:
        def __init__(self):
            self._x = 1.0

        @property
        def x(self):
            return self._x

    plain = min(timeit.repeat("p.x", globals={"p": Plain()}, number=a.calls, repeat=a.repeats))
    print(f"for scale, a pure-Python @property: {(plain - empty) / a.calls * 1e9:.0f} ns above an empty loop")
    print(f"getter mass.x: {a.calls / loop / 1e6:.2f} M calls/s ({loop / a.calls * 1e9:.0f} ns per call, "
          f"{(loop - empty) / a.calls * 1e9:.0f} ns above an empty loop)")

    py_best = cpp_best = float("inf")
    for _ in range(a.repeats):
        t_py, h_py = time_python_loop(a.masses, a.settle, a.steps)
        t_cpp, h_cpp = time_cpp_loop(a.masses, a.settle, a.steps)
        if h_py != h_cpp:
            sys.exit("the Python-driven and the C++-driven runs differ")
        py_best, cpp_best = min(py_best, t_py), min(cpp_best, t_cpp)
    print(f"{a.masses}-mass pile, one world.step() per step from Python: {py_best / a.steps * 1e6:.1f} us per step")
    print(f"{a.masses}-mass pile, the same steps in a C++ loop:            {cpp_best / a.steps * 1e6:.1f} us per step")
    print(f"ratio Python / C++: {py_best / cpp_best:.3f} (same end state bit for bit)")

    t_cb, calls = time_with_callback(a.masses, a.settle, a.steps)
    print(f"with a Python collision callback: {t_cb / a.steps * 1e6:.1f} us per step, "
          f"{calls / a.steps:.0f} callback calls per step")


if __name__ == "__main__":
    main()
