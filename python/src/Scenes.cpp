// gelsim._scenes: the C++ scene builders shared with the C++ tests and benchmarks, run
// entirely in C++, so that Python can check its own results against them and time the
// step without the binding in between.
#include <pybind11/numpy.h>

#include <ctime>

#include "Common.h"
#include "scenes/Scenes.h"

namespace gelsim_py {

using namespace kin;
using namespace kin::gelsim;

namespace {

// Every mass's current and old centre as an (N, 4) float32 array: x, y, old x, old y.
py::array_t<float> State(const TScene& sc) {
    py::array_t<float> out({static_cast<py::ssize_t>(sc.masses.size()), static_cast<py::ssize_t>(4)});
    auto a = out.mutable_unchecked<2>();
    for (size_t k = 0; k < sc.masses.size(); ++k) {
        const TMass* m = sc.masses[k].Get();
        const auto r = static_cast<py::ssize_t>(k);
        a(r, 0) = m->posX, a(r, 1) = m->posY, a(r, 2) = m->oldPosX, a(r, 3) = m->oldPosY;
    }
    return out;
}

py::array_t<float> Run(TScene sc, int32_t steps) {
    try {
        RunSteps(*TPhysics::currentWorld, steps);  // Python collision callbacks see these steps too
    } catch (...) {
        TPhysics::Free();
        throw;
    }
    py::array_t<float> out = State(sc);
    TPhysics::Free();
    return out;
}

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

void BindScenes(py::module_& m) {
    py::module_ s = m.def_submodule("_scenes", "C++ scene builders and timing, for tests and benchmarks.");
    s.def(
        "pile",
        [](int32_t n, int32_t steps) {
            RefuseWhileStepping("a scene");
            return Run(BuildPile(n), steps);
        },
        py::arg("n"), py::arg("steps"),
        "Builds the C++ falling pile of n discs in a new world, steps it, frees the world and returns every "
        "mass's (x, y, old x, old y) as an (n, 4) float32 array.");
    s.def(
        "lattice",
        [](int32_t cols, int32_t rows, int32_t steps) {
            RefuseWhileStepping("a scene");
            return Run(BuildLattice(cols, rows), steps);
        },
        py::arg("cols"), py::arg("rows"), py::arg("steps"), "The same for the C++ soft lattice.");
    s.def(
        "time_steps",
        [](int32_t steps) {
            RefuseWhileStepping("time_steps");
            const double t0 = ThreadSeconds();
            if (!TPhysics::currentWorld) RaiseNoWorld("time_steps");
            RunSteps(*TPhysics::currentWorld, steps);
            return ThreadSeconds() - t0;
        },
        py::arg("steps"),
        "Steps the current world `steps` times in one C++ loop (as World.step(steps) does); returns the thread's "
        "CPU seconds.");
    s.def(
        "thread_seconds", &ThreadSeconds, "CPU seconds of the calling thread (the clock time_steps uses).");
}

}  // namespace gelsim_py
