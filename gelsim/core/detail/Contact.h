#pragma once
// The step's path into the collision events; internal to gelsim/core (ColEvent.cpp).
#include <cstdint>

namespace kin {
class TObject;
}

namespace kin::gelsim {
class TMass;
}

namespace kin::gelsim::detail {

/// An event of a known kind (TColEvent::MASS_MASS, MASS_ZONE, MASS_BOUNDS) from the
/// pool, emitted and recycled when nobody kept it. Objects are borrowed.
void EmitContact(int32_t kind, TMass* mass, TObject* other, float x, float y, float force);

/// Number of contacts emitted so far. Callbacks run only for contacts, so while it stays
/// the same no callback has run.
uint64_t ContactCount();

}  // namespace kin::gelsim::detail
