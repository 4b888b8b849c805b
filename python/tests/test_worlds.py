"""Several worlds at once: each World acts on itself whatever is current, `with` switches
the calling thread's current world, threads step different worlds side by side, and
objects refuse to mix worlds or to act for a world that is gone."""
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import gelsim


def pile(n, seed, width=400.0, height=600.0):
    """A new current world with n discs dropped from a seeded jitter."""
    world = gelsim.World(width, height, gravity=(0.0, 0.1), iterations=2)
    rng = np.random.default_rng(seed)
    per_row = int(width // 11.0) - 2
    for k in range(n):
        x = 11.0 + 11.0 * (k % per_row) + float(rng.uniform(0.0, 0.5))
        m = gelsim.Mass(x, height - 20.0 - 11.0 * (k // per_row), radius=5.0)
        m.add_ref()
    return world


def test_worlds_live_side_by_side_and_step_whatever_is_current():
    alone = pile(300, 1)
    alone.step(150)
    expected = alone.positions().tobytes()
    alone.free()
    assert gelsim.World.current() is None

    a = pile(300, 1)
    b = gelsim.World(300.0, 300.0)
    assert gelsim.World.current() is b and not a.is_current
    with a:
        assert gelsim.World.current() is a
        with b:
            assert b.is_current
            ball = gelsim.Mass(150.0, 10.0)
            ball.add_ref()  # joins b, the current world
        assert gelsim.World.current() is a
    assert gelsim.World.current() is b
    with pytest.raises(KeyError), a:
        raise KeyError  # the previous world comes back on the way out of an exception too
    assert gelsim.World.current() is b

    first = a.masses[0]
    first.add_ref()  # a mass already in a world stays there: one more holder
    assert first.holders == 2 and len(a.masses) == 300 and len(b.masses) == 1
    first.sub_ref()
    for _ in range(3):  # a steps while b is current, interleaved with b
        a.step(50)
        b.step(7)
    assert gelsim.World.current() is b
    assert a.positions().tobytes() == expected
    assert ball.y > 10.0 and len(b.masses) == 1
    a.free()
    b.free()


def _contact_world(k):
    """World k: a pile whose floor contacts a callback answers by nudging the disc up."""
    world = pile(80 + 20 * k, 10 + k, height=200.0)
    calls = []

    def bounce(event):
        if event.kind == gelsim.CollisionEvent.MASS_BOUNDS:
            event.mass.add_velocity(0.0, -0.02 * (k + 1))
        calls.append(event.kind)

    with world:
        handle = gelsim.on_collision(bounce)
    return world, calls, handle


def test_threads_stepping_worlds_with_callbacks_match_one_after_another():
    worlds = [_contact_world(k) for k in range(4)]
    for world, _, _ in worlds:
        world.step(150)
    expected = [(world.positions().tobytes(), len(calls)) for world, calls, _ in worlds]

    again = [_contact_world(k) for k in range(4)]
    current = gelsim.World.current()
    with ThreadPoolExecutor(2) as pool:
        list(pool.map(lambda w: w[0].step(150), again))
    assert gelsim.World.current() is current  # other threads' steps leave this thread's as it was
    got = [(world.positions().tobytes(), len(calls)) for world, calls, _ in again]
    assert all(n > 0 for _, n in got)
    assert got == expected

    # A callback's exception is raised from the step of its own world, in its own thread.
    def broken(event):
        raise ZeroDivisionError("world 2")

    with again[2][0], gelsim.on_collision(broken), ThreadPoolExecutor(2) as pool:
        futures = [pool.submit(w.step, 5) for w, _, _ in again]
    assert [f.exception() is None for f in futures] == [True, True, False, True]
    assert isinstance(futures[2].exception(), ZeroDivisionError)

    # While one thread steps a world, another thread cannot step, free or change it.
    inside, go_on = threading.Event(), threading.Event()

    def hold(event):
        inside.set()
        go_on.wait(10)

    world = again[0][0]
    with world:
        held = gelsim.on_collision(hold)
    with ThreadPoolExecutor(1) as pool:
        stepping = pool.submit(world.step, 1)
        assert inside.wait(10)
        for use in (world.step, world.free, lambda: setattr(world, "gravity", (0.0, 1.0))):
            with pytest.raises(RuntimeError, match="being stepped in another thread"):
                use()
        go_on.set()
        stepping.result()
    held.remove()
    for world, _, handle in worlds + again:
        handle.remove()
        world.free()


def test_objects_refuse_other_worlds_and_worlds_that_are_gone():
    a = gelsim.World(200.0, 200.0)
    in_a = gelsim.Mass(50.0, 50.0)
    in_a.add_ref()
    body_a = gelsim.IndexedBody("a")
    loose = body_a.masses[body_a.masses.add(20.0, 20.0)]
    zone = gelsim.Zone([(0, 150), (200, 150)], style=gelsim.Zone.LINE)
    b = gelsim.World(200.0, 200.0)
    in_b = gelsim.Mass(60.0, 50.0)
    in_b.add_ref()
    body_b = gelsim.IndexedBody("b")
    body_b.masses.add(30.0, 30.0)
    assert body_a.id == body_b.id == 0

    # A constraint cannot join masses of two worlds.
    with pytest.raises(ValueError, match="belongs to another World"):
        gelsim.Constraint(in_a, in_b).assign(gelsim.Body())
    # Nor can a body whose world is b take a mass that is in a; nothing joins b on the way.
    i, j = body_b.masses.add(80.0, 80.0), body_b.masses.add(90.0, 80.0)
    body_b.constraints.add(0, i)
    body_b.constraints.add(i, j)
    with a:
        body_b.masses[j].add_ref()
    with pytest.raises(ValueError, match="belongs to another World"):
        body_b.activate()
    assert b.constraints == [] and len(b.masses) == 1

    # Elements answer for their own world, not for the current one.
    assert loose.body is not body_b
    with a:
        assert loose.body is body_a
    zone.deactivate()  # while b is current: the zone leaves a
    assert a.zones == [] and not zone.active

    # A freed world says so, and so do the objects that were in it.
    body_a.constraints.add(0, body_a.masses.add(40.0, 20.0))
    with a:
        body_a.activate()
    a.free()
    assert b.is_current
    for use in (lambda: a.step(), lambda: a.masses, lambda: a.positions(), lambda: setattr(a, "gravity", (0, 1))):
        with pytest.raises(RuntimeError, match="freed"):
            use()
    with pytest.raises(RuntimeError, match="World is gone"):
        in_a.add_ref()
    with pytest.raises(RuntimeError, match="World is gone"):
        body_a.activate()
    assert in_a.position == (50.0, 50.0) and in_a.holders == 1  # plain reads still answer
    a.free()  # harmless twice
    assert "freed" in repr(a) and b.is_current

    # Holders are counted only where they keep the mass in a world.
    fresh = gelsim.Mass(10.0, 10.0)
    with pytest.raises(ValueError, match="no holder"):
        fresh.sub_ref()
    fresh.add_ref()
    assert fresh.active and fresh in b.masses
    b.free()
    with pytest.raises(RuntimeError, match="no current World"):
        gelsim.Mass(10.0, 10.0).add_ref()
