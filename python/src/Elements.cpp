// Masses, constraints, plain bodies, zones, images and rigs.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <string>
#include <tuple>
#include <vector>

#include "Common.h"
#include "gelsim/bodies/AdvBody.h"
#include "gelsim/bodies/Rig.h"
#include "gelsim/core/Body.h"
#include "gelsim/core/Constraint.h"
#include "gelsim/core/Mass.h"
#include "gelsim/zones/Zone.h"
#include "platform/Image.h"
#include "platform/Pixmap.h"

namespace gelsim_py {

using namespace kin;
using namespace kin::gelsim;

namespace {

using Pair = std::pair<float, float>;
using Rgb = std::tuple<int32_t, int32_t, int32_t>;

// The body an element names, only when that body really holds the element at its index:
// an element out of its world is looked up in the current one, where the same id may
// name another body.
template <class T, class At>
Ref<TAdvBody> OwnerOf(const T& element, At at) {
    auto* b = As<TAdvBody>(element.GetAdvBody());
    return Ref<TAdvBody>(b && (b->*at)(element.GetIndex()) == &element ? b : nullptr);
}

// A mass or constraint with holders but no world was in one that has been freed or
// destroyed since: the library would count holders that keep it in no world.
template <class T>
bool WorldGone(const T& e) {
    return e.IsActive() && !e.GetWorld();
}

int32_t ZoneStyle(int32_t style) {
    if (style < TZone::LINE || style > TZone::HOLE)
        throw py::value_error("unknown zone style " + std::to_string(style) + " (Zone.LINE, LOOP, FILL or HOLE)");
    return style;
}

// Vertices from an (N, 2) array, a flat sequence x0, y0, x1, y1, ..., or a sequence of
// (x, y) pairs.
std::vector<float> Vertices(const py::handle& obj) {
    auto a = py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(obj);
    if (!a) throw py::type_error("vertices must be numbers: an (N, 2) array, (x, y) pairs or x0, y0, x1, y1, ...");
    if (a.ndim() == 2 && a.shape(1) != 2) throw py::value_error("vertices must have 2 columns (x, y)");
    if (a.ndim() > 2) throw py::value_error("vertices must be an (N, 2) array or a flat sequence");
    std::vector<float> out(a.data(), a.data() + a.size());
    for (const float v : out) Finite(v, "a vertex coordinate");
    return out;
}

py::array_t<float> AsPairs(const std::vector<float>& flat) {
    py::array_t<float> out({static_cast<py::ssize_t>(flat.size() / 2), static_cast<py::ssize_t>(2)});
    std::copy(flat.begin(), flat.begin() + static_cast<std::ptrdiff_t>(flat.size() / 2 * 2), out.mutable_data());
    return out;
}

// The centre's coordinates are what loops over masses read most, so they bypass the
// generic call path: a plain attribute getter that reads the field straight from the
// instance (the type check is the descriptor's own).
template <float TMass::*Field>
PyObject* ReadMassField(PyObject* self, void*) {
    auto* inst = reinterpret_cast<py::detail::instance*>(self);
    const auto* ms = static_cast<const TMass*>(inst->get_value_and_holder().value_ptr());
    if (!ms) {
        PyErr_SetString(PyExc_TypeError, "the Mass has not been initialised");
        return nullptr;
    }
    return PyFloat_FromDouble(static_cast<double>(ms->*Field));
}

PyGetSetDef g_massFields[] = {
    {"x", &ReadMassField<&TMass::posX>, nullptr, "Centre x, world units.", nullptr},
    {"y", &ReadMassField<&TMass::posY>, nullptr, "Centre y, world units.", nullptr},
};

void AddFastFields(py::handle cls) {
    for (PyGetSetDef& def : g_massFields) {
        py::object d = py::reinterpret_steal<py::object>(PyDescr_NewGetSet(reinterpret_cast<PyTypeObject*>(cls.ptr()), &def));
        if (!d) throw py::error_already_set();
        py::setattr(cls, def.name, d);
    }
}

}  // namespace

void CheckJoin(const TConstraint& c, const char* what) {
    if (WorldGone(c) || (c.GetMass1() && WorldGone(*c.GetMass1())) || (c.GetMass2() && WorldGone(*c.GetMass2())))
        RaiseWorldGone(what);
}

void BindElements(py::module_& m) {
    // ---------------------------------------------------------------- Mass
    py::class_<TMass, Ref<TMass>> mass(m, "Mass", R"doc(
A disc moved by verlet integration: its velocity is the difference between its centre and
its centre one step earlier. A mass is simulated only while something holds it in the
world: an active constraint, or add_ref() called on it directly.)doc");
    AddFastFields(mass);
    mass.def(py::init([](float x, float y, float mass, float radius, float friction, int32_t group) {
                 return TMass::Create(Finite(x, "x"), Finite(y, "y"), NonNegative(mass, "mass"),
                                      NonNegative(radius, "radius"), Finite(friction, "friction"), group);
             }),
             py::arg("x"), py::arg("y"), py::arg("mass") = 1.0f, py::arg("radius") = 5.0f,
             py::arg("friction") = 0.5f, py::arg("group") = -1,
             "A new mass at rest at (x, y), not yet in the world; group -1 gives it a collision group of its own.")
        .def_property(
            "position", [](const TMass& s) { return Pair(s.posX, s.posY); },
            [](TMass& s, Pair p) { s.Position(Finite(p.first, "x"), Finite(p.second, "y")); },
            "Centre (x, y). Setting it puts the mass there at rest (frozen masses too).")
        .def_property_readonly(
            "old_position", [](const TMass& s) { return Pair(s.oldPosX, s.oldPosY); },
            "Centre one step earlier.")
        .def_property(
            "velocity", [](const TMass& s) { return Pair(s.GetVX(), s.GetVY()); },
            [](TMass& s, Pair v) { s.SetVelocity(Finite(v.first, "vx"), Finite(v.second, "vy")); },
            "Velocity (vx, vy) in units per step; setting it does nothing to a frozen mass.")
        .def_property_readonly("speed", &TMass::GetVelocity, "Length of the velocity.")
        .def_property(
            "mass", &TMass::GetMass, [](TMass& s, float v) { s.SetMass(NonNegative(v, "mass")); },
            "Weight, shares out separations.")
        .def_property(
            "radius", &TMass::GetRadius, [](TMass& s, float v) { s.SetRadius(NonNegative(v, "radius")); },
            "Disc radius, world units.")
        .def_property(
            "friction", &TMass::GetFriction, [](TMass& s, float v) { s.SetFriction(Finite(v, "friction")); },
            "Surface friction, kept in 0..1.")
        .def_property(
            "group", &TMass::GetColGroup,
            [](TMass& s, int32_t g) {
                const InWorld in(s.GetWorld());
                s.SetColGroup(g);
            },
            "Collision group: 0 meets nothing but the box, equal groups pass through each "
            "other; setting -1 takes a fresh group of its own.")
        .def_property(
            "frozen", [](const TMass& s) { return s.frozen != 0; },
            [](TMass& s, bool f) { f ? s.Freeze() : s.Thaw(); },
            "A frozen mass is pinned: not integrated and immovable in contacts. Freezing stops it.")
        .def_property("name", &TMass::GetName, &TMass::SetName)
        .def_property_readonly(
            "active", [](const TMass& s) { return s.IsActive() != 0; }, "True while the world simulates it.")
        .def_property_readonly(
            "holders", [](const TMass& s) { return s.refCounter; },
            "How many holders keep it in the world (active constraints and add_ref calls).")
        .def_property_readonly("index", &TMass::GetIndex, "Its index in its body's mass table, -1 when none.")
        .def_property_readonly(
            "body", [](const TMass& s) { return OwnerOf(s, &TAdvBody::MassAt); },
            "The IndexedBody it belongs to, or None.")
        .def(
            "move", [](TMass& s, float dx, float dy) { s.Move(Finite(dx, "dx"), Finite(dy, "dy")); }, py::arg("dx"),
            py::arg("dy"), "Shifts the centre only, so the shift becomes velocity (frozen masses stay).")
        .def(
            "translate", [](TMass& s, float dx, float dy) { s.Translate(Finite(dx, "dx"), Finite(dy, "dy")); },
            py::arg("dx"), py::arg("dy"), "Shifts the mass keeping its velocity.")
        .def(
            "add_velocity", [](TMass& s, float vx, float vy) { s.AddVelocity(Finite(vx, "vx"), Finite(vy, "vy")); },
            py::arg("vx"), py::arg("vy"))
        .def(
            "add_ref",
            [](TMass& s) {
                if (WorldGone(s)) RaiseWorldGone("Mass.add_ref");
                const InWorld in(s.GetWorld());
                if (!in.World()) RaiseNoWorld("Mass.add_ref");
                if (s.AddRef() < 0) RaiseOtherWorld("Mass.add_ref");
                return 0;
            },
            "Adds a holder: the first one brings the mass into the calling thread's current world; an active "
            "mass stays in its own world.")
        .def(
            "sub_ref",
            [](TMass& s) {
                if (!s.IsActive()) throw py::value_error("Mass.sub_ref: the mass has no holder");
                return s.SubRef();
            },
            "Removes a holder: the last one takes the mass out of its world.")
        .def(
            "copy",
            [](TMass& s) {
                const InWorld in(s.GetWorld());
                return s.Copy();
            },
            "A new mass in the same state, not in the world and in no body.")
        .def("__repr__", [](const TMass& s) {
            return "<gelsim.Mass at (" + std::to_string(s.posX) + ", " + std::to_string(s.posY) + ") r " +
                   std::to_string(s.radius) + (s.IsActive() ? ", active" : "") + (s.frozen ? ", frozen" : "") + ">";
        });

    // ---------------------------------------------------------------- Body and Constraint
    py::class_<TBody, Ref<TBody>> body(m, "Body", R"doc(
A name and the constraints assigned to the simulation on its behalf; IndexedBody derives
from it. Assigning a constraint to a body counts it and its masses into the world.)doc");

    py::class_<TConstraint, Ref<TConstraint>>(m, "Constraint", R"doc(
A springy strand between two masses with a rest length and a stiffness. It is in the
world while at least one body holds it assigned (assign/free), and it keeps its two
masses there.)doc")
        .def(py::init([](TMass* m1, TMass* m2, float restLength, float stiffness) {
                 if (!m1 || !m2) throw py::value_error("a constraint needs two masses");
                 return TConstraint::Create(m1, m2, Finite(restLength, "rest_length"), Finite(stiffness, "stiffness"));
             }),
             py::arg("mass1"), py::arg("mass2"), py::arg("rest_length") = 0.0f, py::arg("stiffness") = 1.0f,
             "A new constraint (not yet in the world); rest_length 0 or less takes the present distance.")
        .def_property_readonly(
            "mass1", [](const TConstraint& c) { return c.m[0]; }, "First mass.")
        .def_property_readonly(
            "mass2", [](const TConstraint& c) { return c.m[1]; }, "Second mass.")
        .def_property(
            "rest_length", &TConstraint::GetRestLength,
            [](TConstraint& c, float v) { c.SetRestLength(Finite(v, "rest_length")); },
            "Length it pulls towards; setting 0 or less takes the present length.")
        .def_property(
            "stiffness", &TConstraint::GetStiffness,
            [](TConstraint& c, float v) { c.SetStiffness(Finite(v, "stiffness")); },
            "Share of the length error corrected per pass, kept in 0..1 when set.")
        .def_property_readonly("angle", &TConstraint::GetAngle, "Direction from mass1 to mass2, degrees.")
        .def_property_readonly("length", &TConstraint::GetLength, "Present length.")
        .def_property_readonly("stress", &TConstraint::GetStress, "length / rest_length.")
        .def_property("name", &TConstraint::GetName, &TConstraint::SetName)
        .def_property_readonly(
            "active", [](const TConstraint& c) { return c.IsActive() != 0; }, "True while in the world.")
        .def_property_readonly("index", &TConstraint::GetIndex, "Its index in its body's table, -1 when none.")
        .def_property_readonly(
            "body", [](const TConstraint& c) { return OwnerOf(c, &TAdvBody::ConAt); }, "The IndexedBody it belongs to.")
        .def(
            "assign",
            [](TConstraint& c, TBody* body) {
                if (!body) throw py::type_error("Constraint.assign takes a Body");
                TPhysics* own = body->GetWorld();
                for (TPhysics* w : {c.GetWorld(), c.GetMass1() ? c.GetMass1()->GetWorld() : nullptr,
                                    c.GetMass2() ? c.GetMass2()->GetWorld() : nullptr})
                    own = own ? own : w;
                CheckJoin(c, "Constraint.assign");
                const InWorld in(own);
                if (!in.World()) RaiseNoWorld("Constraint.assign");
                if (c.Assign(body) < 0) RaiseOtherWorld("Constraint.assign");
                return 0;
            },
            py::arg("body"),
            "Brings it (and its masses) into the world on the body's behalf; nothing if the body holds it. The "
            "world is the body's, else the one the constraint or its masses are in, else the current one.")
        .def(
            "free",
            [](TConstraint& c, TBody* body) {
                const InWorld in(c.GetWorld());
                return c.Free(body);
            },
            py::arg("body"), "Takes back the body's assignment, if it has one.")
        .def("__repr__", [](const TConstraint& c) {
            return "<gelsim.Constraint rest length " + std::to_string(c.restLength) + ", stiffness " +
                   std::to_string(c.stiffness) + (c.IsActive() ? ", active" : "") + ">";
        });

    body.def(py::init([](const std::string& name) {
                 Ref<TBody> b = MakeRef<TBody>();
                 b->SetName(name);
                 return b;
             }),
             py::arg("name") = "Body")
        .def_property("name", &TBody::GetName, &TBody::SetName)
        .def_property_readonly(
            "assigned",
            [](const TBody& b) {
                std::vector<Ref<TConstraint>> out;
                for (TObject* o : *b.conList)
                    if (auto* c = As<TConstraint>(o)) out.emplace_back(c);
                return out;
            },
            "The constraints assigned through this body, in order of assignment (a new list).")
        .def(
            "clear", [](TBody& b) { b.Clear(); }, "Takes every assigned constraint out of the world.")
        .def("__repr__", [](const TBody& b) {
            return "<gelsim.Body '" + b.name + "', " + std::to_string(b.conList ? b.conList->Count() : 0) +
                   " assigned constraints>";
        });

    // ---------------------------------------------------------------- Image
    py::class_<TImage, Ref<TImage>>(m, "Image", "A picture for rigs and zones: RGBA frames and a handle (pivot).")
        .def_static(
            "load",
            [](const PathArg& name) {
                Ref<TImage> img = LoadImage(name, -1);
                if (!img) throw py::value_error("no image could be loaded from " + name);
                return img;
            },
            py::arg("name"), "Loads a PNG from a path (or a built-in name starting with incbin::).")
        .def_static(
            "from_array",
            [](py::array_t<uint8_t, py::array::c_style | py::array::forcecast> a) {
                if (a.ndim() != 3 || a.shape(2) != 4 || a.shape(0) < 1 || a.shape(1) < 1)
                    throw py::value_error("an image array must be (height, width, 4) RGBA");
                std::vector<uint8_t> px(a.data(), a.data() + a.size());
                Ref<TPixmap> pm = MakeRef<TPixmap>(static_cast<int32_t>(a.shape(1)), static_cast<int32_t>(a.shape(0)),
                                                   std::move(px));
                Ref<TImage> img = LoadImage(pm.Get(), -1);
                if (!img) throw py::value_error("the array could not be made into an image");
                return img;
            },
            py::arg("rgba"), "An image from a (height, width, 4) uint8 RGBA array.")
        .def_property_readonly(
            "width", [](const TImage& i) { return i.width; })
        .def_property_readonly(
            "height", [](const TImage& i) { return i.height; })
        .def_property(
            "handle", [](const TImage& i) { return Pair(i.handle_x, i.handle_y); },
            [](TImage& i, Pair h) { SetImageHandle(&i, h.first, h.second); },
            "Pivot in pixels from the top-left; the image is placed and turned about it.")
        .def(
            "to_array",
            [](const TImage& i) {
                if (i.frames.empty() || !i.frames[0]) throw py::value_error("the image has no pixels");
                const TPixmap& p = *i.frames[0];
                py::array_t<uint8_t> out({static_cast<py::ssize_t>(p.Height()), static_cast<py::ssize_t>(p.Width()),
                                          static_cast<py::ssize_t>(4)});
                std::copy(p.Pixels(), p.Pixels() + static_cast<size_t>(p.Width()) * p.Height() * 4, out.mutable_data());
                return out;
            },
            "The first frame as a (height, width, 4) uint8 array.")
        .def("__repr__", [](const TImage& i) {
            return "<gelsim.Image " + std::to_string(i.width) + " x " + std::to_string(i.height) + ">";
        });

    // ---------------------------------------------------------------- Rig
    py::class_<TRig, Ref<TRig>>(m, "Rig", "An image pinned to a mass and turned along a constraint: a body's skin.")
        .def_property("name", &TRig::GetName, &TRig::SetName)
        .def_property_readonly(
            "image", [](const TRig& r) { return r.image; })
        .def_property_readonly(
            "mass", [](const TRig& r) { return r.mass; })
        .def_property_readonly(
            "constraint", [](const TRig& r) { return r.con; }, "The constraint it turns with, or None.")
        .def_property("angle", &TRig::GetAngle, &TRig::SetAngle, "Extra rotation, degrees.")
        .def_property(
            "scale", [](const TRig& r) { return Pair(r.scaleX, r.scaleY); },
            [](TRig& r, Pair s) { r.SetScale(s.first, s.second); })
        .def_property(
            "color",
            [](const TRig& r) {
                int32_t cr = 0, cg = 0, cb = 0;
                r.GetColor(cr, cg, cb);
                return Rgb(cr, cg, cb);
            },
            [](TRig& r, Rgb c) { r.SetColor(std::get<0>(c), std::get<1>(c), std::get<2>(c)); },
            "Tint (r, g, b), 0..255 each.")
        .def_property("alpha", &TRig::GetAlpha, &TRig::SetAlpha, "Opacity factor, kept in 0..1.")
        .def_property("blend", &TRig::GetBlend, &TRig::SetBlend, "Blend mode while drawn.")
        .def_property_readonly("index", &TRig::GetIndex)
        .def_property_readonly("body", [](const TRig& r) { return OwnerOf(r, &TAdvBody::RigAt); })
        .def("__repr__", [](const TRig& r) {
            return "<gelsim.Rig '" + r.name + "' index " + std::to_string(r.index) + ", angle " +
                   std::to_string(r.angle) + ">";
        });

    // ---------------------------------------------------------------- Zone
    py::class_<TZone, Ref<TZone>> zone(m, "Zone", R"doc(
A static outline that masses collide with: an open polyline (LINE), a closed loop (LOOP),
a filled polygon (FILL) or a hole whose outside is solid (HOLE). Vertices are local to
the zone's position; rotation and scale are applied about it.)doc");
    zone.attr("LINE") = TZone::LINE;
    zone.attr("LOOP") = TZone::LOOP;
    zone.attr("FILL") = TZone::FILL;
    zone.attr("HOLE") = TZone::HOLE;
    zone.def(py::init([](py::object vertices, int32_t style, float friction, int32_t group, int32_t level) {
                 RefuseWhileStepping("creating a Zone");
                 Ref<TZone> z =
                     TZone::Create(Vertices(vertices), ZoneStyle(style), Finite(friction, "friction"), group, level);
                 if (!z) throw py::value_error("a zone needs at least 2 vertices (an even number of coordinates)");
                 return z;
             }),
             py::arg("vertices"), py::arg("style") = TZone::LOOP, py::arg("friction") = 0.5f,
             py::arg("group") = -1, py::arg("quad_tree_level") = 4,
             "A new zone, active in the current world.")
        .def_static(
            "load",
            [](const PathArg& path) {
                RefuseWhileStepping("loading a Zone");
                Ref<TZone> z = TZone::Load(path);
                if (!z) RaiseRefusedLoad();
                return z;
            },
            py::arg("path"), "Reads a zone file (.plz) into a new active zone; a damaged file raises StreamError.")
        .def(
            "save",
            [](TZone& z, const PathArg& path, bool backup, bool embed) { z.Save(path, backup ? 1 : 0, embed ? 1 : 0); },
            py::arg("path"), py::arg("backup") = false, py::arg("embed_image") = true,
             "Writes a zone file (.plz added when the path has no extension); StreamError when it cannot.")
        .def(
            "copy",
            [](TZone& z) {
                RefuseWhileStepping("copying a Zone");
                const InWorld in(z.GetWorld());
                return z.Copy();
            },
            "A new zone with the same outline and attributes, active in this zone's world (else the current one).")
        .def(
            "activate",
            [](TZone& z) {
                RefuseWhileStepping("Zone.activate");
                const InWorld in(z.GetWorld());
                if (!in.World()) RaiseNoWorld("Zone.activate");
                z.Activate();
            },
            "Puts the zone (back) into the calling thread's current world; an active zone stays in its own.")
        .def(
            "deactivate",
            [](TZone& z) {
                RefuseWhileStepping("Zone.deactivate");
                const InWorld in(z.GetWorld());
                z.DeActivate();
            },
            "Takes the zone out of the world.")
        .def_property_readonly(
            "active", [](const TZone& z) { return z.IsActive() != 0; })
        .def_property("name", &TZone::GetName, &TZone::SetName)
        .def_property(
            "friction", &TZone::GetFriction, [](TZone& z, float f) { z.SetFriction(Finite(f, "friction")); },
            "Kept in 0..1.")
        .def_property(
            "style", &TZone::GetStyle,
            [](TZone& z, int32_t s) {
                z.SetStyle(ZoneStyle(s));
                z.CalcQuadTree(z.GetQTLevel());
            },
            "LINE, LOOP, FILL or HOLE.")
        .def_property(
            "position", [](const TZone& z) { return Pair(z.offsetX, z.offsetY); },
            [](TZone& z, Pair p) { z.Position(Finite(p.first, "x"), Finite(p.second, "y")); },
            "World position of the local origin.")
        .def(
            "move", [](TZone& z, float dx, float dy) { z.Move(Finite(dx, "dx"), Finite(dy, "dy")); }, py::arg("dx"),
            py::arg("dy"))
        .def_property(
            "rotation", &TZone::GetRotation, [](TZone& z, float a) { z.Rotate(Finite(a, "rotation")); },
            "Degrees; positive turns +x toward +y.")
        .def_property(
            "scale", [](const TZone& z) { return Pair(z.scaleX, z.scaleY); },
            [](TZone& z, Pair s) { z.SetScale(Finite(s.first, "scale x"), Finite(s.second, "scale y")); })
        .def_property(
            "color",
            [](const TZone& z) {
                int32_t r = 0, g = 0, b = 0;
                z.GetColor(r, g, b);
                return Rgb(r, g, b);
            },
            [](TZone& z, Rgb c) { z.SetColor(std::get<0>(c), std::get<1>(c), std::get<2>(c)); })
        .def_property("alpha", &TZone::GetAlpha, &TZone::SetAlpha)
        .def_property("blend", &TZone::GetBlend, &TZone::SetBlend)
        .def_property(
            "group", &TZone::GetColGroup,
            [](TZone& z, int32_t g) {
                const InWorld in(z.GetWorld());
                z.SetColGroup(g);
            },
            "Collision group: 0 meets nothing, masses of the same group pass through.")
        .def_property(
            "image", [](const TZone& z) { return z.image; }, [](TZone& z, TImage* i) { z.ImageSet(i); },
            "Drawn instead of the outline when set.")
        .def_property_readonly("quad_tree_level", &TZone::GetQTLevel)
        .def_property_readonly(
            "vertices", [](const TZone& z) { return AsPairs(z.origArea); },
            "The outline as supplied, an (N, 2) float32 array (local units).")
        .def_property_readonly(
            "area", [](const TZone& z) { return AsPairs(z.area); },
            "The outline after scale and rotation, an (N, 2) array (local units).")
        .def("__len__", &TZone::VertCount)
        .def("__repr__", [](const TZone& z) {
            static const char* styles[] = {"LINE", "LOOP", "FILL", "HOLE"};
            const char* style = z.style >= 0 && z.style <= 3 ? styles[z.style] : "?";
            return std::string("<gelsim.Zone ") + style + " of " + std::to_string(z.VertCount()) + " vertices at (" +
                   std::to_string(z.offsetX) + ", " + std::to_string(z.offsetY) + ")" +
                   (z.IsActive() ? ", active" : "") + ">";
        });
}

}  // namespace gelsim_py
