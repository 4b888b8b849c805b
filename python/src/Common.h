#pragma once
// Shared by the binding sources: the intrusive handle as pybind11's holder type, and the
// checks that keep Python callers away from states the library does not support.
#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>

#include "gelsim/core/Physics.h"
#include "platform/Object.h"

// Ref<T> counts inside the object, so a handle can be made from any raw pointer the
// library hands out: Python and C++ then own the object together, and it goes when the
// last owner on either side lets go.
PYBIND11_DECLARE_HOLDER_TYPE(T, kin::Ref<T>, true)

namespace pybind11::detail {
template <typename T>
struct holder_helper<kin::Ref<T>> {
    static T* get(const kin::Ref<T>& p) { return p.Get(); }
};
}  // namespace pybind11::detail

namespace gelsim_py {

namespace py = pybind11;

/// True while World.step runs (collision callbacks run inside it).
bool Stepping();
/// Steps the current world; a Python exception from a collision callback is raised once
/// the step it happened in has finished (no further step runs).
void RunSteps(int32_t steps);
/// Raises RuntimeError when called from inside a step (a collision callback) for an
/// operation that would pull the tables from under the step.
void RefuseWhileStepping(const char* what);
/// Raises RuntimeError unless w is the current world.
void RequireCurrent(const kin::gelsim::TPhysics* w);

/// Raises why the latest load gave null: FileNotFoundError, IsADirectoryError,
/// PermissionError or OSError, or FileFormatError for a file of another kind.
[[noreturn]] void RaiseRefusedLoad();
/// gelsim.FileFormatError with a message, as a C++ exception the module translates.
class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void BindWorld(py::module_& m);
void BindElements(py::module_& m);
void BindBodies(py::module_& m);
void BindScenes(py::module_& m);

}  // namespace gelsim_py
