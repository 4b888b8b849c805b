"""Pictures: valid PNG files of the asked size showing the world; the example script."""
import os
import pathlib
import struct
import subprocess
import sys
import zlib

import numpy as np

import gelsim

ROOT = pathlib.Path(os.environ.get("GELSIM_SOURCE_ROOT", pathlib.Path(__file__).resolve().parents[2]))


def decode_png(data):
    """Checks the signature and every chunk's CRC; returns (width, height, RGBA array)."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, chunks = 8, []
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        assert zlib.crc32(kind + body) == crc, kind
        chunks.append((kind, body))
        pos += 12 + length
    assert chunks[0][0] == b"IHDR" and chunks[-1][0] == b"IEND" and pos == len(data)
    w, h, depth, colour = struct.unpack(">IIBB", chunks[0][1][:10])
    assert (depth, colour) == (8, 6)  # 8-bit RGBA
    raw = zlib.decompress(b"".join(b for k, b in chunks if k == b"IDAT"))
    assert len(raw) == h * (1 + 4 * w)
    rows, prev = [], bytearray(4 * w)
    for y in range(h):  # undo the row filters
        f, line = raw[y * (4 * w + 1)], bytearray(raw[y * (4 * w + 1) + 1:(y + 1) * (4 * w + 1)])
        for i in range(len(line)):
            a = line[i - 4] if i >= 4 else 0
            b, c = prev[i], prev[i - 4] if i >= 4 else 0
            p = a + b - c
            pred = [0, a, b, (a + b) // 2,
                    a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c][f]
            line[i] = (line[i] + pred) & 0xFF
        rows.append(bytes(line))
        prev = line
    return w, h, np.frombuffer(b"".join(rows), dtype=np.uint8).reshape(h, w, 4)


def test_picture_is_a_png_of_the_asked_size_showing_the_world(world):
    floor = gelsim.Zone([(100, 3000), (900, 3000), (900, 3050), (100, 3050)], style=gelsim.Zone.FILL)
    ball = gelsim.Mass(500.0, 2900.0, radius=20.0)
    ball.add_ref()
    world.step(10)
    view = world.positions().copy()
    w, h, px = decode_png(world.picture(160, 90))
    assert (w, h) == (160, 90)
    colours = {tuple(c) for c in px.reshape(-1, 4)[:, :3]}
    assert (24, 24, 32) in colours  # background
    assert (90, 205, 130) in colours  # the ball
    assert (150, 150, 165) in colours  # the zone
    # The ball sits above the floor in the picture, as in the world.
    ball_rows = np.nonzero((px[:, :, :3] == (90, 205, 130)).all(axis=2))[0]
    floor_rows = np.nonzero((px[:, :, :3] == (150, 150, 165)).all(axis=2))[0]
    assert ball_rows.max() <= floor_rows.min() + 1
    # A picture leaves the world's view and state alone, and notebooks get the same kind.
    assert np.array_equal(view, world.positions()) and floor.active
    assert decode_png(world._repr_png_())[:2] == (400, 300)
    assert decode_png(world.picture(33, 200, center=(500.0, 2900.0), zoom=0.5))[:2] == (33, 200)


def test_example_script_writes_its_picture(tmp_path):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in [os.path.dirname(os.path.dirname(gelsim.__file__)),
                                                    env.get("PYTHONPATH", "")] if p)
    run = subprocess.run([sys.executable, str(ROOT / "examples" / "python" / "example.py")], cwd=tmp_path, env=env,
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    assert "ball at" in run.stdout
    w, h, px = decode_png((tmp_path / "picture.png").read_bytes())
    assert (w, h) == (480, 320) and len({tuple(c) for c in px.reshape(-1, 4)}) > 3
