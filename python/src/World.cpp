// The world as a Python object, the step, collision events and callbacks, positions as a
// NumPy array, and pictures through the headless renderer.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Common.h"
#include "gelsim/bodies/AdvBody.h"
#include "gelsim/core/ColEvent.h"
#include "gelsim/core/Constraint.h"
#include "gelsim/core/Mass.h"
#include "gelsim/state/WorldState.h"
#include "gelsim/zones/Zone.h"
#include "platform/Hook.h"

namespace gelsim_py {

using namespace kin;
using namespace kin::gelsim;

namespace {

// The world the calling thread is stepping through World.step, or null. Collision
// callbacks run inside the step, in the thread that steps.
thread_local TPhysics* t_stepping = nullptr;

// The first Python exception raised by a collision callback during the running step of
// this thread. It is raised from World.step once the step has finished; the library never
// sees it.
struct PendingError {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* trace = nullptr;
    bool Set() const { return type != nullptr; }
};
thread_local PendingError g_pending;

void StashCurrentPythonError() {
    if (g_pending.Set()) {
        // Only the first one is raised; later ones are reported, never lost silently.
        PyErr_WriteUnraisable(nullptr);
        return;
    }
    PyErr_Fetch(&g_pending.type, &g_pending.value, &g_pending.trace);
}

void RaisePending() {
    if (!g_pending.Set()) return;
    PyErr_Restore(g_pending.type, g_pending.value, g_pending.trace);
    g_pending = PendingError{};
    throw py::error_already_set();
}

// A Python callable on the collision-event hook. The hook holds this object (its context),
// and this object holds the callable, so the callable lives as long as it is registered.
class PyCallback final : public TObject {
public:
    PyCallback(py::object f, int32_t p, int32_t h) : fn(std::move(f)), priority(p), hook(h) {}
    ~PyCallback() override {
        if (Py_IsInitialized()) {
            py::gil_scoped_acquire gil;
            fn = py::object();
        } else {
            fn.release();  // the interpreter is gone: nothing left to give the reference to
        }
    }
    py::object fn;
    int32_t priority;
    int32_t hook;  // the collision-event hook of the world it was registered on
    bool registered = false;
};

// Every callback currently on the hook, so that they can all be taken off before the
// interpreter ends (the hook registry itself lives until the process ends).
std::vector<Ref<PyCallback>>& Registered() {
    static auto* list = new std::vector<Ref<PyCallback>>();
    return *list;
}

Ref<TObject> RunPyCallback(int32_t, TObject* data, TObject* context) {
    auto* cb = static_cast<PyCallback*>(context);
    TColEvent* ev = As<TColEvent>(data);
    // After an exception in this step the Python side is not called again until the step
    // has ended; the events pass on unchanged.
    if (!ev || g_pending.Set()) return Ref<TObject>(data);
    // The step runs without the GIL (other threads' Python goes on meanwhile).
    const py::gil_scoped_acquire gil;
    if (!cb->fn) return Ref<TObject>(data);
    const Ref<PyCallback> keep(cb);  // the callable may take itself off the hook
    try {
        py::object r = cb->fn(Ref<TColEvent>(ev));
        if (r.is_none()) return Ref<TObject>(data);
        if (PyBool_Check(r.ptr())) return r.ptr() == Py_True ? Ref<TObject>(data) : Ref<TObject>();
        if (py::isinstance<TColEvent>(r)) return Ref<TObject>(r.cast<TColEvent*>());
        PyErr_SetString(PyExc_TypeError,
                        "a collision callback must return None, True, False or a CollisionEvent");
        StashCurrentPythonError();
    } catch (py::error_already_set& e) {
        e.restore();
        StashCurrentPythonError();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
        StashCurrentPythonError();
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "unknown error in a collision callback");
        StashCurrentPythonError();
    }
    return Ref<TObject>(data);
}

void RemoveCallback(PyCallback* cb) {
    if (!cb->registered) return;
    RemoveHook(cb->hook, RunPyCallback, cb);
    cb->registered = false;
    auto& reg = Registered();
    reg.erase(std::remove_if(reg.begin(), reg.end(), [cb](const Ref<PyCallback>& r) { return r.Get() == cb; }),
              reg.end());
}

void RemoveAllCallbacks() {
    auto reg = Registered();  // a copy: RemoveCallback edits the list
    for (auto& cb : reg) RemoveCallback(cb.Get());
}

py::object OtherParty(const TColEvent& e) {
    TObject* o = e.obj2.Get();
    if (auto* m = As<TMass>(o)) return py::cast(Ref<TMass>(m));
    if (auto* z = As<TZone>(o)) return py::cast(Ref<TZone>(z));
    if (auto* w = As<TPhysics>(o)) return py::cast(Ref<TPhysics>(w));
    return py::none();
}

// Entries 0..count-1 of a world table that are in use.
template <class T>
py::list LiveEntries(const std::vector<Ref<T>>& table, int32_t count) {
    py::list out;
    const size_t n = std::min(static_cast<size_t>(std::max(count, 0)), table.size());
    for (size_t k = 0; k < n; ++k)
        if (table[k]) out.append(py::cast(table[k]));
    return out;
}

using Rgb = std::tuple<int, int, int>;

// The renderer lives in gelsim._picture, which links SDL; it is imported on the first
// picture, not with the package.
py::object Picture(int32_t width, int32_t height, std::optional<std::pair<float, float>> center,
                    std::optional<float> zoom, float rotation, Rgb background) {
    return py::module_::import("gelsim._picture").attr("world_png")(width, height, center, zoom, rotation, background);
}

// What the binding keeps about a world beside the library's own state, by the world's
// address. An entry also names the world's collision-event hook id, which is never handed
// out twice: a world made later at the same address does not take over the entry of one
// that is gone. Read and changed with the GIL held only.
struct WorldState {
    int32_t hook = 0;
    bool autoGrid = false;  // the grid is fitted before every step() call
    bool stepping = false;  // a thread is inside step() on it, without the GIL
};
std::unordered_map<const TPhysics*, WorldState>& States() {
    static auto* states = new std::unordered_map<const TPhysics*, WorldState>();  // outlives the interpreter
    return *states;
}

int32_t HookOf(TPhysics& w) {
    const TPhysics::Scope scope(&w);
    return TColEvent::EventHook();
}

// True while another call is stepping w. A world in a step is alive (the call holds it), so
// the entry needs no check of its hook.
bool Busy(const TPhysics& w) {
    const auto it = States().find(&w);
    return it != States().end() && it->second.stepping;
}

// The entry of w, made afresh when there is none or it belonged to an earlier world.
WorldState& StateOf(TPhysics& w) {
    WorldState& st = States()[&w];
    if (!st.stepping) {
        const int32_t hook = HookOf(w);
        if (st.hook != hook) st = WorldState{hook, false, false};
    }
    return st;
}

// Freeing ends the tables for good: a freed world's arrays are empty, a live one's never are.
bool Freed(const TPhysics& w) { return w.massArray.empty(); }

// Every World method first: no other thread is stepping it and it has not been freed.
void CheckUsable(const TPhysics& w) {
    if (Busy(w) && t_stepping != &w) throw std::runtime_error("this World is being stepped in another thread");
    if (Freed(w)) throw std::runtime_error("this World has been freed");
}

// The calling thread's `with world:` blocks, innermost last: the world entered and the
// world that was current before.
thread_local std::vector<std::pair<const TPhysics*, Ref<TPhysics>>> t_entered;

bool CellsHold(int32_t cells, float extent, float across) {
    // The step's own cell arithmetic: cells per unit as a float, as the world keeps it.
    const float ratio = static_cast<float>(cells) / extent;
    return across * ratio <= 1.0f;
}

// The finest grid in which no two touching masses can lie two cells apart: a cell must be
// at least as wide and as tall as the two largest radii together (README, "Choosing the
// grid size"). With fewer than 8 such cells per side the grid cannot be that coarse, so
// every pair is tested instead. Depends only on the box and the radii, so it is the same
// on every run.
void FitGrid(TPhysics& w) {
    float r1 = 0.0f, r2 = 0.0f;  // the two largest radii
    int32_t masses = 0;
    const size_t n = std::min(static_cast<size_t>(std::max(w.massCount, 0)), w.massArray.size());
    for (size_t k = 0; k < n; ++k) {
        const TMass* ms = w.massArray[k].Get();
        if (!ms) continue;
        ++masses;
        const float r = ms->radius;
        if (r > r1) {
            r2 = r1;
            r1 = r;
        } else if (r > r2) {
            r2 = r;
        }
    }
    if (masses < 2) return;  // no pairs yet: the grid waits for them
    const float across = r1 + r2;
    const float width = w.boundsMaxX - w.boundsMinX, height = w.boundsMaxY - w.boundsMinY;
    const float side = std::min(width, height);
    int32_t cells = 0;
    if (std::isfinite(side) && side > 0.0f && std::isfinite(across)) {
        const double fit = across > 0.0f ? std::floor(static_cast<double>(side) / across) : TPhysics::MAX_GRID;
        cells = static_cast<int32_t>(std::min<double>(fit, TPhysics::MAX_GRID));
        while (cells >= 8 && !(CellsHold(cells, width, across) && CellsHold(cells, height, across))) --cells;
    }
    if (cells < 8) {
        TPhysics::UseShiftedGrid(0);
        return;
    }
    TPhysics::UseShiftedGrid(1);
    TPhysics::SetGridSize(cells);
}

// Grid choices made by hand end the fitting.
void ChooseGridByHand(TPhysics& w) { StateOf(w).autoGrid = false; }

// The bytes of a bytes-like object (bytes, bytearray, memoryview, any C-contiguous buffer),
// held for as long as this lives so that a bytearray cannot be resized under the reader.
class StateBytes {
public:
    explicit StateBytes(py::handle o) {
        if (PyObject_GetBuffer(o.ptr(), &view_, PyBUF_SIMPLE) != 0) throw py::error_already_set();
    }
    ~StateBytes() { PyBuffer_Release(&view_); }
    StateBytes(const StateBytes&) = delete;
    StateBytes& operator=(const StateBytes&) = delete;
    const uint8_t* Data() const { return static_cast<const uint8_t*>(view_.buf); }
    size_t Size() const { return static_cast<size_t>(view_.len); }

private:
    Py_buffer view_{};
};

// A new world from a state, leaving the calling thread's current world as it was (also when
// the bytes are refused). The binding's own entry for it says whether the grid is fitted,
// which the state does not hold.
Ref<TPhysics> WorldFromState(py::handle data, const TPhysics* zonesFrom, bool autoGrid) {
    RefuseWhileStepping("loading a World");
    if (zonesFrom) CheckUsable(*zonesFrom);
    const StateBytes bytes(data);
    const TPhysics::Scope keep(TPhysics::currentWorld.Get());
    Ref<TPhysics> w = LoadState(bytes.Data(), bytes.Size(), zonesFrom);
    States()[w.Get()] = WorldState{HookOf(*w), autoGrid, false};
    return w;
}

py::bytes StateOfWorld(const TPhysics& w, bool withZones) {
    CheckUsable(w);
    // Inside its own step the world is half way through a tick: no state to save.
    if (t_stepping == &w) RefuseWhileStepping("saving the state of the World being stepped");
    const std::vector<uint8_t> bytes = SaveState(w, withZones);
    return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace

bool Stepping() { return t_stepping != nullptr; }

void RunSteps(TPhysics& w, int32_t steps) {
    RefuseWhileStepping("stepping");
    if (steps < 0) throw py::value_error("the step count must not be negative, not " + std::to_string(steps));
    WorldState& st = StateOf(w);  // entries stay where they are while others are added
    if (st.stepping) throw std::runtime_error("this World is being stepped in another thread");
    if (st.autoGrid) {
        const TPhysics::Scope scope(&w);
        FitGrid(w);
    }
    // Unset after the GIL is back (declared before the release).
    struct SteppingScope {
        explicit SteppingScope(WorldState& s, TPhysics& w) : st(s) {
            st.stepping = true;
            t_stepping = &w;
        }
        ~SteppingScope() {
            st.stepping = false;
            t_stepping = nullptr;
        }
        WorldState& st;
    };
    {
        const SteppingScope stepping(st, w);
        // Made current while the GIL is held, so that the world's count changes under it.
        const TPhysics::Scope scope(&w);
        // The world and its objects are this thread's while it steps; the GIL is taken
        // again only by collision callbacks into Python.
        const py::gil_scoped_release nogil;
        for (int32_t s = 0; s < steps && !g_pending.Set(); ++s) TPhysics::Update();
    }
    RaisePending();
}

void RefuseWhileStepping(const char* what) {
    if (t_stepping) throw std::runtime_error(std::string(what) + " is not allowed inside a step (from a collision callback)");
}

void RaiseWorldGone(const char* what) {
    throw std::runtime_error(std::string(what) + ": its World is gone (it was freed or destroyed)");
}

void RaiseOtherWorld(const char* what) {
    throw py::value_error(std::string(what) + ": it, or a part of it, belongs to another World");
}

void RaiseNoWorld(const char* what) { throw std::runtime_error(std::string(what) + ": there is no current World"); }

void BindWorld(py::module_& m) {
    py::class_<TPhysics, Ref<TPhysics>> world(m, "World", R"doc(
The simulation world: a box with gravity, friction, relaxation passes per step and a
spatial grid, holding the tables of active masses, constraints, zones and bodies.

Any number of worlds may live at once. Each thread has a current world: creating a World
makes it the current one of the calling thread, and ``with world:`` makes a world current
for the block and puts back the one that was current before. New masses, constraints,
zones and bodies join the current world (and stay in it); every World method acts on its
own world whatever is current, and so do the methods of objects already in a world.
step() releases the GIL, so threads can step different worlds at the same time; one world
and its objects are used by one thread at a time. free() ends a world for good.

save_state() gives the world's state as bytes; load_state() makes a new world from them
and restore_state() puts a world back (undo). pickle and copy go through the same state;
collision callbacks are not carried over.

Units are world units with y growing downwards; one step is one tick, so velocities and
gravity are displacements per step.

The grid: a World made here fits it by itself (auto_grid). Before the ticks of every
step() call, the cells are made as fine as they can be while each is still at least as
wide and as tall as the two largest radii among the active masses together, at most 128
per side; when fewer than 8 cells per side would do, every pair of masses is tested
instead. Setting use_grid or grid_size, or passing grid=None or a number of cells, chooses
by hand and ends the fitting.)doc");

    world.def(py::init([](float width, float height, std::pair<float, float> gravity, int32_t iterations,
                          py::object grid) {
                  RefuseWhileStepping("creating a World");
                  for (const auto& [v, what] : {std::pair(width, "width"), std::pair(height, "height"),
                                                std::pair(gravity.first, "gravity x"),
                                                std::pair(gravity.second, "gravity y")})
                      Finite(v, what);
                  const bool automatic = py::isinstance<py::str>(grid) && grid.cast<std::string>() == "auto";
                  int32_t cells = 0;
                  if (!automatic && !grid.is_none()) {
                      if (!py::isinstance<py::int_>(grid) || py::isinstance<py::bool_>(grid))
                          throw py::type_error("grid must be \"auto\", None or a number of cells per side");
                      cells = grid.cast<int32_t>();
                      if (cells < 1)
                          throw py::value_error("grid must be at least 1 cell per side (8 are used at least)");
                  }
                  Ref<TPhysics> w = TPhysics::Create(width, height, gravity.second, gravity.first, iterations);
                  States()[w.Get()] = WorldState{HookOf(*w), automatic, false};
                  if (cells > 0) {
                      TPhysics::UseShiftedGrid(1);
                      TPhysics::SetGridSize(cells);
                  }
                  return w;
              }),
              py::arg("width") = 1024.0f, py::arg("height") = 4096.0f,
              py::arg("gravity") = std::pair<float, float>(0.0f, 0.1f), py::arg("iterations") = 1,
              py::arg("grid") = "auto",
              "A new world, made the calling thread's current one, with the box (0, 0)-(width, height), gravity (gx, gy) per step per step "
              "and the given relaxation passes per step. grid: \"auto\" (fitted before each step() call), None "
              "(every pair tested) or the cells per side.")
        .def_static(
            "current", []() { return TPhysics::currentWorld; }, "The calling thread's current World, or None.")
        .def_property_readonly(
            "is_current", [](TPhysics& w) { return TPhysics::currentWorld.Get() == &w; },
            "True while this is the calling thread's current world.")
        .def(
            "free",
            [](TPhysics& w) {
                RefuseWhileStepping("freeing the World");
                if (Busy(w)) throw std::runtime_error("this World is being stepped in another thread");
                if (Freed(w)) return;
                const Ref<TPhysics> previous = TPhysics::SetCurrent(&w);
                TPhysics::Free();  // leaves no current world
                if (previous.Get() != &w) TPhysics::SetCurrent(previous.Get());
                States().erase(&w);
            },
            "Ends this world for good: its tables are emptied and its objects leave it. If it was the "
            "calling thread's current world, there is no current world any more. Harmless twice.")
        .def(
            "__enter__",
            [](TPhysics& w) -> TPhysics& {
                CheckUsable(w);
                t_entered.emplace_back(&w, TPhysics::SetCurrent(&w));
                return w;
            },
            py::return_value_policy::reference,
            "Makes this world the calling thread's current one until the end of the with block.")
        .def(
            "__exit__",
            [](TPhysics& w, py::args) {
                for (auto it = t_entered.rbegin(); it != t_entered.rend(); ++it)
                    if (it->first == &w) {
                        const Ref<TPhysics> previous = std::move(it->second);
                        t_entered.erase(std::next(it).base());
                        // A world freed inside the block is not made current again.
                        TPhysics::SetCurrent(previous && !Freed(*previous) ? previous.Get() : nullptr);
                        break;
                    }
                return false;
            },
            "Puts back the world that was current when the with block began.")
        .def(
            "step",
            [](TPhysics& w, int32_t steps) {
                RefuseWhileStepping("World.step");
                CheckUsable(w);
                RunSteps(w, steps);
            },
            py::arg("steps") = 1,
            "Advances the world by the given number of ticks, whatever world is current, with the GIL "
            "released (collision callbacks take it while they run). A collision callback that raises does not stop "
            "the step; its exception is raised here once the step has finished (and no further step runs).")
        .def(
            "save_state", [](const TPhysics& w, bool zones) { return StateOfWorld(w, zones); },
            py::arg("zones") = true, R"doc(
The world's whole dynamic state as bytes, between steps: parameters, masses, constraints,
zones, registered bodies with their rigs and images, the grid and the queued collision
events. Loaded or restored and
stepped, it gives bit for bit what this world gives. zones=False records the zone table
as references to its present zones, for load_state(zones_from=...) or restore_state on a
world that keeps them. Not carried: collision callbacks, objects held only by Python (a body that was never activated), and auto_grid (see load_state).
pickle, copy.copy and copy.deepcopy make a new World through the state (with auto_grid),
leaving the current world as it was; a copy is never shallow.)doc")
        .def_static(
            "load_state",
            [](py::handle data, const TPhysics* zonesFrom, bool autoGrid) {
                Ref<TPhysics> w = WorldFromState(data, zonesFrom, autoGrid);
                TPhysics::SetCurrent(w.Get());
                return w;
            },
            py::arg("data"), py::arg("zones_from") = py::none(), py::kw_only(), py::arg("auto_grid") = true,
            R"doc(
A new World from save_state's bytes (bytes, bytearray or memoryview), made the calling
thread's current one like World(). Its masses, constraints, zones and bodies are new
objects, reached through its tables as usual. A state saved with zones=False takes the
zones of zones_from, which must still hold them unchanged. The state does not say whether
the grid was fitted: auto_grid=True (as World() does by default) fits it before every
step() call, False keeps the saved grid; pass what the saved world had to step on bit for
bit as it does (pickle and copy carry it). Damaged bytes raise StreamError and make no
world.)doc")
        .def(
            "restore_state",
            [](TPhysics& w, py::handle data) {
                RefuseWhileStepping("restoring a World");
                CheckUsable(w);
                const StateBytes bytes(data);
                RestoreState(w, bytes.Data(), bytes.Size());
            },
            py::arg("data"), R"doc(
Puts this world back to a state from save_state (undo). Masses, constraints and bodies at
their saved places are reused, so handles to them stay good; the others are made anew,
and a body that is not reused is emptied: find bodies again through World.bodies.
Without zones in the state the world keeps its own. Damaged bytes raise StreamError and
leave the world as it was. Collision callbacks and auto_grid stay as they are.)doc")
        .def(py::pickle(
            [](TPhysics& w) {
                const py::bytes state = StateOfWorld(w, true);
                const auto it = States().find(&w);
                const bool autoGrid = it != States().end() && it->second.autoGrid && it->second.hook == HookOf(w);
                return py::make_tuple(state, autoGrid);
            },
            [](const py::tuple& t) {
                if (t.size() != 2 || !py::isinstance<py::bool_>(t[1]))
                    throw py::value_error("a pickled World is a (state bytes, auto_grid) pair");
                return WorldFromState(t[0], nullptr, t[1].cast<bool>());
            }))
        // Through __new__ and __setstate__ in every pickle protocol: the default reduction of
        // protocols 0 and 1 would make the object without its C++ part.
        .def("__reduce__",
             [](const py::object& self) {
                 return py::make_tuple(py::module_::import("copyreg").attr("__newobj__"),
                                       py::make_tuple(py::type::of(self)), self.attr("__getstate__")());
             })
        .def_property(
            "gravity",
            [](TPhysics& w) {
                CheckUsable(w);
                return std::make_pair(w.gravityX, w.gravityY);
            },
            [](TPhysics& w, std::pair<float, float> g) {
                CheckUsable(w);
                const TPhysics::Scope scope(&w);
                TPhysics::SetGravity(Finite(g.first, "gravity x"), Finite(g.second, "gravity y"));
            },
            "Gravity (gx, gy), world units per step per step.")
        .def_property(
            "iterations",
            [](TPhysics& w) {
                CheckUsable(w);
                return w.i;
            },
            [](TPhysics& w, int32_t n) {
                CheckUsable(w);
                const TPhysics::Scope scope(&w);
                TPhysics::SetIterations(n);
            },
            "Relaxation passes per step (0 or less: integrate only).")
        .def_property(
            "friction",
            [](TPhysics& w) {
                CheckUsable(w);
                return w.friction;
            },
            [](TPhysics& w, float f) {
                CheckUsable(w);
                const TPhysics::Scope scope(&w);
                TPhysics::SetFriction(Finite(f, "friction"));
            },
            "World friction, added to each mass's own at the walls of the box.")
        .def_property(
            "bounds",
            [](TPhysics& w) {
                CheckUsable(w);
                return std::make_tuple(w.boundsMinX, w.boundsMinY, w.boundsMaxX, w.boundsMaxY);
            },
            [](TPhysics& w, std::tuple<float, float, float, float> b) {
                CheckUsable(w);
                const TPhysics::Scope scope(&w);
                TPhysics::SetBounds(Finite(std::get<0>(b), "min_x"), Finite(std::get<1>(b), "min_y"),
                                    Finite(std::get<2>(b), "max_x"), Finite(std::get<3>(b), "max_y"));
            },
            "The box as (min_x, min_y, max_x, max_y); set it from two corners in any order.")
        .def_property(
            "use_grid",
            [](TPhysics& w) {
                CheckUsable(w);
                return w.gridon != 0;
            },
            [](TPhysics& w, bool on) {
                CheckUsable(w);
                ChooseGridByHand(w);
                const TPhysics::Scope scope(&w);
                TPhysics::UseShiftedGrid(on ? 1 : 0);
            },
            "True: mass pairs are found through the spatial grid; False: every pair is tested. Setting it "
            "ends auto_grid.")
        .def_property(
            "grid_size",
            [](TPhysics& w) {
                CheckUsable(w);
                return w.gridsize;
            },
            [](TPhysics& w, int32_t n) {
                CheckUsable(w);
                ChooseGridByHand(w);
                const TPhysics::Scope scope(&w);
                TPhysics::SetGridSize(n);
            },
            "Grid cells per side (clamped to 8..128), spread over the box as it is when set. Setting it ends "
            "auto_grid.")
        .def_property(
            "auto_grid",
            [](TPhysics& w) {
                CheckUsable(w);
                const auto it = States().find(&w);
                return it != States().end() && it->second.autoGrid && it->second.hook == HookOf(w);
            },
            [](TPhysics& w, bool on) {
                CheckUsable(w);
                StateOf(w).autoGrid = on;
            },
            "True while the grid is fitted to the box and the largest masses before every step() call "
            "(see World); False keeps use_grid and grid_size as they are.")
        .def_property(
            "event_mode",
            [](TPhysics& w) {
                CheckUsable(w);
                const TPhysics::Scope scope(&w);
                return TColEvent::GetMode();
            },
            [](TPhysics& w, int32_t mode) {
                CheckUsable(w);
                const TPhysics::Scope scope(&w);
                TColEvent::SetMode(mode);
            },
            "How contacts of one pair within a step are queued: CollisionEvent.MODE_UPDATE (forces "
            "summed), MODE_REPLACE (last force kept) or MODE_DISCARD (not queued; callbacks still see them).")
        .def_property_readonly(
            "masses",
            [](TPhysics& w) {
                CheckUsable(w);
                return LiveEntries(w.massArray, w.massCount);
            },
            "The active masses, in table order (a new list on every call).")
        .def_property_readonly(
            "constraints",
            [](TPhysics& w) {
                CheckUsable(w);
                return LiveEntries(w.conArray, w.conCount);
            },
            "The active constraints, in table order (a new list).")
        .def_property_readonly(
            "zones",
            [](TPhysics& w) {
                CheckUsable(w);
                py::list out;
                for (int32_t k = 0; k < w.zoneCount && k < static_cast<int32_t>(w.zoneArray.size()); ++k)
                    if (auto* z = As<TZone>(w.zoneArray[static_cast<size_t>(k)].Get())) out.append(Ref<TZone>(z));
                return out;
            },
            "The active zones, in table order (a new list).")
        .def_property_readonly(
            "bodies",
            [](TPhysics& w) {
                CheckUsable(w);
                py::list out;
                for (int32_t k = 0; k < w.bodyCount && k < static_cast<int32_t>(w.bodyArray.size()); ++k)
                    if (auto* b = As<TAdvBody>(w.bodyArray[static_cast<size_t>(k)].Get())) out.append(Ref<TAdvBody>(b));
                return out;
            },
            "The indexed bodies registered in this world, by id (a new list).")
        .def(
            "positions",
            [](TPhysics& w, bool old) {
                CheckUsable(w);
                const size_t n = std::min(static_cast<size_t>(std::max(w.massCount, 0)), w.massArray.size());
                size_t live = 0;
                for (size_t k = 0; k < n; ++k) live += w.massArray[k] ? 1 : 0;
                py::array_t<float> out({static_cast<py::ssize_t>(live), static_cast<py::ssize_t>(2)});
                auto a = out.mutable_unchecked<2>();
                py::ssize_t row = 0;
                for (size_t k = 0; k < n; ++k)
                    if (const TMass* ms = w.massArray[k].Get()) {
                        a(row, 0) = old ? ms->oldPosX : ms->posX;
                        a(row, 1) = old ? ms->oldPosY : ms->posY;
                        ++row;
                    }
                return out;
            },
            py::arg("old") = false,
            "Centres of the active masses as an (N, 2) float32 array, in the order of World.masses; "
            "old=True gives the centres one step earlier.")
        .def(
            "events",
            [](TPhysics& w) {
                CheckUsable(w);
                py::list out;
                const TPhysics::Scope scope(&w);
                while (TColEvent* e = TColEvent::Poll()) out.append(py::cast(Ref<TColEvent>(e)));
                return out;
            },
            "Takes every queued collision event of the last step, oldest first (the queue is then empty).")
        .def(
            "picture",
            [](TPhysics& w, int32_t width, int32_t height, std::optional<std::pair<float, float>> center,
               std::optional<float> zoom, float rotation, Rgb background) {
                CheckUsable(w);
                const TPhysics::Scope scope(&w);
                return Picture(width, height, center, zoom, rotation, background);
            },
            py::arg("width") = 400, py::arg("height") = 300, py::kw_only(), py::arg("center") = py::none(),
            py::arg("zoom") = py::none(), py::arg("rotation") = 0.0f,
            py::arg("background") = Rgb(24, 24, 32),
            "A PNG picture (bytes) of the world, drawn by the headless renderer: zones, rigs, constraints and "
            "masses. By default the view fits everything active; center=(x, y) and zoom (pixels per unit) "
            "choose it instead. The world's own view is left as it was.")
        .def(
            "_repr_png_",
            [](TPhysics& w) -> py::object {
                if (Freed(w) || Busy(w)) return py::none();
                const TPhysics::Scope scope(&w);
                return Picture(400, 300, std::nullopt, std::nullopt, 0.0f, Rgb(24, 24, 32));
            })
        .def("__repr__", [](TPhysics& w) {
            if (Busy(w)) return std::string("<gelsim.World (being stepped)>");
            if (Freed(w)) return std::string("<gelsim.World (freed)>");
            int32_t n = 0;
            for (int32_t k = 0; k < w.massCount && k < static_cast<int32_t>(w.massArray.size()); ++k)
                n += w.massArray[static_cast<size_t>(k)] ? 1 : 0;
            return "<gelsim.World " + std::to_string(w.boundsMaxX - w.boundsMinX) + " x " +
                   std::to_string(w.boundsMaxY - w.boundsMinY) + ", " + std::to_string(n) + " active masses>";
        });

    py::class_<TColEvent, Ref<TColEvent>> ev(m, "CollisionEvent", R"doc(
One contact resolved by the step: a mass against another mass, a zone or the world's box.
Events are handed to the collision callbacks at once, inside the step, and queued until
the next step begins (World.events() takes them).)doc");
    ev.attr("MASS_CUSTOM") = TColEvent::MASS_CUSTOM;
    ev.attr("MASS_MASS") = TColEvent::MASS_MASS;
    ev.attr("MASS_ZONE") = TColEvent::MASS_ZONE;
    ev.attr("MASS_BOUNDS") = TColEvent::MASS_BOUNDS;
    ev.attr("MODE_DISCARD") = TColEvent::MODE_DISCARD;
    ev.attr("MODE_UPDATE") = TColEvent::MODE_UPDATE;
    ev.attr("MODE_REPLACE") = TColEvent::MODE_REPLACE;
    ev.def_property_readonly("kind", &TColEvent::GetID,
                             "MASS_MASS, MASS_ZONE, MASS_BOUNDS (or MASS_CUSTOM).")
        .def_property_readonly(
            "mass", [](const TColEvent& e) { return e.obj1; }, "The mass that had the contact.")
        .def_property_readonly(
            "other", [](const TColEvent& e) { return OtherParty(e); },
            "The other party: a Mass, a Zone or the World (box contacts).")
        .def_property_readonly(
            "mass2", [](const TColEvent& e) { return Ref<TMass>(e.GetMass2()); }, "The other mass, or None.")
        .def_property_readonly(
            "zone", [](const TColEvent& e) { return Ref<TZone>(As<TZone>(e.obj2.Get())); }, "The zone, or None.")
        .def_property_readonly(
            "x", [](const TColEvent& e) { return e.x; }, "Contact point, world units.")
        .def_property_readonly(
            "y", [](const TColEvent& e) { return e.y; }, "Contact point, world units.")
        .def_property_readonly(
            "force", [](const TColEvent& e) { return e.force; },
            "Penetration depth (summed over the step's merged contacts in MODE_UPDATE).")
        .def("__repr__", [](const TColEvent& e) {
            static const char* kinds[] = {"custom", "?", "mass-mass", "mass-zone", "mass-bounds"};
            const int k = e.id >= -1 && e.id <= 3 ? e.id + 1 : 1;
            return std::string("<gelsim.CollisionEvent ") + kinds[k] + " at (" + std::to_string(e.x) + ", " +
                   std::to_string(e.y) + ") force " + std::to_string(e.force) + ">";
        });

    py::class_<PyCallback, Ref<PyCallback>>(m, "CollisionCallback",
                                            "A callable registered with on_collision(); remove() takes it off.")
        .def_property_readonly(
            "function", [](const PyCallback& c) { return c.fn; }, "The registered callable.")
        .def_property_readonly(
            "active", [](const PyCallback& c) { return c.registered; }, "True while it is registered.")
        .def(
            "remove", [](PyCallback& c) { RemoveCallback(&c); }, "Takes the callable off the hook (harmless twice).")
        .def("__enter__", [](PyCallback& c) -> PyCallback& { return c; }, py::return_value_policy::reference)
        .def("__exit__", [](PyCallback& c, py::args) {
            RemoveCallback(&c);
            return false;
        });

    m.def(
        "on_collision",
        [](py::function fn, int32_t priority) {
            if (!TPhysics::currentWorld) RaiseNoWorld("on_collision");
            Ref<PyCallback> cb = MakeRef<PyCallback>(fn, priority, TColEvent::EventHook());
            AddHook(cb->hook, RunPyCallback, cb.Get(), priority);
            cb->registered = true;
            Registered().push_back(cb);
            return cb;
        },
        py::arg("callback"), py::arg("priority") = 0, R"doc(
Registers callback(event) on the collision-event hook of the calling thread's current
world (``with world: on_collision(f)`` picks another); it runs inside that world's
step(), in the thread that steps it, for every contact, in the order of priority (higher first), and may change the world as it
runs. It returns None or True to pass the event on, False to keep it out of the queue, or
another CollisionEvent to pass on instead. An exception does not cross the step: the
step finishes, callbacks are not called again during it, and World.step raises it.
The callable is kept alive until the returned handle's remove().)doc");

    // Callbacks hold Python objects; they leave the hook before the interpreter ends.
    py::module_::import("atexit").attr("register")(py::cpp_function([]() { RemoveAllCallbacks(); }));
}

}  // namespace gelsim_py
