#pragma once
// A world's collision-event queue: the records of the contacts queued since the last
// flush, the pair index over them, the event objects standing behind some of them and the
// pool they are recycled into, the queue mode and the world's hook id. Internal to
// gelsim/core; ColEvent.cpp explains the scheme and holds every function working on it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/Object.h"

namespace kin::gelsim {
class TColEvent;
class TMass;
class TPhysics;
}  // namespace kin::gelsim

namespace kin::gelsim::detail {

struct Record {
    TMass* m;     // obj1 (held)
    TObject* o;   // obj2 (held)
    union Where {
        float xy[2];       // the point, for a record without an object
        TColEvent* event;  // the object that holds the values (one reference in `objs`)
    } at;
    float force;  // for a record without an object
    uint32_t tag;
};
static_assert(sizeof(Record) == 32, "records stay half a cache line");

// The records: a plain growable array, so that the step's contacts are written in
// place (a record built aside and copied in costs a stalled load per contact).
struct RecordArray {
    Record* data = nullptr;
    size_t size = 0;
    size_t cap = 0;

    RecordArray() = default;
    RecordArray(const RecordArray&) = delete;
    RecordArray& operator=(const RecordArray&) = delete;
    ~RecordArray() { delete[] data; }

    Record& operator[](size_t i) { return data[i]; }
    const Record& operator[](size_t i) const { return data[i]; }
    // The next record, uninitialised; the caller made room.
    Record* Append() { return &data[size++]; }
    void Reserve(size_t n) {
        if (n <= cap) return;
        auto* grown = new Record[n];
        std::copy(data, data + size, grown);
        delete[] data;
        data = grown;
        cap = n;
    }
};


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

struct EventQueue {
    TPhysics* const world;  // the owner; records name it without holding it (see ColEvent.cpp)
    int32_t hook = 0;       // the world's collision-event hook, allocated on first use
    int32_t mode = 1 /* TColEvent::MODE_UPDATE */;
    bool eager = false;   // an event object stands behind some record: merge at once
    size_t resolved = 0;  // records[0, resolved) are one per pair
    size_t head = 0;      // records[head, resolved) are waiting in the queue
    RecordArray records;
    std::vector<int32_t> next;      // beside each resolved record: the anchor's previous pair, or -1
    std::vector<TColEvent*> objs;   // every event object behind a record, one reference each
    std::vector<TObject*> hold;     // every object a record names, one reference each
    std::vector<TColEvent*> spareObjs;  // the other buffers (swapped at flush)
    std::vector<TObject*> spareHold;
    const TObject* heldOther[2] = {nullptr, nullptr};  // latest non-mass objects held
    std::unordered_map<PairKey, int32_t, PairHash> general;
    Ref<TColEvent> current;
    std::vector<TColEvent*> pool;  // recyclable events, one reference each
    TColEvent* scratch = nullptr;  // the event the callbacks see (one reference), or null
    bool scratchBusy = false;      // the scratch event is being offered
    uint64_t contacts = 0;         // contacts emitted so far (callbacks run only for contacts)

    explicit EventQueue(TPhysics* owner);
    /// Releases every event and held object and the hook's callbacks.
    ~EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;
};

}  // namespace kin::gelsim::detail
