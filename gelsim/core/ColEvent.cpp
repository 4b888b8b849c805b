// Collision events: the hook, the pair-merging queue and the event pool.
//
// Sections: records and the hold list - the pair index - resolving and materialising -
// flush - the public functions (the step's contacts at EmitContact).
//
// Records. Every queued contact is a 32-byte record (objects, point, force, kind) in one
// array; records[0, resolved) hold one record per pair in the order of each pair's first
// contact, and with a read position they are also the queue. An event object stands
// behind a record only when a program can see it: events that came in as objects (Emit,
// Post, a callback that kept or replaced the event it was handed) and records that Poll,
// Peek or Seek handed out. Such a record names its object instead of a point, and the
// object holds the values from then on.
//
// Lazy pairing. As long as no event object stands behind any record, nobody can tell
// whether two contacts of a pair were merged yet, so the step's contacts are simply
// appended (records[resolved, size)) and merged in order when the queue is first read.
// The merge visits them in posting order, so every sum comes out bit for bit the same.
// Once an object exists, each new contact is merged at once, because a program may be
// reading that object's fields.
//
// Scratch event. The callbacks of the step's contacts are handed one reused event object;
// when none of them kept it, replaced it or changed its objects, the contact becomes a
// record and the object's references are dropped at once. A kept scratch event turns
// into an ordinary event and the next contact takes a fresh one from the pool.
//
// Hold list. Records carry raw pointers; every object a record names is retained once in
// the hold list until the next flush, so no record outlives its objects whatever the
// callbacks or the program release meanwhile. A mass remembers its entry in the list, so
// holding it again costs one comparison; other objects (the world, zones) go through a
// two-entry cache.
//
// Pair index. Every pair that involves a mass is chained from one of its masses (the
// lower-addressed one when both are masses): the mass keeps the head, a link beside each
// resolved record the rest. A mass's pairs are mostly queued together, so finding a pair
// reads a few neighbouring records. Pairs without a mass go to a small general map.
#include "gelsim/core/ColEvent.h"

#include <algorithm>
#include <cstdint>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include "gelsim/core/Physics.h"
#include "gelsim/core/Assert.h"
#include "gelsim/core/detail/Contact.h"
#include "gelsim/core/detail/EventQueue.h"
#include "gelsim/core/detail/World.h"
#include "gelsim/core/detail/MassLinks.h"
#include "gelsim/core/detail/Slab.h"
#include "gelsim/core/ZoneBase.h"
#include "platform/Hook.h"

namespace kin::gelsim {

GELSIM_SLAB_DEFINE(TColEvent)

struct ColEventAccess {
    // --- records and the hold list -------------------------------------------------------

    // Tag: kind + 1 in bits 0-2, the merge mode in bit 3, the pair's anchor in bits 4-5,
    // bit 6 when an object stands behind the record.
    static constexpr uint32_t KIND_MASK = 7;
    static constexpr uint32_t REPLACE = 8;
    static constexpr uint32_t ANCHOR_M = 0, ANCHOR_O = 16, ANCHOR_NONE = 32, ANCHOR_MASK = 48;
    static constexpr uint32_t HAS_EVENT = 64;

    using State = detail::EventQueue;
    using Record = detail::Record;
    using PairKey = detail::PairKey;

    // The queue of the calling thread's current world, or null.
    static State* Current() {
        TPhysics* w = TPhysics::currentWorld.Get();
        return w ? &detail::WorldAccess::Events(*w) : nullptr;
    }

    // The queue a mass's contacts go to: its world's, else the current world's.
    static State* QueueOf(TMass* m) {
        if (TPhysics* w = detail::MassAccess::World(m)) return &detail::WorldAccess::Events(*w);
        return Current();
    }

    // An event object in the queue's lists that names the queue's own world does not hold
    // it: the world owns the queue, so a held reference would keep an unused world alive
    // through its own pending events. The reference is counted again when the event
    // leaves the queue while a program still holds it.
    static void Weaken(State& s, TColEvent* e) {
        if (e->weakWorld_ || !s.world || e->obj2.Get() != s.world) return;
        s.world->Release();  // never the last: whoever posts or steps holds the world
        e->weakWorld_ = true;
    }

    static bool IsMass(const TObject* o) { return o && typeid(*o) == typeid(TMass); }

    static bool IsHeld(const State& s, const TMass* m) {
        const auto at = static_cast<size_t>(static_cast<uint32_t>(detail::MassAccess::Links(m).evHold));
        return at < s.hold.size() && s.hold[at] == m;
    }

    [[gnu::always_inline]] static void HoldMass(State& s, TMass* m) {
        if (m && !IsHeld(s, m)) HoldNewMass(s, m);
    }

    [[gnu::noinline]] static void HoldNewMass(State& s, TMass* m) {
        detail::MassAccess::Links(m).evHold = static_cast<int32_t>(s.hold.size());
        detail::MassAccess::Links(m).evHead = -1;  // first record of this mass since the flush: no pairs yet
        m->Retain();
        s.hold.push_back(m);
    }

    static void HoldOther(State& s, TObject* o) {
        // The queue's own world outlives its records (see Weaken).
        if (!o || o == s.heldOther[0] || o == s.heldOther[1] || o == s.world) return;
        s.heldOther[1] = s.heldOther[0];
        s.heldOther[0] = o;
        o->Retain();
        s.hold.push_back(o);
    }

    static void Hold(State& s, TObject* o, bool isMass) {
        if (isMass)
            HoldMass(s, static_cast<TMass*>(o));
        else
            HoldOther(s, o);
    }

    static bool HasEvent(const Record& r) { return (r.tag & HAS_EVENT) != 0; }

    // Anchor bits for (m, o), as every pair of the same two objects gets them.
    static uint32_t AnchorOf(const TMass* m, const TObject* o, bool oIsMass) {
        if (m) return oIsMass && static_cast<const void*>(o) < static_cast<const void*>(m) ? ANCHOR_O : ANCHOR_M;
        return oIsMass ? ANCHOR_O : ANCHOR_NONE;
    }

    // An event with one reference, owned by the caller.
    static TColEvent* Take(State& s) {
        if (s.pool.empty()) {
            TColEvent* e = new TColEvent();
            e->Retain();
            return e;
        }
        TColEvent* e = s.pool.back();
        s.pool.pop_back();
        return e;
    }

    // Gives up the caller's reference; an event that nobody else holds goes back to the
    // pool. Releasing its objects may run destructors that reach back into this module.
    static void Drop(State& s, TColEvent* e) {
        if (e->RefCount() != 1) {
            if (e->weakWorld_) {
                e->weakWorld_ = false;
                if (s.world) s.world->Retain();
            }
            e->Release();
            return;
        }
        if (e->weakWorld_) {
            e->weakWorld_ = false;
            e->obj2.Detach();
        }
        e->obj1 = nullptr;
        e->obj2 = nullptr;
        e->id = 0;
        e->x = e->y = e->force = 0.0f;
        s.pool.push_back(e);
    }

    // --- the pair index -------------------------------------------------------------------

    static PairKey Ordered(const void* a, const void* b) { return b < a ? PairKey{b, a} : PairKey{a, b}; }

    static bool SamePair(const Record& r, const TObject* a, const TObject* b) {
        return (r.m == a && r.o == b) || (r.m == b && r.o == a);
    }

    // Resolved entry of the pair (a, b) chained from `anchor` (held), or -1.
    static int32_t FindChained(const State& s, const TMass* anchor, const TObject* a, const TObject* b) {
        GELSIM_ASSERT(IsHeld(s, anchor));  // its chain head is valid only while it is held
        const auto limit = static_cast<int32_t>(s.resolved);
        for (int32_t at = detail::MassAccess::Links(anchor).evHead; at >= 0 && at < limit; at = s.next[static_cast<size_t>(at)])
            if (SamePair(s.records[static_cast<size_t>(at)], a, b)) return at;
        return -1;
    }

    static int32_t FindGeneral(const State& s, const void* a, const void* b) {
        if (s.general.empty()) return -1;
        const auto it = s.general.find(Ordered(a, b));
        return it == s.general.end() ? -1 : it->second;
    }

    // Resolved entry of the record's pair, or -1.
    static int32_t Find(const State& s, const Record& r) {
        switch (r.tag & ANCHOR_MASK) {
            case ANCHOR_M: return FindChained(s, r.m, r.m, r.o);
            case ANCHOR_O: return FindChained(s, static_cast<const TMass*>(r.o), r.m, r.o);
            default: return FindGeneral(s, r.m, r.o);
        }
    }

    // Makes records[at] (already in place) the pair's entry.
    static void Link(State& s, size_t at, const Record& r) {
        const auto entry = static_cast<int32_t>(at);
        TMass* anchor = nullptr;
        switch (r.tag & ANCHOR_MASK) {
            case ANCHOR_M: anchor = r.m; break;
            case ANCHOR_O: anchor = static_cast<TMass*>(r.o); break;
            default: s.general.emplace(Ordered(r.m, r.o), entry); break;
        }
        if (anchor) {
            s.next.push_back(detail::MassAccess::Links(anchor).evHead);
            detail::MassAccess::Links(anchor).evHead = entry;
        } else {
            s.next.push_back(-1);
        }
    }

    // Merges a later contact of the pair into its entry, which keeps its place, kind and
    // objects.
    static void Merge(State& s, size_t at, float x, float y, float force, bool replace) {
        Record& into = s.records[at];
        if (HasEvent(into)) {
            TColEvent* e = into.at.event;
            e->x = x;
            e->y = y;
            e->force = replace ? force : e->force + force;
        } else {
            into.at.xy[0] = x;
            into.at.xy[1] = y;
            into.force = replace ? force : into.force + force;
        }
    }

    // --- resolving and materialising ----------------------------------------------------

    // Merges the appended records, in order, into the entries of their pairs.
    static void Resolve(State& s) {
        size_t w = s.resolved;
        const size_t n = s.records.size;
        for (size_t r = s.resolved; r < n; ++r) {
            const Record rec = s.records[r];
            const int32_t at = Find(s, rec);
            if (at >= 0) {
                Merge(s, static_cast<size_t>(at), rec.at.xy[0], rec.at.xy[1], rec.force, (rec.tag & REPLACE) != 0);
                continue;
            }
            s.records[w] = rec;
            s.resolved = w + 1;  // Link's chain walk stays inside the resolved part
            Link(s, w, rec);
            ++w;
        }
        s.records.size = w;
        s.resolved = w;
    }

    // Room for one more record. The links beside them grow with them, so that reading the
    // queue for the first time allocates nothing either.
    [[gnu::always_inline]] static void Reserve(State& s) {
        if (s.records.size == s.records.cap) Grow(s);
    }

    [[gnu::noinline]] static void Grow(State& s) {
        const size_t cap = std::max<size_t>(s.records.cap * 2, 4096);
        s.records.Reserve(cap);
        s.next.reserve(cap);
    }

    // Merges a record into its pair's entry, or queues it as a new pair's entry.
    static void AddResolved(State& s, const Record& r) {
        const int32_t at = Find(s, r);
        if (at >= 0) {
            Merge(s, static_cast<size_t>(at), r.at.xy[0], r.at.xy[1], r.force, (r.tag & REPLACE) != 0);
            return;
        }
        Reserve(s);
        *s.records.Append() = r;
        s.resolved = s.records.size;
        Link(s, s.resolved - 1, r);
    }

    // From now on every record is merged as it comes (objects may be read at any time).
    static void GoEager(State& s) {
        if (s.eager) return;
        Resolve(s);
        s.eager = true;
    }

    // One of the step's contacts, whose object types are known: both masses, or a mass
    // and something that is not a mass.
    static void Contact(State& s, int32_t kind, TMass* mass, TObject* other, float x, float y, float force,
                        int32_t mode) {
        const bool otherIsMass = kind == TColEvent::MASS_MASS;
        HoldMass(s, mass);
        Hold(s, other, otherIsMass);
        const uint32_t tag = static_cast<uint32_t>(kind + 1) | (mode == TColEvent::MODE_REPLACE ? REPLACE : 0u) |
                             AnchorOf(mass, other, otherIsMass);
        if (!s.eager) {
            Reserve(s);
            Record* r = s.records.Append();
            r->m = mass;
            r->o = other;
            r->at.xy[0] = x;
            r->at.xy[1] = y;
            r->force = force;
            r->tag = tag;
            return;
        }
        Record r;
        r.m = mass;
        r.o = other;
        r.at.xy[0] = x;
        r.at.xy[1] = y;
        r.force = force;
        r.tag = tag;
        AddResolved(s, r);
    }

    // Post for an event object: merged into its pair's entry, or queued itself.
    static void PostEvent(State& s, TColEvent* event, int32_t mode) {
        GoEager(s);
        TMass* a = event->obj1.Get();
        TObject* b = event->obj2.Get();
        const bool bIsMass = IsMass(b);
        HoldMass(s, a);
        Hold(s, b, bIsMass);
        Record r;
        r.m = a;
        r.o = b;
        r.force = 0;
        r.tag = HAS_EVENT | AnchorOf(a, b, bIsMass);
        const int32_t at = Find(s, r);
        if (at >= 0) {
            Merge(s, static_cast<size_t>(at), event->x, event->y, event->force, mode == TColEvent::MODE_REPLACE);
            return;
        }
        Reserve(s);
        event->Retain();
        s.objs.push_back(event);
        Weaken(s, event);
        r.at.event = event;
        *s.records.Append() = r;
        s.resolved = s.records.size;
        Link(s, s.resolved - 1, r);
    }

    // The event object of a resolved entry (borrowed), made now if the entry has none.
    static TColEvent* Materialise(State& s, size_t at) {
        Record& r = s.records[at];
        if (HasEvent(r)) return r.at.event;
        TColEvent* e = Take(s);
        e->id = static_cast<int32_t>(r.tag & KIND_MASK) - 1;
        e->obj1 = r.m;
        e->obj2 = r.o;
        e->x = r.at.xy[0];
        e->y = r.at.xy[1];
        e->force = r.force;
        s.objs.push_back(e);
        Weaken(s, e);
        r.at.event = e;
        r.tag |= HAS_EVENT;
        s.eager = true;  // everything before it is resolved already
        return e;
    }

    // Runs the hook chain over a contact's event e (which the caller owns) and queues the
    // outcome.
    [[gnu::always_inline]] static void Offer(State& s, TColEvent* e, int32_t kind, TMass* mass, TObject* other) {
        const Ref<TObject> out = RunHooks(s.hook, e);
        if (s.mode == TColEvent::MODE_DISCARD) return;
        if (out.Get() == e) {
            // Only the caller and `out` hold an untouched event: a record says it all. A
            // callback may have kept it or changed its objects.
            if (e->RefCount() == 2 && e->id == kind && e->obj1.Get() == mass && e->obj2.Get() == other)
                Contact(s, kind, mass, other, e->x, e->y, e->force, s.mode);
            else
                PostEvent(s, e, s.mode);
        } else if (TColEvent* outcome = As<TColEvent>(out.Get())) {
            PostEvent(s, outcome, s.mode);
        }
    }

    static void Fill(TColEvent* e, int32_t kind, TMass* mass, TObject* other, float x, float y, float force) {
        e->id = kind;
        e->obj1 = mass;
        e->obj2 = other;
        e->x = x;
        e->y = y;
        e->force = force;
    }

    // A contact with an event of its own: the first one, or one raised by a callback while
    // the scratch event is being offered.
    [[gnu::noinline]] static void EmitFromPool(State& s, int32_t kind, TMass* mass, TObject* other, float x,
                                               float y, float force) {
        TColEvent* e = Take(s);
        Fill(e, kind, mass, other, x, y, force);
        if (!s.scratch) {
            s.scratch = e;
            s.scratchBusy = true;
            Offer(s, e, kind, mass, other);
            s.scratchBusy = false;
            if (e->RefCount() == 1) {
                e->obj1 = nullptr;
                e->obj2 = nullptr;
            } else {
                s.scratch = nullptr;
                e->Release();
            }
            return;
        }
        Offer(s, e, kind, mass, other);
        Drop(s, e);
    }

    static TColEvent* Seek(State& s, TObject* a, TObject* b) {
        Resolve(s);
        const bool am = IsMass(a), bm = IsMass(b);
        int32_t at = -1;
        if (am && (!bm || static_cast<const void*>(a) <= static_cast<const void*>(b))) {
            if (IsHeld(s, static_cast<TMass*>(a))) at = FindChained(s, static_cast<TMass*>(a), a, b);
        } else if (bm) {
            if (IsHeld(s, static_cast<TMass*>(b))) at = FindChained(s, static_cast<TMass*>(b), a, b);
        } else {
            at = FindGeneral(s, a, b);
        }
        return at < 0 ? nullptr : Materialise(s, static_cast<size_t>(at));
    }

    // --- flush ----------------------------------------------------------------------------

    // The queue's world is ending: events a program still holds stop naming it.
    static void Orphan(State& s) {
        for (TColEvent* e : s.objs)
            if (e->weakWorld_) {
                e->weakWorld_ = false;
                e->obj2.Detach();
            }
    }

    static void Flush(State& s) {
        s.current = nullptr;  // the event is in `objs` too
        s.records.size = 0;
        s.next.clear();
        s.resolved = s.head = 0;
        s.eager = false;
        if (!s.general.empty()) s.general.clear();
        s.heldOther[0] = s.heldOther[1] = nullptr;
        // Take the lists first: releasing objects may run destructors that reach back into
        // this module (and post or flush again).
        std::vector<TColEvent*> objs = std::move(s.objs);
        s.objs = std::move(s.spareObjs);
        s.objs.clear();
        std::vector<TObject*> hold = std::move(s.hold);
        s.hold = std::move(s.spareHold);
        s.hold.clear();
        const size_t pooled = s.pool.size();
        for (TColEvent* e : objs) Drop(s, e);
        // The next step takes events in the order this one made them.
        if (s.pool.size() > pooled) std::reverse(s.pool.begin() + static_cast<std::ptrdiff_t>(pooled), s.pool.end());
        for (TObject* o : hold) o->Release();
        objs.clear();
        hold.clear();
        if (s.spareObjs.capacity() < objs.capacity()) s.spareObjs = std::move(objs);
        if (s.spareHold.capacity() < hold.capacity()) s.spareHold = std::move(hold);
    }
};

namespace {

using Access = ColEventAccess;

int32_t KindOf(TObject* obj2) {
    if (!obj2) return TColEvent::MASS_CUSTOM;
    if (typeid(*obj2) == typeid(TMass)) return TColEvent::MASS_MASS;
    if (Is<TZoneBase>(obj2)) return TColEvent::MASS_ZONE;
    if (typeid(*obj2) == typeid(TPhysics)) return TColEvent::MASS_BOUNDS;
    return TColEvent::MASS_CUSTOM;
}

int32_t HookOf(Access::State& s) {
    if (s.hook == 0) s.hook = AllocHookId();
    return s.hook;
}

// The hook chain's outcome as an event (borrowed from `out`), or null.
inline TColEvent* Outcome(const Ref<TObject>& out, TColEvent* event) {
    return out.Get() == event ? event : As<TColEvent>(out.Get());
}

}  // namespace

// --- the public functions -----------------------------------------------------------------

Ref<TColEvent> TColEvent::Create(TMass* obj1, TObject* obj2, float x, float y, float force) {
    Ref<TColEvent> e;
    if (Access::State* s = Access::Current()) {
        TColEvent* raw = Access::Take(*s);
        e = raw;
        raw->Release();  // the handle now holds the only reference
    } else {
        e = MakeRef<TColEvent>();
    }
    e->id = KindOf(obj2);
    e->obj1 = obj1;
    e->obj2 = obj2;
    e->x = x;
    e->y = y;
    e->force = force;
    return e;
}

int32_t TColEvent::SetMode(int32_t mode) {
    if (Access::State* s = Access::Current()) s->mode = mode;
    return 0;
}

int32_t TColEvent::GetMode() {
    const Access::State* s = Access::Current();
    return s ? s->mode : MODE_UPDATE;
}

int32_t TColEvent::EventHook() {
    Access::State* s = Access::Current();
    return s ? HookOf(*s) : 0;
}

int32_t TColEvent::Emit(TColEvent* event) {
    Access::State* s = Access::Current();
    if (!event || !s) return 0;
    const Ref<TObject> out = RunHooks(s->hook, event);
    TColEvent* outcome = Outcome(out, event);
    if (outcome && s->mode != MODE_DISCARD) Access::PostEvent(*s, outcome, s->mode);
    return 0;
}

uint64_t detail::ContactCount(TPhysics& w) { return WorldAccess::Events(w).contacts; }

void detail::EmitContact(int32_t kind, TMass* mass, TObject* other, float x, float y, float force) {
    Access::State* queue = Access::QueueOf(mass);
    if (!queue) return;  // no world to report to
    Access::State& s = *queue;
    ++s.contacts;
    // The callbacks see the scratch event, reused from contact to contact unless one of
    // them keeps it. A contact raised from inside a callback gets an event of its own.
    TColEvent* e = s.scratch;
    if (!e || s.scratchBusy) {
        Access::EmitFromPool(s, kind, mass, other, x, y, force);
        return;
    }
    s.scratchBusy = true;
    Access::Fill(e, kind, mass, other, x, y, force);
    Access::Offer(s, e, kind, mass, other);
    s.scratchBusy = false;
    if (e->RefCount() == 1) {
        e->obj1 = nullptr;
        e->obj2 = nullptr;
    } else {
        s.scratch = nullptr;  // a callback kept it: it is an ordinary event now
        e->Release();
    }
}

void TZoneBase::ReportContact(TMass* mass, float x, float y, float depth) {
    detail::EmitContact(TColEvent::MASS_ZONE, mass, this, x, y, depth);
}

int32_t TColEvent::Post(TColEvent* event, int32_t mode) {
    Access::State* s = Access::Current();
    if (event && s) Access::PostEvent(*s, event, mode);
    return 0;
}

TColEvent* TColEvent::Poll() {
    Access::State* queue = Access::Current();
    if (!queue) return nullptr;
    Access::State& s = *queue;
    Access::Resolve(s);
    if (s.head >= s.resolved)
        s.current = nullptr;
    else
        s.current = Access::Materialise(s, s.head++);
    return s.current.Get();
}

TColEvent* TColEvent::Peek() {
    Access::State* queue = Access::Current();
    if (!queue) return nullptr;
    Access::State& s = *queue;
    Access::Resolve(s);
    return s.head < s.resolved ? Access::Materialise(s, s.head) : nullptr;
}

TColEvent* TColEvent::Seek(TObject* a, TObject* b) {
    Access::State* s = Access::Current();
    if (!s) return nullptr;
    if (!b) b = TPhysics::currentWorld.Get();
    return Access::Seek(*s, a, b);
}

int32_t TColEvent::Flush() {
    if (Access::State* s = Access::Current()) Access::Flush(*s);
    return 0;
}

void detail::FlushEvents(TPhysics& w) { Access::Flush(WorldAccess::Events(w)); }

void detail::ReadEvents(TPhysics& w, std::vector<QueuedEvent>& out, size_t& polled, int32_t& mode) {
    Access::State& s = WorldAccess::Events(w);
    Access::Resolve(s);
    out.clear();
    for (size_t k = 0; k < s.resolved; ++k) {
        const Access::Record& r = s.records[k];
        const bool replace = (r.tag & Access::REPLACE) != 0;
        if (Access::HasEvent(r)) {
            const TColEvent* e = r.at.event;
            out.push_back({e->id, e->obj1.Get(), e->obj2.Get(), e->x, e->y, e->force, replace});
        } else {
            out.push_back({static_cast<int32_t>(r.tag & Access::KIND_MASK) - 1, r.m, r.o, r.at.xy[0], r.at.xy[1],
                           r.force, replace});
        }
    }
    polled = s.head;
    mode = s.mode;
}

int32_t detail::EventMode(TPhysics& w) { return WorldAccess::Events(w).mode; }

void detail::WriteEvents(TPhysics& w, const std::vector<QueuedEvent>& events, size_t polled, int32_t mode) {
    Access::State& s = WorldAccess::Events(w);
    Access::Flush(s);
    for (const QueuedEvent& e : events) {
        if (e.kind != TColEvent::MASS_MASS && e.kind != TColEvent::MASS_ZONE && e.kind != TColEvent::MASS_BOUNDS) continue;
        Access::Contact(s, e.kind, e.mass, e.other, e.x, e.y, e.force,
                        e.replace ? TColEvent::MODE_REPLACE : TColEvent::MODE_UPDATE);
    }
    Access::Resolve(s);
    s.head = std::min(polled, s.resolved);
    s.mode = mode;
}

TColEvent* TColEvent::GetCurrent() {
    const Access::State* s = Access::Current();
    return s ? s->current.Get() : nullptr;
}

int32_t TColEvent::QueueCount() {
    Access::State* queue = Access::Current();
    if (!queue) return 0;
    Access::State& s = *queue;
    Access::Resolve(s);
    return static_cast<int32_t>(s.resolved - s.head);
}

detail::EventQueue::EventQueue(TPhysics* owner) : world(owner) {
    // Small to start with: a program may hold many worlds. The lists grow to what a step
    // needs and keep that size, so the steady state allocates nothing.
    records.Reserve(256);
    next.reserve(256);
    hold.reserve(256);
    spareHold.reserve(256);
}

detail::EventQueue::~EventQueue() {
    Access::Orphan(*this);
    Access::Flush(*this);
    if (scratch) {
        TColEvent* e = scratch;
        scratch = nullptr;
        e->Release();
    }
    for (TColEvent* e : pool) e->Release();
    pool.clear();
    // The callbacks of a world that is gone can never run again: their contexts go now.
    if (hook != 0) ClearHook(hook);
}

TMass* TColEvent::GetMass2() const { return As<TMass>(obj2.Get()); }

TZoneBase* TColEvent::GetZone() const { return As<TZoneBase>(obj2.Get()); }

}  // namespace kin::gelsim
