#pragma once
// The step's path into the collision events; internal to gelsim/core (ColEvent.cpp).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kin {
class TObject;
}

namespace kin::gelsim {
class TMass;
class TPhysics;
}

namespace kin::gelsim::detail {

/// An event of a known kind (TColEvent::MASS_MASS, MASS_ZONE, MASS_BOUNDS) from the
/// pool, emitted and recycled when nobody kept it. Objects are borrowed.
void EmitContact(int32_t kind, TMass* mass, TObject* other, float x, float y, float force);

/// Number of contacts the world has emitted so far. Callbacks run only for contacts, so
/// while it stays the same no callback has run.
uint64_t ContactCount(TPhysics& w);

/// Empties the world's event queue (the step's flush).
void FlushEvents(TPhysics& w);

/// A queued event as a world's state keeps it: its kind, objects (borrowed), point, force,
/// and whether later contacts of the pair replace its force instead of adding to it.
struct QueuedEvent {
    int32_t kind;
    TMass* mass;
    TObject* other;
    float x, y, force;
    bool replace;
};

/// The world's queued pairs in queue order (contacts still waiting to be merged are merged
/// first), the number already polled, and the queue mode.
void ReadEvents(TPhysics& w, std::vector<QueuedEvent>& out, size_t& polled, int32_t& mode);

/// The world's queue mode.
int32_t EventMode(TPhysics& w);

/// Replaces the world's queue with these pairs (built-in kinds only; the objects are held
/// from now on), the first `polled` of them already polled, and the mode.
void WriteEvents(TPhysics& w, const std::vector<QueuedEvent>& events, size_t polled, int32_t mode);

}  // namespace kin::gelsim::detail
