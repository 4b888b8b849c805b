"""A soft ball dropped onto a slanted floor; writes picture.png and ball.plb.

Run with the package importable, e.g. PYTHONPATH=build/python python3 examples/python/example.py
"""
import math
import pathlib
import sys
from typing import List

import gelsim

world = gelsim.World(width=600, height=400, gravity=(0.0, 0.1), iterations=4)
floor = gelsim.Zone([(0, 330), (600, 390), (600, 400), (0, 400)], style=gelsim.Zone.FILL, friction=0.8)

# A ring of 16 masses round a hub, joined to their neighbours and to the hub.
ball = gelsim.IndexedBody("ball")
hub = ball.masses.add(200, 100, mass=2.0, radius=6.0)
rim = [ball.masses.add(200 + 40 * math.cos(a), 100 + 40 * math.sin(a), radius=5.0)
       for a in (k * 2 * math.pi / 16 for k in range(16))]
for k, m in enumerate(rim):
    ball.constraints.add(m, rim[(k + 1) % 16], stiffness=0.8)
    ball.constraints.add(m, hub, stiffness=0.3)
ball.activate()

contacts: List[int] = []


def count(event: gelsim.CollisionEvent) -> None:
    contacts.append(event.kind)


with gelsim.on_collision(count):
    world.step(240)

x, y = ball.position
print(f"ball at ({x:.1f}, {y:.1f}) after 240 steps, {len(contacts)} contacts, "
      f"{len(world.masses)} masses in the world")
pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "picture.png").write_bytes(world.picture(480, 320))
ball.save(pathlib.Path("ball.plb"))
