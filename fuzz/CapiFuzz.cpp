// The C interface driven the way a careless C program drives it: the input is a sequence of
// calls, each one of the 302 procedural functions or of the handle, list, event-hook,
// world-state and picture functions, with arguments made from the input's bytes: any floats,
// small and random indices, strings that name files of fuzzed bytes in a scratch folder
// (bodies, zones and images are loaded from them, bodies and zones saved to them), NULL
// strings with a length, caller buffers of any size, world states saved and damaged, and
// handles that are live, NULL, of another kind, and in checked builds released or never
// made. Nothing may crash, leak or reach undefined behaviour, and:
//   - a call that acts returns GELSIM_ERROR exactly when gelsim_last_error() has a message;
//   - a call that answers and failed returns its "nothing" answer;
//   - a call given NULL for the object it acts on, a handle of another kind, or in checked
//     builds a pointer that was never a handle, or a world function called without a
//     world, is refused: its failure value and a message.
// The harness owns one reference to every handle it keeps (borrowed results are retained),
// so outside checked builds it never hands the interface a dangling handle.
#include <fuzzer/FuzzedDataProvider.h>
#include <gelsim.h>
#include <gelsim_picture.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "Harness.h"
#include "Values.h"
#include "gelsim/bodies/Procedural.h"
#include "gelsim/capi/CTypes.h"
#include "gelsim/capi/CallTraits.h"

using kin::fuzz::Require;

namespace {

#define CF_KIND_ENUM(Name, lower, Cxx) k##Name,
enum KindIx { GELSIM_C_KINDS(CF_KIND_ENUM) kKinds };

template <class H>
struct KindOf;
#define CF_KIND_OF(Name, lower, Cxx)                    \
    template <>                                         \
    struct KindOf<Gelsim##Name> {                       \
        static constexpr int value = k##Name;           \
    };
GELSIM_C_KINDS(CF_KIND_OF)

// Per kind: the checked cast from an object, and release.
#define CF_KIND_AS(Name, lower, Cxx) \
    [](GelsimObject* o) { return reinterpret_cast<GelsimObject*>(gelsim_object_as_##lower(o)); },
GelsimObject* (*const kAs[kKinds])(GelsimObject*) = {GELSIM_C_KINDS(CF_KIND_AS)};
#define CF_KIND_RETAIN(Name, lower, Cxx) [](GelsimObject* o) { gelsim_##lower##_retain(reinterpret_cast<Gelsim##Name*>(o)); },
#define CF_KIND_RELEASE(Name, lower, Cxx) [](GelsimObject* o) { gelsim_##lower##_release(reinterpret_cast<Gelsim##Name*>(o)); },
void (*const kRetain[kKinds])(GelsimObject*) = {GELSIM_C_KINDS(CF_KIND_RETAIN)};
void (*const kRelease[kKinds])(GelsimObject*) = {GELSIM_C_KINDS(CF_KIND_RELEASE)};

enum Tag { GOOD, NUL, FOREIGN, DEAD, BOGUS };

// One input's state.
struct Ctx {
    FuzzedDataProvider& in;
    std::vector<GelsimObject*> pool[kKinds];  // one reference each, owned here
    std::vector<GelsimObject*> dead;           // released by the harness (checked builds use them)
    size_t pendingLen = 0;                     // the length that goes with the latest pointer
    bool mustRefuse = false;                   // an argument the call has to refuse
    bool firstIsOwn = false;                   // the next argument is the object acted on
    std::vector<std::string> strings;          // keeps the strings of the current call alive
    std::vector<std::vector<char>> buffers;
    int32_t ints[8] = {};
    float floats[32] = {};
    alignas(16) unsigned char bogus[64] = {};  // never an object

    explicit Ctx(FuzzedDataProvider& p) : in(p) {}

    float AnyFloat() { return kin::fuzz::AnyFloat(in); }
    int32_t AnyInt() {
        switch (in.ConsumeIntegralInRange<int>(0, 15)) {
            case 0: return in.ConsumeIntegral<int32_t>();
            case 1: return in.ConsumeBool() ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
            case 2: return -1;
            default: return in.ConsumeIntegralInRange<int32_t>(0, 6);
        }
    }
    std::string TempDir() const;
    // A name in the scratch folder, whatever the string is used for: saving to any other name
    // ("" or "x" in the current folder) would leave files behind.
    std::string AnyString() {
        switch (in.ConsumeIntegralInRange<int>(0, 5)) {
            case 0: return TempDir();  // a folder: nothing can be written or read there
            case 1: return TempDir() + "/picture.png";  // a picture the run saved, or nothing
            default: {
                // A file in the scratch folder; a name made of the input's bytes has no '/'.
                std::string name = in.ConsumeRandomLengthString(12);
                for (char& ch : name)
                    if (ch == '/' || ch == '\0') ch = '_';
                if (name.empty() || name[0] == '.') name = "f" + name;
                return TempDir() + "/" + name;
            }
        }
    }
    // A handle for a parameter of kind k.
    GelsimObject* AnyHandle(int k, bool own) {
        int choice = in.ConsumeIntegralInRange<int>(0, 11);
#ifndef GELSIM_CHECKED
        if (choice >= 10) choice = 0;  // a dangling handle is undefined behaviour here
#endif
        if (choice == 9) {
            if (own) mustRefuse = true;
            return nullptr;
        }
        if (choice == 10 && !dead.empty()) return dead[in.ConsumeIntegralInRange<size_t>(0, dead.size() - 1)];
        if (choice == 11) {
            mustRefuse = true;
            return reinterpret_cast<GelsimObject*>(bogus + 16);
        }
        // A live handle: of the kind (or one derived from it) mostly, of any kind sometimes.
        std::vector<GelsimObject*> fits;
        for (int j = 0; j < kKinds; ++j)
            for (GelsimObject* o : pool[j])
                if (choice >= 7 || kAs[k](o)) fits.push_back(o);
        if (fits.empty()) {
            if (own) mustRefuse = true;
            return nullptr;
        }
        GelsimObject* o = fits[in.ConsumeIntegralInRange<size_t>(0, fits.size() - 1)];
        if (!kAs[k](o)) mustRefuse = true;  // of another kind
        return o;
    }
    void Keep(int k, GelsimObject* o) {
        pool[k].push_back(o);
        if (pool[k].size() > 24) {
            Drop(pool[k].front());
            pool[k].erase(pool[k].begin());
        }
    }
    void Drop(GelsimObject* o) {
        gelsim_object_release(o);
        Require(gelsim_last_error() == nullptr, "releasing an owned handle failed");
#ifdef GELSIM_CHECKED
        dead.push_back(o);
        if (dead.size() > 64) dead.erase(dead.begin());
#endif
    }
};

std::string Ctx::TempDir() const {
    static const std::string dir = [] {
        std::string t = (std::filesystem::temp_directory_path() / "gelsim-capi-fuzz-XXXXXX").string();
        Require(mkdtemp(t.data()) != nullptr, "no scratch folder");
        static const std::string kept = t;
        std::atexit([] { std::filesystem::remove_all(kept); });
        return t;
    }();
    return dir;
}

// --- arguments ----------------------------------------------------------------------------
template <class P>
struct Gen;
template <>
struct Gen<float> {
    static float Make(Ctx& c, bool) { return c.AnyFloat(); }
};
template <>
struct Gen<int32_t> {
    static int32_t Make(Ctx& c, bool) { return c.AnyInt(); }
};
template <>
struct Gen<size_t> {  // the length or count of the pointer before it
    static size_t Make(Ctx& c, bool) { return c.pendingLen; }
};
template <>
struct Gen<const char*> {
    static const char* Make(Ctx& c, bool) {
        if (c.in.ConsumeIntegralInRange<int>(0, 15) == 0) {  // NULL with a length: refused
            // (NULL with no length is "", which would save ".plb" into the current folder.)
            c.pendingLen = c.in.ConsumeIntegralInRange<size_t>(1, 3);
            c.mustRefuse = true;
            return nullptr;
        }
        c.strings.push_back(c.AnyString());
        c.pendingLen = c.strings.back().size();
        return c.strings.back().data();
    }
};
template <>
struct Gen<char*> {  // a string result's buffer
    static char* Make(Ctx& c, bool) {
        c.pendingLen = c.in.ConsumeIntegralInRange<size_t>(0, 40);
        if (c.pendingLen == 0 && c.in.ConsumeBool()) return nullptr;
        c.buffers.emplace_back(c.pendingLen + 1);
        return c.buffers.back().data();
    }
};
template <>
struct Gen<const float*> {
    static const float* Make(Ctx& c, bool) {
        const size_t n = c.in.ConsumeIntegralInRange<size_t>(0, 32);
        for (size_t i = 0; i < n; ++i) c.floats[i] = c.AnyFloat();
        c.pendingLen = n;
        return n || c.in.ConsumeBool() ? c.floats : nullptr;
    }
};
template <>
struct Gen<float*> {  // an out-parameter or an array result's buffer
    static float* Make(Ctx& c, bool) {
        c.pendingLen = c.in.ConsumeIntegralInRange<size_t>(0, 32);
        return c.in.ConsumeIntegralInRange<int>(0, 4) ? c.floats : nullptr;
    }
};
template <>
struct Gen<int32_t*> {
    static int32_t* Make(Ctx& c, bool) { return c.in.ConsumeIntegralInRange<int>(0, 4) ? c.ints : nullptr; }
};
int32_t Respond(GelsimZone* zone, GelsimMass* mass, float nx, float ny, float depth) {
    (void)gelsim_ZoneGetFriction(zone);
    return gelsim_MassMove(mass, nx * depth, ny * depth);
}
template <>
struct Gen<GelsimZoneResponse> {
    static GelsimZoneResponse Make(Ctx& c, bool) { return c.in.ConsumeBool() ? &Respond : nullptr; }
};
template <class H>
struct Gen<H*> {  // a handle
    static H* Make(Ctx& c, bool own) { return reinterpret_cast<H*>(c.AnyHandle(KindOf<H>::value, own)); }
};

// The next argument: the first one is the object the call acts on when the call has one.
template <class P>
P Arg(Ctx& c) {
    const bool own = c.firstIsOwn;
    c.firstIsOwn = false;
    return Gen<P>::Make(c, own);
}

// --- one call -------------------------------------------------------------------------------
template <class T>
struct IsRef : std::false_type {};
template <class T>
struct IsRef<kin::Ref<T>> : std::true_type {};

// Calls fn with arguments made from the input and checks its result. own: the first
// parameter is the object the call acts on; status: the result only says done or failed;
// made: an object result is a new reference (else borrowed); world: it needs a world.
template <class R, class... P>
void Invoke(Ctx& c, R (*fn)(P...) noexcept, R failure, bool own, bool status, bool made, bool world) {
    c.mustRefuse = world && !kin::gelsim::TPhysics::currentWorld;
    c.strings.clear();
    c.strings.reserve(4);  // the pointers handed out stay valid
    c.buffers.clear();
    c.buffers.reserve(4);
    c.firstIsOwn = own;
    std::tuple<P...> args{Arg<P>(c)...};  // braces: read left to right
    const R r = std::apply(fn, args);
    const char* error = gelsim_last_error();
    if (c.mustRefuse) Require(r == failure && error != nullptr, "a caller's mistake was not refused");
    if constexpr (std::is_same_v<R, int32_t>) {
        if (status) Require((r == GELSIM_ERROR) == (error != nullptr), "a status and the message disagree");
    } else {
        (void)status;
    }
    if (error) Require(r == failure, "a failed call answered something");
    if constexpr (std::is_pointer_v<R>) {
        if (r) {
            auto* o = reinterpret_cast<GelsimObject*>(r);
            if (!made) gelsim_object_retain(o);
            c.Keep(KindOf<std::remove_pointer_t<R>>::value, o);
        }
    }
}

using kin::gelsim::capi::FailureOf;
using kin::gelsim::capi::OwnFirst;
template <class F>
struct CxxResult;
template <class R, class... P>
struct CxxResult<R (*)(P...)> {
    using type = R;
};

struct GelsimWorld;  // the world's second names have no handle kind of their own

using namespace kin;
using namespace kin::gelsim;

#define CF_CALL(Type, Op, Failure, Status, CxxRet)                                                        \
    [](Ctx& c) {                                                                                          \
        constexpr std::string_view op = #Op;                                                              \
        Invoke(c, &::gelsim_##Type##Op, Failure, OwnFirst<decltype(&::gelsim_##Type##Op), Gelsim##Type>::value, \
               Status && op != "ImageAdd" && op != "ImageReplace", IsRef<CxxRet>::value,                   \
               (std::string_view(#Type) == "Physics" || std::string_view(#Type) == "World") && op != "Create"); \
    },
#define CF_FN(Type, Op, Ret, Params, Args) CF_CALL(Type, Op, {}, false, Ret)
#define CF_FZ(Type, Op, Params, Args) CF_CALL(Type, Op, GELSIM_ERROR, true, int32_t)
#define CF_GET(Type, Op, Ret, Null, Params, Args) CF_CALL(Type, Op, Null, false, Ret)
#define CF_DO(Type, Op, Params, Args) CF_CALL(Type, Op, GELSIM_ERROR, true, int32_t)
#define CF_HAND(Type, Op)                                                                        \
    CF_CALL(Type, Op, FailureOf(&::gelsim_##Type##Op),                                           \
            (std::is_same_v<decltype(FailureOf(&::gelsim_##Type##Op)), int32_t>),                \
            CxxResult<decltype(&Gel##Type##Op)>::type)

void (*const kRows[])(Ctx&) = {GELSIM_PROC_ROWS(CF_FN, CF_FZ, CF_GET, CF_DO, CF_HAND)};
static_assert(std::size(kRows) == GELSIM_FUNCTION_COUNT);

// --- the event hook ------------------------------------------------------------------------------
// What a callback returns, set by the input: its event, NULL, another live event, an object
// of another kind, and in checked builds something that was never an object.
struct Answer {
    Ctx* c = nullptr;
    int mode = 0;
};
Answer gAnswers[4];

GelsimColEvent* Callback(GelsimColEvent* event, void* user) {
    auto* a = static_cast<Answer*>(user);
    Ctx& c = *a->c;
    (void)gelsim_ColEventGetForce(event);
    switch (a->mode) {
        case 1: return nullptr;
        case 2: return c.pool[kColEvent].empty() ? event : reinterpret_cast<GelsimColEvent*>(c.pool[kColEvent][0]);
        case 3: return c.pool[kMass].empty() ? event : reinterpret_cast<GelsimColEvent*>(c.pool[kMass][0]);
#ifdef GELSIM_CHECKED
        case 4: return reinterpret_cast<GelsimColEvent*>(c.bogus + 16);
        case 5: return c.dead.empty() ? event : reinterpret_cast<GelsimColEvent*>(c.dead.back());
#endif
        default: return event;
    }
}

void Other(Ctx& c) {
    switch (c.in.ConsumeIntegralInRange<int>(0, 9)) {
        case 0: {  // a file of fuzzed bytes, to be loaded
            const std::string path = c.AnyString();
            const std::string bytes = c.in.ConsumeRandomLengthString(4096);
            if (path != c.TempDir()) std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
            break;
        }
        case 1: {  // the harness gives a handle back
            const int k = c.in.ConsumeIntegralInRange<int>(0, kKinds - 1);
            if (c.pool[k].empty()) break;
            const size_t at = c.in.ConsumeIntegralInRange<size_t>(0, c.pool[k].size() - 1);
            c.Drop(c.pool[k][at]);
            c.pool[k].erase(c.pool[k].begin() + static_cast<std::ptrdiff_t>(at));
            break;
        }
        case 2: {  // retain and release through a kind's functions, with any handle
            c.mustRefuse = false;
            const int k = c.in.ConsumeIntegralInRange<int>(0, kKinds - 1);
            GelsimObject* o = c.AnyHandle(k, false);
            kRetain[k](o);
            const bool ok = gelsim_last_error() == nullptr;
            if (c.mustRefuse) Require(!ok, "retaining a bad handle was not refused");
            if (ok) kRelease[k](o);
            Require(gelsim_last_error() == nullptr || !ok, "a release after a retain failed");
            break;
        }
        case 3: {  // checked casts and reference counts
            c.mustRefuse = false;
            GelsimObject* o = c.AnyHandle(kObject, true);
            const int k = c.in.ConsumeIntegralInRange<int>(0, kKinds - 1);
            GelsimObject* as = kAs[k](o);
            Require(!as || as == o, "a cast moved the handle");
            const int32_t refs = gelsim_object_refcount(o);
            if (c.mustRefuse) Require(refs == 0 && gelsim_last_error(), "a bad handle's count was not refused");
            break;
        }
        case 4: {  // lists
            c.mustRefuse = false;
            auto* list = reinterpret_cast<GelsimList*>(c.AnyHandle(kList, true));
            const int32_t n = gelsim_list_count(list);
            GelsimObject* items[8];
            const size_t m = gelsim_list_items(list, c.in.ConsumeBool() ? items : nullptr, 8);
            if (c.mustRefuse) Require(n == 0 && m == 0 && gelsim_last_error(), "a bad list was not refused");
            else Require(static_cast<size_t>(n) == m, "a list's count and items disagree");
            break;
        }
        case 5: {  // a callback on the event hook, or one taken off
            Answer& a = gAnswers[c.in.ConsumeIntegralInRange<size_t>(0, std::size(gAnswers) - 1)];
            a.c = &c;
            a.mode = c.in.ConsumeIntegralInRange<int>(0, 5);
            if (c.in.ConsumeBool()) {
                // Callbacks go on the current world's hook: without a world there is none.
                const bool world = kin::gelsim::TPhysics::currentWorld.Get() != nullptr;
                const int32_t r = gelsim_event_hook_add(&Callback, &a, c.in.ConsumeIntegralInRange<int32_t>(-2, 2));
                Require(r == (world ? GELSIM_OK : GELSIM_ERROR), "adding a callback failed, or succeeded without a world");
            } else
                gelsim_event_hook_remove(&Callback, &a);
            break;
        }
        case 6: {  // a picture of the world
            const int32_t w = c.in.ConsumeIntegralInRange<int32_t>(-1, 48), h = c.in.ConsumeIntegralInRange<int32_t>(-1, 48);
            std::vector<uint8_t> png(c.in.ConsumeIntegralInRange<size_t>(0, 4096));
            const size_t n = gelsim_picture_png(w, h, png.data(), png.size());
            Require((n == 0) == (gelsim_last_error() != nullptr), "a picture's size and the message disagree");
            const std::string path = c.TempDir() + "/picture.png";  // an image for ImageAdd
            const int32_t saved = gelsim_picture_save(path.data(), path.size(), w, h);
            Require((saved == GELSIM_ERROR) == (gelsim_last_error() != nullptr), "a save's status and message disagree");
            break;
        }
        case 7: {  // a world's state saved, maybe damaged, then loaded as a new world or put back
            c.mustRefuse = false;
            auto* w = reinterpret_cast<GelsimPhysics*>(c.AnyHandle(kPhysics, true));
            const int32_t withZones = c.in.ConsumeBool();
            std::vector<uint8_t> state(c.in.ConsumeIntegralInRange<size_t>(0, 4096));
            size_t n = gelsim_physics_save_state(w, withZones, state.empty() ? nullptr : state.data(), state.size());
            Require((n == 0) == (gelsim_last_error() != nullptr), "a state's size and the message disagree");
            if (c.mustRefuse) Require(n == 0, "a bad world's state was saved");
            if (n > state.size() && c.in.ConsumeBool()) {  // the size asked first, then the state
                state.resize(n);
                n = gelsim_physics_save_state(w, withZones, state.data(), state.size());
                Require(n == state.size(), "a state changed size between two saves");
            }
            if (n < state.size()) state.resize(n);
            for (int k = c.in.ConsumeIntegralInRange<int>(0, 3); k > 0 && !state.empty(); --k)
                state[c.in.ConsumeIntegralInRange<size_t>(0, state.size() - 1)] ^= c.in.ConsumeIntegral<uint8_t>();
            if (c.in.ConsumeBool()) state.resize(c.in.ConsumeIntegralInRange<size_t>(0, state.size()));
            c.mustRefuse = false;
            if (c.in.ConsumeBool()) {
                auto* from = reinterpret_cast<GelsimPhysics*>(c.AnyHandle(kPhysics, false));
                GelsimPhysics* made = gelsim_physics_load_state(state.data(), state.size(), from);
                Require((made == nullptr) == (gelsim_last_error() != nullptr),
                        "a load's world and the message disagree");
                if (c.mustRefuse) Require(made == nullptr, "a load took zones from something not a world");
                if (made) c.Keep(kPhysics, reinterpret_cast<GelsimObject*>(made));
            } else {
                auto* into = reinterpret_cast<GelsimPhysics*>(c.AnyHandle(kPhysics, true));
                const int32_t r = gelsim_physics_restore_state(into, state.data(), state.size());
                Require((r == GELSIM_ERROR) == (gelsim_last_error() != nullptr),
                        "a restore's status and message disagree");
                if (c.mustRefuse) Require(r == GELSIM_ERROR, "a restore into something not a world");
            }
            break;
        }
        default: {  // a few steps
            for (int k = c.in.ConsumeIntegralInRange<int>(1, 4); k > 0; --k) {
                const int32_t r = gelsim_PhysicsUpdate();
                Require((r == GELSIM_ERROR) == (gelsim_last_error() != nullptr), "a step's status and message disagree");
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Ctx c(in);
    gelsim_ColEventSetMode(GELSIM_EVENT_UPDATE);
    // Usually a world to begin with; the world functions without one are part of the run.
    if (in.ConsumeIntegralInRange<int>(0, 7)) {
        GelsimPhysics* w = gelsim_PhysicsCreate(1024, 768, 0.1f, 0, 2);
        Require(w != nullptr, "no world");
        c.Keep(kPhysics, reinterpret_cast<GelsimObject*>(w));
    }
    for (int calls = 0; calls < 200 && in.remaining_bytes() > 0; ++calls) {
        if (in.ConsumeIntegralInRange<int>(0, 4))
            kRows[in.ConsumeIntegralInRange<size_t>(0, std::size(kRows) - 1)](c);
        else
            Other(c);
        // Any number of passes is the program's to ask for, but a step of a billion passes
        // only makes the run slow.
        if (kin::gelsim::TPhysics* w = kin::gelsim::TPhysics::currentWorld.Get(); w && w->i > 4) w->i = 4;
    }
    // Everything back: callbacks off, the queue empty, the world gone, the handles released.
    for (Answer& a : gAnswers)
        while (gelsim_event_hook_remove(&Callback, &a) == 1) {}
    gelsim_ColEventFlush();
    if (kin::gelsim::TPhysics::currentWorld) Require(gelsim_PhysicsFree() == GELSIM_OK, "freeing the world failed");
    for (auto& kind : c.pool)
        for (GelsimObject* o : kind) gelsim_object_release(o);
    return 0;
}
