// Collision events: the hook, the pair-merging queue and the event pool.
//
// State lives in one module-level object: the queue (a vector with a read position), the
// events posted since the last flush (each held once), the pair map (open addressing
// keyed by the two object addresses, cleared by bumping a generation), the current
// event, the mode and the pool of recyclable events.
#include "gelsim/zones/ColEvent.h"

#include <cstdint>
#include <typeinfo>
#include <vector>

#include "gelsim/core/Physics.h"
#include "gelsim/core/ZoneBase.h"
#include "platform/Hook.h"

namespace kin::gelsim {
namespace {

class PairMap {
public:
    PairMap() { Rehash(kStartSlots); }

    TColEvent* Find(const void* a, const void* b) const {
        size_t at = Hash(a, b) & mask_;
        for (;;) {
            const Slot& s = slots_[at];
            if (s.gen != gen_) return nullptr;
            if (s.k1 == a && s.k2 == b) return s.event;
            at = (at + 1) & mask_;
        }
    }

    // Inserts a pair known to be absent.
    void Insert(const void* a, const void* b, TColEvent* e) {
        if ((used_ + 1) * 2 > slots_.size()) Rehash(slots_.size() * 2);
        Place(a, b, e);
        ++used_;
    }

    void Clear() {
        used_ = 0;
        if (++gen_ == 0) {  // generations wrapped: wipe for real once
            for (Slot& s : slots_) s.gen = 0;
            gen_ = 1;
        }
    }

private:
    static constexpr size_t kStartSlots = 1u << 10;  // grows to the busiest step's size
    struct Slot {
        const void* k1;
        const void* k2;
        TColEvent* event;
        uint32_t gen;
    };

    // Slots follow the lower address: contacts of one object land in a few neighbouring
    // slots, and the step, which meets objects roughly in allocation order, walks the
    // table forwards instead of jumping around it. The partner picks one of four slots.
    static size_t Hash(const void* a, const void* b) {
        const uint64_t ka = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(a));
        const uint64_t kb = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(b));
        return static_cast<size_t>(((ka >> 6) << 2) + ((kb * 0x9E3779B97F4A7C15ull) >> 62));
    }

    void Place(const void* a, const void* b, TColEvent* e) {
        size_t at = Hash(a, b) & mask_;
        while (slots_[at].gen == gen_) at = (at + 1) & mask_;
        slots_[at] = Slot{a, b, e, gen_};
    }

    void Rehash(size_t n) {
        std::vector<Slot> old;
        old.swap(slots_);
        slots_.assign(n, Slot{nullptr, nullptr, nullptr, 0});
        mask_ = n - 1;
        const uint32_t oldGen = gen_;
        gen_ = 1;
        for (const Slot& s : old)
            if (s.gen == oldGen && oldGen != 0) Place(s.k1, s.k2, s.event);
    }

    std::vector<Slot> slots_;
    size_t mask_ = 0;
    size_t used_ = 0;
    uint32_t gen_ = 1;
};

struct EventState {
    int32_t hook = 0;
    int32_t mode = TColEvent::MODE_UPDATE;
    std::vector<TColEvent*> queue;  // borrowed from `posted`; [head, size) are waiting
    size_t head = 0;
    std::vector<Ref<TColEvent>> posted;  // every event in the pair map, held once
    PairMap pairs;
    Ref<TColEvent> current;
    std::vector<Ref<TColEvent>> pool;
    std::vector<Ref<TColEvent>> flushing;  // `posted` while a flush recycles it

    EventState() {
        flushing.reserve(4096);
        queue.reserve(4096);
        posted.reserve(4096);
        pool.reserve(4096);
    }
};

EventState& State() {
    static EventState* s = new EventState();  // never destroyed: events may outlive exit order
    return *s;
}

Ref<TColEvent> TakeEvent() {
    EventState& s = State();
    if (s.pool.empty()) return MakeRef<TColEvent>();
    Ref<TColEvent> e = std::move(s.pool.back());
    s.pool.pop_back();
    return e;
}

// Back to the pool when the caller's handle is the only one left.
void Recycle(Ref<TColEvent>&& e) {
    if (!e || e->RefCount() != 1) return;  // someone kept it: it lives on as a plain object
    e->obj1 = nullptr;
    e->obj2 = nullptr;
    e->id = 0;
    e->x = e->y = e->force = 0.0f;
    State().pool.push_back(std::move(e));
}

int32_t KindOf(TObject* obj2) {
    if (!obj2) return TColEvent::MASS_CUSTOM;
    if (typeid(*obj2) == typeid(TMass)) return TColEvent::MASS_MASS;
    if (Is<TZoneBase>(obj2)) return TColEvent::MASS_ZONE;
    if (typeid(*obj2) == typeid(TPhysics)) return TColEvent::MASS_BOUNDS;
    return TColEvent::MASS_CUSTOM;
}

// Runs the hook chain; the outcome is posted unless the queue discards.
void EmitImpl(TColEvent* event) {
    EventState& s = State();
    if (s.hook == 0) s.hook = AllocHookId();
    const Ref<TObject> out = RunHooks(s.hook, event);
    TColEvent* outcome = out.Get() == event ? event : As<TColEvent>(out.Get());
    if (outcome && s.mode != TColEvent::MODE_DISCARD) TColEvent::Post(outcome, s.mode);
}

}  // namespace

Ref<TColEvent> TColEvent::Create(TMass* obj1, TObject* obj2, float x, float y, float force) {
    Ref<TColEvent> e = TakeEvent();
    e->id = KindOf(obj2);
    e->obj1 = obj1;
    e->obj2 = obj2;
    e->x = x;
    e->y = y;
    e->force = force;
    return e;
}

int32_t TColEvent::SetMode(int32_t mode) {
    State().mode = mode;
    return 0;
}

int32_t TColEvent::GetMode() { return State().mode; }

int32_t TColEvent::EventHook() {
    EventState& s = State();
    if (s.hook == 0) s.hook = AllocHookId();
    return s.hook;
}

int32_t TColEvent::Emit(TColEvent* event) {
    if (event) EmitImpl(event);
    return 0;
}

void TColEvent::EmitContact(int32_t kind, TMass* mass, TObject* other, float x, float y, float force) {
    Ref<TColEvent> e = TakeEvent();
    e->id = kind;
    e->obj1 = mass;
    e->obj2 = other;
    e->x = x;
    e->y = y;
    e->force = force;
    EmitImpl(e.Get());
    Recycle(std::move(e));
}

int32_t TColEvent::Post(TColEvent* event, int32_t mode) {
    if (!event) return 0;
    EventState& s = State();
    const void* a = event->obj1.Get();
    const void* b = event->obj2.Get();
    if (b < a) std::swap(a, b);  // unordered pair: the lower address first
    if (TColEvent* e = s.pairs.Find(a, b)) {
        // Merge: the first event keeps its place, kind and objects.
        e->x = event->x;
        e->y = event->y;
        e->force = mode == MODE_REPLACE ? event->force : e->force + event->force;
        return 0;
    }
    s.pairs.Insert(a, b, event);
    s.posted.emplace_back(event);
    s.queue.push_back(event);
    return 0;
}

TColEvent* TColEvent::Poll() {
    EventState& s = State();
    if (s.head >= s.queue.size()) {
        s.current = nullptr;
    } else {
        s.current = s.queue[s.head++];
    }
    return s.current.Get();
}

TColEvent* TColEvent::Peek() {
    EventState& s = State();
    return s.head < s.queue.size() ? s.queue[s.head] : nullptr;
}

TColEvent* TColEvent::Seek(TObject* a, TObject* b) {
    if (!b) b = TPhysics::currentWorld.Get();
    const void* k1 = a;
    const void* k2 = b;
    if (k2 < k1) std::swap(k1, k2);
    return State().pairs.Find(k1, k2);
}

int32_t TColEvent::Flush() {
    EventState& s = State();
    s.current = nullptr;
    s.queue.clear();
    s.head = 0;
    s.pairs.Clear();
    // Take the list first: releasing an event's objects may run destructors that reach
    // back into this module.
    s.flushing.swap(s.posted);
    for (Ref<TColEvent>& e : s.flushing) Recycle(std::move(e));
    s.flushing.clear();
    return 0;
}

TColEvent* TColEvent::GetCurrent() { return State().current.Get(); }

int32_t TColEvent::QueueCount() {
    const EventState& s = State();
    return static_cast<int32_t>(s.queue.size() - s.head);
}

TMass* TColEvent::GetMass2() const { return As<TMass>(obj2.Get()); }

TZoneBase* TColEvent::GetZone() const { return As<TZoneBase>(obj2.Get()); }

}  // namespace kin::gelsim
