#pragma once
// TMass: a disc moved by verlet integration. Velocity is (pos - oldPos) per tick: moving
// pos alone adds velocity, moving both keeps it, setting both to one point stops the mass.
// A mass is simulated while its participation count (refCounter) is above zero; it then
// has an entry in the world's mass table and sits in exactly one grid cell.
#include <atomic>
#include <cmath>
#include <cstdint>
#include <string>

#include "gelsim/core/SlabAllocated.h"
#include "platform/List.h"
#include "platform/Object.h"

namespace kin::gelsim {

namespace detail {
class PairIndex;
struct MassAccess;
extern std::atomic<uint64_t> groupWrites;
}  // namespace detail

/// How many times a mass's collision group field has been written, over all masses, since
/// the program started: a caller that sees the same count twice knows that no group
/// changed between (the step's pair index relies on this to trust its copies). Writes in
/// other threads only make the count move more often.
inline uint64_t GroupWrites() { return detail::groupWrites.load(std::memory_order_relaxed); }

/// A mass's collision group: reads as the float it holds; every write is counted.
class GroupField {
public:
    GroupField() = default;
    explicit GroupField(float v) : v_(v) {}
    GroupField(const GroupField& o) : v_(o.v_) {}
    GroupField& operator=(float v) {
        v_ = v;
        detail::groupWrites.fetch_add(1, std::memory_order_relaxed);
        return *this;
    }
    GroupField& operator=(const GroupField& o) { return *this = o.v_; }
    operator float() const { return v_; }

private:
    float v_ = 0;
};

class TPhysics;

class TMass final : public TObject {
public:
    // Hot state first, in the object's first cache line: the step reads these for every
    // mass and every candidate pair. The grid link and cell come next, in the second line;
    // the rest is cold.
    // Always a whole number. A value written straight into the field (not through
    // SetColGroup), also by a collision callback in the middle of a step, counts at once.
    GroupField colGroup;
    float posX = 0, posY = 0;
    float radius = 0;
    int32_t frozen = 0;
    int32_t aIndex = -1;  // entry in the world's mass table while active
    float oldPosX = 0, oldPosY = 0;
    float mass = 0;
    float friction = 0;  // 0..1

private:
    friend struct detail::MassAccess;
    // The library's own bookkeeping for this mass (its pair index and event queue entries),
    // opaque outside the library; kept in this cache line because the step reads it for
    // every mass and contact.
    alignas(4) unsigned char links_[12];

public:
    TLink gridlink;  // embedded link into the current grid cell; never counted
    int32_t gridx = 0, gridy = 0;
    int32_t refCounter = 0;
    int32_t abID = -1;   // owning body's id in the body registry
    int32_t index = -1;  // entry in the owning body's mass table
    std::string name;

    TMass();
    ~TMass() override;

    /// New inactive mass at rest at (x, y); friction clamped to 0..1; colGroup -1 = a fresh group.
    static Ref<TMass> Create(float x, float y, float mass, float radius, float friction, int32_t colGroup);
    /// New inactive mass with the same state, name and index; no body, no grid link.
    virtual Ref<TMass> Copy() const;
    virtual int32_t SetName(const std::string& n);
    virtual std::string GetName() const;
    /// Shifts the current position only (adds velocity); frozen masses stay.
    virtual int32_t Move(float dx, float dy);
    /// Shifts current and old position (keeps velocity); frozen masses too.
    virtual int32_t Translate(float dx, float dy);
    /// Jumps to (x, y) at rest; frozen masses too.
    virtual int32_t Position(float x, float y);
    virtual float GetPositionX() const { return posX; }
    virtual float GetPositionY() const { return posY; }
    /// Writes the centre (world units) to x and y.
    virtual int32_t GetPosition(float& x, float& y) const;
    virtual float GetX() const { return posX; }
    virtual float GetY() const { return posY; }
    /// Weight, stored unvalidated.
    virtual int32_t SetMass(float m);
    virtual float GetMass() const { return mass; }
    /// Radius in world units, stored unvalidated.
    virtual int32_t SetRadius(float r);
    virtual float GetRadius() const { return radius; }
    /// Surface friction clamped to 0..1.
    virtual int32_t SetFriction(float f);
    virtual float GetFriction() const { return friction; }
    /// Stops the mass and pins it: not integrated, immovable in contacts.
    virtual int32_t Freeze();
    virtual int32_t Thaw();
    virtual int32_t IsFrozen() const { return frozen; }
    /// Velocity in world units per tick (frozen masses: nothing).
    virtual int32_t SetVelocity(float vx, float vy);
    virtual int32_t AddVelocity(float vx, float vy);
    virtual float GetVelocityX() const { return posX - oldPosX; }
    virtual float GetVelocityY() const { return posY - oldPosY; }
    virtual float GetVX() const { return posX - oldPosX; }
    virtual float GetVY() const { return posY - oldPosY; }
    /// Speed in world units per tick.
    virtual float GetVelocity() const;
    virtual int32_t GetColGroup() const;
    /// -1 takes a fresh automatic group; any other value is stored.
    virtual int32_t SetColGroup(int32_t group);
    virtual int32_t IsActive() const { return refCounter > 0 ? 1 : 0; }
    virtual int32_t GetIndex() const { return index; }
    /// The owning body from the current world's registry (borrowed), or null.
    virtual TObject* GetAdvBody() const;
    /// Filled disc through the world's view in the current colour.
    virtual int32_t Draw();
    /// Adds a holder; the first one enters the mass into the current world and its grid.
    virtual int32_t AddRef();
    /// Re-places an active mass of the current world at the end of its position's cell list.
    virtual int32_t AddToGrid();
    /// Removes a holder; the last one takes the mass out of the world and the grid.
    virtual int32_t SubRef();
    /// Mass-against-mass contact: separation, friction, event. Always 0.
    virtual int32_t Collide(TMass* other);

    GELSIM_SLAB_ALLOCATED(TMass)

    /// The world whose mass table holds this mass (borrowed), or null while inactive.
    TPhysics* GetWorld() const { return world_; }

private:
    detail::PairIndex* placedIn_ = nullptr;  // the index whose cell holds this mass, or null
    TPhysics* world_ = nullptr;              // the world whose table holds it, or null
};

}  // namespace kin::gelsim
