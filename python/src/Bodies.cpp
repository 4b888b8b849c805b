// Indexed bodies and their four tables, body files, and the module itself.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <limits>
#include <string>
#include <variant>
#include <vector>

#include "Common.h"
#include "gelsim/bodies/AdvBody.h"
#include "gelsim/core/ColEvent.h"
#include "gelsim/core/Constraint.h"
#include "gelsim/core/Mass.h"
#include "gelsim/io/RecordFile.h"
#include "gelsim/io/StreamIO.h"
#include "gelsim/zones/Zone.h"
#include "platform/Stream.h"

namespace gelsim_py {

using namespace kin;
using namespace kin::gelsim;

void RaiseRefusedLoad() {
    // The library's reason why the load just made gave null, as the fitting Python error.
    const TLoadRefusal& why = LastLoadRefusal();
    if (why.status == TRecordRead::OTHER_FORMAT) throw FormatError(why.message);
    PyObject* type = why.error == ENOENT   ? PyExc_FileNotFoundError
                     : why.error == EISDIR ? PyExc_IsADirectoryError
                     : why.error == EACCES ? PyExc_PermissionError
                                           : PyExc_OSError;
    PyErr_SetString(type, why.message.c_str());
    throw py::error_already_set();
}

namespace {

// A view of one of a body's index tables. len() is the number of indices handed out
// (holes included); iteration yields the live elements in index order.
struct MassTable {
    Ref<TAdvBody> b;
};
struct ConTable {
    Ref<TAdvBody> b;
};
struct ImageTable {
    Ref<TAdvBody> b;
};
struct RigTable {
    Ref<TAdvBody> b;
};

int32_t CheckIndex(int32_t count, int32_t index) {
    if (index < 0) index += count;
    if (index < 0 || index >= count) throw py::index_error("index out of range");
    return index;
}

int32_t Added(int32_t index, const char* what) {
    if (index < 0) throw py::value_error(what);
    return index;
}

template <class T, class At>
std::vector<Ref<T>> Live(int32_t count, At at) {
    std::vector<Ref<T>> out;
    for (int32_t k = 0; k < count; ++k)
        if (T* e = at(k)) out.emplace_back(e);
    return out;
}

py::list EventList(const Ref<TList>& list) {
    py::list out;
    if (!list) return out;
    for (TObject* o : *list)
        if (auto* e = As<TColEvent>(o)) out.append(py::cast(Ref<TColEvent>(e)));
    return out;
}

// Refused before anything changes: one constraint that cannot join w (its world, or one
// of its masses', is another or gone) would otherwise leave the body half in the world.
void CheckJoinIn(const TConstraint& c, const TPhysics* w, const char* what) {
    CheckJoin(c, what);
    for (const TPhysics* in : {c.GetWorld(), c.GetMass1() ? c.GetMass1()->GetWorld() : nullptr,
                               c.GetMass2() ? c.GetMass2()->GetWorld() : nullptr})
        if (in && in != w) RaiseOtherWorld(what);
}

template <class Table>
void CommonTableOps(py::class_<Table>& c, int32_t TAdvBody::*count, int32_t (TAdvBody::*remove)(int32_t),
                    int32_t (TAdvBody::*swap)(int32_t, int32_t), int32_t (TAdvBody::*clean)(),
                    int32_t (TAdvBody::*exists)(int32_t)) {
    // Elements leave the body's own world, which need not be the current one.
    c.def("__len__", [count](const Table& t) { return (*t.b).*count; })
        .def(
            "remove",
            [remove](Table& t, int32_t i) {
                const InWorld in(t.b->GetWorld());
                ((*t.b).*remove)(i);
            },
            py::arg("index"), "Empties the entry (and whatever depends on it); nothing for an empty entry.")
        .def("__delitem__",
             [remove](Table& t, int32_t i) {
                 const InWorld in(t.b->GetWorld());
                 ((*t.b).*remove)(i);
             })
        .def(
            "swap",
            [swap](Table& t, int32_t a, int32_t b) {
                const InWorld in(t.b->GetWorld());
                ((*t.b).*swap)(a, b);
            },
            py::arg("a"), py::arg("b"), "Exchanges two entries (their elements' indices follow).")
        .def(
            "compact",
            [clean](Table& t) {
                const InWorld in(t.b->GetWorld());
                ((*t.b).*clean)();
            },
            "Closes the holes, keeping the order.")
        .def(
            "__contains__", [exists](Table& t, int32_t i) { return ((*t.b).*exists)(i) != 0; },
            "True when the index holds an element.");
}

}  // namespace

void BindBodies(py::module_& m) {
    py::class_<TAdvBody, TBody, Ref<TAdvBody>> body(m, "IndexedBody", R"doc(
A soft body: masses, constraints, images and rigs in four index tables (body.masses,
body.constraints, body.images, body.rigs). Elements are addressed by the index that
adding them returned; removing one leaves a hole until compact(). The body takes part in
the simulation through its constraints: activate() assigns all of them, and with them
their masses, to the world the body is registered in (the world current when it was
made), whatever world is current. That world's registry holds the body until free().)doc");

    py::class_<MassTable> masses(m, "MassTable", "The mass table of an IndexedBody.");
    CommonTableOps(masses, &TAdvBody::mIndex, &TAdvBody::MassRemove, &TAdvBody::MassSwapIndex,
                   &TAdvBody::MassCleanIndex, &TAdvBody::MassExists);
    masses
        .def(
            "add",
            [](MassTable& t, float x, float y, float mass, float radius, float friction, int32_t group) {
                const InWorld in(t.b->GetWorld());  // group -1 takes a group of the body's world
                return Added(t.b->MassAdd(Finite(x, "x"), Finite(y, "y"), NonNegative(mass, "mass"),
                                          NonNegative(radius, "radius"), Finite(friction, "friction"), group),
                             "the mass table is full");
            },
            py::arg("x"), py::arg("y"), py::arg("mass") = 1.0f, py::arg("radius") = 5.0f,
            py::arg("friction") = 0.5f, py::arg("group") = -1,
            "Adds a mass at rest; returns its index. It enters the world with the first active constraint on it.")
        .def(
            "__getitem__",
            [](const MassTable& t, int32_t i) { return Ref<TMass>(t.b->MassAt(CheckIndex(t.b->mIndex, i))); },
            "The mass at an index, or None for a hole.")
        .def(
            "__iter__",
            [](const MassTable& t) {
                return py::iter(py::cast(Live<TMass>(t.b->mIndex, [&](int32_t k) { return t.b->MassAt(k); })));
            },
            "The live masses in index order.")
        .def(
            "positions",
            [](const MassTable& t) {
                const int32_t n = t.b->mIndex;
                py::array_t<float> out({static_cast<py::ssize_t>(n), static_cast<py::ssize_t>(2)});
                auto a = out.mutable_unchecked<2>();
                for (int32_t k = 0; k < n; ++k) {
                    const TMass* ms = t.b->MassAt(k);
                    a(k, 0) = ms ? ms->posX : std::numeric_limits<float>::quiet_NaN();
                    a(k, 1) = ms ? ms->posY : std::numeric_limits<float>::quiet_NaN();
                }
                return out;
            },
            "Centres as an (len, 2) float32 array; row i is index i, holes are NaN.");

    py::class_<ConTable> cons(m, "ConstraintTable", "The constraint table of an IndexedBody.");
    CommonTableOps(cons, &TAdvBody::cIndex, &TAdvBody::ConRemove, &TAdvBody::ConSwapIndex, &TAdvBody::ConCleanIndex,
                   &TAdvBody::ConExists);
    cons.def(
            "add",
            [](ConTable& t, int32_t m1, int32_t m2, float restLength, float stiffness) {
                return Added(t.b->ConAdd(m1, m2, Finite(restLength, "rest_length"), Finite(stiffness, "stiffness")),
                             "a constraint needs two different masses of this body");
            },
            py::arg("mass1"), py::arg("mass2"), py::arg("rest_length") = 0.0f, py::arg("stiffness") = 1.0f,
            "Joins two mass indices; returns the new index. rest_length 0 or less takes the present distance. "
            "The constraint enters the world with activate() or assign().")
        .def(
            "connect_all",
            [](ConTable& t, float stiffness) {
                const InWorld in(t.b->GetWorld());
                t.b->ConAddAll(Finite(stiffness, "stiffness"));
            },
            py::arg("stiffness") = 1.0f, "Joins every pair of live masses at their present distance.")
        .def(
            "assign",
            [](ConTable& t, int32_t i) {
                const InWorld in(t.b->GetWorld());
                if (!in.World()) RaiseNoWorld("ConstraintTable.assign");
                if (const TConstraint* c = t.b->ConAt(i)) CheckJoinIn(*c, in.World(), "ConstraintTable.assign");
                if (t.b->ConAssign(i) < 0) RaiseOtherWorld("ConstraintTable.assign");
            },
            py::arg("index"), "Brings one constraint into the body's world (else the current one).")
        .def(
            "free",
            [](ConTable& t, int32_t i) {
                const InWorld in(t.b->GetWorld());
                t.b->ConFree(i);
            },
            py::arg("index"), "Takes one constraint out of the world.")
        .def(
            "__getitem__",
            [](const ConTable& t, int32_t i) { return Ref<TConstraint>(t.b->ConAt(CheckIndex(t.b->cIndex, i))); },
            "The constraint at an index, or None for a hole.")
        .def("__iter__", [](const ConTable& t) {
            return py::iter(py::cast(Live<TConstraint>(t.b->cIndex, [&](int32_t k) { return t.b->ConAt(k); })));
        });

    py::class_<ImageTable> images(m, "ImageTable", "The image table of an IndexedBody.");
    CommonTableOps(images, &TAdvBody::iIndex, &TAdvBody::ImageRemove, &TAdvBody::ImageSwapIndex,
                   &TAdvBody::ImageCleanIndex, &TAdvBody::ImageExists);
    images
        .def(
            "add",
            [](ImageTable& t, std::variant<Ref<TImage>, PathArg> src) {
                if (auto* img = std::get_if<Ref<TImage>>(&src))
                    return Added(t.b->ImageAdd(static_cast<TObject*>(img->Get())), "not an image");
                return Added(t.b->ImageAdd(std::get<PathArg>(src)), "no image could be loaded from that path");
            },
            py::arg("image"), "Adds an Image (shared) or loads one from a path; returns its index.")
        .def(
            "__getitem__",
            [](const ImageTable& t, int32_t i) { return Ref<TImage>(t.b->ImageAt(CheckIndex(t.b->iIndex, i))); })
        .def("__iter__", [](const ImageTable& t) {
            return py::iter(py::cast(Live<TImage>(t.b->iIndex, [&](int32_t k) { return t.b->ImageAt(k); })));
        });

    py::class_<RigTable> rigs(m, "RigTable", "The rig table of an IndexedBody.");
    CommonTableOps(rigs, &TAdvBody::rIndex, &TAdvBody::RigRemove, &TAdvBody::RigSwapIndex, &TAdvBody::RigCleanIndex,
                   &TAdvBody::RigExists);
    rigs.def(
            "add",
            [](RigTable& t, int32_t image, int32_t mass, int32_t con, float angle) {
                return Added(t.b->RigAdd(image, mass, con, angle), "a rig needs an image and a mass of this body");
            },
            py::arg("image"), py::arg("mass"), py::arg("constraint") = -1, py::arg("angle") = 0.0f,
            "Pins image index `image` to mass index `mass`, turned along constraint index `constraint` "
            "(-1: none); returns the rig's index.")
        .def("__getitem__",
             [](const RigTable& t, int32_t i) { return Ref<TRig>(t.b->RigAt(CheckIndex(t.b->rIndex, i))); })
        .def("__iter__", [](const RigTable& t) {
            return py::iter(py::cast(Live<TRig>(t.b->rIndex, [&](int32_t k) { return t.b->RigAt(k); })));
        });

    using Pair = std::pair<float, float>;
    body.def(py::init([](const std::string& name) {
                 Ref<TAdvBody> b = TAdvBody::Create();
                 b->SetName(name);
                 return b;
             }),
             py::arg("name") = "Body", "An empty body, registered in the calling thread's current world.")
        .def_static(
            "load",
            [](const PathArg& path, bool activate) {
                Ref<TAdvBody> b = TAdvBody::Load(path, activate ? 1 : 0);
                if (!b) RaiseRefusedLoad();
                return b;
            },
            py::arg("path"), py::arg("activate") = true,
            "Reads a body file (.plb) into a new body; FileNotFoundError when there is no such file, "
            "StreamError when it is damaged (FileFormatError when it is not a body file or inconsistent).")
        .def(
            "save",
            [](TAdvBody& b, const PathArg& path, bool backup, bool embedImages) {
                b.Save(path, backup ? 1 : 0, embedImages ? 1 : 0);
            },
            py::arg("path"), py::arg("backup") = false, py::arg("embed_images") = true,
            "Writes a body file (.plb added when the path has no extension); StreamError when it cannot.")
        .def(
            "copy",
            [](TAdvBody& b) {
                const InWorld in(b.GetWorld());
                return b.Copy(0);
            },
            "A new, active body in this body's world (else the current one) with copies of the masses and "
            "constraints, sharing the images.")
        .def_property_readonly(
            "id", [](const TAdvBody& b) { return b.aIndex; }, "Id in the world's body registry, -1 once freed.")
        .def_property_readonly(
            "masses", [](const Ref<TAdvBody>& b) { return MassTable{b}; })
        .def_property_readonly(
            "constraints", [](const Ref<TAdvBody>& b) { return ConTable{b}; })
        .def_property_readonly(
            "images", [](const Ref<TAdvBody>& b) { return ImageTable{b}; })
        .def_property_readonly(
            "rigs", [](const Ref<TAdvBody>& b) { return RigTable{b}; })
        .def(
            "activate",
            [](TAdvBody& b) {
                const InWorld in(b.GetWorld());
                if (!in.World()) RaiseNoWorld("IndexedBody.activate");
                for (int32_t i = 0; i < b.cIndex; ++i)
                    if (const TConstraint* c = b.ConAt(i)) CheckJoinIn(*c, in.World(), "IndexedBody.activate");
                if (b.Activate() < 0) RaiseOtherWorld("IndexedBody.activate");
            },
            "Assigns every constraint (and so its masses) to the body's world (a body made without a world: "
            "the current one).")
        .def(
            "deactivate",
            [](TAdvBody& b) {
                const InWorld in(b.GetWorld());
                b.DeActivate();
            },
            "Takes every constraint out of the world.")
        .def(
            "free",
            [](TAdvBody& b) {
                const InWorld in(b.GetWorld());
                b.Free();
            },
            "Empties the tables, leaves the world and gives the registry id back.")
        .def(
            "compact",
            [](TAdvBody& b) {
                const InWorld in(b.GetWorld());
                b.CleanIndex();
            },
            "Closes the holes of all four tables.")
        .def_property(
            "position", [](const TAdvBody& b) { return Pair(b.GetX(), b.GetY()); },
            [](TAdvBody& b, Pair p) { b.Position(Finite(p.first, "x"), Finite(p.second, "y")); },
            "Centre of the reference mass (lowest live index); setting it moves the body there at rest.")
        .def_property(
            "rotation", &TAdvBody::GetRotation, [](TAdvBody& b, float a) { b.Rotate(Finite(a, "rotation")); },
            "Direction of the first constraint, degrees; setting it turns the body rigidly (at rest).")
        .def(
            "move", [](TAdvBody& b, float dx, float dy) { b.Move(Finite(dx, "dx"), Finite(dy, "dy")); },
            py::arg("dx"), py::arg("dy"), "Shifts every mass; the shift becomes velocity.")
        .def(
            "translate", [](TAdvBody& b, float dx, float dy) { b.Translate(Finite(dx, "dx"), Finite(dy, "dy")); },
            py::arg("dx"), py::arg("dy"), "Shifts every mass keeping velocities.")
        .def(
            "spin", [](TAdvBody& b, float a) { b.Spin(Finite(a, "degrees")); }, py::arg("degrees"),
            "Turns about the reference mass as velocity.")
        .def(
            "turn", [](TAdvBody& b, float a) { b.Turn(Finite(a, "degrees")); }, py::arg("degrees"),
            "Turns about the reference mass keeping velocities.")
        .def("freeze", &TAdvBody::Freeze)
        .def("thaw", &TAdvBody::Thaw)
        .def(
            "contacts",
            [](const TAdvBody& b, py::object other) {
                const InWorld in(b.GetWorld());  // the events of the body's world
                if (other.is_none()) return EventList(b.CollideBounds());
                if (py::isinstance<TAdvBody>(other)) return EventList(b.CollideAdvBody(other.cast<TAdvBody*>()));
                if (py::isinstance<TZone>(other)) return EventList(b.CollideZone(other.cast<TZone*>()));
                throw py::type_error("contacts() takes an IndexedBody, a Zone or None (the world's box)");
            },
            py::arg("other") = py::none(),
            "The pending collision events of the last step between this body's masses and another body, a zone, "
            "or (None) the world's box.")
        .def("__repr__", [](const TAdvBody& b) {
            return "<gelsim.IndexedBody '" + b.name + "' id " + std::to_string(b.aIndex) + ", " +
                   std::to_string(b.mIndex) + " mass and " + std::to_string(b.cIndex) + " constraint indices>";
        });
}

}  // namespace gelsim_py

PYBIND11_MODULE(_gelsim, m) {
    namespace py = pybind11;
    m.doc() = "gelsim: a 2-D soft-body engine (compiled part; import gelsim).";
    py::object oserror = py::module_::import("builtins").attr("OSError");
    // Kept for the life of the process (never destroyed after the interpreter has ended).
    static auto& streamError = *new py::exception<kin::TStreamReadException>(m, "StreamError", oserror.ptr());
    static auto& formatError =
        *new py::exception<kin::gelsim::TFileFormatException>(m, "FileFormatError", streamError.ptr());
    streamError.doc() = "A body or zone file could not be read (it ends early) or written.";
    formatError.doc() = "A file that is not of the expected kind, or whose records do not fit together.";
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const kin::gelsim::TFileFormatException& e) {
            formatError(e.what());
        } catch (const gelsim_py::FormatError& e) {
            formatError(e.what());
        } catch (const kin::TStreamReadException& e) {
            streamError(e.what());
        } catch (const kin::TStreamWriteException& e) {
            streamError(e.what());
        }
    });
    gelsim_py::BindElements(m);
    gelsim_py::BindBodies(m);
    gelsim_py::BindWorld(m);
    gelsim_py::BindScenes(m);
    // pybind11 finds NumPy's C interface on the first array, in a function-local static
    // whose initialisation imports numpy with the GIL held; two threads making their first
    // arrays at once would wait for each other for ever. Done here, under the import lock.
    py::module_::import("numpy");
    (void)py::detail::npy_api::get();
}
