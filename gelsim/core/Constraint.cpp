#include "gelsim/core/Constraint.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "gelsim/core/Body.h"
#include "gelsim/core/MathUtil.h"
#include "gelsim/core/Physics.h"
#include "gelsim/core/detail/Tables.h"
#include "gelsim/core/detail/Slab.h"

namespace kin::gelsim {

GELSIM_SLAB_DEFINE(TConstraint)
namespace {

inline float Distance(const TMass* a, const TMass* b) {
    if (!a || !b) return 0.0f;
    const float dx = b->posX - a->posX, dy = b->posY - a->posY;
    return std::sqrt(dx * dx + dy * dy);
}

}  // namespace

Ref<TConstraint> TConstraint::Create(TMass* m1, TMass* m2, float restLength, float stiffness) {
    Ref<TConstraint> c = MakeRef<TConstraint>();
    c->m[0] = m1;
    c->m[1] = m2;
    c->restLength = restLength > 0.0f ? restLength : Distance(m1, m2);
    c->stiffness = stiffness;
    c->name = "Con";
    return c;
}

int32_t TConstraint::SetName(const std::string& n) {
    name = n;
    return 0;
}

std::string TConstraint::GetName() const { return name; }

// A body's list holds a constraint at most once when only Assign and Free change it, and
// the constraint remembers the links it was given; the list is searched only when it was
// changed some other way.
TLink* TConstraint::HeldLink(const TList* list) {
    auto live = [this](const Ref<TLink>& l) { return l && l->List() && l->Value() == this; };
    if (held_ && !live(held_)) held_ = nullptr;
    if (!moreHeld_.empty())
        moreHeld_.erase(std::remove_if(moreHeld_.begin(), moreHeld_.end(), [&](const Ref<TLink>& l) { return !live(l); }),
                        moreHeld_.end());
    if (held_ && held_->List() == list) return held_.Get();
    for (const Ref<TLink>& l : moreHeld_)
        if (l->List() == list) return l.Get();
    return nullptr;
}

void TConstraint::Remember(Ref<TLink> link) {
    if (!held_)
        held_ = std::move(link);
    else
        moreHeld_.push_back(std::move(link));
}

void TConstraint::Forget(const TLink* link) {
    if (held_.Get() == link) {
        held_ = nullptr;
        return;
    }
    for (auto it = moreHeld_.begin(); it != moreHeld_.end(); ++it)
        if (it->Get() == link) {
            moreHeld_.erase(it);
            return;
        }
}

int32_t TConstraint::Assign(TBody* body) {
    if (!body || !body->conList) return 0;
    TList* list = body->conList.Get();
    if (HeldLink(list)) return 0;
    // Refused when the body or this constraint belongs to another world.
    if ((body->GetWorld() && body->GetWorld() != TPhysics::currentWorld.Get()) || !MayJoinCurrent()) return -1;
    const bool known = body->OnlyAssigned();
    if (!known && list->Contains(this)) return 0;
    Remember(list->AddLast(this));
    if (known) ++body->assigned_;
    AddRef();
    return 0;
}

int32_t TConstraint::Free(TBody* body) {
    if (!body || !body->conList) return 0;
    TList* list = body->conList.Get();
    const bool known = body->OnlyAssigned();
    TLink* link = known ? HeldLink(list) : list->FindLink(this);
    if (!link) return 0;
    const Ref<TConstraint> self(this);  // the list's link may be our last holder
    const Ref<TLink> keep(link);
    SubRef();
    list->Remove(link);
    Forget(link);
    if (known && body->conList.Get() == list && body->assignedIn_ == list) --body->assigned_;
    return 0;
}

int32_t TConstraint::SetRestLength(float len) {
    restLength = len > 0.0f ? len : Distance(m[0].Get(), m[1].Get());
    return 0;
}

int32_t TConstraint::SetStiffness(float s) {
    stiffness = std::max(0.0f, std::min(1.0f, s));
    return 0;
}

float TConstraint::GetAngle() const {
    if (!m[0] || !m[1]) return 0.0f;
    return DegAtan2(m[1]->posY - m[0]->posY, m[1]->posX - m[0]->posX);
}

float TConstraint::GetLength() const { return Distance(m[0].Get(), m[1].Get()); }

float TConstraint::GetStress() const {
    const float len = GetLength();
    if (restLength == 0.0f) {
        // The IEEE quotient, spelled out so that no division by zero is executed.
        if (len > 0.0f) return std::numeric_limits<float>::infinity();
        return std::numeric_limits<float>::quiet_NaN();
    }
    return len / restLength;
}

TObject* TConstraint::GetAdvBody() const {
    return TPhysics::GetBodyIn(world_ ? world_ : TPhysics::currentWorld.Get(), abID);
}

int32_t TConstraint::Draw() {
    if (m[0] && m[1]) TPhysics::DrawLine(m[0]->posX, m[0]->posY, m[1]->posX, m[1]->posY);
    return 0;
}

int32_t TConstraint::Satisfy() {
    Relax();
    return 0;
}

void TConstraint::Relax() {
    TMass* a = m[0].Get();
    TMass* b = m[1].Get();
    if (!a || !b || (a->frozen && b->frozen)) return;
    const float dx = a->posX - b->posX, dy = a->posY - b->posY;
    float d = std::sqrt(dx * dx + dy * dy);
    if (!(d >= 0.0001f)) d = 0.0001f;
    const float c = (d - restLength) * stiffness;
    const float ux = dx / d, uy = dy / d;  // from b to a
    if (a->frozen) {
        b->posX += ux * c;
        b->posY += uy * c;
    } else if (b->frozen) {
        a->posX -= ux * c;
        a->posY -= uy * c;
    } else {
        const float w1 = a->mass, w2 = b->mass, sum = w1 + w2;
        if (w1 == 1.0f && w2 == 1.0f) {
            // The common unit weights: (x * 1) / 2 is exactly x * 0.5, so the shares below
            // come out bit for bit the same without a division on the critical path.
            a->posX -= ux * c * 0.5f;
            a->posY -= uy * c * 0.5f;
            b->posX += ux * c * 0.5f;
            b->posY += uy * c * 0.5f;
        } else if (sum == 0.0f) {
            // Two massless masses: equal halves instead of 0/0.
            a->posX -= ux * c * 0.5f;
            a->posY -= uy * c * 0.5f;
            b->posX += ux * c * 0.5f;
            b->posY += uy * c * 0.5f;
        } else {
            a->posX -= ux * c * w2 / sum;
            a->posY -= uy * c * w2 / sum;
            b->posX += ux * c * w1 / sum;
            b->posY += uy * c * w1 / sum;
        }
    }
}

// The step's relaxation of the whole table. Consecutive constraints mostly share a mass,
// so each relaxation waits for the positions the one before stored; the common case (two
// free masses of unit weight) takes them from registers instead of reading them back.
// The arithmetic is Relax's, in the same order.
void TConstraint::RelaxAll(const Ref<TConstraint>* arr, int32_t n) {
    const TMass* pa = nullptr;
    const TMass* pb = nullptr;
    float pax = 0, pay = 0, pbx = 0, pby = 0;
    for (int32_t k = 0; k < n; ++k) {
        TConstraint* c = arr[k].Get();
        if (!c) continue;
        TMass* a = c->m[0].Get();
        TMass* b = c->m[1].Get();
        if (!a || !b || a == b || a->frozen || b->frozen || a->mass != 1.0f || b->mass != 1.0f) {
            c->Relax();
            pa = pb = nullptr;
            continue;
        }
        float ax, ay, bx, by;
        if (a == pa) {
            ax = pax;
            ay = pay;
        } else if (a == pb) {
            ax = pbx;
            ay = pby;
        } else {
            ax = a->posX;
            ay = a->posY;
        }
        if (b == pa) {
            bx = pax;
            by = pay;
        } else if (b == pb) {
            bx = pbx;
            by = pby;
        } else {
            bx = b->posX;
            by = b->posY;
        }
        const float dx = ax - bx, dy = ay - by;
        float d = std::sqrt(dx * dx + dy * dy);
        if (!(d >= 0.0001f)) d = 0.0001f;
        const float cc = (d - c->restLength) * c->stiffness;
        const float ux = dx / d, uy = dy / d;
        ax -= ux * cc * 0.5f;
        ay -= uy * cc * 0.5f;
        bx += ux * cc * 0.5f;
        by += uy * cc * 0.5f;
        a->posX = ax;
        a->posY = ay;
        b->posX = bx;
        b->posY = by;
        pa = a;
        pax = ax;
        pay = ay;
        pb = b;
        pbx = bx;
        pby = by;
    }
}

bool TConstraint::MayJoinCurrent() const {
    const TPhysics* w = TPhysics::currentWorld.Get();
    if (world_ && world_ != w) return false;
    for (const TMass* mass : m)
        if (mass && mass->GetWorld() && mass->GetWorld() != w) return false;
    return true;
}

int32_t TConstraint::AddRef() {
    // A constraint and its masses take part in one world at a time.
    if (!MayJoinCurrent()) return -1;
    if (refCounter == 0) {
        if (m[0]) m[0]->AddRef();
        if (m[1]) m[1]->AddRef();
        if (TPhysics* w = TPhysics::currentWorld.Get()) aIndex = TakeConEntry(w, this);
    }
    ++refCounter;
    return 0;
}

int32_t TConstraint::SubRef() {
    --refCounter;
    if (refCounter == 0) {
        const int32_t entry = aIndex;
        aIndex = -1;
        if (m[0]) m[0]->SubRef();
        if (m[1]) m[1]->SubRef();
        // Last: dropping the table's reference may end this object.
        if (TPhysics* w = world_) GiveConEntry(w, entry, this);
    }
    return 0;
}

}  // namespace kin::gelsim
