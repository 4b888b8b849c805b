#pragma once
// TZoneBase: what the world's step needs of a static outline. The zone type derives from
// it and supplies the contact test; the step calls Collide for every non-frozen mass with
// a non-zero group and every active zone with a non-zero, different group, once per pass.
#include <cstdint>

#include "platform/Object.h"

namespace kin::gelsim {

class TMass;
class TPhysics;
namespace detail {
struct WorldAccess;
}

class TZoneBase : public TObject {
public:
    int32_t colGroup = -1;  // 0 collides with nothing; equal groups pass through
    int32_t aIndex = -1;    // entry in the world's zone table while active

    /// Contact test and response for this zone and one mass (borrowed). Always 0.
    virtual int32_t Collide(TMass* mass) = 0;
    /// The world whose zone table holds this zone (borrowed), or null.
    TPhysics* GetWorld() const { return world_; }

protected:
    /// Reports a contact of this zone with a mass (borrowed) to the collision events as the
    /// step does: contact point (x, y) and penetration depth.
    void ReportContact(TMass* mass, float x, float y, float depth);

private:
    friend class TPhysics;
    friend struct detail::WorldAccess;
    TPhysics* world_ = nullptr;  // set and cleared by the world's zone table
};

}  // namespace kin::gelsim
