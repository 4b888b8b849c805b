#pragma once
// A world's dynamic state as bytes: saved at any moment between steps, loaded into a new
// world, or put back into an existing one (undo). A world loaded or restored from a state
// and then stepped gives bit for bit what the saved world would have given.
//
// What a state holds: the world's parameters and view, the next automatic collision
// group, the mass, constraint and zone tables (entries, counts, free stacks), every mass
// and constraint in them or reachable from a registered body, the body registry (indexed
// bodies with their four tables, rigs and images; plain bodies with their constraint
// lists), the zones with their quad trees, and the grid's cell lists in their present
// order. Objects held only by the caller (a plain body that is not registered, say) are
// not part of it: what they counted into the world is kept as counts.
//
// The bytes are little-endian with fixed widths and the same on every platform. A damaged
// or hostile state raises TStreamReadException ("Error reading from stream: ...") and
// changes nothing; reading never goes past the given bytes and never holds more memory
// than about 16 times their size plus a fixed allowance.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "gelsim/core/Physics.h"

namespace kin::gelsim {

/// Every dynamic thing of w as bytes (the caller owns them). withZones false records the
/// zone table as references to its present zones, which the loader expects to find again
/// unchanged. withEvents false keeps the event queue's mode but none of its pairs (a world
/// loaded or restored from it has an empty queue; the step flushes the queue before it reads
/// anything, so what follows is the same): the small state for stepping back and forth.
/// Raises TStreamWriteException for a world holding what a state cannot carry (a
/// registered object that is not a body, a body list entry that is not a constraint), and
/// while w steps (from a collision callback).
std::vector<uint8_t> SaveState(const TPhysics& w, bool withZones = true, bool withEvents = true);

/// A new world equal to the saved one, made current. A state saved without zones takes the
/// zones of zonesFrom's zone table (borrowed; each saved entry must hold a zone there that
/// still has the saved group, style, outline size and position). Raises
/// TStreamReadException for damaged bytes or missing zones; no world is made then.
Ref<TPhysics> LoadState(const uint8_t* data, size_t size, const TPhysics* zonesFrom = nullptr);

/// Puts w back to the saved state (the undo path): masses, constraints, bodies, tables and
/// grid; the zones too when the state has them, otherwise w's zones stay as they are.
/// Objects that sit at the saved place (same table entry, same registry id and kind, same
/// body index) are reused and keep the caller's handles; the others are made anew, and a
/// body that is not reused is emptied. Callers therefore find their bodies again through
/// the registry by id (TPhysics::GetBody) rather than keep old handles. Raises
/// TStreamReadException for damaged bytes, and when called while w steps (from a collision
/// callback); w is then unchanged.
void RestoreState(TPhysics& w, const uint8_t* data, size_t size);

}  // namespace kin::gelsim
