"""Real scenes driven from Python: the same worlds as the C++ scene builders, stepped
through the binding, must come out bit for bit like the C++ runs; collision events reach
Python callbacks, which may change the world as it steps."""
import gc

import numpy as np
import pytest

import gelsim
from gelsim import _scenes


def lcg(seed):
    """The scene builders' generator: 0..1 floats from a 32-bit LCG."""
    s = seed
    while True:
        s = (s * 1664525 + 1013904223) & 0xFFFFFFFF
        yield np.float32(s >> 8) / np.float32(16777216.0)


def build_pile(n):
    """The C++ falling pile, built from Python."""
    f = np.float32
    world = gelsim.World(1024.0, 4096.0, gravity=(0.0, 0.1), iterations=1)
    world.use_grid = True
    world.grid_size = 128
    rng = lcg(12345)
    per_row, spacing = 90, f(11.0)
    rows = (n + per_row - 1) // per_row
    top = f(4096.0) - f(20.0) - f(rows) * spacing
    masses = []
    for k in range(n):
        x = f(17.0) + f(k % per_row) * spacing + next(rng) * f(0.5)
        y = top + f(k // per_row) * spacing
        m = gelsim.Mass(x, y, mass=1.0, radius=5.0, friction=0.5, group=-1)
        m.add_ref()
        masses.append(m)
    return world, masses


def build_lattice(cols, rows):
    """The C++ soft lattice, built from Python: masses of one shared group, neighbour and
    diagonal constraints assigned through one body."""
    f = np.float32
    world = gelsim.World(1024.0, 4096.0, gravity=(0.0, 0.1), iterations=1)
    world.use_grid = True
    world.grid_size = 128
    group = gelsim.Mass(0, 0, group=-1).group
    spacing = f(10.0)
    left = f(512.0) - f(cols) * spacing * f(0.5)
    top = f(3600.0) - f(rows) * spacing
    grid = [gelsim.Mass(left + f(c) * spacing, top + f(r) * spacing, 1.0, 4.0, 0.5, group)
            for r in range(rows) for c in range(cols)]
    body = gelsim.Body()
    cons = []

    def join(a, b):
        c = gelsim.Constraint(a, b, rest_length=0.0, stiffness=0.5)
        c.assign(body)
        cons.append(c)

    at = lambda c, r: grid[r * cols + c]
    for r in range(rows):
        for c in range(cols):
            if c + 1 < cols:
                join(at(c, r), at(c + 1, r))
            if r + 1 < rows:
                join(at(c, r), at(c, r + 1))
            if c + 1 < cols and r + 1 < rows:
                join(at(c, r), at(c + 1, r + 1))
                join(at(c + 1, r), at(c, r + 1))
    return world, grid, cons, body


def state(masses):
    return np.array([(m.x, m.y, *m.old_position) for m in masses], dtype=np.float32)


def test_falling_pile_matches_the_cpp_run_bit_for_bit():
    world, masses = build_pile(400)
    world.step(300)
    for _ in range(200):  # one call per step as well
        world.step()
    mine = np.hstack([world.positions(), world.positions(old=True)])
    assert mine.shape == (400, 4)
    assert np.array_equal(mine, state(masses))  # table order is creation order here
    world.free()
    theirs = _scenes.pile(400, 500)
    assert np.array_equal(mine.view(np.uint32), theirs.view(np.uint32))
    # It really fell and landed: every disc inside the box, the lowest on the floor.
    assert mine[:, 1].max() == pytest.approx(4096.0 - 5.0, abs=1.0)


def test_lattice_matches_the_cpp_run_and_keeps_its_shape():
    world, grid, cons, body = build_lattice(12, 8)
    assert len(world.masses) == 96 and len(world.constraints) == len(cons) == 11 * 8 + 12 * 7 + 2 * 11 * 7
    world.step(700)
    mine = state(grid)
    stress = np.array([c.stress for c in cons])
    world.free()
    theirs = _scenes.lattice(12, 8, 700)
    assert np.array_equal(mine.view(np.uint32), theirs.view(np.uint32))
    # Landed on the floor in one piece: no strand torn or crushed.
    assert mine[:, 1].max() == pytest.approx(4096.0 - 4.0, abs=0.5)
    assert 0.6 < stress.min() and stress.max() < 1.4


def test_collision_events_reach_python_callbacks(world):
    world.use_grid = True
    masses = []
    for k in range(60):
        m = gelsim.Mass(20.0 + (k % 30) * 11.0, 3900.0 + (k // 30) * 11.0, radius=5.0)
        m.add_ref()
        masses.append(m)
    seen = {gelsim.CollisionEvent.MASS_MASS: 0, gelsim.CollisionEvent.MASS_BOUNDS: 0}
    kept = []
    removed = []

    def on_contact(event):
        seen[event.kind] += 1
        assert event.mass.active or event.mass in removed
        if event.kind == gelsim.CollisionEvent.MASS_BOUNDS:
            assert event.other is world and event.force > 0
            if not kept:
                kept.append((event, event.x, event.y, event.force))
            # Like the game: a disc that hits the floor at the right edge leaves the world
            # in the middle of the step.
            if event.mass is masses[59] and event.mass.active:
                event.mass.sub_ref()
                removed.append(event.mass)
        else:
            assert isinstance(event.other, gelsim.Mass) and event.mass2 is event.other
        return None

    with gelsim.on_collision(on_contact) as handle:
        world.step(200)
        assert seen[gelsim.CollisionEvent.MASS_MASS] > 0 and seen[gelsim.CollisionEvent.MASS_BOUNDS] > 0
        assert removed == [masses[59]] and not masses[59].active and len(world.masses) == 59
        queued = world.events()
        assert queued and world.events() == []
        pairs = {(id(e.mass), id(e.other)) for e in queued}
        assert len(pairs) == len(queued)  # one queued event per pair and step
        # An event a callback kept is the program's: later steps do not recycle it.
        event, x, y, force = kept[0]
        world.step(50)
        assert (event.x, event.y, event.force) == (x, y, force)
    assert not handle.active

    # False keeps an event out of the queue; the callback still sees it.
    calls = []
    with gelsim.on_collision(lambda e: calls.append(e.kind) or False):
        world.step()
        assert calls and world.events() == []

    # An exception does not unwind through the step: the step finishes, the callback is not
    # called again during it, and step() raises it.
    calls.clear()

    def broken(event):
        calls.append(event.kind)
        raise ZeroDivisionError("from a callback")

    flyer = gelsim.Mass(600.0, 1000.0)  # in free fall: counts the steps that ran
    flyer.add_ref()
    with gelsim.on_collision(broken):
        with pytest.raises(ZeroDivisionError, match="from a callback"):
            world.step(10)
        assert len(calls) == 1
        assert flyer.velocity[1] == pytest.approx(0.1, abs=1e-3)  # that one step ran to its end
    world.step()  # and the world goes on
    assert len(calls) == 1


def test_objects_outlive_their_world():
    world, masses = build_pile(20)
    old = world
    newer = gelsim.World()
    assert gelsim.World.current() is newer
    # The old world lives on beside the new one and still steps; the new world starts empty.
    old.step()
    assert gelsim.World.current() is newer and len(old.masses) == 20
    assert newer.masses == [] and masses[0].position == pytest.approx((17.0, 4065.0), abs=1.0)
    old.free()
    # Python and the world share ownership: a mass Python lets go of lives on in the
    # world's table, and the same object comes back out of it.
    fresh = gelsim.Mass(100.0, 100.0)
    fresh.add_ref()
    del fresh
    gc.collect()
    newer.step(10)
    (back,) = newer.masses
    assert back.y > 100.0 and back.velocity[1] == pytest.approx(1.0, abs=1e-4)
    back.sub_ref()
    assert newer.masses == [] and back.y > 100.0
    newer.free()
    assert gelsim.World.current() is None
