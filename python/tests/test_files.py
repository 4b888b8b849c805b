"""Body files from Python: a round trip keeps every table, index and hole; a damaged file
raises gelsim.StreamError instead of returning a half-read body."""
import numpy as np
import pytest

import gelsim


def make_body():
    body = gelsim.IndexedBody("blob")
    for k in range(6):
        i = body.masses.add(300.0 + 12.0 * (k % 3), 200.0 + 12.0 * (k // 3), mass=1.0 + k, radius=4.0 + k * 0.5,
                            friction=0.25, group=-5 if k < 3 else 7)
        body.masses[i].name = f"m{k}"
    body.constraints.connect_all(0.75)
    del body.masses[4]  # a hole, and the constraints on it go too
    rgba = np.zeros((8, 8, 4), dtype=np.uint8)
    rgba[2:6, 2:6] = (250, 120, 30, 255)
    image = body.images.add(gelsim.Image.from_array(rgba))
    body.rigs.add(image, 0, 0, angle=30.0)
    body.masses[1].frozen = True
    body.activate()
    return body


def tables(body):
    masses = [(m.index, m.position, m.velocity, m.mass, m.radius, m.friction, m.frozen, m.name) for m in body.masses]
    cons = [(c.index, c.mass1.index, c.mass2.index, c.rest_length, c.stiffness, c.name) for c in body.constraints]
    rigs = [(r.index, r.mass.index, r.constraint.index, r.angle, r.scale, r.color, r.alpha) for r in body.rigs]
    return masses, cons, rigs, len(body.masses), len(body.constraints)


def test_body_file_round_trip(world, tmp_path):
    body = make_body()
    world.step(40)  # moving, so velocities are stored too
    path = tmp_path / "blob.plb"
    body.save(str(path))
    loaded = gelsim.IndexedBody.load(str(path))
    assert loaded.name == "blob" and loaded.id != body.id
    assert tables(loaded) == tables(body)
    assert 4 not in loaded.masses and loaded.masses[4] is None and len(loaded.masses) == 6
    assert np.array_equal(loaded.images[0].to_array(), body.images[0].to_array())
    # Negative groups get fresh ones shared the same way; others stay as stored.
    groups = [m.group for m in loaded.masses]
    assert groups[0] == groups[1] == groups[2] < 0 and groups[0] != body.masses[0].group and groups[3:] == [7, 7]
    # Both bodies are in the world and step alike (the loaded one shifted aside).
    loaded.translate(300.0, 0.0)
    world.step(60)
    a, b = body.masses.positions(), loaded.masses.positions()
    assert np.allclose(a[[0, 1, 2, 3, 5]] + (300.0, 0.0), b[[0, 1, 2, 3, 5]], atol=1e-3)

    # Pictures beside the file, and a backup of the previous file.
    body.save(str(path), backup=True, embed_images=False)
    assert (tmp_path / "blob.plb.bak").is_file() and (tmp_path / "blob_img0.png").is_file()
    assert tables(gelsim.IndexedBody.load(str(path), activate=False))[1] == tables(body)[1]


def test_damaged_body_files_raise_stream_errors(world, tmp_path):
    path = tmp_path / "blob.plb"
    make_body().save(str(path))
    data = path.read_bytes()
    for cut in (len(data) - 3, len(data) // 2, 9):
        (tmp_path / "short.plb").write_bytes(data[:cut])
        with pytest.raises(gelsim.StreamError):
            gelsim.IndexedBody.load(str(tmp_path / "short.plb"))
    # A mass record whose index lies outside its table: inconsistent, not just short.
    bad = bytearray(data)
    first_record = data.index(b"\r\n") + 2 + 4
    bad[first_record:first_record + 4] = (1000).to_bytes(4, "little")
    (tmp_path / "bad.plb").write_bytes(bytes(bad))
    with pytest.raises(gelsim.FileFormatError):
        gelsim.IndexedBody.load(str(tmp_path / "bad.plb"))
    (tmp_path / "tag.plb").write_bytes(b"ZONE" + data[4:])
    with pytest.raises(gelsim.FileFormatError, match="not a body file"):
        gelsim.IndexedBody.load(str(tmp_path / "tag.plb"))
    with pytest.raises(FileNotFoundError):
        gelsim.IndexedBody.load(str(tmp_path / "missing.plb"))
    # Writing into a folder that does not exist fails loudly too.
    with pytest.raises(gelsim.StreamError):
        make_body().save(str(tmp_path / "no" / "such" / "folder.plb"))
    assert issubclass(gelsim.StreamError, OSError) and issubclass(gelsim.FileFormatError, gelsim.StreamError)


def test_failed_loads_and_saves_name_the_file_and_the_reason(world, tmp_path):
    body = make_body()
    good = str(tmp_path / "good.plb")
    body.save(good)
    short, zone, missing = (str(tmp_path / n) for n in ("short.plb", "zone.plz", "missing.plb"))
    (tmp_path / "short.plb").write_bytes((tmp_path / "good.plb").read_bytes()[:12])
    (tmp_path / "zone.plz").write_bytes(b"ZONE\x01")
    cases = [
        (lambda: gelsim.IndexedBody.load(missing), FileNotFoundError, f"{missing}: no such file"),
        (lambda: gelsim.IndexedBody.load(str(tmp_path)), IsADirectoryError, f"{tmp_path}: is a directory"),
        (lambda: gelsim.IndexedBody.load(zone), gelsim.FileFormatError, f"{zone}: not a body file (tag 'ZONE')"),
        (lambda: gelsim.Zone.load(good), gelsim.FileFormatError, f"{good}: not a zone file (tag 'B111')"),
        (lambda: gelsim.Zone.load(missing), FileNotFoundError, f"{missing}: no such file"),
        (lambda: gelsim.IndexedBody.load(short), gelsim.StreamError,
         f"Error reading from stream: {short}: ends in the mass count: needs 14 bytes, there are 12"),
        (lambda: body.save(str(tmp_path)), gelsim.StreamError, f"Error writing to stream: {tmp_path}: is a directory"),
        (lambda: body.save(str(tmp_path / "no" / "x")), gelsim.StreamError,
         f"Error writing to stream: {tmp_path / 'no' / 'x.plb'}: No such file or directory"),
    ]
    for call, error, message in cases:
        with pytest.raises(error) as raised:
            call()
        assert str(raised.value) == message
