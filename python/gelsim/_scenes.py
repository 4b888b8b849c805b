"""The C++ scene builders (the ones the C++ tests and benchmarks use), run in C++.

Private: for the package's tests and benchmarks.
"""

from ._gelsim import _scenes as _impl

pile = _impl.pile
lattice = _impl.lattice
time_steps = _impl.time_steps
thread_seconds = _impl.thread_seconds
