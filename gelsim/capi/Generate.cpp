// gelsim_cgen: prints the C interface from the procedural interface's rows.
//
//   gelsim_cgen HEADER SOURCE SOURCE_ROOT
//
// writes HEADER (gelsim.h, pure C) and SOURCE (the extern "C" definitions). Both come from
// one walk over GELSIM_PROC_ROWS: the C++ signature of each row is read from the row itself
// (or, for a hand-written row, from its declaration) and spelled in C through CTypes.h.
// Parameter names come from the rows' parameter lists, and for the hand-written rows from
// their declarations in Procedural.h. Each C function carries the one-line description of
// what it calls: the method's in its class header, or the hand-written function's in
// Procedural.h (none when the declaration has none right above it).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "gelsim/capi/CTypes.h"

namespace kin::gelsim::capi {
namespace {

enum class RowKind { FN, FZ, GET, DO, HAND };

struct Param {
    int width;
    std::string (*decl)(const std::string&);
    std::string (*arg)(const std::string&);
    // An object handle's C type and entry check; null for other parameters.
    const char* handle;
    std::string (*check)(const std::string&, bool, const std::string&);
};

// A parameter's handle type and check, when it is an object handle.
template <class P>
struct HandleParam {
    static constexpr const char* handle = nullptr;
    static constexpr std::string (*check)(const std::string&, bool, const std::string&) = nullptr;
};
template <class T>
    requires std::is_class_v<T>
struct HandleParam<T*> {
    static constexpr const char* handle = Kind<T>::handle;
    static constexpr std::string (*check)(const std::string&, bool, const std::string&) = &CParam<T*>::Check;
};

struct Row {
    RowKind kind;
    std::string type, op;
    std::string paramsText;  // the row's parameter list, "(float x, float y)"; empty for HAND
    std::string nullText;    // a GET row's answer for a null object
    std::vector<Param> params;
    std::string resultType, resultExtra;
    std::string (*resultReturn)(const std::string&);
    int width;
    std::vector<std::string> names;  // filled in later
    std::vector<std::string> doc;    // likewise
};

template <class F>
struct Sig;
template <class R, class... P>
struct Sig<R(P...)> {
    static void Fill(Row& r) {
        r.params = {Param{CParam<P>::width, &CParam<P>::Decl, &CParam<P>::Arg, HandleParam<P>::handle,
                          HandleParam<P>::check}...};
        r.resultType = CResult<R>::Type();
        r.resultExtra = CResult<R>::Extra();
        r.resultReturn = &CResult<R>::Return;
        r.width = CWidth<R(P...)>::value;
    }
};

template <class F>
Row MakeRow(RowKind kind, const char* type, const char* op, const char* params, const char* null) {
    Row r{kind, type, op, params, null, {}, {}, {}, nullptr, 0, {}, {}};
    Sig<F>::Fill(r);
    return r;
}

}  // namespace
}  // namespace kin::gelsim::capi

namespace kin::gelsim {
namespace {

using capi::MakeRow;
using capi::Row;
using capi::RowKind;

// Each row's function type, checked against the declared function (an overload set is
// resolved by the type).
#define GELSIM_CGEN_CHECK(Type, Op) \
    static_assert(std::is_same_v<decltype(static_cast<F*>(&Gel##Type##Op)), F*>, "row type");
#define GELSIM_CGEN_FN(Type, Op, Ret, Params, Args)                                      \
    {                                                                                    \
        using F = Ret Params;                                                            \
        GELSIM_CGEN_CHECK(Type, Op)                                                      \
        rows.push_back(MakeRow<F>(RowKind::FN, #Type, #Op, #Params, "{}"));              \
    }
#define GELSIM_CGEN_FZ(Type, Op, Params, Args)                                           \
    {                                                                                    \
        using F = int32_t Params;                                                        \
        GELSIM_CGEN_CHECK(Type, Op)                                                      \
        rows.push_back(MakeRow<F>(RowKind::FZ, #Type, #Op, #Params, "{}"));              \
    }
#define GELSIM_CGEN_GET(Type, Op, Ret, Null, Params, Args)                               \
    {                                                                                    \
        using F = Ret(T##Type * obj GELSIM_PROC_TAIL Params);                            \
        GELSIM_CGEN_CHECK(Type, Op)                                                      \
        rows.push_back(MakeRow<F>(RowKind::GET, #Type, #Op, #Params, #Null));            \
    }
#define GELSIM_CGEN_DO(Type, Op, Params, Args)                                           \
    {                                                                                    \
        using F = int32_t(T##Type * obj GELSIM_PROC_TAIL Params);                        \
        GELSIM_CGEN_CHECK(Type, Op)                                                      \
        rows.push_back(MakeRow<F>(RowKind::DO, #Type, #Op, #Params, "{}"));              \
    }
#define GELSIM_CGEN_HAND(Type, Op)                                                       \
    {                                                                                    \
        using F = std::remove_pointer_t<decltype(&Gel##Type##Op)>;                       \
        rows.push_back(MakeRow<F>(RowKind::HAND, #Type, #Op, "", "{}"));                 \
    }

std::vector<Row> AllRows() {
    std::vector<Row> rows;
    GELSIM_PROC_ROWS(GELSIM_CGEN_FN, GELSIM_CGEN_FZ, GELSIM_CGEN_GET, GELSIM_CGEN_DO, GELSIM_CGEN_HAND)
    return rows;
}

}  // namespace
}  // namespace kin::gelsim

namespace {

using kin::gelsim::capi::Row;
using kin::gelsim::capi::RowKind;

std::string Trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

// The names in a parameter list "(T a, U& b)" (without its parentheses).
std::vector<std::string> ParamNames(const std::string& list) {
    std::vector<std::string> names;
    if (Trim(list).empty()) return names;
    std::stringstream in(list);
    std::string piece;
    while (std::getline(in, piece, ',')) {
        piece = Trim(piece);
        size_t k = piece.size();
        while (k > 0 && (std::isalnum(static_cast<unsigned char>(piece[k - 1])) || piece[k - 1] == '_')) --k;
        if (k == piece.size() || k == 0) throw std::runtime_error("no parameter name in \"" + piece + "\"");
        names.push_back(piece.substr(k));
    }
    return names;
}

std::string Inside(const std::string& parenthesised) {
    const std::string t = Trim(parenthesised);
    if (t.size() < 2 || t.front() != '(' || t.back() != ')') throw std::runtime_error("bad list " + t);
    return t.substr(1, t.size() - 2);
}

// The parameter names of the declaration "Name(...)" in the header text.
std::vector<std::string> DeclaredNames(const std::string& header, const std::string& name) {
    for (size_t at = header.find(name + "("); at != std::string::npos; at = header.find(name + "(", at + 1)) {
        if (at > 0 && (std::isalnum(static_cast<unsigned char>(header[at - 1])) || header[at - 1] == '_')) continue;
        const size_t open = at + name.size();
        const size_t close = header.find(')', open);
        if (close == std::string::npos) break;
        return ParamNames(header.substr(open + 1, close - open - 1));
    }
    throw std::runtime_error("no declaration of " + name + " in the procedural header");
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The "///" lines right above the first declaration of name( in text, without the slashes.
std::vector<std::string> DocAbove(const std::string& text, const std::string& name) {
    const std::vector<std::string> lines = Lines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string t = Trim(lines[i]);
        if (t.rfind("//", 0) == 0 || t.rfind("return", 0) == 0) continue;
        size_t at = t.find(name + "(");
        while (at != std::string::npos && at > 0 && IsNameChar(t[at - 1])) at = t.find(name + "(", at + 1);
        if (at == std::string::npos || at == 0) continue;  // a declaration has a result type before the name
        std::vector<std::string> doc;
        for (size_t k = i; k-- > 0;) {
            const std::string d = Trim(lines[k]);
            if (d.rfind("///", 0) != 0) break;
            doc.insert(doc.begin(), Trim(d.substr(3)));
        }
        return doc;
    }
    return {};
}

// The body of "class Name ... { ... };" in a header, or nothing.
std::string ClassBody(const std::string& text, const std::string& cls) {
    for (size_t at = text.find("class " + cls); at != std::string::npos; at = text.find("class " + cls, at + 1)) {
        const size_t after = at + 6 + cls.size();
        if (after < text.size() && IsNameChar(text[after])) continue;
        const size_t open = text.find_first_of(";{", after);
        if (open == std::string::npos || text[open] == ';') continue;  // a forward declaration
        const size_t close = text.find("\n};", open);
        return text.substr(open, close == std::string::npos ? std::string::npos : close - open);
    }
    return {};
}

// Where each row type's methods are declared, below the source root.
const char* ClassHeader(const std::string& type) {
    static const std::pair<const char*, const char*> kHeaders[] = {
        {"Physics", "gelsim/core/Physics.h"}, {"Mass", "gelsim/core/Mass.h"},
        {"Constraint", "gelsim/core/Constraint.h"}, {"Body", "gelsim/core/Body.h"},
        {"AdvBody", "gelsim/bodies/AdvBody.h"}, {"Rig", "gelsim/bodies/Rig.h"},
        {"Zone", "gelsim/zones/Zone.h"}, {"ColEvent", "gelsim/core/ColEvent.h"},
    };
    for (const auto& [t, path] : kHeaders)
        if (type == t) return path;
    return nullptr;
}

std::string ReadAll(const std::string& path);

void Name(std::vector<Row>& rows, const std::string& root) {
    const std::string header = ReadAll(root + "/gelsim/bodies/Procedural.h");
    for (Row& r : rows) {
        const std::string cxxName = "Gel" + r.type + r.op;
        if (r.kind == RowKind::HAND) {
            r.names = DeclaredNames(header, cxxName);
            r.doc = DocAbove(header, cxxName);
        } else {
            if (const char* path = ClassHeader(r.type))
                r.doc = DocAbove(ClassBody(ReadAll(root + "/" + path), "T" + r.type), r.op);
            if (r.kind == RowKind::GET || r.kind == RowKind::DO) r.names.push_back("obj");
            for (const std::string& n : ParamNames(Inside(r.paramsText))) r.names.push_back(n);
        }
        if (r.names.size() != r.params.size())
            throw std::runtime_error(cxxName + ": " + std::to_string(r.names.size()) + " names for " +
                                     std::to_string(r.params.size()) + " parameters");
    }
}

std::string CName(const Row& r) { return "gelsim_" + r.type + r.op; }

std::string CParams(const Row& r) {
    std::string s;
    auto add = [&](const std::string& p) { s += (s.empty() ? "" : ", ") + p; };
    for (size_t i = 0; i < r.params.size(); ++i) add(r.params[i].decl(r.names[i]));
    if (!r.resultExtra.empty()) add(r.resultExtra);
    return s.empty() ? "void" : s;
}

// True for an int32 result that only says "done": it becomes the status.
bool IsStatus(const Row& r) {
    return r.resultType == "int32_t" && (r.kind == RowKind::FZ || r.kind == RowKind::DO || r.kind == RowKind::HAND);
}

std::string FailureValue(const Row& r) {
    if (IsStatus(r)) return "GELSIM_ERROR";
    if (r.kind == RowKind::GET) return r.nullText;
    return "{}";
}

std::string Note(const Row& r) {
    if (IsStatus(r)) return "";  // the status convention is stated once, at the top
    if (r.resultExtra.rfind("char*", 0) == 0) return "Writes into buf (NUL-terminated, cut to fit); the full length.";
    if (r.resultExtra.rfind("float*", 0) == 0) return "Writes up to buf_count values into buf; the full count.";
    const bool object = r.resultType.back() == '*';
    const bool made = object && r.resultReturn(".").find("Own(") != std::string::npos;
    if (made) return "A new reference (release it), or NULL.";
    if (object) return "Borrowed, or NULL.";
    return "";
}

// True when the row acts on an object of its own kind, its first parameter (a method, or
// Emit and Post of an event): that object must not be NULL.
bool ActsOnOwnObject(const Row& r) {
    return !r.params.empty() && r.params[0].handle && r.params[0].handle == "Gelsim" + r.type;
}

// Methods that answer -1 when the object, or one it would bring into the current world,
// belongs to another world. The procedural function drops that answer, so the C function
// calls the method itself (the object is checked not NULL on entry) and reports the
// refusal with the message given here.
struct WorldRefusal {
    const char* type;
    const char* op;
    const char* what;
};
constexpr WorldRefusal kWorldRefusals[] = {
    {"Constraint", "Assign", "the constraint, one of its masses or the body belongs to another world"},
    {"AdvBody", "Activate", "the body belongs to another world"},
    {"AdvBody", "ConAssign", "the constraint, one of its masses or the body belongs to another world"},
    {"Zone", "Activate", "the zone belongs to another world"},
};

// The refusal of a row, or null. Every listed method must be a method row acting on its own
// object, so a row renamed or reshaped fails the generation instead of losing its check.
const WorldRefusal* RefusalOf(const Row& r) {
    for (const WorldRefusal& w : kWorldRefusals)
        if (r.type == w.type && r.op == w.op) {
            if (r.kind != RowKind::DO || !ActsOnOwnObject(r))
                throw std::runtime_error(CName(r) + ": a world refusal on a row that is not a method");
            return &w;
        }
    return nullptr;
}

void CheckRefusalsExist(const std::vector<Row>& rows) {
    for (const WorldRefusal& w : kWorldRefusals)
        if (std::none_of(rows.begin(), rows.end(), [&](const Row& r) { return r.type == w.type && r.op == w.op; }))
            throw std::runtime_error(std::string("no row ") + w.type + w.op + " for its world refusal");
}

const char* kHeaderTop = R"(/*
 * gelsim.h: the C interface of the gelsim soft-body library.
 *
 * Generated by gelsim_cgen from the rows of the procedural interface; do not edit.
 * Every procedural function has one C function here, and nothing else has a name of the
 * same form.
 *
 * Names. A procedural function's C name is "gelsim_" followed by the type and the
 * operation exactly as in the C++ name (GelAdvBodyMassMove is gelsim_AdvBodyMassMove):
 * the C name is found from the C++ one and back, and it cannot collide with the C++
 * functions when a C++ program includes both. Functions of the C interface's own (errors,
 * handles, lists, the event hook, switching worlds, world states) are lower case throughout:
 * gelsim_last_error, gelsim_mass_release, gelsim_physics_step. Types are Gelsim + the kind: GelsimMass, GelsimAdvBody.
 *
 * Each C function does what its procedural function does. Functions that only act return
 * a status: GELSIM_OK (0), or GELSIM_ERROR (-1) when they failed. Functions that answer
 * return the answer: a float, an int32_t (flags, groups, counts, indices), an object, or a
 * string or array length (see below).
 *
 * Objects. Every object is an opaque handle. A handle of a derived kind may be cast to its
 * base kind: any handle to GelsimObject*, GelsimAdvBody* to GelsimBody*; the
 * gelsim_KIND_object and gelsim_advbody_body functions below do it without a cast, and
 * gelsim_object_as_KIND converts back, checked (NULL for an object of another kind).
 * Functions documented "a new reference" hand the caller one reference, which the caller
 * gives back with gelsim_KIND_release (or gelsim_object_release). Borrowed results stay
 * valid while their owner (a body's table, the event queue, the world) keeps them;
 * gelsim_KIND_retain keeps one longer. Objects passed in are borrowed for the call.
 *
 * Strings are passed in as (pointer, length) in bytes and are not NUL-terminated; NULL is
 * allowed with a length of 0. Arrays of floats are passed in as (pointer, count). A string
 * or array result is written into the caller's buffer (buf, buf_size or buf_count): a
 * string is cut to buf_size - 1 bytes and NUL-terminated, an array to buf_count values.
 * The function returns the full length or count, so a caller can call once with a NULL
 * buffer to learn the size. Out-parameters are pointers to the caller's variables; NULL
 * drops that value.
 *
 * Mistakes a caller can make are refused, never followed: the function returns
 * GELSIM_ERROR if it returns a status, and otherwise its "nothing" answer (0, 0.0f, NULL,
 * a length of 0, or -1 from the adders, the MaxIndex functions and GetIndex), and
 * gelsim_last_error() says what was wrong and in which function. They are:
 *  - NULL for the object a function acts on (the first argument of a method, the event of
 *    gelsim_ColEventEmit and gelsim_ColEventPost). Other object arguments may be NULL
 *    where the operation takes "none" (no image, no other object), and
 *    gelsim_KIND_release and gelsim_KIND_retain do nothing with NULL, as free does.
 *  - A handle of another kind, for any object argument: every object knows its kind, and
 *    each handle is checked on entry (a plain body passed where an indexed body is
 *    expected, a mass cast to a zone). Of the handle functions, a release or retain of
 *    the wrong kind does nothing.
 *  - A world function (gelsim_Physics..., gelsim_World...) called when there is no current
 *    world: "no current world". The creating functions make one.
 *  - A released or freed handle, or a pointer that was never a handle: in checked builds
 *    (GELSIM_CHECKED, which the sanitizer builds define) the library keeps the set of live
 *    objects and refuses it. In other builds using such a handle is undefined behaviour,
 *    as in any C library: the library cannot tell it from a live object without following
 *    it.
 *
 * Errors. No C++ exception leaves this interface. A function whose C++ form raises (saving
 * a body or zone to a path that cannot be written, loading a damaged file, running out of
 * memory, a NULL string with a non-zero length) returns GELSIM_ERROR if it returns a status,
 * and otherwise its "nothing" answer. Every function forgets the previous failure when it
 * starts, so right after any call gelsim_last_error() is NULL if that call succeeded and
 * the message if it failed. The message is kept per thread (a thread-local buffer), valid
 * until the thread's next call. Messages about files name the file and the reason. A load
 * that finds no file, or a file of another kind, returns NULL and fails with the reason,
 * e.g. "PATH: no such file", or "PATH: not a body file" with the tag found.
 *
 * Worlds. Any number of worlds may live at once. Each thread has a current world, which
 * the world functions and the collision-event functions act on: gelsim_PhysicsCreate makes
 * the new world current (the one before lives on while a handle holds it),
 * gelsim_physics_set_current makes another one current, and gelsim_physics_step steps a
 * given world whatever is current. Each world has its own event queue and event hook.
 * Masses, constraints, zones and bodies join the world that is current when they are
 * activated (bodies: when they are created) and belong to it while they are active there;
 * activating one of them while another world is current is refused: the function returns
 * GELSIM_ERROR and the message says so, as in: the zone belongs to another world
 * (gelsim_ZoneActivate).
 *
 * Callbacks. The collision-event hook takes a C function and a user pointer
 * (gelsim_event_hook_add); a zone's contact response is a C function of the zone
 * (gelsim_ZoneOverrideCollision). Both are called during gelsim_PhysicsUpdate (and
 * gelsim_physics_step) and may call this interface. An event callback that returns anything but NULL, its event or a live
 * event (a handle of another kind; in checked builds also a released or made-up pointer)
 * is refused: the event passes on unchanged, and the call that ran the callback
 * (gelsim_PhysicsUpdate, gelsim_ColEventEmit) returns GELSIM_ERROR with a message.
 *
 * Threads. The current world and the last error are kept per thread. Different threads
 * may step different worlds at the same time; one world and its objects are used by one
 * thread at a time.
 */
#ifndef GELSIM_H
#define GELSIM_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define GELSIM_API __attribute__((visibility("default")))
#else
#define GELSIM_API
#endif

#ifdef __cplusplus
#define GELSIM_NOEXCEPT noexcept
extern "C" {
#else
#define GELSIM_NOEXCEPT
#endif

/** Status results. */
#define GELSIM_OK 0
#define GELSIM_ERROR (-1)

)";

std::string Header(const std::vector<Row>& rows) {
    std::string h = kHeaderTop;
    h += "/** Number of procedural functions below. */\n#define GELSIM_FUNCTION_COUNT " + std::to_string(rows.size()) +
         "\n\n";
    // Values the functions take and give, from the classes that define them.
    auto value = [&](const char* name, int32_t v) { h += "#define " + std::string(name) + " (" + std::to_string(v) + ")\n"; };
    h += "/** Zone styles (gelsim_ZoneCreate, gelsim_ZoneSetStyle). */\n";
    value("GELSIM_ZONE_LINE", kin::gelsim::TZone::LINE);
    value("GELSIM_ZONE_LOOP", kin::gelsim::TZone::LOOP);
    value("GELSIM_ZONE_FILL", kin::gelsim::TZone::FILL);
    value("GELSIM_ZONE_HOLE", kin::gelsim::TZone::HOLE);
    h += "/** Collision-event kinds (gelsim_ColEventGetID). */\n";
    value("GELSIM_EVENT_CUSTOM", kin::gelsim::TColEvent::MASS_CUSTOM);
    value("GELSIM_EVENT_MASS", kin::gelsim::TColEvent::MASS_MASS);
    value("GELSIM_EVENT_ZONE", kin::gelsim::TColEvent::MASS_ZONE);
    value("GELSIM_EVENT_BOUNDS", kin::gelsim::TColEvent::MASS_BOUNDS);
    h += "/** Event queue modes (gelsim_ColEventSetMode, gelsim_ColEventPost). */\n";
    value("GELSIM_EVENT_DISCARD", kin::gelsim::TColEvent::MODE_DISCARD);
    value("GELSIM_EVENT_UPDATE", kin::gelsim::TColEvent::MODE_UPDATE);
    value("GELSIM_EVENT_REPLACE", kin::gelsim::TColEvent::MODE_REPLACE);
    h += "\n/* --- object handles --------------------------------------------------------- */\n\n";
#define GELSIM_CGEN_TYPEDEF(Name, lower, Cxx) h += "typedef struct Gelsim" #Name " Gelsim" #Name ";\n";
    GELSIM_C_KINDS(GELSIM_CGEN_TYPEDEF)
    h += R"(
/** A zone's contact response: push mass out along the unit normal (nx, ny) by depth. */
typedef int32_t (*GelsimZoneResponse)(GelsimZone* zone, GelsimMass* mass, float nx, float ny, float depth);

/** A collision-event callback: receives the event (borrowed) and the user pointer given to
 *  gelsim_event_hook_add; returns the event to pass on (the same one, another that stays
 *  alive until the callback returns, or NULL to drop it). */
typedef GelsimColEvent* (*GelsimEventCallback)(GelsimColEvent* event, void* user);

/** The message of this thread's latest call if it failed, NULL if it succeeded. */
GELSIM_API const char* gelsim_last_error(void) GELSIM_NOEXCEPT;

)";
    h += "/* Handles of every kind: retain adds one reference, release gives one back (the object\n"
         " * goes with its last); gelsim_object_as_KIND is obj as that kind (borrowed), or NULL\n"
         " * when obj is of another kind; gelsim_KIND_object is the handle as a GelsimObject. */\n";
#define GELSIM_CGEN_KIND(Name, lower, Cxx)                                                                       \
    h += "GELSIM_API void gelsim_" #lower "_retain(Gelsim" #Name "* obj) GELSIM_NOEXCEPT;\n";                      \
    h += "GELSIM_API void gelsim_" #lower "_release(Gelsim" #Name "* obj) GELSIM_NOEXCEPT;\n";                     \
    h += "GELSIM_API Gelsim" #Name "* gelsim_object_as_" #lower "(GelsimObject* obj) GELSIM_NOEXCEPT;\n";         \
    if (std::string(#lower) != "object")                                                                         \
        h += "static inline GelsimObject* gelsim_" #lower "_object(Gelsim" #Name                                  \
             "* obj) { return (GelsimObject*)obj; }\n";
    GELSIM_C_KINDS(GELSIM_CGEN_KIND)
    h += R"(
/** An indexed body as a base body. */
static inline GelsimBody* gelsim_advbody_body(GelsimAdvBody* obj) { return (GelsimBody*)obj; }
/** Number of owners of obj (0 for NULL). */
GELSIM_API int32_t gelsim_object_refcount(GelsimObject* obj) GELSIM_NOEXCEPT;

/* --- lists (the results of GetConstraints and the Collide functions) -------- */

/** Number of entries. */
GELSIM_API int32_t gelsim_list_count(GelsimList* list) GELSIM_NOEXCEPT;
/** Writes up to buf_count entries (borrowed) into buf, in order; the number of entries. */
GELSIM_API size_t gelsim_list_items(GelsimList* list, GelsimObject** buf, size_t buf_count) GELSIM_NOEXCEPT;

/* --- the collision-event hook ------------------------------------------------- */

/* Each world has its own hook: a callback added while a world is current sees that
 * world's events only, whichever world is current when they are emitted, and stays on it
 * until it is removed while that world is current, or the world ends. */

/** Adds fn with its user pointer to the current world's collision-event hook, after every
 *  callback of equal or higher priority. GELSIM_OK, or GELSIM_ERROR (NULL fn, no current
 *  world, no memory). */
GELSIM_API int32_t gelsim_event_hook_add(GelsimEventCallback fn, void* user, int32_t priority) GELSIM_NOEXCEPT;
/** Removes the first callback added with fn and user from the current world's hook; 1 if
 *  one was found, 0 if not (callbacks of other worlds stay), GELSIM_ERROR without a world. */
GELSIM_API int32_t gelsim_event_hook_remove(GelsimEventCallback fn, void* user) GELSIM_NOEXCEPT;

/* --- worlds --------------------------------------------------------------------- */

/** Makes w (borrowed; NULL: none) the calling thread's current world; GELSIM_OK. The
 *  thread's hold on the world before ends: a world no handle holds ends with it, so take
 *  gelsim_physics_current first, retained, to come back to one. */
GELSIM_API int32_t gelsim_physics_set_current(GelsimPhysics* w) GELSIM_NOEXCEPT;
/** The calling thread's current world (borrowed, valid while it stays current or a
 *  handle holds it), or NULL; never a failure. */
GELSIM_API GelsimPhysics* gelsim_physics_current(void) GELSIM_NOEXCEPT;
/** Steps world w (borrowed) n times, whatever is current; its callbacks see it current and
 *  the current world is the same afterwards. n of 0 or less: nothing. GELSIM_OK, or
 *  GELSIM_ERROR (NULL w, a callback's bogus result). */
GELSIM_API int32_t gelsim_physics_step(GelsimPhysics* w, int32_t n) GELSIM_NOEXCEPT;

/* --- world states --------------------------------------------------------------- */

/* A world's state is everything that changes as it steps, as bytes that are the same on
 * every platform: a world loaded or restored from it steps on bit for bit as the saved
 * world would have. Damaged bytes are refused with the reader's message, "Error reading
 * from stream: ..." and the function's name, and change nothing. */

/** Writes the state of world w (borrowed) into buf when buf_size bytes hold it, nothing
 *  otherwise; with_zones 0 records the zones as references to w's present ones. Returns the
 *  state's full size in bytes, so a first call with a NULL buffer gives the size; 0 when it
 *  failed (NULL w, a world holding something a state cannot carry). */
GELSIM_API size_t gelsim_physics_save_state(GelsimPhysics* w, int32_t with_zones, void* buf, size_t buf_size) GELSIM_NOEXCEPT;
/** A new world (a new reference: release it) from the size bytes of a state at data, made
 *  the calling thread's current world; a state saved without zones takes them from
 *  zones_from (borrowed), where each must still be. NULL, and no world made, when it failed. */
GELSIM_API GelsimPhysics* gelsim_physics_load_state(const void* data, size_t size, GelsimPhysics* zones_from) GELSIM_NOEXCEPT;
/** Puts world w (borrowed) back to the state of size bytes at data, in place (undo): objects
 *  still at their saved places keep their handles, the others are made anew. GELSIM_OK, or
 *  GELSIM_ERROR with w unchanged (damaged bytes, a call from w's own event callback). */
GELSIM_API int32_t gelsim_physics_restore_state(GelsimPhysics* w, const void* data, size_t size) GELSIM_NOEXCEPT;
)";
    std::string section;
    for (const Row& r : rows) {
        if (r.type != section) {
            section = r.type;
            h += "\n/* --- " + section + " " + std::string(std::max<int>(3, 72 - int(section.size())), '-') + " */\n\n";
        }
        std::vector<std::string> doc = r.doc;
        const std::string note = Note(r);
        bool said = false;  // the description already says the result is borrowed
        for (const std::string& line : doc) said = said || (note == "Borrowed, or NULL." && line.find("borrowed") != std::string::npos);
        if (!note.empty() && !said) doc.push_back(note);
        if (const WorldRefusal* w = RefusalOf(r)) doc.push_back(std::string("GELSIM_ERROR when ") + w->what + ".");
        for (size_t i = 0; i < doc.size(); ++i) {
            for (size_t at; (at = doc[i].find("*/")) != std::string::npos;) doc[i].replace(at, 2, "* /");
            h += (i ? " * " : "/** ") + doc[i] + (i + 1 == doc.size() ? " */\n" : "\n");
        }
        h += "GELSIM_API " + r.resultType + " " + CName(r) + "(" + CParams(r) + ") GELSIM_NOEXCEPT;\n";
    }
    h += R"(
#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* GELSIM_H */
)";
    return h;
}

// True for the world's functions, which need a current world: all but the creating ones.
bool NeedsWorld(const Row& r) { return (r.type == "Physics" || r.type == "World") && r.op != "Create"; }

// The statements a C function starts with: the refusals of a caller's mistakes, checked
// before anything is followed (see Support.h), each returning the row's failure value.
std::string EntryChecks(const Row& r) {
    std::string s;
    const std::string refused = ") return " + FailureValue(r) + ";\n";
    if (NeedsWorld(r)) s += "    if (!HasWorld(\"" + CName(r) + "\")" + refused;
    for (size_t i = 0; i < r.params.size(); ++i)
        if (r.params[i].check) {
            const bool required = i == 0 && ActsOnOwnObject(r);
            s += "    if (!" + r.params[i].check(r.names[i], required, CName(r)) + refused;
        }
    return s;
}

// True for the functions that may run event callbacks and so answer for what the callbacks
// return: the type-level ones (the step, Emit) and the world's second names. Methods run
// no callbacks.
bool RunsCallbacks(const Row& r) { return r.kind == RowKind::FN || r.kind == RowKind::FZ || r.type == "World"; }

std::string Source(const std::vector<Row>& rows) {
    std::string s = R"(// The C interface's procedural functions. Generated by gelsim_cgen; do not edit.
#include "gelsim/capi/Support.h"

using namespace kin::gelsim::capi;
)";
    for (const Row& r : rows) {
        std::string args;
        for (size_t i = 0; i < r.params.size(); ++i) args += (i ? ", " : "") + r.params[i].arg(r.names[i]);
        std::string call = "::kin::gelsim::Gel" + r.type + r.op + "(" + args + ")";
        s += "\nextern \"C\" " + r.resultType + " " + CName(r) + "(" + CParams(r) + ") GELSIM_NOEXCEPT {\n";
        s += EntryChecks(r);
        if (const WorldRefusal* w = RefusalOf(r)) {
            std::string rest;
            for (size_t i = 1; i < r.params.size(); ++i) rest += (i > 1 ? ", " : "") + r.params[i].arg(r.names[i]);
            s += "    try {\n        return RefusedByWorld(" + r.params[0].arg(r.names[0]) + "->" + r.op + "(" + rest +
                 "), \"" + w->what + "\", \"" + CName(r) + "\");\n";
            s += "    } catch (...) {\n        Fail();\n    }\n    return GELSIM_ERROR;\n}\n";
            continue;
        }
        if (RunsCallbacks(r)) {
            s += "    const uint32_t faults = tCallbackFaults;\n";
            call = "Watched(" + call + ", faults, \"" + CName(r) + "\")";
        }
        s += "    try {\n        " + r.resultReturn("Done(" + call + ")") + "\n";
        s += "    } catch (...) {\n        Fail();\n    }\n";
        s += "    return " + FailureValue(r) + ";\n}\n";
    }
    return s;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Writes the file unless it already holds exactly this text (keeps its time for the build).
void WriteIfChanged(const char* path, const std::string& text) {
    {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            std::stringstream ss;
            ss << in.rdbuf();
            if (ss.str() == text) return;
        }
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw std::runtime_error(std::string("cannot write ") + path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: gelsim_cgen HEADER SOURCE SOURCE_ROOT\n");
        return 2;
    }
    try {
        std::vector<Row> rows = kin::gelsim::AllRows();
        Name(rows, argv[3]);
        CheckRefusalsExist(rows);
        WriteIfChanged(argv[1], Header(rows));
        WriteIfChanged(argv[2], Source(rows));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gelsim_cgen: %s\n", e.what());
        return 1;
    }
    return 0;
}
