// The C interface against the procedural rows: one C function per row, in order, with the
// number of C parameters the type traits give, and nothing else of that form in gelsim.h;
// failures that come back as codes and messages, never as exceptions (the functions are
// noexcept to C++, so an escaping exception would end the test program); and a caller's
// mistakes (NULL, a handle of another kind, a released handle, no world, a callback's
// bogus result) refused by every function instead of followed.
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "tests/support/BodyFixture.h"
#include "gelsim.h"
#include "gelsim/capi/CallTraits.h"
#include "gelsim/capi/CTypes.h"
#include "gelsim_picture.h"

// The world's second names have no handle kind of their own; a name for the sweep below.
struct GelsimWorld;

namespace kin::gelsim::test {
namespace {

template <class F>
struct CArity;
template <class R, class... P>
struct CArity<R(P...) noexcept> {
    static constexpr int value = sizeof...(P);
};

struct CRow {
    const char* name;
    int arity;     // of the declared C function
    int expected;  // from the row's C++ signature and the traits
};

#define CAPI_ROW(Type, Op, ...) \
    {"gelsim_" #Type #Op, CArity<std::remove_pointer_t<decltype(&::gelsim_##Type##Op)>>::value, __VA_ARGS__},
#define CAPI_FN(Type, Op, Ret, Params, Args) CAPI_ROW(Type, Op, capi::CWidth<Ret Params>::value)
#define CAPI_FZ(Type, Op, Params, Args) CAPI_ROW(Type, Op, capi::CWidth<int32_t Params>::value)
#define CAPI_GET(Type, Op, Ret, Null, Params, Args) \
    CAPI_ROW(Type, Op, capi::CWidth<Ret(T##Type * obj GELSIM_PROC_TAIL Params)>::value)
#define CAPI_DO(Type, Op, Params, Args) \
    CAPI_ROW(Type, Op, capi::CWidth<int32_t(T##Type * obj GELSIM_PROC_TAIL Params)>::value)
#define CAPI_HAND(Type, Op) \
    CAPI_ROW(Type, Op, capi::CWidth<std::remove_pointer_t<decltype(&Gel##Type##Op)>>::value)

const CRow kCRows[] = {GELSIM_PROC_ROWS(CAPI_FN, CAPI_FZ, CAPI_GET, CAPI_DO, CAPI_HAND)};

TEST(CInterface, OneFunctionPerRowAndNothingElse) {
    ASSERT_EQ(std::size(kCRows), kGelFunctionCount);
    ASSERT_EQ(size_t{GELSIM_FUNCTION_COUNT}, kGelFunctionCount);
    std::vector<std::string> expected;
    for (size_t k = 0; k < kGelFunctionCount; ++k) {
        const std::string cName = "gelsim_" + std::string(kGelFunctionNames[k].substr(3));
        EXPECT_EQ(kCRows[k].name, cName);
        EXPECT_EQ(kCRows[k].arity, kCRows[k].expected) << cName;
        expected.push_back(cName);
    }
    // The header declares exactly these, in this order: no function twice, none extra.
    std::ifstream in(GELSIM_C_HEADER);
    ASSERT_TRUE(in) << GELSIM_C_HEADER;
    std::stringstream text;
    text << in.rdbuf();
    const std::string header = text.str();
    std::vector<std::string> declared;
    const std::regex decl(R"(\b(gelsim_[A-Z]\w*)\()");
    for (auto it = std::sregex_iterator(header.begin(), header.end(), decl); it != std::sregex_iterator(); ++it)
        declared.push_back((*it)[1]);
    EXPECT_EQ(declared, expected);
}

class CInterfaceErrors : public BodyWorld {};

// A load that gives NULL and a save that fails both say which file and why.
TEST_F(CInterfaceErrors, FileFailuresNameTheFileAndTheReason) {
    GelsimAdvBody* body = gelsim_AdvBodyCreate();
    ASSERT_EQ(gelsim_AdvBodyMassAdd(body, 100, 100, 1, 5, 0.5f, 1), 0);
    const std::string good = Path("good.plb"), zone = Path("zone.plz"), cut = Path("cut.plb");
    ASSERT_EQ(gelsim_AdvBodySave(body, good.data(), good.size()), GELSIM_OK);
    const float square[] = {0, 0, 50, 0, 50, 50, 0, 50};
    GelsimZone* z = gelsim_ZoneCreate(square, 8, GELSIM_ZONE_FILL, 0.5f, -1, 3);
    ASSERT_EQ(gelsim_ZoneSave(z, zone.data(), zone.size(), 0, 0), GELSIM_OK);
    const Bytes bytes = ReadAll(good);
    WriteAll(cut, Bytes(bytes.begin(), bytes.begin() + 12));
    std::vector<GelsimObject*> made;  // released at the end: releasing is a call, which clears the message
    auto loadBody = [&](const std::string& p) { made.push_back(gelsim_advbody_object(gelsim_AdvBodyLoad(p.data(), p.size(), 0))); };
    auto loadZone = [&](const std::string& p) { made.push_back(gelsim_zone_object(gelsim_ZoneLoad(p.data(), p.size()))); };
    const std::string absent = Path("absent.plb");
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { loadBody(absent); }, absent + ": no such file"},
        {[&] { loadBody(dir); }, dir + ": is a directory"},
        {[&] { loadBody(zone); }, zone + ": not a body file (tag 'ZONE')"},
        {[&] { loadZone(good); }, good + ": not a zone file (tag 'B111')"},
        {[&] { loadBody(cut); }, "Error reading from stream: " + cut + ": ends in the mass count: needs 14 bytes, there are 12"},
        {[&] { gelsim_AdvBodySave(body, dir.data(), dir.size()); }, "Error writing to stream: " + dir + ": is a directory"},
        {[&] { gelsim_ZoneSave(z, "/no/such/x.plz", 14, 0, 0); },
         "Error writing to stream: /no/such/x.plz: No such file or directory"},
    };
    for (const auto& [call, message] : cases) {
        call();
        ASSERT_NE(gelsim_last_error(), nullptr) << message;
        EXPECT_EQ(std::string(gelsim_last_error()), message);
    }
    // A load that finds its file succeeds without a message, and an earlier refusal does not
    // come back with a later NULL of another kind.
    loadBody(absent);
    loadBody(good);
    EXPECT_EQ(gelsim_last_error(), nullptr);
    loadBody(absent);
    EXPECT_EQ(gelsim_ZoneCreate(square, 3, GELSIM_ZONE_FILL, 0.5f, -1, 3), nullptr);
    EXPECT_TRUE(!gelsim_last_error() || std::string(gelsim_last_error()).find(absent) == std::string::npos);
    for (GelsimObject* o : made) gelsim_object_release(o);
    gelsim_zone_release(z);
    gelsim_advbody_release(body);
}

TEST_F(CInterfaceErrors, FailuresComeBackAsCodesAndMessages) {
    GelsimAdvBody* body = gelsim_AdvBodyCreate();
    ASSERT_EQ(gelsim_AdvBodyMassAdd(body, 100, 100, 1, 5, 0.5f, 1), 0);
    ASSERT_EQ(gelsim_AdvBodyMassAdd(body, 100, 120, 1, 5, 0.5f, 1), 1);
    ASSERT_EQ(gelsim_AdvBodyConAddAll(body), GELSIM_OK);
    // Body and zone files that cannot be written or read.
    EXPECT_EQ(gelsim_AdvBodySave(body, dir.data(), dir.size()), GELSIM_ERROR);
    ASSERT_NE(gelsim_last_error(), nullptr);
    EXPECT_EQ(std::string(gelsim_last_error()), "Error writing to stream: " + dir + ": is a directory");
    const float square[] = {0, 0, 50, 0, 50, 50, 0, 50};
    GelsimZone* zone = gelsim_ZoneCreate(square, 8, GELSIM_ZONE_FILL, 0.5f, -1, 3);
    EXPECT_EQ(gelsim_ZoneSave(zone, dir.data(), dir.size(), 0, 0), GELSIM_ERROR);
    EXPECT_NE(gelsim_last_error(), nullptr);
    const std::string zonePath = Path("square.plz");
    ASSERT_EQ(gelsim_ZoneSave(zone, zonePath.data(), zonePath.size(), 0, 0), GELSIM_OK);
    EXPECT_EQ(gelsim_last_error(), nullptr);
    Bytes bytes = ReadAll(zonePath);
    ASSERT_GT(bytes.size(), 16u);
    bytes.resize(bytes.size() / 2);
    WriteAll(zonePath, bytes);
    EXPECT_EQ(gelsim_ZoneLoad(zonePath.data(), zonePath.size()), nullptr);
    EXPECT_NE(gelsim_last_error(), nullptr);
    // Arguments the C side can get wrong.
    EXPECT_EQ(gelsim_ZoneCreate(nullptr, 8, GELSIM_ZONE_FILL, 0.5f, -1, 3), nullptr);
    EXPECT_NE(gelsim_last_error(), nullptr);
    EXPECT_EQ(gelsim_event_hook_add(nullptr, nullptr, 0), GELSIM_ERROR);
    EXPECT_NE(gelsim_last_error(), nullptr);

    // A failure inside a callback belongs to the call the callback made: the step that ran
    // the callback succeeded.
    struct Seen {
        GelsimAdvBody* body;
        std::string dir;
        int failedInside = 0;
        GelsimZone* zone = nullptr;
        GelsimMass* mass = nullptr;
    } seen{body, dir};
    auto failing = [](GelsimColEvent* e, void* user) -> GelsimColEvent* {
        auto* s = static_cast<Seen*>(user);
        if (gelsim_AdvBodySave(s->body, s->dir.data(), s->dir.size()) == GELSIM_ERROR && gelsim_last_error())
            ++s->failedInside;
        return e;
    };
    ASSERT_EQ(gelsim_event_hook_add(failing, &seen, 0), GELSIM_OK);
    // The zone's C response receives the same handles the program holds.
    static Seen* response = nullptr;
    response = &seen;
    ASSERT_EQ(gelsim_ZoneOverrideCollision(zone, [](GelsimZone* z, GelsimMass* m, float, float, float) -> int32_t {
                  response->zone = z;
                  response->mass = m;
                  return 0;
              }),
              GELSIM_OK);
    ASSERT_EQ(gelsim_AdvBodyActivate(body), GELSIM_OK);
    ASSERT_EQ(gelsim_AdvBodyPosition(body, 25, 52), GELSIM_OK);  // mass 0 overlaps the zone's lower edge
    EXPECT_EQ(gelsim_PhysicsUpdate(), GELSIM_OK);
    EXPECT_EQ(gelsim_last_error(), nullptr);
    EXPECT_GT(seen.failedInside, 0);
    EXPECT_EQ(seen.zone, zone);
    EXPECT_EQ(seen.mass, gelsim_AdvBodyMassGet(body, 0));
    EXPECT_EQ(gelsim_event_hook_remove(failing, &seen), 1);

    gelsim_zone_release(zone);
    gelsim_advbody_release(body);
}

// --- a caller's mistakes ----------------------------------------------------------------

using kin::gelsim::capi::FailureOf;
using kin::gelsim::capi::OwnFirst;

// Calls fn with first as its first argument and zero for every other one (NULL strings and
// buffers with a length of 0, NULL out-parameters); true when the call was refused: it
// returned the failure value and left a message.
template <class R, class... P>
bool Refused(R (*)() noexcept, void*, std::type_identity_t<R>) {
    return false;
}
template <class R, class P0, class... P>
bool Refused(R (*fn)(P0, P...) noexcept, void* first, std::type_identity_t<R> failure) {
    if constexpr (std::is_pointer_v<P0>) {
        const R r = fn(reinterpret_cast<P0>(first), P{}...);
        return r == failure && gelsim_last_error() != nullptr;
    } else {
        return false;
    }
}
// fn called with zero for every argument; true when it was refused.
template <class R, class... P>
bool RefusedWithZeros(R (*fn)(P...) noexcept, std::type_identity_t<R> failure) {
    const R r = fn(P{}...);
    return r == failure && gelsim_last_error() != nullptr;
}

struct CCall {
    const char* name;
    const char* kind;  // the row's handle type, "GelsimMass"
    bool method;       // takes an object of its own kind first
    bool world;        // a world function that needs a current world
    bool (*refused)(void* first);
    bool (*refusedWithZeros)();
};

#define MISUSE_ROW(Type, Op, Failure)                                                                     \
    {"gelsim_" #Type #Op, "Gelsim" #Type,                                                                 \
     OwnFirst<decltype(&::gelsim_##Type##Op), Gelsim##Type>::value,                                       \
     (std::string_view(#Type) == "Physics" || std::string_view(#Type) == "World") &&                     \
         std::string_view(#Op) != "Create",                                                               \
     [](void* first) { return Refused(&::gelsim_##Type##Op, first, Failure); },                          \
     [] { return RefusedWithZeros(&::gelsim_##Type##Op, Failure); }},
#define MISUSE_FN(Type, Op, Ret, Params, Args) MISUSE_ROW(Type, Op, {})
#define MISUSE_FZ(Type, Op, Params, Args) MISUSE_ROW(Type, Op, GELSIM_ERROR)
#define MISUSE_GET(Type, Op, Ret, Null, Params, Args) MISUSE_ROW(Type, Op, Null)
#define MISUSE_DO(Type, Op, Params, Args) MISUSE_ROW(Type, Op, GELSIM_ERROR)
#define MISUSE_HAND(Type, Op) MISUSE_ROW(Type, Op, FailureOf(&::gelsim_##Type##Op))

const CCall kCCalls[] = {GELSIM_PROC_ROWS(MISUSE_FN, MISUSE_FZ, MISUSE_GET, MISUSE_DO, MISUSE_HAND)};

bool Mentions(const char* text, const std::string& part) { return text && std::strstr(text, part.c_str()); }

class CInterfaceMisuse : public BodyWorld {
protected:
    // Calls every method with first as its object (first_of(kind) picks it per kind) and
    // counts the calls that were not refused, naming them.
    template <class Pick>
    int NotRefused(Pick first_of, const std::string& said = "") {
        int missed = 0;
        for (const CCall& c : kCCalls) {
            if (!c.method) continue;
            void* first = first_of(std::string(c.kind));
            if (!c.refused(first) || !Mentions(gelsim_last_error(), said) || !Mentions(gelsim_last_error(), c.name)) {
                ADD_FAILURE() << c.name << " not refused: " << (gelsim_last_error() ? gelsim_last_error() : "no message");
                ++missed;
            }
        }
        return missed;
    }
    const float square[8] = {0, 0, 50, 0, 50, 50, 0, 50};
};

TEST_F(CInterfaceMisuse, EveryMethodRefusesANullObject) {
    int methods = 0;
    for (const CCall& c : kCCalls) methods += c.method;
    EXPECT_GT(methods, 250);
    EXPECT_EQ(NotRefused([](const std::string&) { return nullptr; }, "is NULL"), 0);
    // The handle functions: NULL is refused where something is answered, and releasing
    // or retaining NULL does nothing, as free(NULL) does.
    EXPECT_EQ(gelsim_object_refcount(nullptr), 0);
    EXPECT_NE(gelsim_last_error(), nullptr);
    EXPECT_EQ(gelsim_list_count(nullptr), 0);
    EXPECT_NE(gelsim_last_error(), nullptr);
    gelsim_mass_release(nullptr);
    EXPECT_EQ(gelsim_last_error(), nullptr);
}

TEST_F(CInterfaceMisuse, EveryMethodRefusesAnObjectOfAnotherKind) {
    GelsimMass* mass = gelsim_MassCreate(10, 10, 1, 5, 0.5f, 1);
    GelsimZone* zone = gelsim_ZoneCreate(square, 8, GELSIM_ZONE_FILL, 0.5f, -1, 3);
    GelsimBody* body = gelsim_BodyCreate();
    ASSERT_TRUE(mass && zone && body);
    // A zone where a mass is expected, a mass everywhere else.
    EXPECT_EQ(NotRefused([&](const std::string& kind) -> void* {
                  return kind == "GelsimMass" ? static_cast<void*>(zone) : static_cast<void*>(mass);
              }),
              0);
    EXPECT_STREQ(gelsim_last_error(), "obj is a GelsimMass, not a GelsimColEvent (gelsim_ColEventGetForce)");
    // A base body where an indexed body is expected.
    for (const CCall& c : kCCalls) {
        if (c.method && std::string(c.kind) == "GelsimAdvBody") {
            EXPECT_TRUE(c.refused(body) && Mentions(gelsim_last_error(), "a GelsimBody, not a GelsimAdvBody")) << c.name;
        }
    }
    // An indexed body is a body: accepted where a body is expected.
    GelsimAdvBody* indexed = gelsim_AdvBodyCreate();
    EXPECT_EQ(gelsim_BodyClear(gelsim_advbody_body(indexed)), GELSIM_OK);
    // The handle functions check the kind too, and a refused release releases nothing.
    const int32_t zoneOwners = gelsim_object_refcount(gelsim_zone_object(zone));
    gelsim_mass_release(reinterpret_cast<GelsimMass*>(zone));
    EXPECT_TRUE(Mentions(gelsim_last_error(), "not a GelsimMass"));
    EXPECT_EQ(gelsim_object_refcount(gelsim_zone_object(zone)), zoneOwners);
    EXPECT_EQ(gelsim_list_count(reinterpret_cast<GelsimList*>(zone)), 0);
    EXPECT_TRUE(Mentions(gelsim_last_error(), "not a GelsimList"));
    // A constraint between a mass and a zone.
    EXPECT_EQ(gelsim_ConstraintCreate(mass, reinterpret_cast<GelsimMass*>(zone), 10, 1), nullptr);
    EXPECT_TRUE(Mentions(gelsim_last_error(), "m2 is a GelsimZone"));
    gelsim_advbody_release(indexed);
    gelsim_body_release(body);
    gelsim_zone_release(zone);
    gelsim_mass_release(mass);
}

TEST_F(CInterfaceMisuse, ReleasedObjectsAreRefusedInCheckedBuilds) {
#ifndef GELSIM_CHECKED
    GTEST_SKIP() << "a released handle is undefined behaviour outside checked builds";
#endif
    GelsimMass* m1 = gelsim_MassCreate(10, 10, 1, 5, 0.5f, 1);
    GelsimMass* m2 = gelsim_MassCreate(30, 10, 1, 5, 0.5f, 1);
    GelsimConstraint* con = gelsim_ConstraintCreate(m1, m2, 20, 1);
    GelsimBody* body = gelsim_BodyCreate();
    GelsimAdvBody* indexed = gelsim_AdvBodyCreate();
    GelsimRig* rig = gelsim_RigCreate(nullptr, nullptr, nullptr, 0);
    GelsimZone* zone = gelsim_ZoneCreate(square, 8, GELSIM_ZONE_FILL, 0.5f, -1, 3);
    GelsimColEvent* event = gelsim_ColEventCreate(m1, nullptr, 0, 0, 0);
    ASSERT_TRUE(m1 && m2 && con && body && indexed && rig && zone && event);
    ASSERT_EQ(gelsim_AdvBodyMassAdd(indexed, 0, 0, 1, 5, 0.5f, 1), 0);
    ASSERT_EQ(gelsim_AdvBodyActivate(indexed), GELSIM_OK);
    // Freed, then released: the handles dangle.
    ASSERT_EQ(gelsim_AdvBodyFree(indexed), GELSIM_OK);
    ASSERT_EQ(gelsim_ZoneFree(zone), GELSIM_OK);
    gelsim_colevent_release(event);
    gelsim_zone_release(zone);
    gelsim_rig_release(rig);
    gelsim_advbody_release(indexed);
    gelsim_body_release(body);
    gelsim_constraint_release(con);
    gelsim_mass_release(m2);
    gelsim_mass_release(m1);
    const std::pair<std::string, void*> dead[] = {{"GelsimMass", m1},  {"GelsimConstraint", con},
                                                  {"GelsimBody", body}, {"GelsimAdvBody", indexed},
                                                  {"GelsimRig", rig},   {"GelsimZone", zone},
                                                  {"GelsimColEvent", event}};
    EXPECT_EQ(NotRefused(
                  [&](const std::string& kind) -> void* {
                      for (const auto& [k, h] : dead)
                          if (k == kind) return h;
                      return nullptr;
                  },
                  "not a live object"),
              0);
    gelsim_zone_release(zone);
    EXPECT_TRUE(Mentions(gelsim_last_error(), "not a live object"));
    EXPECT_EQ(gelsim_object_refcount(gelsim_mass_object(m1)), 0);
    EXPECT_TRUE(Mentions(gelsim_last_error(), "not a live object"));
}

TEST_F(CInterfaceMisuse, AZoneThatOnlyTheWorldHoldsCanBeDeactivated) {
    // The world's reference is the zone's last: deactivating it must not end the zone
    // while it is still at work.
    GelsimZone* zone = gelsim_ZoneCreate(square, 8, GELSIM_ZONE_FILL, 0.5f, -1, 3);
    ASSERT_EQ(gelsim_object_refcount(gelsim_zone_object(zone)), 2);
    gelsim_zone_release(zone);
    EXPECT_EQ(gelsim_ZoneDeActivate(zone), GELSIM_OK);
}

TEST_F(CInterfaceMisuse, WorldFunctionsWithoutAWorldFail) {
    ASSERT_EQ(gelsim_PhysicsFree(), GELSIM_OK);
    int worldFunctions = 0;
    for (const CCall& c : kCCalls) {
        if (!c.world) continue;
        ++worldFunctions;
        EXPECT_TRUE(c.refusedWithZeros()) << c.name;
        EXPECT_TRUE(Mentions(gelsim_last_error(), "no current world (" + std::string(c.name) + ")")) << c.name;
    }
    EXPECT_EQ(worldFunctions, 32);
    EXPECT_EQ(gelsim_PhysicsFree(), GELSIM_ERROR);
    // A world again: the functions work.
    GelsimPhysics* w = gelsim_WorldCreate(800, 600, 0.1f, 0, 1);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(gelsim_WorldUpdate(), GELSIM_OK);
    EXPECT_EQ(gelsim_last_error(), nullptr);
    gelsim_physics_release(w);
}

TEST_F(CInterfaceMisuse, AnEventCallbacksBogusResultIsRefused) {
    GelsimAdvBody* body = gelsim_AdvBodyCreate();
    ASSERT_EQ(gelsim_AdvBodyMassAdd(body, 100, 100, 1, 5, 0.5f, 1), 0);
    ASSERT_EQ(gelsim_AdvBodyMassAdd(body, 100, 120, 1, 5, 0.5f, 1), 1);
    ASSERT_EQ(gelsim_AdvBodyConAddAll(body), GELSIM_OK);
    GelsimZone* zone = gelsim_ZoneCreate(square, 8, GELSIM_ZONE_FILL, 0.5f, -1, 3);
    ASSERT_EQ(gelsim_AdvBodyActivate(body), GELSIM_OK);
    // A step with mass 0 put back over the zone's lower edge: at least one contact.
    auto step = [&] {
        gelsim_AdvBodyPosition(body, 25, 52);
        return gelsim_PhysicsUpdate();
    };
    struct Answer {
        void* result = nullptr;
        int calls = 0;
    } answer;
    auto callback = [](GelsimColEvent*, void* user) -> GelsimColEvent* {
        auto* a = static_cast<Answer*>(user);
        ++a->calls;
        return static_cast<GelsimColEvent*>(a->result);
    };
    ASSERT_EQ(gelsim_event_hook_add(callback, &answer, 0), GELSIM_OK);
    // A mass is not an event: refused, the step fails and says why, and the event passes
    // on unchanged.
    gelsim_ColEventFlush();
    answer.result = gelsim_AdvBodyMassGet(body, 0);
    EXPECT_EQ(step(), GELSIM_ERROR);
    EXPECT_GT(answer.calls, 0);
    EXPECT_TRUE(Mentions(gelsim_last_error(), "an event callback returned")) << gelsim_last_error();
    GelsimColEvent* passed = gelsim_ColEventPoll();
    ASSERT_NE(passed, nullptr);
    EXPECT_EQ(gelsim_ColEventGetID(passed), GELSIM_EVENT_ZONE);
    // Emit answers for its callbacks the same way.
    GelsimColEvent* own = gelsim_ColEventCreate(gelsim_AdvBodyMassGet(body, 0), nullptr, 1, 2, 3);
    EXPECT_EQ(gelsim_ColEventEmit(own), GELSIM_ERROR);
    // A live event of its own is a good result, and so is NULL.
    answer.result = own;
    EXPECT_EQ(step(), GELSIM_OK);
    answer.result = nullptr;
    EXPECT_EQ(step(), GELSIM_OK);
#ifdef GELSIM_CHECKED
    // Something that was never an object, and a released event.
    int notAnObject[8] = {};
    answer.result = notAnObject;
    EXPECT_EQ(step(), GELSIM_ERROR);
    GelsimColEvent* gone = gelsim_ColEventCreate(gelsim_AdvBodyMassGet(body, 0), nullptr, 0, 0, 0);
    gelsim_colevent_release(gone);
    answer.result = gone;
    EXPECT_EQ(step(), GELSIM_ERROR);
#endif
    EXPECT_EQ(gelsim_event_hook_remove(callback, &answer), 1);
    gelsim_ColEventFlush();
    gelsim_colevent_release(own);
    gelsim_zone_release(zone);
    gelsim_advbody_release(body);
}

TEST_F(CInterfaceMisuse, APictureOfAWorldFarFromTheOrigin) {
    // At 1e30 a mass's radius, and any fixed margin, is lost in the coordinates' rounding,
    // and masses at both ends of the float range span more than a float holds: the picture
    // still frames them and comes back whole.
    const std::vector<std::vector<float>> scenes = {
        {1e30f, 1e30f, 1e30f, 1e30f}, {-1e30f, 5.0f, -1e30f, 5.0f}, {-3e38f, -3e38f, 3e38f, 3e38f}};
    for (const std::vector<float>& at : scenes) {
        GelsimAdvBody* body = gelsim_AdvBodyCreate();
        for (size_t i = 0; i + 1 < at.size(); i += 2) gelsim_AdvBodyMassAdd(body, at[i], at[i + 1], 1, 5, 0.5f, 1);
        ASSERT_EQ(gelsim_AdvBodyConAddAll(body), GELSIM_OK);  // masses take part once joined
        ASSERT_EQ(gelsim_AdvBodyActivate(body), GELSIM_OK);
        std::vector<uint8_t> png(gelsim_picture_png(64, 48, nullptr, 0));
        ASSERT_GT(png.size(), 8u) << gelsim_last_error();
        EXPECT_EQ(gelsim_picture_png(64, 48, png.data(), png.size()), png.size());
        EXPECT_EQ(gelsim_AdvBodyFree(body), GELSIM_OK);
        gelsim_advbody_release(body);
    }
}

}  // namespace
}  // namespace kin::gelsim::test
