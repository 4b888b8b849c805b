"""gelsim: a 2-D soft-body engine.

Masses are discs moved by verlet integration, constraints are springy strands between
them, zones are static outlines, and an indexed body gathers masses, constraints, images
and rigs under small integer indices. A World is the box they live in; creating one makes
it the calling thread's current world, where new elements join (``with world:`` makes
another one current for a block). Worlds live side by side and each thread may step its
own.

    import gelsim
    world = gelsim.World(width=400, height=300)
    body = gelsim.IndexedBody()
    a = body.masses.add(100, 100)
    b = body.masses.add(120, 100)
    body.constraints.add(a, b)
    body.activate()
    world.step(100)
    world.positions()          # (N, 2) float32 array of the active masses
    open("world.png", "wb").write(world.picture(400, 300))
"""

# NumPy first: the compiled module makes its arrays with it (and looks it up while it loads).
import numpy as _numpy  # noqa: F401

from ._version import __version__
from ._gelsim import (
    Body,
    CollisionCallback,
    CollisionEvent,
    Constraint,
    ConstraintTable,
    FileFormatError,
    Image,
    ImageTable,
    IndexedBody,
    Mass,
    MassTable,
    Rig,
    RigTable,
    StreamError,
    World,
    Zone,
    on_collision,
)

__all__ = [
    "__version__",
    "Body",
    "CollisionCallback",
    "CollisionEvent",
    "Constraint",
    "ConstraintTable",
    "FileFormatError",
    "Image",
    "ImageTable",
    "IndexedBody",
    "Mass",
    "MassTable",
    "Rig",
    "RigTable",
    "StreamError",
    "World",
    "Zone",
    "on_collision",
]
