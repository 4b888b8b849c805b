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
    def step(w):
        c0 = time.thread_time()
        w.step(args.steps)
        return time.thread_time() - c0

    t0 = time.perf_counter()
    if threads:
        with ThreadPoolExecutor(threads) as pool:
            cpu = sum(pool.map(step, worlds))
    else:
        cpu = sum(step(w) for w in worlds)
    t = time.perf_counter() - t0
    out = [w.positions().tobytes() for w in worlds]
    for w in worlds:
        w.free()
    return t, cpu, out


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
        t, cpu, one_by_one = run(args, 0)
        seq.append((t, cpu))
        t, cpu, pooled = run(args, args.threads)
        par.append((t, cpu))
        if pooled != one_by_one:
            print("threads and one-after-another ended in different positions", file=sys.stderr)
            return 1
    mass_steps = args.worlds * args.masses * args.steps
    (ts, cs), (tp, cp) = min(seq), min(par)
    print(f"{args.worlds} worlds x {args.masses} discs x {args.steps} steps")
    # CPU seconds of the stepping threads over the wall time: how many cores the steps kept
    # busy (below the thread count when the GIL or a neighbour holds them back).
    print(f"one after another: {ts:.3f} s  ({mass_steps / ts / 1e6:.1f} M mass-steps/s, {cs / ts:.2f} cores busy)")
    print(f"{args.threads} threads:         {tp:.3f} s  ({mass_steps / tp / 1e6:.1f} M mass-steps/s, "
          f"{cp / tp:.2f} cores busy)")
    print(f"throughput ratio: {ts / tp:.2f}x")
    # The same work costs the same CPU time when the threads do not get in each other's way;
    # on a machine with the cores to spare the ratio then approaches the thread count.
    print(f"CPU seconds in the steps: {cs:.3f} one after another, {cp:.3f} in {args.threads} threads "
          f"({100.0 * (cp / cs - 1.0):+.1f}%)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
