#pragma once
// What the library keeps in every mass besides its public state, and the step's side of
// a mass; internal to gelsim/core. The bookkeeping is stored in TMass::links_ (in the
// object's first cache line, since the step reads it for every mass and contact) and
// reached only through MassAccess.
#include <cmath>
#include <cstdint>
#include <new>

#include "gelsim/core/Mass.h"

namespace kin::gelsim {
class TPhysics;
}

namespace kin::gelsim::detail {

class PairIndex;

struct MassLinks {
    // Collision events (see ColEvent.cpp): the entry of this mass in the events' hold
    // list since the last flush (valid only while that entry names this mass), and the
    // head of its chain of queued pairs.
    int32_t evHold = -1;
    int32_t evHead = -1;
    // The group as the grid's pair index holds it (see Grid.cpp).
    float indexedGroup = 0;
};

struct MassAccess {
    static_assert(sizeof(MassLinks) == sizeof(TMass::links_) && alignof(MassLinks) <= alignof(TMass),
                  "TMass::links_ holds exactly one MassLinks");
    /// Starts the bookkeeping's life in a new mass (its constructor).
    static void Init(TMass& m) { ::new (static_cast<void*>(m.links_)) MassLinks{}; }
    static MassLinks& Links(TMass* m) { return *std::launder(reinterpret_cast<MassLinks*>(m->links_)); }
    static const MassLinks& Links(const TMass* m) {
        return *std::launder(reinterpret_cast<const MassLinks*>(m->links_));
    }
    /// The pair index whose cell holds the mass, or null.
    static PairIndex*& PlacedIn(TMass* m) { return m->placedIn_; }
    static PairIndex* PlacedIn(const TMass* m) { return m->placedIn_; }
    /// The world whose table holds the mass, or null.
    static TPhysics*& World(TMass* m) { return m->world_; }
};

/// False when CollideMasses would certainly find no contact (a cheap test that the step
/// runs before the full one; it never rejects a pair that the full test accepts).
inline bool MayTouch(const TMass* a, const TMass* b) {
    if (a->frozen && b->frozen) return false;
    const float R = a->radius + b->radius;
    const float dx = a->posX - b->posX, dy = a->posY - b->posY;
    if (std::fabs(dx) > R || std::fabs(dy) > R) return false;
    // Clearly apart: the square root of the full test would come out above R.
    return !(dx * dx + dy * dy > R * R * 1.001f);
}

/// Mass-against-mass contact (Mass.cpp): separation, friction, event. Returns whether the
/// two touched.
bool CollideMasses(TMass* a, TMass* b);

}  // namespace kin::gelsim::detail
