// Indexed bodies.
//
// Sections: table helpers; life cycle and registry; whole-body operations; the mass,
// constraint, rig and image tables (forwarding rows generated from BodyOps.h).
#include "gelsim/bodies/AdvBody.h"

#include <cmath>
#include <limits>

#include "gelsim/core/Assert.h"
#include "gelsim/core/MathUtil.h"
#include "gelsim/core/Physics.h"
#include "gelsim/core/ZoneBase.h"
#include "gelsim/core/ColEvent.h"
#include "platform/Pixmap.h"

namespace kin::gelsim {
namespace {

// ---------------------------------------------------------------------------------------
// Table helpers. A table is a count (indices handed out) and a storage whose entries from
// the count on are empty.

constexpr int32_t kMaxEntries = TAdvBody::MAX_ENTRIES;

// Stores e behind every index handed out so far. A storage that reaches up to the count is
// doubled past the new count when it is full; one that stops short of the count (read from
// a sparse file) keeps the new entry by itself. Returns the new index, or -1 when the
// table is full.
template <class T>
int32_t AppendEntry(int32_t& count, TSlots<T>& storage, Ref<T> e) {
    if (count < 0 || count >= kMaxEntries) return -1;
    GELSIM_ASSERT(!storage.Get(count));  // entries from the count on are empty
    const int32_t n = count + 1;
    if (storage.size() == static_cast<size_t>(count)) storage.Grow(static_cast<size_t>(n) * 2);
    storage.Set(n - 1, std::move(e));
    count = n;
    return n - 1;
}

template <class T>
bool SwapEntries(int32_t count, TSlots<T>& storage, int32_t a, int32_t b) {
    if (a < 0 || b < 0 || a >= count || b >= count) return false;
    Ref<T> ea(storage.Get(a)), eb(storage.Get(b));
    storage.Set(a, std::move(eb));
    storage.Set(b, std::move(ea));
    return true;
}

template <class T>
bool Exists(int32_t count, const TSlots<T>& storage, int32_t i) {
    return i >= 0 && i < count && storage.Get(i) != nullptr;
}

// Position in storage of an element whose own index may be stale (changed from outside):
// the index is tried first, then the table is searched.
template <class T>
int32_t Locate(const int32_t& count, const TSlots<T>& storage, const T* e) {
    if (!e) return -1;
    const int32_t guess = e->index;
    if (guess >= 0 && guess < count && storage.Get(guess) == e) return guess;
    for (int32_t i : storage.Below(count))
        if (storage.Get(i) == e) return i;
    return -1;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Life cycle and registry

TAdvBody::TAdvBody() { aIndex = TPhysics::TakeBodyId(this); }

TAdvBody::~TAdvBody() {
    if (aIndex < 0) return;
    // The registry lets go of a body before it can end (Free, or the end of the world), so
    // an entry naming it here is one that never was shared: clear it without dropping.
    TPhysics::ForgetBodyId(aIndex, this);
    DropBackReferences();
}

void TAdvBody::LeaveRegistry() {
    TBody::LeaveRegistry();
    if (aIndex < 0) return;
    DropBackReferences();
    aIndex = -1;
}

void TAdvBody::DropBackReferences() {
    // Elements that outlive the body's id must not name an id that another body may get next.
    mArray.ForEach([this](TMass* m) {
        if (m->abID == aIndex) m->abID = -1;
    });
    cArray.ForEach([this](TConstraint* c) {
        if (c->abID == aIndex) c->abID = -1;
    });
    rArray.ForEach([this](TRig* r) {
        if (r->abID == aIndex) r->abID = -1;
    });
}

Ref<TAdvBody> TAdvBody::Create() { return MakeRef<TAdvBody>(); }

int32_t TAdvBody::Free() {
    const Ref<TAdvBody> self(this);  // the registry's reference, dropped below, may be the last
    for (int32_t i : rArray.Below(rIndex)) RigRemove(i);
    for (int32_t i : iArray.Below(iIndex)) ImageRemove(i);
    for (int32_t i : cArray.Below(cIndex)) ConRemove(i);
    for (int32_t i : mArray.Below(mIndex)) MassRemove(i);
    DeActivate();
    if (aIndex >= 0) {
        TPhysics::GiveBodyId(aIndex, this);
        aIndex = -1;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// Whole-body operations

int32_t TAdvBody::CleanIndex() {
    MassCleanIndex();
    ConCleanIndex();
    RigCleanIndex();
    ImageCleanIndex();
    return 0;
}

int32_t TAdvBody::Activate() {
    // A body joins no world but the one whose registry holds it.
    if (GetWorld() && GetWorld() != TPhysics::currentWorld.Get()) return -1;
    // A constraint or mass of another world stays out; the others go in, and -1 says so.
    int32_t result = 0;
    for (int32_t i : cArray.Below(cIndex))
        if (ConAssign(i) < 0) result = -1;
    return result;
}

int32_t TAdvBody::DeActivate() {
    for (int32_t i : cArray.Below(cIndex)) ConFree(i);
    return 0;
}

int32_t TAdvBody::Draw() {
    for (int32_t i : rArray.Below(rIndex))
        if (TRig* r = RigAt(i)) r->Draw();
    return 0;
}

int32_t TAdvBody::Move(float dx, float dy) {
    for (int32_t i : mArray.Below(mIndex)) MassMove(i, dx, dy);
    return 0;
}

int32_t TAdvBody::Translate(float dx, float dy) {
    for (int32_t i : mArray.Below(mIndex)) MassTranslate(i, dx, dy);
    return 0;
}

int32_t TAdvBody::Position(float x, float y) {
    float fx = 0.0f, fy = 0.0f;
    bool found = false;
    for (int32_t i : mArray.Below(mIndex))
        if (TMass* m = MassAt(i)) {
            fx = m->posX;
            fy = m->posY;
            found = true;
            break;
        }
    if (!found) return 0;
    for (int32_t j : mArray.Below(mIndex))
        if (TMass* m = MassAt(j)) {
            const float nx = (x + m->posX) - fx;
            const float ny = (y + m->posY) - fy;
            m->Position(nx, ny);
        }
    return 0;
}

int32_t TAdvBody::GetPosition(float& x, float& y) const {
    for (int32_t i : mArray.Below(mIndex))
        if (TMass* m = MassAt(i)) return m->GetPosition(x, y);
    return 0;
}

float TAdvBody::GetX() const {
    for (int32_t i : mArray.Below(mIndex))
        if (TMass* m = MassAt(i)) return m->GetX();
    return 0.0f;
}

float TAdvBody::GetY() const {
    for (int32_t i : mArray.Below(mIndex))
        if (TMass* m = MassAt(i)) return m->GetY();
    return 0.0f;
}

float TAdvBody::GetRotation() const {
    for (int32_t i : cArray.Below(cIndex))
        if (TConstraint* c = ConAt(i)) return c->GetAngle();
    return 0.0f;
}

void TAdvBody::TurnMasses(float angle, int mode) {
    float px = 0.0f, py = 0.0f;
    GetPosition(px, py);
    const float r0 = mode == 0 ? GetRotation() : 0.0f;
    for (int32_t i : mArray.Below(mIndex)) {
        TMass* m = MassAt(i);
        if (!m) continue;
        const float dx = m->posX - px, dy = m->posY - py;
        const float d = std::sqrt(dx * dx + dy * dy);
        const float a = DegAtan2(dy, dx);
        if (mode == 0) {
            const float t = a - r0 + angle;
            m->Position(px + d * DegCos(t), py + d * DegSin(t));
        } else {
            const float b = a + angle;
            const float mx = d * DegCos(b) - dx, my = d * DegSin(b) - dy;
            if (mode == 1)
                m->Move(mx, my);
            else
                m->Translate(mx, my);
        }
    }
}

int32_t TAdvBody::Rotate(float angle) {
    TurnMasses(angle, 0);
    return 0;
}

int32_t TAdvBody::Spin(float angle) {
    TurnMasses(angle, 1);
    return 0;
}

int32_t TAdvBody::Turn(float angle) {
    TurnMasses(angle, 2);
    return 0;
}

int32_t TAdvBody::Freeze() {
    for (int32_t i : mArray.Below(mIndex)) MassFreeze(i);
    return 0;
}

int32_t TAdvBody::Thaw() {
    for (int32_t i : mArray.Below(mIndex)) MassThaw(i);
    return 0;
}

namespace {
// Appends the event for (a, b) to list (made on first use).
void Gather(Ref<TList>& list, TObject* a, TObject* b) {
    if (TColEvent* e = TColEvent::Seek(a, b)) {
        if (!list) list = MakeRef<TList>();
        list->AddLast(e);
    }
}
}  // namespace

Ref<TList> TAdvBody::CollideAdvBody(TAdvBody* other) const {
    Ref<TList> out;
    if (!other) return out;
    for (int32_t i : mArray.Below(mIndex)) {
        TMass* m = MassAt(i);
        if (!m) continue;
        for (int32_t j : other->mArray.Below(other->mIndex))
            if (TMass* o = other->MassAt(j)) Gather(out, m, o);
    }
    return out;
}

Ref<TList> TAdvBody::CollideZone(TZoneBase* zone) const {
    Ref<TList> out;
    if (!zone) return out;
    for (int32_t i : mArray.Below(mIndex))
        if (TMass* m = MassAt(i)) Gather(out, m, zone);
    return out;
}

Ref<TList> TAdvBody::CollideBounds() const {
    Ref<TList> out;
    for (int32_t i : mArray.Below(mIndex))
        if (TMass* m = MassAt(i)) Gather(out, m, nullptr);
    return out;
}

// ---------------------------------------------------------------------------------------
// Element access

TMass* TAdvBody::MassAt(int32_t index) const { return mArray.Get(index); }
TConstraint* TAdvBody::ConAt(int32_t index) const { return cArray.Get(index); }
TImage* TAdvBody::ImageAt(int32_t index) const { return iArray.Get(index); }
TRig* TAdvBody::RigAt(int32_t index) const { return rArray.Get(index); }

int32_t TAdvBody::IndexOfMass(const TMass* m) const { return Locate(mIndex, mArray, m); }
int32_t TAdvBody::IndexOfCon(const TConstraint* c) const { return Locate(cIndex, cArray, c); }

int32_t TAdvBody::IndexOfImage(const TImage* img) const {
    if (!img) return -1;
    for (int32_t i : iArray.Below(iIndex))
        if (iArray.Get(i) == img) return i;
    return -1;
}

// Forwarding rows: the element at the index, or Ret{} for an empty entry.
#define GELSIM_DEFINE_FORWARD(At, Name, Method, Ret, Params, Args) \
    Ret TAdvBody::Name(int32_t index GELSIM_TAIL Params) {          \
        auto* e = At(index);                                        \
        if (!e) return Ret{};                                       \
        return e->Method Args;                                      \
    }
#define GELSIM_FORWARD_MASS(Name, Method, Ret, Params, Args) GELSIM_DEFINE_FORWARD(MassAt, Name, Method, Ret, Params, Args)
#define GELSIM_FORWARD_CON(Name, Method, Ret, Params, Args) GELSIM_DEFINE_FORWARD(ConAt, Name, Method, Ret, Params, Args)
#define GELSIM_FORWARD_RIG(Name, Method, Ret, Params, Args) GELSIM_DEFINE_FORWARD(RigAt, Name, Method, Ret, Params, Args)

GELSIM_MASS_OPS(GELSIM_FORWARD_MASS, GELSIM_SKIP_HAND)
GELSIM_CON_OPS(GELSIM_FORWARD_CON, GELSIM_SKIP_HAND)
GELSIM_RIG_OPS(GELSIM_FORWARD_RIG, GELSIM_SKIP_HAND)

#undef GELSIM_FORWARD_MASS
#undef GELSIM_FORWARD_CON
#undef GELSIM_FORWARD_RIG
#undef GELSIM_DEFINE_FORWARD

// ---------------------------------------------------------------------------------------
// Mass table

int32_t TAdvBody::MassAdd(float x, float y, float mass, float radius, float friction, int32_t colGroup) {
    if (mIndex >= kMaxEntries) return -1;
    Ref<TMass> m = TMass::Create(x, y, mass, radius, friction, colGroup);
    TMass* raw = m.Get();
    const int32_t i = AppendEntry(mIndex, mArray, std::move(m));
    if (i < 0) return -1;
    raw->abID = aIndex;
    raw->index = i;
    return i;
}

int32_t TAdvBody::MassRemove(int32_t index) {
    const Ref<TMass> m(MassAt(index));
    if (!m) return 0;
    for (int32_t r : rArray.Below(rIndex))
        if (TRig* rig = RigAt(r); rig && rig->mass.Get() == m.Get()) RigRemove(r);
    for (int32_t c : cArray.Below(cIndex))
        if (TConstraint* con = ConAt(c); con && (con->m[0].Get() == m.Get() || con->m[1].Get() == m.Get()))
            ConRemove(c);
    m->abID = -1;
    // The cascade cannot move entries, but a callback could have: clear only what is ours.
    if (MassAt(index) == m.Get()) mArray.Set(index, nullptr);
    return 0;
}

int32_t TAdvBody::MassMaxIndex() { return mIndex - 1; }

int32_t TAdvBody::MassSwapIndex(int32_t a, int32_t b) {
    if (!SwapEntries(mIndex, mArray, a, b)) return 0;
    if (TMass* m = MassAt(a)) m->index = a;
    if (TMass* m = MassAt(b)) m->index = b;
    return 0;
}

int32_t TAdvBody::MassCleanIndex() {
    int32_t n = 0;
    for (int32_t j : mArray.Below(mIndex))
        if (MassAt(j)) MassSwapIndex(n++, j);
    mIndex = n;
    return 0;
}

int32_t TAdvBody::MassExists(int32_t index) { return Exists(mIndex, mArray, index) ? 1 : 0; }

TMass* TAdvBody::MassGet(int32_t index) { return MassAt(index); }

int32_t TAdvBody::MassDrawAll() {
    for (int32_t i : mArray.Below(mIndex))
        if (TMass* m = MassAt(i)) m->Draw();
    return 0;
}

// ---------------------------------------------------------------------------------------
// Constraint table

int32_t TAdvBody::ConAddAll(float stiffness) {
    for (int32_t i : mArray.Below(mIndex))
        for (int32_t j = i; j < mIndex; j = mArray.Next(j)) ConAdd(i, j, -1.0f, stiffness);
    return 0;
}

int32_t TAdvBody::ConAdd(int32_t mass1, int32_t mass2, float restLength, float stiffness) {
    if (mass1 == mass2 || !MassExists(mass1) || !MassExists(mass2) || cIndex >= kMaxEntries) return -1;
    Ref<TConstraint> c = TConstraint::Create(MassAt(mass1), MassAt(mass2), restLength, stiffness);
    TConstraint* raw = c.Get();
    const int32_t i = AppendEntry(cIndex, cArray, std::move(c));
    if (i < 0) return -1;
    raw->abID = aIndex;
    raw->index = i;
    return i;
}

int32_t TAdvBody::ConRemove(int32_t index) {
    const Ref<TConstraint> c(ConAt(index));
    if (!c) return 0;
    for (int32_t r : rArray.Below(rIndex))
        if (TRig* rig = RigAt(r); rig && rig->con.Get() == c.Get()) RigRemove(r);
    c->Free(this);
    c->abID = -1;
    if (ConAt(index) == c.Get()) cArray.Set(index, nullptr);
    return 0;
}

int32_t TAdvBody::ConMaxIndex() { return cIndex - 1; }

int32_t TAdvBody::ConSwapIndex(int32_t a, int32_t b) {
    if (!SwapEntries(cIndex, cArray, a, b)) return 0;
    if (TConstraint* c = ConAt(a)) c->index = a;
    if (TConstraint* c = ConAt(b)) c->index = b;
    return 0;
}

int32_t TAdvBody::ConCleanIndex() {
    int32_t n = 0;
    for (int32_t j : cArray.Below(cIndex))
        if (ConAt(j)) ConSwapIndex(n++, j);
    cIndex = n;
    return 0;
}

int32_t TAdvBody::ConExists(int32_t index) { return Exists(cIndex, cArray, index) ? 1 : 0; }

TConstraint* TAdvBody::ConGet(int32_t index) { return ConAt(index); }

int32_t TAdvBody::ConAssign(int32_t index) {
    if (TConstraint* c = ConAt(index)) return c->Assign(this) < 0 ? -1 : 0;
    return 0;
}

int32_t TAdvBody::ConFree(int32_t index) {
    if (TConstraint* c = ConAt(index)) c->Free(this);
    return 0;
}

int32_t TAdvBody::ConGetMass1(int32_t index) {
    TConstraint* c = ConAt(index);
    return c ? IndexOfMass(c->m[0].Get()) : 0;
}

int32_t TAdvBody::ConGetMass2(int32_t index) {
    TConstraint* c = ConAt(index);
    return c ? IndexOfMass(c->m[1].Get()) : 0;
}

int32_t TAdvBody::ConDrawAll() {
    for (int32_t i : cArray.Below(cIndex))
        if (TConstraint* c = ConAt(i)) c->Draw();
    return 0;
}

// ---------------------------------------------------------------------------------------
// Rig table

int32_t TAdvBody::RigAdd(int32_t image, int32_t mass, int32_t con, float angle) {
    if (!ImageExists(image) || !MassExists(mass) || rIndex >= kMaxEntries) return -1;
    TConstraint* c = con < 0 ? nullptr : ConAt(con);
    Ref<TRig> r = TRig::Create(ImageAt(image), MassAt(mass), c, angle);
    TRig* raw = r.Get();
    const int32_t i = AppendEntry(rIndex, rArray, std::move(r));
    if (i < 0) return -1;
    raw->abID = aIndex;
    raw->index = i;
    return i;
}

int32_t TAdvBody::RigRemove(int32_t index) {
    TRig* r = RigAt(index);
    if (!r) return 0;
    r->abID = -1;
    rArray.Set(index, nullptr);
    return 0;
}

int32_t TAdvBody::RigMaxIndex() { return rIndex - 1; }

int32_t TAdvBody::RigSwapIndex(int32_t a, int32_t b) {
    if (!SwapEntries(rIndex, rArray, a, b)) return 0;
    if (TRig* r = RigAt(a)) r->index = a;
    if (TRig* r = RigAt(b)) r->index = b;
    return 0;
}

int32_t TAdvBody::RigCleanIndex() {
    int32_t n = 0;
    for (int32_t j : rArray.Below(rIndex))
        if (RigAt(j)) RigSwapIndex(n++, j);
    rIndex = n;
    return 0;
}

int32_t TAdvBody::RigExists(int32_t index) { return Exists(rIndex, rArray, index) ? 1 : 0; }

TRig* TAdvBody::RigGet(int32_t index) { return RigAt(index); }

int32_t TAdvBody::RigSetImage(int32_t index, int32_t image) {
    TRig* r = RigAt(index);
    if (r && ImageExists(image)) r->SetImage(ImageAt(image));
    return 0;
}

int32_t TAdvBody::RigGetImage(int32_t index) {
    TRig* r = RigAt(index);
    return r ? IndexOfImage(r->image.Get()) : 0;
}

int32_t TAdvBody::RigSetMass(int32_t index, int32_t mass) {
    TRig* r = RigAt(index);
    if (r && MassExists(mass)) r->SetMass(MassAt(mass));
    return 0;
}

int32_t TAdvBody::RigGetMass(int32_t index) {
    TRig* r = RigAt(index);
    return r ? IndexOfMass(r->mass.Get()) : 0;
}

int32_t TAdvBody::RigSetConstraint(int32_t index, int32_t con) {
    if (TRig* r = RigAt(index)) r->SetConstraint(con == -1 ? nullptr : ConAt(con));
    return 0;
}

int32_t TAdvBody::RigGetConstraint(int32_t index) {
    TRig* r = RigAt(index);
    if (!r) return 0;
    return r->con ? IndexOfCon(r->con.Get()) : -1;
}

// ---------------------------------------------------------------------------------------
// Image table

namespace {
// An image from anything the image loader accepts: the object itself when it is an image,
// a decoded stream or pixmap otherwise. Null when nothing could be made of it.
Ref<TImage> ResolveImage(TObject* obj) {
    if (!obj) return nullptr;
    if (auto* img = As<TImage>(obj)) return img;
    if (auto* s = As<TStream>(obj)) return LoadImage(*s, -1);
    if (auto* pm = As<TPixmap>(obj)) return LoadImage(pm, -1);
    return nullptr;
}
}  // namespace

int32_t TAdvBody::StoreImage(Ref<TImage> image) {
    if (!image) return -1;
    return AppendEntry(iIndex, iArray, std::move(image));
}

int32_t TAdvBody::ImageAdd(TObject* obj) { return StoreImage(ResolveImage(obj)); }

int32_t TAdvBody::ImageAdd(const std::string& path) { return StoreImage(LoadImage(path, -1)); }

int32_t TAdvBody::ImageRemove(int32_t index) {
    const Ref<TImage> img(ImageAt(index));
    if (!img) return 0;
    for (int32_t r : rArray.Below(rIndex))
        if (TRig* rig = RigAt(r); rig && rig->image.Get() == img.Get()) RigRemove(r);
    iArray.Set(index, nullptr);
    return 0;
}

int32_t TAdvBody::ImageMaxIndex() { return iIndex - 1; }

int32_t TAdvBody::ImageSwapIndex(int32_t a, int32_t b) {
    SwapEntries(iIndex, iArray, a, b);
    return 0;
}

int32_t TAdvBody::ReplaceImage(int32_t index, Ref<TImage> image) {
    // Only entries below the count: an image stored behind it would be invisible to the
    // table and overwritten by the next ImageAdd.
    if (!image || index < 0 || index >= iIndex) return 0;
    if (TImage* old = ImageAt(index))
        for (int32_t r : rArray.Below(rIndex))
            if (TRig* rig = RigAt(r); rig && rig->image.Get() == old) rig->SetImage(image.Get());
    iArray.Set(index, std::move(image));
    return 1;
}

int32_t TAdvBody::ImageReplace(int32_t index, TObject* obj) {
    if (index < 0 || index >= iIndex) return 0;
    return ReplaceImage(index, ResolveImage(obj));
}

int32_t TAdvBody::ImageReplace(int32_t index, const std::string& path) {
    if (index < 0 || index >= iIndex) return 0;
    return ReplaceImage(index, LoadImage(path, -1));
}

int32_t TAdvBody::ImageCleanIndex() {
    int32_t n = 0;
    for (int32_t j : iArray.Below(iIndex))
        if (ImageAt(j)) ImageSwapIndex(n++, j);
    iIndex = n;
    return 0;
}

int32_t TAdvBody::ImageExists(int32_t index) { return Exists(iIndex, iArray, index) ? 1 : 0; }

TImage* TAdvBody::ImageGet(int32_t index) { return ImageAt(index); }

}  // namespace kin::gelsim
