#!/usr/bin/env python3
"""Worlds stepped by threads: four falling piles stepped one after another, then the same
four stepped by a pool of two threads (World.step releases the GIL). Prints the wall
times and the throughput ratio, and checks that both ways end in the same positions.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_threads.py [--worlds 4] [--masses 2000] [--steps 500]

Wall-clock times (the threads run at once); each figure is the best of --repeats runs.
The machine may be shared: a busy neighbour lowers the ratio, never raises it.
"""
import argparse
import sys
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import gelsim


def build_pile(n, seed):
    """A pile of n discs over a 1024 x 4096 box, jittered by seed; the world is current."""
    f = np.float32
    world = gelsim.World(1024.0, 4096.0, gravity=(0.0, 0.1), iterations=1)
    rng = np.random.default_rng(seed)
    per_row, spacing = 90, f(11.0)
    top = f(4096.0) - f(20.0) - f((n + per_row - 1) // per_row) * spacing
    for k in range(n):
        x = f(17.0) + f(k % per_row) * spacing + f(rng.uniform(0.0, 0.5))
        gelsim.Mass(x, top + f(k // per_row) * spacing, 1.0, 5.0, 0.5, -1).add_ref()
    return world


def run(args, threads):
    worlds = [build_pile(args.masses, k) for k in range(args.worlds)]
    t0 = time.perf_counter()
    if threads:
        with ThreadPoolExecutor(threads) as pool:
            list(pool.map(lambda w: w.step(args.steps), worlds))
    else:
        for w in worlds:
            w.step(args.steps)
    t = time.perf_counter() - t0
    out = [w.positions().tobytes() for w in worlds]
    for w in worlds:
        w.free()
    return t, out


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--worlds", type=int, default=4)
    p.add_argument("--masses", type=int, default=2000)
    p.add_argument("--steps", type=int, default=500)
    p.add_argument("--threads", type=int, default=2)
    p.add_argument("--repeats", type=int, default=3)
    args = p.parse_args()

    seq, par = [], []
    for _ in range(args.repeats):
        t, one_by_one = run(args, 0)
        seq.append(t)
        t, pooled = run(args, args.threads)
        par.append(t)
        if pooled != one_by_one:
            print("threads and one-after-another ended in different positions", file=sys.stderr)
            return 1
    mass_steps = args.worlds * args.masses * args.steps
    print(f"{args.worlds} worlds x {args.masses} discs x {args.steps} steps")
    print(f"one after another: {min(seq):.3f} s  ({mass_steps / min(seq) / 1e6:.1f} M mass-steps/s)")
    print(f"{args.threads} threads:         {min(par):.3f} s  ({mass_steps / min(par) / 1e6:.1f} M mass-steps/s)")
    print(f"throughput ratio: {min(seq) / min(par):.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
