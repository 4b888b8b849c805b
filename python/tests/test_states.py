"""World states: a world saved between steps and brought back (pickle, copy, load_state,
restore_state) steps on bit for bit as the original does; damaged bytes are refused."""
import copy
import pickle

import numpy as np
import pytest

import gelsim


def scene(seed):
    """A new current world: a pile of loose discs, a springy body, a floor, a ramp and a
    shelf zone, with a collision callback nudging discs off the floor."""
    world = gelsim.World(400.0, 400.0, gravity=(0.0, 0.1), iterations=2)
    rng = np.random.default_rng(seed)
    for k in range(120):
        m = gelsim.Mass(20.0 + 11.0 * (k % 30) + float(rng.uniform(0.0, 0.5)), 40.0 + 11.0 * (k // 30),
                        radius=5.0, group=k % 3)
        m.add_ref()
    body = gelsim.IndexedBody("blob")
    for k in range(8):
        body.masses.add(150.0 + 12.0 * (k % 4), 150.0 + 12.0 * (k // 4), radius=6.0)
    body.constraints.connect_all(0.3)
    body.activate()
    gelsim.Zone([(0, 380), (400, 380)], style=gelsim.Zone.LINE).activate()
    gelsim.Zone([(40, 250), (200, 300)], style=gelsim.Zone.LINE, friction=0.2).activate()
    gelsim.Zone([(250, 200), (330, 200), (330, 215), (250, 215)], style=gelsim.Zone.FILL).activate()

    def nudge(event):
        if event.kind == gelsim.CollisionEvent.MASS_BOUNDS:
            event.mass.add_velocity(0.0, -0.05)

    handle = gelsim.on_collision(nudge)
    return world, body, handle


def test_saved_worlds_step_on_bit_for_bit():
    world, body, handle = scene(3)
    handle.remove()  # callbacks are not carried: the copies must step as the original does
    end = 240
    saves = {}  # step -> (state, state without zones, pickle, deepcopy, copy, grid size)
    for t in range(end):
        if t in (0, 1, 37, 150):
            saves[t] = (world.save_state(), world.save_state(zones=False), pickle.dumps(world, protocol=len(saves)),
                        copy.deepcopy(world), copy.copy(world), world.grid_size)
        world.step()
    expected = world.positions().tobytes()
    queued = [(e.kind, e.x, e.y, e.force) for e in world.events()]
    assert queued and len(world.bodies) == 1 and len(world.zones) == 3

    assert gelsim.World.current() is world  # copies leave the current world alone
    for t, (state, bare, pickled, deep, shallow, grid) in saves.items():
        current = gelsim.World.current()
        copies = [pickle.loads(pickled), deep, shallow]
        assert all(c.auto_grid for c in copies)  # the original fits its grid, and so do they
        assert gelsim.World.current() is current
        loaded = gelsim.World.load_state(bytearray(state))
        assert gelsim.World.current() is loaded and loaded.auto_grid  # like World()
        borrowed = gelsim.World.load_state(memoryview(bare), zones_from=world)
        fixed = gelsim.World.load_state(state, auto_grid=False)
        assert not fixed.auto_grid and fixed.grid_size == grid
        copies += [loaded, borrowed]
        fixed.free()
        for c in copies:
            assert c is not world and len(c.zones) == 3 and [b.name for b in c.bodies] == ["blob"]
            assert c.bodies[0] is not body and c.masses[0] not in world.masses
            c.step(end - t)
        assert [c.positions().tobytes() == expected for c in copies] == [True] * len(copies)
        assert all([(e.kind, e.x, e.y, e.force) for e in c.events()] == queued for c in copies)
        for c in copies:
            c.free()

    # In place: the world goes back to each saved step and comes again to the same end.
    for t, (state, bare, *_) in sorted(saves.items(), reverse=True):
        world.restore_state(state if t % 2 else bare)
        assert world.bodies[0] is body  # at its saved place: reused, the handle stays good
        world.step(end - t)
        assert world.positions().tobytes() == expected

    # The states of a restored world are the states it had.
    world.restore_state(saves[37][0])
    assert world.save_state() == saves[37][0]
    world.free()


def test_damaged_states_are_refused_and_change_nothing():
    world, _, handle = scene(5)
    world.step(30)
    state = world.save_state()
    world.step(5)
    before = world.save_state()
    cuts = sorted(set(range(0, len(state), max(1, len(state) // 400))) | set(range(0, 64)) | {len(state) - 1})
    for cut in cuts:
        with pytest.raises(gelsim.StreamError, match="^Error reading from stream"):
            gelsim.World.load_state(state[:cut])
        with pytest.raises(gelsim.StreamError, match="^Error reading from stream"):
            world.restore_state(state[:cut])
    # Bytes changed one at a time are refused or give a world that steps; never a crash.
    rng = np.random.default_rng(7)
    for at in rng.integers(0, len(state), 300):
        bad = bytearray(state)
        bad[at] ^= 1 << int(rng.integers(0, 8))
        try:
            other = gelsim.World.load_state(bad)
        except gelsim.StreamError as e:
            assert str(e).startswith("Error reading from stream")
        else:
            other.step(2)
            other.free()
    assert world.save_state() == before  # every refused restore left it as it was
    with pytest.raises(TypeError):
        gelsim.World.load_state("not bytes")  # type: ignore[arg-type]
    with pytest.raises(gelsim.StreamError, match="no world to take them from"):
        gelsim.World.load_state(world.save_state(zones=False))

    # Saving or restoring is refused inside the world's own step.
    seen = []

    def inside(event):
        if not seen:
            for use in (world.save_state, lambda: world.restore_state(state), lambda: pickle.dumps(world)):
                with pytest.raises(RuntimeError, match="inside a step"):
                    use()
                seen.append(use)

    with world, gelsim.on_collision(inside):
        world.step(200)
    assert len(seen) == 3
    handle.remove()
    world.free()
    with pytest.raises(RuntimeError, match="has been freed"):
        world.save_state()
