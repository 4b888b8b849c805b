#pragma once
// TConstraint: a distance constraint between two masses with a rest length and a
// stiffness, relaxed once per pass by moving the current positions (the correction
// becomes velocity). Assigning it to a body counts it, and through it its two masses,
// into the current world.
#include <cstdint>
#include <string>
#include <vector>

#include "gelsim/core/Mass.h"
#include "gelsim/core/SlabAllocated.h"
#include "platform/Object.h"

namespace kin::gelsim {

class TBody;
class TPhysics;
namespace detail {
struct WorldAccess;
}

class TConstraint final : public TObject {
public:
    Ref<TMass> m[2];
    float restLength = 0;
    float stiffness = 0;
    int32_t refCounter = 0;
    int32_t aIndex = -1;  // entry in the world's constraint table while active
    int32_t abID = -1;
    int32_t index = -1;
    std::string name;

    TConstraint() = default;

    /// New inactive constraint; restLength <= 0 takes the present distance; stiffness unclamped.
    static Ref<TConstraint> Create(TMass* m1, TMass* m2, float restLength, float stiffness);
    virtual int32_t SetName(const std::string& n);
    virtual std::string GetName() const;
    /// Appends to the body's list and counts in, unless the body holds it already.
    virtual int32_t Assign(TBody* body);
    /// Counts out and leaves the body's list, if the body holds it.
    virtual int32_t Free(TBody* body);
    /// First / second mass (borrowed).
    virtual TMass* GetMass1() const { return m[0].Get(); }
    virtual TMass* GetMass2() const { return m[1].Get(); }
    /// Rest length in world units; 0 or less takes the present distance.
    virtual int32_t SetRestLength(float len);
    virtual float GetRestLength() const { return restLength; }
    /// Stiffness clamped to 0..1.
    virtual int32_t SetStiffness(float s);
    virtual float GetStiffness() const { return stiffness; }
    /// Direction from the first to the second mass, degrees -180..180.
    virtual float GetAngle() const;
    /// Present distance between the centres, world units.
    virtual float GetLength() const;
    /// Length / rest length; a rest length of 0 gives the IEEE quotient (inf, or NaN for 0/0).
    virtual float GetStress() const;
    virtual int32_t IsActive() const { return refCounter > 0 ? 1 : 0; }
    virtual int32_t GetIndex() const { return index; }
    /// The owning body from the current world's registry (borrowed), or null.
    virtual TObject* GetAdvBody() const;
    /// A line between the centres through the world's view.
    virtual int32_t Draw();
    /// One relaxation towards the rest length.
    virtual int32_t Satisfy();
    /// Adds a holder; the first one enters the constraint and its masses into the world.
    virtual int32_t AddRef();
    /// Removes a holder; the last one takes it and its hold on the masses out.
    virtual int32_t SubRef();

    /// The relaxation itself.
    void Relax();
    /// Relax for entries 0..n-1 of a table (null entries skipped), in order.
    static void RelaxAll(const Ref<TConstraint>* table, int32_t n);

    GELSIM_SLAB_ALLOCATED(TConstraint)

    /// The world whose constraint table holds this constraint (borrowed), or null.
    TPhysics* GetWorld() const { return world_; }

private:
    /// False when this constraint or one of its masses takes part in another world than
    /// the current one.
    bool MayJoinCurrent() const;
    friend int32_t TakeConEntry(TPhysics* w, TConstraint* c);
    friend void GiveConEntry(TPhysics* w, int32_t entry, TConstraint* c);
    friend class TPhysics;
    friend struct detail::WorldAccess;
    TPhysics* world_ = nullptr;  // the world whose table holds it, or null
    // The links by which Assign put this constraint into bodies' lists (a link no longer
    // in its list is stale and dropped when met).
    Ref<TLink> held_;
    std::vector<Ref<TLink>> moreHeld_;
    TLink* HeldLink(const TList* list);
    void Remember(Ref<TLink> link);
    void Forget(const TLink* link);
};

}  // namespace kin::gelsim
