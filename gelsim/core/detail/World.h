#pragma once
// The library's own reach into a world's private part; internal to gelsim/core.
#include <utility>

#include "gelsim/core/Physics.h"
#include "gelsim/core/detail/EventQueue.h"
#include "gelsim/core/detail/PairIndex.h"

namespace kin::gelsim {
class TBody;
class TConstraint;
class TZoneBase;
}  // namespace kin::gelsim

namespace kin::gelsim::detail {

struct WorldAccess {
    static PairIndex& Index(TPhysics& w) { return *w.index_; }
    static EventQueue& Events(TPhysics& w) { return *w.events_; }
    static GroupSuffix* Suffix(TPhysics& w) { return w.suffix_.get(); }
    static uint64_t Passes(const TPhysics& w) { return w.passes_; }
    static const PairIndex& Index(const TPhysics& w) { return *w.index_; }
    /// Drops a table's reference; while a step runs the object is kept until the step ends.
    static void DropEntry(TPhysics& w, Ref<TObject> held) { w.DropEntry(std::move(held)); }
    /// True while w's step runs (a collision callback is being called from it).
    static bool Stepping(const TPhysics& w) { return w.stepping_; }
    /// The world a constraint, zone or body belongs to, as its table or registry sets it
    /// (a world state puts its tables back whole and sets them itself; WorldState.cpp).
    static TPhysics*& Member(TConstraint& c);
    static TPhysics*& Member(TZoneBase& z);
    static TPhysics*& Member(TBody& b);
};

}  // namespace kin::gelsim::detail
