// Collision events: the hook, the pair-merging queue and the event pool.
//
// State lives in one module-level object: the events posted since the last flush (each
// held once; with a read position they are also the queue), the pair index, the current
// event, the mode and the pool of recyclable events.
//
// Pair index. Every pair that involves a mass is chained from one of its masses (the
// lower-addressed one when both are masses): the mass keeps the entry (in the posted
// list) of its latest pair and the generation of that entry, and a node beside each
// posted entry names the pair's other object and the entry of the next pair in the
// chain. A mass's pairs are mostly posted together, so finding a pair reads a few
// neighbouring nodes instead of probing a large table. A flush starts a new generation,
// which empties every chain at once. Pairs without a mass, and an event posted a second
// time under another pair, go to a small general map.
#include "gelsim/zones/ColEvent.h"

#include <algorithm>
#include <cstdint>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include "gelsim/core/Physics.h"
#include "gelsim/core/ZoneBase.h"
#include "platform/Hook.h"

namespace kin::gelsim {

// Friend of TMass and TColEvent: the pair index and the pool work on their private parts.
struct ColEventAccess {
    struct PairKey {
        const void* k1;
        const void* k2;
        bool operator==(const PairKey& o) const { return k1 == o.k1 && k2 == o.k2; }
    };
    struct PairHash {
        size_t operator()(const PairKey& k) const {
            const uint64_t a = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(k.k1));
            const uint64_t b = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(k.k2));
            return static_cast<size_t>((a * 0x9E3779B97F4A7C15ull) ^ (b * 0xC2B2AE3D27D4EB4Full));
        }
    };

    struct State {
        int32_t hook = 0;
        int32_t mode = TColEvent::MODE_UPDATE;
        uint32_t gen = 1;               // generation of the pair chains; never 0
        size_t head = 0;  // posted[head, size) are waiting in the queue
        std::vector<TColEvent*> posted;  // every event in the pair index, one reference each
        std::vector<TColEvent*> spare;   // the other buffer of `posted` (swapped at flush)
        struct Node {
            const void* other;  // the pair's other object (the anchor is the first)
            TMass* anchor;      // null for pairs kept in `general`
            int32_t next;       // entry of the anchor's previous pair, or -1
        };
        std::vector<Node> nodes;  // beside `posted`, entry for entry
        std::unordered_map<PairKey, TColEvent*, PairHash> general;
        Ref<TColEvent> current;
        std::vector<TColEvent*> pool;  // recyclable events, one reference each

        State() {
            posted.reserve(4096);
            spare.reserve(4096);
            nodes.reserve(4096);
            pool.reserve(4096);
        }
    };

    static State& S() {
        static State* s = new State();  // never destroyed: events may outlive exit order
        return *s;
    }

    static bool IsMass(const TObject* o) { return o && typeid(*o) == typeid(TMass); }

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
            e->Release();
            return;
        }
        e->obj1 = nullptr;
        e->obj2 = nullptr;
        e->id = 0;
        e->x = e->y = e->force = 0.0f;
        s.pool.push_back(e);
    }

    // Entry of the anchor's latest pair in this generation, or -1. The node check makes a
    // generation counter that wrapped around harmless.
    static int32_t ChainHead(const State& s, const TMass* anchor) {
        if (anchor->evGen_ != s.gen) return -1;
        const int32_t at = anchor->evHead_;
        if (at < 0 || static_cast<size_t>(at) >= s.nodes.size() || s.nodes[static_cast<size_t>(at)].anchor != anchor)
            return -1;
        return at;
    }

    // The event chained for (anchor, other), or null.
    static TColEvent* FindChained(const State& s, const TMass* anchor, const void* other) {
        for (int32_t at = ChainHead(s, anchor); at >= 0;) {
            const State::Node& n = s.nodes[static_cast<size_t>(at)];
            if (n.other == other) return s.posted[static_cast<size_t>(at)];
            at = n.next;
        }
        return nullptr;
    }

    static PairKey Ordered(const void* a, const void* b) { return b < a ? PairKey{b, a} : PairKey{a, b}; }

    static TColEvent* Find(const State& s, TMass* anchor, const void* other, const void* a, const void* b) {
        if (anchor)
            if (TColEvent* e = FindChained(s, anchor, other)) return e;
        if (s.general.empty()) return nullptr;
        const auto it = s.general.find(Ordered(a, b));
        return it == s.general.end() ? nullptr : it->second;
    }

    // Stores an event for a pair known to be absent and queues it.
    static void Insert(State& s, TColEvent* e, TMass* anchor, const void* other, const void* a, const void* b) {
        const auto entry = static_cast<int32_t>(s.posted.size());
        if (anchor && !e->pairAnchor_) {
            s.nodes.push_back(State::Node{other, anchor, ChainHead(s, anchor)});
            e->pairAnchor_ = anchor;
            anchor->evGen_ = s.gen;
            anchor->evHead_ = entry;
        } else {
            s.nodes.push_back(State::Node{nullptr, nullptr, -1});
            s.general.emplace(Ordered(a, b), e);
        }
        e->Retain();
        s.posted.push_back(e);
    }

    static void Merge(TColEvent* into, const TColEvent* event, int32_t mode) {
        // The first event keeps its place, kind and objects.
        into->x = event->x;
        into->y = event->y;
        into->force = mode == TColEvent::MODE_REPLACE ? event->force : into->force + event->force;
    }

    // Post for any event: the anchor follows the objects' types.
    static void Post(State& s, TColEvent* event, int32_t mode) {
        TMass* a = event->obj1.Get();
        TObject* b = event->obj2.Get();
        TMass* anchor = nullptr;
        const void* other = nullptr;
        if (a) {
            if (b && static_cast<const void*>(b) < static_cast<const void*>(a) && IsMass(b)) {
                anchor = static_cast<TMass*>(b);
                other = a;
            } else {
                anchor = a;
                other = b;
            }
        } else if (IsMass(b)) {
            anchor = static_cast<TMass*>(b);
            other = a;
        }
        if (TColEvent* e = Find(s, anchor, other, a, b))
            Merge(e, event, mode);
        else
            Insert(s, event, anchor, other, a, b);
    }

    // Post for the step's own contacts, whose object types are known: both masses, or a
    // mass and something that is not a mass.
    static void PostContact(State& s, TColEvent* event, int32_t kind, TMass* mass, TObject* other, int32_t mode) {
        TMass* anchor = mass;
        const void* key = other;
        if (kind == TColEvent::MASS_MASS && static_cast<const void*>(other) < static_cast<const void*>(mass)) {
            anchor = static_cast<TMass*>(other);
            key = mass;
        }
        if (TColEvent* e = Find(s, anchor, key, mass, other))
            Merge(e, event, mode);
        else
            Insert(s, event, anchor, key, mass, other);
    }

    static TColEvent* Seek(const State& s, TObject* a, TObject* b) {
        const bool am = IsMass(a), bm = IsMass(b);
        TMass* anchor = nullptr;
        const void* other = nullptr;
        if (am && (!bm || static_cast<const void*>(a) <= static_cast<const void*>(b))) {
            anchor = static_cast<TMass*>(a);
            other = b;
        } else if (bm) {
            anchor = static_cast<TMass*>(b);
            other = a;
        }
        return Find(s, anchor, other, a, b);
    }

    static void Flush(State& s) {
        s.current = nullptr;
        s.head = 0;
        if (!s.general.empty()) s.general.clear();
        s.nodes.clear();
        if (++s.gen == 0) s.gen = 1;
        // Take the list first: releasing an event's objects may run destructors that reach
        // back into this module (and post or flush again).
        std::vector<TColEvent*> batch = std::move(s.posted);
        s.posted = std::move(s.spare);
        s.posted.clear();
        const size_t pooled = s.pool.size();
        for (TColEvent* e : batch) {
            e->pairAnchor_ = nullptr;
            Drop(s, e);
        }
        // The next step takes events in the order this one posted them.
        if (s.pool.size() > pooled) std::reverse(s.pool.begin() + static_cast<std::ptrdiff_t>(pooled), s.pool.end());
        batch.clear();
        if (s.spare.capacity() < batch.capacity()) s.spare = std::move(batch);
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

Ref<TColEvent> TColEvent::Create(TMass* obj1, TObject* obj2, float x, float y, float force) {
    TColEvent* raw = Access::Take(Access::S());
    Ref<TColEvent> e(raw);
    raw->Release();  // the handle now holds the only reference
    e->id = KindOf(obj2);
    e->obj1 = obj1;
    e->obj2 = obj2;
    e->x = x;
    e->y = y;
    e->force = force;
    return e;
}

int32_t TColEvent::SetMode(int32_t mode) {
    Access::S().mode = mode;
    return 0;
}

int32_t TColEvent::GetMode() { return Access::S().mode; }

int32_t TColEvent::EventHook() { return HookOf(Access::S()); }

int32_t TColEvent::Emit(TColEvent* event) {
    if (!event) return 0;
    Access::State& s = Access::S();
    const Ref<TObject> out = RunHooks(HookOf(s), event);
    TColEvent* outcome = Outcome(out, event);
    if (outcome && s.mode != MODE_DISCARD) Access::Post(s, outcome, s.mode);
    return 0;
}

void TColEvent::EmitContact(int32_t kind, TMass* mass, TObject* other, float x, float y, float force) {
    Access::State& s = Access::S();
    TColEvent* e = Access::Take(s);
    e->id = kind;
    e->obj1 = mass;
    e->obj2 = other;
    e->x = x;
    e->y = y;
    e->force = force;
    {
        const Ref<TObject> out = RunHooks(HookOf(s), e);
        TColEvent* outcome = Outcome(out, e);
        if (outcome && s.mode != MODE_DISCARD) {
            // A callback may have handed back another event, or changed this one's objects.
            if (outcome == e && e->obj1.Get() == mass && e->obj2.Get() == other)
                Access::PostContact(s, e, kind, mass, other, s.mode);
            else
                Access::Post(s, outcome, s.mode);
        }
    }
    Access::Drop(s, e);
}

int32_t TColEvent::Post(TColEvent* event, int32_t mode) {
    if (event) Access::Post(Access::S(), event, mode);
    return 0;
}

TColEvent* TColEvent::Poll() {
    Access::State& s = Access::S();
    if (s.head >= s.posted.size()) {
        s.current = nullptr;
    } else {
        s.current = s.posted[s.head++];
    }
    return s.current.Get();
}

TColEvent* TColEvent::Peek() {
    Access::State& s = Access::S();
    return s.head < s.posted.size() ? s.posted[s.head] : nullptr;
}

TColEvent* TColEvent::Seek(TObject* a, TObject* b) {
    if (!b) b = TPhysics::currentWorld.Get();
    return Access::Seek(Access::S(), a, b);
}

int32_t TColEvent::Flush() {
    Access::Flush(Access::S());
    return 0;
}

TColEvent* TColEvent::GetCurrent() { return Access::S().current.Get(); }

int32_t TColEvent::QueueCount() {
    const Access::State& s = Access::S();
    return static_cast<int32_t>(s.posted.size() - s.head);
}

TMass* TColEvent::GetMass2() const { return As<TMass>(obj2.Get()); }

TZoneBase* TColEvent::GetZone() const { return As<TZoneBase>(obj2.Get()); }

}  // namespace kin::gelsim
