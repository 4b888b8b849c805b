#pragma once
// The step's path into the collision events; internal to gelsim/core (ColEvent.cpp).
#include <cstdint>

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

}  // namespace kin::gelsim::detail
