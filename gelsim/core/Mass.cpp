#include "gelsim/core/Mass.h"

#include <algorithm>
#include <cmath>

#include "gelsim/core/Physics.h"
#include "gelsim/core/ColEvent.h"
#include "gelsim/core/detail/Contact.h"
#include "gelsim/core/detail/MassLinks.h"
#include "gelsim/core/detail/PairIndex.h"
#include "gelsim/core/detail/Slab.h"
#include "gelsim/core/detail/Tables.h"
#include "gelsim/core/detail/World.h"
#include "platform/Graphics.h"

namespace kin::gelsim {

GELSIM_SLAB_DEFINE(TMass)
namespace {

inline float Clamp01(float v) { return std::max(0.0f, std::min(1.0f, v)); }

// Takes the tangential part t of a moved mass's velocity off by at most F (old position
// only). t = v - n (v . n); with a zero normal the whole velocity counts as tangential.
inline void BrakeTangential(TMass* a, float nx, float ny, float F) {
    const float vx = a->posX - a->oldPosX, vy = a->posY - a->oldPosY;
    const float vn = vx * nx + vy * ny;
    const float tx = vx - nx * vn, ty = vy - ny * vn;
    const float tl = std::sqrt(tx * tx + ty * ty);
    if (tl > F) {
        a->oldPosX += tx * F / tl;
        a->oldPosY += ty * F / tl;
    } else {
        a->oldPosX += tx;
        a->oldPosY += ty;
    }
}

}  // namespace

std::atomic<uint64_t> detail::groupWrites{0};
static_assert(sizeof(GroupField) == sizeof(float) && alignof(GroupField) == alignof(float));

TMass::TMass() { detail::MassAccess::Init(*this); }

TMass::~TMass() { detail::PairIndex::Leave(this); }

Ref<TMass> TMass::Create(float x, float y, float mass, float radius, float friction, int32_t colGroup) {
    Ref<TMass> m = MakeRef<TMass>();
    m->name = "Mass";
    m->posX = m->oldPosX = x;
    m->posY = m->oldPosY = y;
    m->mass = mass;
    m->radius = radius;
    m->friction = Clamp01(friction);
    m->SetColGroup(colGroup);
    return m;
}

Ref<TMass> TMass::Copy() const {
    Ref<TMass> m = MakeRef<TMass>();
    m->name = name;
    m->posX = posX;
    m->posY = posY;
    m->oldPosX = oldPosX;
    m->oldPosY = oldPosY;
    m->mass = mass;
    m->radius = radius;
    m->friction = friction;
    m->colGroup = colGroup;
    m->frozen = frozen;
    m->index = index;
    return m;
}

int32_t TMass::SetName(const std::string& n) {
    name = n;
    return 0;
}

std::string TMass::GetName() const { return name; }

int32_t TMass::Move(float dx, float dy) {
    if (!frozen) {
        posX += dx;
        posY += dy;
    }
    return 0;
}

int32_t TMass::Translate(float dx, float dy) {
    posX += dx;
    oldPosX += dx;
    posY += dy;
    oldPosY += dy;
    return 0;
}

int32_t TMass::Position(float x, float y) {
    posX = oldPosX = x;
    posY = oldPosY = y;
    return 0;
}

int32_t TMass::GetPosition(float& x, float& y) const {
    x = posX;
    y = posY;
    return 0;
}

int32_t TMass::SetMass(float m) {
    mass = m;
    return 0;
}

int32_t TMass::SetRadius(float r) {
    radius = r;
    return 0;
}

int32_t TMass::SetFriction(float f) {
    friction = Clamp01(f);
    return 0;
}

int32_t TMass::Freeze() {
    oldPosX = posX;
    oldPosY = posY;
    frozen = 1;
    return 0;
}

int32_t TMass::Thaw() {
    frozen = 0;
    return 0;
}

int32_t TMass::SetVelocity(float vx, float vy) {
    if (!frozen) {
        oldPosX = posX - vx;
        oldPosY = posY - vy;
    }
    return 0;
}

int32_t TMass::AddVelocity(float vx, float vy) {
    if (!frozen) {
        oldPosX -= vx;
        oldPosY -= vy;
    }
    return 0;
}

float TMass::GetVelocity() const {
    const float vx = posX - oldPosX, vy = posY - oldPosY;
    return std::sqrt(vx * vx + vy * vy);
}

int32_t TMass::GetColGroup() const {
    // Always a whole number set from an int32; the clamp only guards hand-edited fields.
    const float g = colGroup;
    if (!(g >= -2147483648.0f)) return g != g ? 0 : INT32_MIN;
    if (g >= 2147483647.0f) return INT32_MAX;
    return static_cast<int32_t>(g);
}

int32_t TMass::SetColGroup(int32_t group) {
    colGroup = static_cast<float>(group == -1 ? TPhysics::TakeColGroup() : group);
    if (detail::PairIndex* index = detail::MassAccess::PlacedIn(this)) index->Regroup(this);  // the index keeps a copy
    return 0;
}

TObject* TMass::GetAdvBody() const {
    return TPhysics::GetBodyIn(world_ ? world_ : TPhysics::currentWorld.Get(), abID);
}

int32_t TMass::Draw() {
    const float r = kin::GetRotation();
    kin::SetRotation(0.0f);
    TPhysics::DrawOval(posX - radius, posY - radius, 2.0f * radius, 2.0f * radius);
    kin::SetRotation(r);
    return 0;
}

int32_t TMass::AddRef() {
    TPhysics* w = TPhysics::currentWorld.Get();
    // A mass takes part in one world at a time: the one whose table holds it.
    if (world_ && world_ != w) return -1;
    if (refCounter == 0 && w) {
        aIndex = TakeMassEntry(w, this);
        detail::WorldAccess::Index(*w).Place(this);
    }
    ++refCounter;
    return 0;
}

int32_t TMass::AddToGrid() {
    TPhysics* w = world_;
    // Only a mass of its world's table has a cell: an inactive mass placed in a cell would
    // never be taken out again.
    if (!w || aIndex < 0 || aIndex >= static_cast<int32_t>(w->massArray.size()) ||
        w->massArray[static_cast<size_t>(aIndex)].Get() != this)
        return 0;
    detail::WorldAccess::Index(*w).Place(this);
    return 0;
}

int32_t TMass::SubRef() {
    --refCounter;
    if (refCounter == 0) {
        const int32_t entry = aIndex;
        aIndex = -1;
        detail::PairIndex::Leave(this);
        // Last: dropping the table's reference may end this object.
        if (TPhysics* w = world_) GiveMassEntry(w, entry, this);
    }
    return 0;
}

int32_t TMass::Collide(TMass* other) {
    if (other) detail::CollideMasses(this, other);
    return 0;
}

bool detail::CollideMasses(TMass* a, TMass* b) {
    if (a->frozen && b->frozen) return false;
    const float R = a->radius + b->radius;
    if (std::fabs(b->posX - a->posX) > R || std::fabs(b->posY - a->posY) > R) return false;
    const float dx = a->posX - b->posX, dy = a->posY - b->posY;
    float d = std::sqrt(dx * dx + dy * dy);
    if (!(d >= 0.0001f)) d = 0.0001f;
    const float nx = dx / d, ny = dy / d;  // from b to a
    const float o = R - d;
    if (o <= 0.0f) return false;
    const float F = o * (a->friction + b->friction) * 0.5f;

    if (b->frozen) {
        a->posX += nx * o;
        a->posY += ny * o;
        BrakeTangential(a, nx, ny, F);
    } else if (a->frozen) {
        b->posX -= nx * o;
        b->posY -= ny * o;
        BrakeTangential(b, nx, ny, F);
    } else {
        const float sum = a->mass + b->mass;
        if (a->mass == 1.0f && b->mass == 1.0f) {
            // Unit weights: (x * 1) / 2 is exactly x * 0.5 (same bits, no division).
            a->posX += nx * o * 0.5f;
            a->posY += ny * o * 0.5f;
            b->posX -= nx * o * 0.5f;
            b->posY -= ny * o * 0.5f;
        } else if (sum == 0.0f) {
            // Two massless masses: no weights to share by, so equal halves.
            a->posX += nx * o * 0.5f;
            a->posY += ny * o * 0.5f;
            b->posX -= nx * o * 0.5f;
            b->posY -= ny * o * 0.5f;
        } else {
            a->posX += nx * o * b->mass / sum;
            a->posY += ny * o * b->mass / sum;
            b->posX -= nx * o * a->mass / sum;
            b->posY -= ny * o * a->mass / sum;
        }
        // Friction in equal shares: both move towards their mean tangential velocity.
        const float avx = a->posX - a->oldPosX, avy = a->posY - a->oldPosY;
        const float bvx = b->posX - b->oldPosX, bvy = b->posY - b->oldPosY;
        const float avn = avx * nx + avy * ny, bvn = bvx * nx + bvy * ny;
        const float hx = ((avx - nx * avn) - (bvx - nx * bvn)) * 0.5f;
        const float hy = ((avy - ny * avn) - (bvy - ny * bvn)) * 0.5f;
        const float hl = std::sqrt(hx * hx + hy * hy);
        if (hl > F) {
            const float sx = hx * F / hl, sy = hy * F / hl;
            a->oldPosX += sx;
            a->oldPosY += sy;
            b->oldPosX -= sx;
            b->oldPosY -= sy;
        } else {
            a->oldPosX += hx;
            a->oldPosY += hy;
            b->oldPosX -= hx;
            b->oldPosY -= hy;
        }
    }

    detail::EmitContact(TColEvent::MASS_MASS, a, b, (a->posX + b->posX) * 0.5f, (a->posY + b->posY) * 0.5f, o);
    return true;
}

}  // namespace kin::gelsim
