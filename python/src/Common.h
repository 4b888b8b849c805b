#pragma once
// Shared by the binding sources: the intrusive handle as pybind11's holder type, and the
// checks that keep Python callers away from states the library does not support.
#include <pybind11/pybind11.h>

#include <cmath>
#include <stdexcept>
#include <string>

#include "gelsim/core/Physics.h"
#include "platform/Object.h"

// Ref<T> counts inside the object, so a handle can be made from any raw pointer the
// library hands out: Python and C++ then own the object together, and it goes when the
// last owner on either side lets go.
PYBIND11_DECLARE_HOLDER_TYPE(T, kin::Ref<T>, true)

namespace gelsim_py {
/// A file path from Python (str, bytes or os.PathLike) as the file system's bytes.
struct PathArg : std::string {};
}  // namespace gelsim_py

namespace kin::gelsim {
class TConstraint;
}

namespace pybind11::detail {
template <typename T>
struct holder_helper<kin::Ref<T>> {
    static T* get(const kin::Ref<T>& p) { return p.Get(); }
};

// Paths go through os.fspath and, for text, the file system encoding, as open() does: any
// os.PathLike is taken, and a name that is not valid UTF-8 still reaches the same file.
template <>
struct type_caster<gelsim_py::PathArg> {
    PYBIND11_TYPE_CASTER(gelsim_py::PathArg, const_name("os.PathLike"));
    bool load(handle src, bool) {
        object path = reinterpret_steal<object>(PyOS_FSPath(src.ptr()));
        if (!path) {
            PyErr_Clear();
            return false;
        }
        if (PyUnicode_Check(path.ptr())) {
            path = reinterpret_steal<object>(PyUnicode_EncodeFSDefault(path.ptr()));
            if (!path) throw error_already_set();
        }
        char* data = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(path.ptr(), &data, &size) != 0) throw error_already_set();
        value.assign(data, static_cast<size_t>(size));
        if (value.find('\0') != std::string::npos) throw value_error("embedded null byte in a path");
        return true;
    }
};
}  // namespace pybind11::detail

namespace gelsim_py {

namespace py = pybind11;

/// v itself; ValueError naming `what` unless v is a finite number. The library stores
/// what it is given, so NaN and infinities are stopped here, before they reach the world.
inline float Finite(float v, const char* what) {
    if (!std::isfinite(v))
        throw py::value_error(std::string(what) + " must be a finite number, not " + std::to_string(v));
    return v;
}
/// v itself; ValueError unless v is finite and not negative (radius, weight).
inline float NonNegative(float v, const char* what) {
    if (!(Finite(v, what) >= 0.0f))
        throw py::value_error(std::string(what) + " must not be negative, not " + std::to_string(v));
    return v;
}

/// True while the calling thread runs World.step (collision callbacks run inside it).
bool Stepping();
/// Steps world w (made current in the calling thread for the steps) with the GIL released;
/// a Python exception from a collision callback is raised once the step it happened in
/// has finished (no further step runs).
void RunSteps(kin::gelsim::TPhysics& w, int32_t steps);
/// Raises RuntimeError when called from inside a step (a collision callback) for an
/// operation that would pull the tables from under the step.
void RefuseWhileStepping(const char* what);

/// own when set, else the calling thread's current world (null: none).
inline kin::gelsim::TPhysics* HomeOf(kin::gelsim::TPhysics* own) {
    return own ? own : kin::gelsim::TPhysics::currentWorld.Get();
}
/// Makes an object's own world (else the current one) current for the guard's lifetime,
/// so that what the library does "in the current world" happens in that object's world.
class InWorld {
public:
    explicit InWorld(kin::gelsim::TPhysics* own) : scope_(HomeOf(own)) {}
    kin::gelsim::TPhysics* World() const { return kin::gelsim::TPhysics::currentWorld.Get(); }

private:
    kin::gelsim::TPhysics::Scope scope_;
};
/// RuntimeError: `what` took part in a world that has been freed or destroyed since.
[[noreturn]] void RaiseWorldGone(const char* what);
/// ValueError: `what` cannot join `target` because it (or a part of it) is in another world.
[[noreturn]] void RaiseOtherWorld(const char* what);
/// RuntimeError: there is no world to join.
[[noreturn]] void RaiseNoWorld(const char* what);
/// Raises RuntimeError when c or one of its masses still has holders from a world that
/// has been freed or destroyed since (joining another world would then do nothing).
void CheckJoin(const kin::gelsim::TConstraint& c, const char* what);

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
