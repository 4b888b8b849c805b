import pytest

import gelsim


@pytest.fixture
def world():
    """A fresh current world (the C++ scenes' box and gravity), freed afterwards."""
    w = gelsim.World(1024.0, 4096.0, gravity=(0.0, 0.1), iterations=1)
    yield w
    if w.is_current:
        w.free()
