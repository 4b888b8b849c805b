// The hand-written part of the C interface: errors, object handles, lists, the
// collision-event hook, switching worlds and world states. The 302 procedural functions are generated
// (CRows.cpp).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "gelsim/capi/CTypes.h"
#include "gelsim/capi/Support.h"
#include "gelsim/state/WorldState.h"
#include "platform/Hook.h"

namespace kin::gelsim::capi {

void FailWith(const char* message) noexcept {
    tError.failed = true;
    const size_t n = std::min(std::strlen(message), sizeof tError.message - 1);
    std::memcpy(tError.message, message, n);
    tError.message[n] = '\0';
}

namespace {

// Records "what (fn)" as the current call's failure.
bool Refuse(const char* fn, const char* what) noexcept {
    tError.failed = true;
    std::snprintf(tError.message, sizeof tError.message, "%s (%s)", what, fn);
    return false;
}

// The C kind of a live object: the most derived kind it is (kinds are listed with a
// derived kind after its base), or GelsimObject for an object of no other kind.
const char* KindName(TObject* o) noexcept {
    const char* name = "a GelsimObject";
#define GELSIM_C_KIND_NAME(Name, lower, Cxx) \
    if (As<Cxx>(o)) name = "a Gelsim" #Name;
    GELSIM_C_KINDS(GELSIM_C_KIND_NAME)
#undef GELSIM_C_KIND_NAME
    return name;
}

}  // namespace

// Records the exception being handled as the failure of fn: "what (fn)". A long message is
// cut before the function's name rather than the name cut off. Call only from a catch block.
void FailIn(const char* fn) noexcept {
    const char* what = "unknown error";
    try {
        throw;
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
    }
    const size_t room = sizeof tError.message - std::strlen(fn) - 4;  // " (", ")" and the NUL
    const int keep = static_cast<int>(std::min(std::strlen(what), room));
    tError.failed = true;
    std::snprintf(tError.message, sizeof tError.message, "%.*s (%s)", keep, what, fn);
}

// True when data may be followed for size bytes: NULL only with a size of 0 (an empty
// state, which the reader refuses as damaged).
bool HasBytes(const void* data, size_t size, const char* fn) noexcept {
    return data || !size || Refuse(fn, "data is NULL with a non-zero size");
}

bool RefuseNull(const char* fn, const char* param) noexcept {
    char what[96];
    std::snprintf(what, sizeof what, "%s is NULL", param);
    return Refuse(fn, what);
}

bool RefuseDead(const char* fn, const char* param) noexcept {
    char what[128];
    std::snprintf(what, sizeof what, "%s is not a live object: released, freed or never made", param);
    return Refuse(fn, what);
}

bool RefuseKind(const char* fn, const char* param, const char* kind, TObject* o) noexcept {
    char what[192];
    std::snprintf(what, sizeof what, "%s is %s, not a %s", param, KindName(o), kind);
    return Refuse(fn, what);
}

bool RefuseNoWorld(const char* fn) noexcept { return Refuse(fn, "no current world"); }

int32_t RefusedByWorld(int32_t answer, const char* what, const char* fn) noexcept {
    if (answer >= 0) return Done(GELSIM_OK);
    Refuse(fn, what);
    return GELSIM_ERROR;
}

void ThrowCallbackFault(const char* fn) {
    char what[256];
    std::snprintf(what, sizeof what,
                  "an event callback returned something other than NULL, its event or a live event; "
                  "the event was passed on unchanged (%s)",
                  fn);
    throw std::runtime_error(what);
}

void Fail() noexcept {
    try {
        throw;
    } catch (const std::exception& e) {
        FailWith(e.what());
    } catch (...) {
        FailWith("unknown error");
    }
}

std::string Str(const char* p, size_t n) {
    if (!p && n) throw std::invalid_argument("null string with a non-zero length");
    return n ? std::string(p, n) : std::string();
}

std::vector<float> Floats(const float* p, size_t n) {
    if (!p && n) throw std::invalid_argument("null array with a non-zero count");
    return n ? std::vector<float>(p, p + n) : std::vector<float>();
}

size_t CopyOut(const std::string& s, char* buf, size_t size) noexcept {
    if (buf && size) {
        const size_t n = std::min(s.size(), size - 1);
        std::memcpy(buf, s.data(), n);
        buf[n] = '\0';
    }
    return s.size();
}

size_t CopyOut(const std::vector<float>& v, float* buf, size_t count) noexcept {
    if (buf) std::copy_n(v.begin(), std::min(v.size(), count), buf);
    return v.size();
}

TZoneResponse ZoneResponse(GelsimZoneResponse fn) noexcept { return reinterpret_cast<TZoneResponse>(fn); }

namespace {

// A C callback on a world's collision-event hook: its function and user pointer, carried
// as the hook entry's context. The hook holds the only reference, so the callback lives
// exactly as long as its entry: until it is removed or its world ends.
class TCEventHook final : public TObject {
public:
    TCEventHook(GelsimEventCallback f, void* u, int32_t h);
    ~TCEventHook() override;
    GelsimEventCallback fn;
    void* user;
    int32_t hook;  // the id of the world's hook it was added to; ids are never reused
};

// Every C callback alive, oldest first, to find an entry's context again when it is
// removed. Entries are uncounted: a callback leaves the list when it ends, which is when
// its world's hook lets go of it, so a world that ends takes its callbacks with it. Worlds
// stepped by different threads add and end callbacks at the same time, hence the lock; it
// is never held while a hook runs or a callback ends.
struct CHookList {
    std::mutex lock;
    std::vector<TCEventHook*> hooks;
};
CHookList& CHooks() {
    static CHookList* list = new CHookList;  // never destroyed: worlds may end after exit starts
    return *list;
}

TCEventHook::TCEventHook(GelsimEventCallback f, void* u, int32_t h) : fn(f), user(u), hook(h) {
    CHookList& l = CHooks();
    const std::lock_guard<std::mutex> guard(l.lock);
    l.hooks.push_back(this);
}

TCEventHook::~TCEventHook() {
    CHookList& l = CHooks();
    const std::lock_guard<std::mutex> guard(l.lock);
    l.hooks.erase(std::find(l.hooks.begin(), l.hooks.end(), this));
}

// The first callback added with fn and user to hook, held for the caller, or null.
Ref<TCEventHook> FindCHook(int32_t hook, GelsimEventCallback fn, void* user) {
    CHookList& l = CHooks();
    const std::lock_guard<std::mutex> guard(l.lock);
    for (TCEventHook* h : l.hooks)
        if (h->hook == hook && h->fn == fn && h->user == user) return Ref<TCEventHook>(h);
    return {};
}

// The hook entry of every C callback: hands the event over and takes back the one to pass
// on (borrowed). C code raises nothing, and nothing here raises. A result that is not NULL,
// the event itself or a live event is refused before it is followed any further than its
// kind (its liveness too in checked builds): the event passes on unchanged and the call
// that ran the callback fails (tCallbackFaults).
Ref<TObject> RunCEventHook(int32_t, TObject* data, TObject* context) noexcept {
    const auto* h = static_cast<const TCEventHook*>(context);
    TColEvent* event = As<TColEvent>(data);
    if (!event) return data;  // not an event: a program's own data on the hook
    GelsimColEvent* out = h->fn(reinterpret_cast<GelsimColEvent*>(Borrow(event)), h->user);
    TObject* o = reinterpret_cast<TObject*>(out);
    if (o && o != data && !(IsLive(o) && IsKind<TColEvent>(o))) {
        ++tCallbackFaults;
        return data;
    }
    return Ref<TObject>(o);
}

}  // namespace

}  // namespace kin::gelsim::capi

using namespace kin;
using namespace kin::gelsim;
using namespace kin::gelsim::capi;

extern "C" {

const char* gelsim_last_error(void) GELSIM_NOEXCEPT { return tError.failed ? tError.message : nullptr; }

// Handles of every kind: retain, release (NULL: nothing, as free does), checked cast from
// an object handle.
#define GELSIM_C_KIND_FUNCTIONS(Name, lower, Cxx)                                                \
    void gelsim_##lower##_retain(Gelsim##Name* obj) GELSIM_NOEXCEPT {                            \
        Enter();                                                                                 \
        if (obj && Check<Cxx>(obj, false, "gelsim_" #lower "_retain", "obj"))                    \
            reinterpret_cast<TObject*>(obj)->Retain();                                           \
    }                                                                                            \
    void gelsim_##lower##_release(Gelsim##Name* obj) GELSIM_NOEXCEPT {                           \
        Enter();                                                                                 \
        if (obj && Check<Cxx>(obj, false, "gelsim_" #lower "_release", "obj"))                   \
            reinterpret_cast<TObject*>(obj)->Release();                                          \
    }                                                                                            \
    Gelsim##Name* gelsim_object_as_##lower(GelsimObject* obj) GELSIM_NOEXCEPT {                  \
        Enter();                                                                                 \
        if (!Check<TObject>(obj, true, "gelsim_object_as_" #lower, "obj")) return nullptr;       \
        return reinterpret_cast<Gelsim##Name*>(Borrow(As<Cxx>(reinterpret_cast<TObject*>(obj)))); \
    }
GELSIM_C_KINDS(GELSIM_C_KIND_FUNCTIONS)

int32_t gelsim_object_refcount(GelsimObject* obj) GELSIM_NOEXCEPT {
    Enter();
    if (!Check<TObject>(obj, true, "gelsim_object_refcount", "obj")) return 0;
    return reinterpret_cast<TObject*>(obj)->RefCount();
}

int32_t gelsim_list_count(GelsimList* list) GELSIM_NOEXCEPT {
    Enter();
    if (!Check<TList>(list, true, "gelsim_list_count", "list")) return 0;
    return In<TList>(list)->Count();
}

size_t gelsim_list_items(GelsimList* list, GelsimObject** buf, size_t buf_count) GELSIM_NOEXCEPT {
    Enter();
    if (!Check<TList>(list, true, "gelsim_list_items", "list")) return 0;
    size_t n = 0;
    for (TObject* o : *In<TList>(list)) {
        if (buf && n < buf_count) buf[n] = reinterpret_cast<GelsimObject*>(o);
        ++n;
    }
    return n;
}

int32_t gelsim_event_hook_add(GelsimEventCallback fn, void* user, int32_t priority) GELSIM_NOEXCEPT {
    Enter();
    if (!fn) {
        FailWith("null event callback");
        return GELSIM_ERROR;
    }
    if (!HasWorld("gelsim_event_hook_add")) return GELSIM_ERROR;
    try {
        const int32_t hook = TColEvent::EventHook();
        if (hook == 0) throw std::runtime_error("no event hook could be made for the world (gelsim_event_hook_add)");
        const Ref<TCEventHook> h = MakeRef<TCEventHook>(fn, user, hook);
        AddHook(hook, &RunCEventHook, h.Get(), priority);
        return GELSIM_OK;
    } catch (...) {
        Fail();
        return GELSIM_ERROR;
    }
}

int32_t gelsim_event_hook_remove(GelsimEventCallback fn, void* user) GELSIM_NOEXCEPT {
    Enter();
    if (!HasWorld("gelsim_event_hook_remove")) return GELSIM_ERROR;
    try {
        const int32_t hook = TColEvent::EventHook();
        const Ref<TCEventHook> h = FindCHook(hook, fn, user);
        return h && RemoveHook(hook, &RunCEventHook, h.Get()) ? 1 : 0;
    } catch (...) {
        Fail();
        return GELSIM_ERROR;
    }
}

// --- worlds ---------------------------------------------------------------------------------

int32_t gelsim_physics_set_current(GelsimPhysics* w) GELSIM_NOEXCEPT {
    Enter();
    if (!Check<TPhysics>(w, false, "gelsim_physics_set_current", "w")) return GELSIM_ERROR;
    TPhysics::SetCurrent(In<TPhysics>(w));
    return GELSIM_OK;
}

GelsimPhysics* gelsim_physics_current(void) GELSIM_NOEXCEPT {
    Enter();
    return reinterpret_cast<GelsimPhysics*>(Borrow(TPhysics::currentWorld.Get()));
}

int32_t gelsim_physics_step(GelsimPhysics* w, int32_t n) GELSIM_NOEXCEPT {
    Enter();
    if (!Check<TPhysics>(w, true, "gelsim_physics_step", "w")) return GELSIM_ERROR;
    const uint32_t faults = tCallbackFaults;
    try {
        // Held for the call: a callback may make another world current, which must not end
        // the one being stepped when the caller's handle was borrowed.
        const Ref<TPhysics> world(In<TPhysics>(w));
        return Done(Watched(world->Step(n), faults, "gelsim_physics_step"));
    } catch (...) {
        Fail();
        return GELSIM_ERROR;
    }
}

// --- world states ---------------------------------------------------------------------------

size_t gelsim_physics_save_state(GelsimPhysics* w, int32_t with_zones, void* buf, size_t buf_size) GELSIM_NOEXCEPT {
    Enter();
    if (!Check<TPhysics>(w, true, "gelsim_physics_save_state", "w")) return 0;
    try {
        const std::vector<uint8_t> state = SaveState(*In<TPhysics>(w), with_zones != 0);
        // A state cut to fit would be of no use: a buffer too small is left alone, as the
        // picture functions do, and the size tells the caller how much to give.
        if (buf && buf_size >= state.size()) std::memcpy(buf, state.data(), state.size());
        return Done(state.size());
    } catch (...) {
        FailIn("gelsim_physics_save_state");
        return 0;
    }
}

GelsimPhysics* gelsim_physics_load_state(const void* data, size_t size, GelsimPhysics* zones_from) GELSIM_NOEXCEPT {
    Enter();
    if (!Check<TPhysics>(zones_from, false, "gelsim_physics_load_state", "zones_from")) return nullptr;
    if (!HasBytes(data, size, "gelsim_physics_load_state")) return nullptr;
    try {
        Ref<TPhysics> world = LoadState(static_cast<const uint8_t*>(data), size, In<TPhysics>(zones_from));
        return reinterpret_cast<GelsimPhysics*>(Done(Own(std::move(world))));
    } catch (...) {
        FailIn("gelsim_physics_load_state");
        return nullptr;
    }
}

int32_t gelsim_physics_restore_state(GelsimPhysics* w, const void* data, size_t size) GELSIM_NOEXCEPT {
    Enter();
    if (!Check<TPhysics>(w, true, "gelsim_physics_restore_state", "w")) return GELSIM_ERROR;
    if (!HasBytes(data, size, "gelsim_physics_restore_state")) return GELSIM_ERROR;
    try {
        RestoreState(*In<TPhysics>(w), static_cast<const uint8_t*>(data), size);
        return Done(GELSIM_OK);
    } catch (...) {
        FailIn("gelsim_physics_restore_state");
        return GELSIM_ERROR;
    }
}

}  // extern "C"
