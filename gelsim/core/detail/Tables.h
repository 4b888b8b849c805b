#pragma once
// The world's mass and constraint tables as masses and constraints enter and leave them
// (AddRef / SubRef); internal to gelsim/core.
#include <cstdint>

namespace kin::gelsim {

class TPhysics;
class TMass;
class TConstraint;

// Give* only clears an entry that still holds the given object.
int32_t TakeMassEntry(TPhysics* w, TMass* m);
void GiveMassEntry(TPhysics* w, int32_t entry, TMass* m);
int32_t TakeConEntry(TPhysics* w, TConstraint* c);
void GiveConEntry(TPhysics* w, int32_t entry, TConstraint* c);

}  // namespace kin::gelsim
