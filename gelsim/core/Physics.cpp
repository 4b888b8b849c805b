// The world: construction, parameters, tables and the step.
//
// Sections: construction and parameters; tables and registry; the step (Update,
// HandleMass, all-pairs finding). The grid and its pair search are in Grid.cpp.
#include "gelsim/core/Physics.h"
#include "gelsim/core/Assert.h"
#include "gelsim/core/detail/Contact.h"
#include "gelsim/core/detail/EventQueue.h"
#include "gelsim/core/detail/MassLinks.h"
#include "gelsim/core/detail/PairIndex.h"
#include "gelsim/core/detail/Tables.h"
#include "gelsim/core/detail/World.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "gelsim/core/Body.h"
#include "gelsim/core/Constraint.h"
#include "gelsim/core/Mass.h"
#include "gelsim/core/ZoneBase.h"
#include "gelsim/core/ColEvent.h"

namespace kin::gelsim {
namespace {

// Cells per world unit for a box side. An empty, negative or non-finite side has no
// meaningful ratio; 0 keeps the grid usable by putting every mass in the first cell
// (pairs are then still found, just without the grid's speed-up).
float CellRatio(int32_t cells, float extent) {
    if (!(extent > 0.0f) || !std::isfinite(extent)) return 0.0f;
    const float r = static_cast<float>(cells) / extent;
    return std::isfinite(r) ? r : 0.0f;
}

// Wall friction on the motion along a wall: the motion loses f, or stops when it is
// smaller than f. Only the old position moves, so the mass stays where the push put it.
inline void WallFriction(float pos, float& old, float f) {
    const float v = pos - old;
    if (f > std::fabs(v)) {
        old = pos;
    } else {
        const float sign = v > 0.0f ? 1.0f : (v < 0.0f ? -1.0f : 0.0f);
        old = old + f * sign;
    }
}

}  // namespace

// What the entries from k to the end of the mass table hold, for the all-pairs search:
// the one non-zero group among them (kind SOLE), none (NONE) or several (MIXED; a group
// that is not a number counts as several, since it equals nothing). Made by one scan from
// the end and kept while nothing can have changed a group or the table: within one pass,
// no contact emitted (callbacks run only for contacts, and zones reach the program only
// through their contacts) and no pair of masses handed to the contact code (a mass type
// may answer on its own).
struct detail::GroupSuffix {
    enum : uint8_t { NONE, SOLE, MIXED };
    std::vector<float> group;
    std::vector<uint8_t> kind;
    uint64_t pass = 0, contacts = 0;
    int32_t count = -1;
    bool valid = false;

    void Make(const TPhysics& w, int32_t n) {
        group.resize(static_cast<size_t>(n) + 1);
        kind.resize(static_cast<size_t>(n) + 1);
        group[static_cast<size_t>(n)] = 0.0f;
        kind[static_cast<size_t>(n)] = NONE;
        for (int32_t j = n - 1; j >= 0; --j) {
            const size_t i = static_cast<size_t>(j);
            const TMass* m = w.massArray[i].Get();
            const float g = m ? m->colGroup : 0.0f;
            group[i] = group[i + 1];
            kind[i] = kind[i + 1];
            if (g == 0.0f || kind[i] == MIXED) continue;
            if (g != g || (kind[i] == SOLE && g != group[i]))
                kind[i] = MIXED;
            else {
                kind[i] = SOLE;
                group[i] = g;
            }
        }
    }
};

// ---------------------------------------------------------------------------------------
// Construction and parameters
// ---------------------------------------------------------------------------------------

TPhysics::TPhysics()
    : shiftgrid(std::make_unique<Grid>()),
      index_(std::make_unique<detail::PairIndex>(*this)),
      events_(std::make_unique<detail::EventQueue>(this)),
      suffix_(std::make_unique<detail::GroupSuffix>()) {
    ResetView();
    ResetTables();
    stepHold_.reserve(64);
}

TPhysics::~TPhysics() {
    // Bodies go first, while the tables and the grid their elements leave still exist;
    // then the table references, so that masses dying with them unlink from cells that
    // still exist; the grid's lists then unlink whatever is left.
    ReleaseBodies();
    // The queue's records hold masses and zones (never the world itself).
    events_.reset();
    ForgetMembers();
    massArray.clear();
    conArray.clear();
    zoneArray.clear();
    stepHold_.clear();
    // Masses still in cells (active when the world was freed) forget the pair index; the
    // cell lists unlink them as they go.
    index_.reset();
}

void TPhysics::ResetTables() {
    massArray.assign(TABLE_START, nullptr);
    massFree.assign(TABLE_START, 0);
    massCount = massFreeCount = 0;
    conArray.assign(TABLE_START, nullptr);
    conFree.assign(TABLE_START, 0);
    conCount = conFreeCount = 0;
    zoneArray.assign(TABLE_START, nullptr);
    zoneFree.assign(TABLE_START, 0);
    zoneCount = zoneFreeCount = 0;
    bodyArray.assign(TABLE_START, nullptr);
    bodyFree.assign(TABLE_START, 0);
    bodyCount = bodyFreeCount = 0;
}

void TPhysics::ForgetMembers() {
    for (auto& m : massArray)
        if (m && detail::MassAccess::World(m.Get()) == this) detail::MassAccess::World(m.Get()) = nullptr;
    for (auto& c : conArray)
        if (c && c->world_ == this) c->world_ = nullptr;
    for (auto& z : zoneArray)
        if (z && z->world_ == this) z->world_ = nullptr;
}

Ref<TPhysics> TPhysics::SetCurrent(TPhysics* w) {
    Ref<TPhysics> previous = std::move(currentWorld);
    currentWorld = w;
    return previous;
}

int32_t TPhysics::Step(int32_t n) {
    const Scope scope(this);
    for (int32_t k = 0; k < n; ++k) Update();
    return 0;
}

Ref<TPhysics> TPhysics::Create(float maxX, float maxY, float gravityY, float gravityX, int32_t iterations) {
    // The previous world lives on while something else holds it; if nothing does, it ends
    // here and lets go of everything it held.
    Ref<TPhysics> w = MakeRef<TPhysics>();
    currentWorld = w;
    w->boundsMinX = 0.0f;
    w->boundsMinY = 0.0f;
    w->boundsMaxX = maxX;
    w->boundsMaxY = maxY;
    w->gravityY = gravityY;
    w->gravityX = gravityX;
    w->i = iterations;
    w->friction = 1.0f;
    w->gridsize = 8;
    w->ratiox = CellRatio(8, maxX);
    w->ratioy = CellRatio(8, maxY);
    return w;
}

int32_t TPhysics::Free() {
    TPhysics* w = currentWorld.Get();
    if (!w) return 0;
    w->boundsMinX = w->boundsMinY = w->boundsMaxX = w->boundsMaxY = 0.0f;
    w->gravityX = w->gravityY = 0.0f;
    w->friction = 0.0f;
    w->i = 0;
    // Registered bodies are let go first, while their constraints and masses can still
    // leave the tables; then the events, which name what the tables held.
    w->ReleaseBodies();
    detail::FlushEvents(*w);
    w->ForgetMembers();
    // Tables become empty arrays; counts stay. A step in progress keeps the objects alive
    // until it ends.
    for (auto& r : w->massArray)
        if (r) w->DropEntry(std::move(r));
    for (auto& r : w->conArray)
        if (r) w->DropEntry(std::move(r));
    for (auto& r : w->zoneArray)
        if (r) w->DropEntry(std::move(r));
    w->massArray.clear();
    w->massFree.clear();
    w->conArray.clear();
    w->conFree.clear();
    w->zoneArray.clear();
    w->zoneFree.clear();
    currentWorld = nullptr;
    return 0;
}

int32_t TPhysics::SetGravity(float x, float y) {
    if (TPhysics* w = currentWorld.Get()) {
        w->gravityX = x;
        w->gravityY = y;
    }
    return 0;
}

int32_t TPhysics::SetIterations(int32_t n) {
    if (TPhysics* w = currentWorld.Get()) w->i = n;
    return 0;
}

int32_t TPhysics::SetBounds(float x1, float y1, float x2, float y2) {
    if (TPhysics* w = currentWorld.Get()) {
        w->boundsMinX = std::min(x1, x2);
        w->boundsMinY = std::min(y1, y2);
        w->boundsMaxX = std::max(x1, x2);
        w->boundsMaxY = std::max(y1, y2);
    }
    return 0;
}

int32_t TPhysics::GetBounds(float& minX, float& minY, float& maxX, float& maxY) {
    if (TPhysics* w = currentWorld.Get()) {
        minX = w->boundsMinX;
        minY = w->boundsMinY;
        maxX = w->boundsMaxX;
        maxY = w->boundsMaxY;
    }
    return 0;
}

int32_t TPhysics::SetFriction(float f) {
    if (TPhysics* w = currentWorld.Get()) w->friction = f;
    return 0;
}

int32_t TPhysics::UseShiftedGrid(int32_t flag) {
    if (TPhysics* w = currentWorld.Get()) w->gridon = flag;
    return 0;
}

int32_t TPhysics::SetGridSize(int32_t n) {
    if (TPhysics* w = currentWorld.Get()) {
        w->gridsize = std::min(MAX_GRID, std::max(8, n));
        w->ratiox = CellRatio(w->gridsize, w->boundsMaxX - w->boundsMinX);
        w->ratioy = CellRatio(w->gridsize, w->boundsMaxY - w->boundsMinY);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// Tables and registry
// ---------------------------------------------------------------------------------------

namespace {
// Automatic groups handed out while no world is current.
std::atomic<int32_t> gLooseColGroup{-2};

// Wrap instead of overflowing after 2^31 groups.
inline int32_t NextGroupAfter(int32_t g) { return g == INT32_MIN ? -2 : g - 1; }
}  // namespace

int32_t TPhysics::TakeColGroup() {
    if (TPhysics* w = currentWorld.Get()) {
        const int32_t g = w->nextColGroup;
        w->nextColGroup = NextGroupAfter(g);
        return g;
    }
    int32_t g = gLooseColGroup.load(std::memory_order_relaxed);
    while (!gLooseColGroup.compare_exchange_weak(g, NextGroupAfter(g), std::memory_order_relaxed)) {
    }
    return g;
}

void TPhysics::ReleaseBodies() {
    // Every entry is emptied before any body goes, so a body ending here finds the
    // registry consistent.
    std::vector<Ref<TObject>> held;
    for (auto& e : bodyArray)
        if (e) held.push_back(std::move(e));
    // A body that outlives the registry must not go on naming an id that a body of the
    // next world may get.
    for (auto& b : held)
        if (auto* body = As<TBody>(b.Get()); body && body->world_ == this) body->LeaveRegistry();
    for (auto& b : held) DropEntry(std::move(b));
}

void TPhysics::DropEntry(Ref<TObject> held) {
    if (stepping_ && held)
        stepHold_.push_back(std::move(held));
    // Otherwise the reference goes with `held`.
}

namespace {

// Takes an entry: the most recently freed one, else the next new one; doubles the
// table and its free stack when the high-water mark reaches the length.
template <class Table>
int32_t TakeEntry(Table& array, std::vector<int32_t>& freeStack, int32_t& count, int32_t& freeCount) {
    int32_t entry;
    if (freeCount > 0 && freeCount <= static_cast<int32_t>(freeStack.size())) {
        --freeCount;
        entry = freeStack[static_cast<size_t>(freeCount)];
    } else {
        entry = count;
        ++count;
        if (count >= static_cast<int32_t>(array.size())) {
            array.resize(static_cast<size_t>(count) * 2);
            freeStack.resize(static_cast<size_t>(count) * 2, 0);
        }
    }
    return entry;
}

inline void PushFree(std::vector<int32_t>& freeStack, int32_t& freeCount, int32_t entry) {
    if (freeCount >= 0 && freeCount < static_cast<int32_t>(freeStack.size())) {
        freeStack[static_cast<size_t>(freeCount)] = entry;
        ++freeCount;
    }
}

}  // namespace

int32_t TPhysics::TakeZoneEntry(TZoneBase* zone) {
    TPhysics* w = currentWorld.Get();
    if (!w || !zone) return -1;
    const int32_t e = TakeEntry(w->zoneArray, w->zoneFree, w->zoneCount, w->zoneFreeCount);
    GELSIM_ASSERT(e >= 0 && e < static_cast<int32_t>(w->zoneArray.size()) && !w->zoneArray[static_cast<size_t>(e)]);
    w->zoneArray[static_cast<size_t>(e)] = zone;
    zone->world_ = w;
    return e;
}

void TPhysics::GiveZoneEntry(int32_t entry, TZoneBase* zone) {
    TPhysics* w = zone ? zone->world_ : nullptr;
    if (!w || entry < 0 || entry >= static_cast<int32_t>(w->zoneArray.size())) return;
    auto& slot = w->zoneArray[static_cast<size_t>(entry)];
    if (slot.Get() != zone) return;
    zone->world_ = nullptr;
    PushFree(w->zoneFree, w->zoneFreeCount, entry);
    w->DropEntry(std::move(slot));
    slot = nullptr;
}

int32_t TPhysics::TakeBodyId(TObject* body) {
    TPhysics* w = currentWorld.Get();
    if (!w || !body) return -1;
    const int32_t id = TakeEntry(w->bodyArray, w->bodyFree, w->bodyCount, w->bodyFreeCount);
    GELSIM_ASSERT(id >= 0 && id < static_cast<int32_t>(w->bodyArray.size()) && !w->bodyArray[static_cast<size_t>(id)]);
    w->bodyArray[static_cast<size_t>(id)] = body;
    if (auto* b = As<TBody>(body)) b->world_ = w;
    return id;
}

namespace {
// The world whose registry holds a body: the one it remembers, else the current one.
TPhysics* RegistryOf(TObject* body) {
    if (auto* b = As<TBody>(body)) return b->GetWorld();
    return TPhysics::currentWorld.Get();
}
}  // namespace

void TPhysics::GiveBodyId(int32_t id, TObject* body) {
    TPhysics* w = RegistryOf(body);
    if (!w || id < 0 || id >= static_cast<int32_t>(w->bodyArray.size())) return;
    auto& slot = w->bodyArray[static_cast<size_t>(id)];
    if (!body || slot.Get() != body) return;
    if (auto* b = As<TBody>(body)) b->world_ = nullptr;
    PushFree(w->bodyFree, w->bodyFreeCount, id);
    w->DropEntry(std::move(slot));  // may end the body
}

void TPhysics::ForgetBodyId(int32_t id, TObject* body) {
    TPhysics* w = RegistryOf(body);
    if (!w || id < 0 || id >= static_cast<int32_t>(w->bodyArray.size())) return;
    auto& slot = w->bodyArray[static_cast<size_t>(id)];
    if (!body || slot.Get() != body) return;
    PushFree(w->bodyFree, w->bodyFreeCount, id);
    slot.Detach();
}

TObject* TPhysics::GetBody(int32_t id) { return GetBodyIn(currentWorld.Get(), id); }

TObject* TPhysics::GetBodyIn(TPhysics* w, int32_t id) {
    if (!w || id < 0 || id >= w->bodyCount || id >= static_cast<int32_t>(w->bodyArray.size())) return nullptr;
    return w->bodyArray[static_cast<size_t>(id)].Get();
}

// Mass and constraint entries (used by TMass / TConstraint AddRef and SubRef).
int32_t TakeMassEntry(TPhysics* w, TMass* m) {
    const int32_t e = TakeEntry(w->massArray, w->massFree, w->massCount, w->massFreeCount);
    GELSIM_ASSERT(e >= 0 && e < static_cast<int32_t>(w->massArray.size()) && !w->massArray[static_cast<size_t>(e)]);
    w->massArray[static_cast<size_t>(e)] = m;
    detail::MassAccess::World(m) = w;
    return e;
}

void GiveMassEntry(TPhysics* w, int32_t e, TMass* m) {
    if (e < 0 || e >= static_cast<int32_t>(w->massArray.size())) return;
    auto& slot = w->massArray[static_cast<size_t>(e)];
    if (slot.Get() != m) return;
    detail::MassAccess::World(m) = nullptr;
    PushFree(w->massFree, w->massFreeCount, e);
    detail::WorldAccess::DropEntry(*w, std::move(slot));
    slot = nullptr;
}

int32_t TakeConEntry(TPhysics* w, TConstraint* c) {
    const int32_t e = TakeEntry(w->conArray, w->conFree, w->conCount, w->conFreeCount);
    GELSIM_ASSERT(e >= 0 && e < static_cast<int32_t>(w->conArray.size()) && !w->conArray[static_cast<size_t>(e)]);
    w->conArray[static_cast<size_t>(e)] = c;
    c->world_ = w;
    return e;
}

void GiveConEntry(TPhysics* w, int32_t e, TConstraint* c) {
    if (e < 0 || e >= static_cast<int32_t>(w->conArray.size())) return;
    auto& slot = w->conArray[static_cast<size_t>(e)];
    if (slot.Get() != c) return;
    c->world_ = nullptr;
    PushFree(w->conFree, w->conFreeCount, e);
    detail::WorldAccess::DropEntry(*w, std::move(slot));
    slot = nullptr;
}

// ---------------------------------------------------------------------------------------
// The step
// ---------------------------------------------------------------------------------------

namespace {

// Box, horizontal axis (one side per pass), then vertical. False when a callback took
// the mass out of the world.
[[gnu::noinline]] bool BoxContacts(TPhysics& w, TMass* m) {
    const float r = m->radius;
    if (m->posX < w.boundsMinX + r) {
        const float depth = (w.boundsMinX + r) - m->posX;
        m->posX = w.boundsMinX + r;
        detail::EmitContact(TColEvent::MASS_BOUNDS, m, &w, w.boundsMinX, m->posY, depth);
        WallFriction(m->posY, m->oldPosY, depth * (m->friction + w.friction) * 0.5f);
        if (m->aIndex < 0) return false;
    } else if (m->posX > w.boundsMaxX - r) {
        const float depth = m->posX - (w.boundsMaxX - r);
        m->posX = w.boundsMaxX - r;
        detail::EmitContact(TColEvent::MASS_BOUNDS, m, &w, w.boundsMaxX, m->posY, depth);
        WallFriction(m->posY, m->oldPosY, depth * (m->friction + w.friction) * 0.5f);
        if (m->aIndex < 0) return false;
    }
    if (m->posY < w.boundsMinY + r) {
        const float depth = (w.boundsMinY + r) - m->posY;
        m->posY = w.boundsMinY + r;
        detail::EmitContact(TColEvent::MASS_BOUNDS, m, &w, m->posX, w.boundsMinY, depth);
        WallFriction(m->posX, m->oldPosX, depth * (m->friction + w.friction) * 0.5f);
        if (m->aIndex < 0) return false;
    } else if (m->posY > w.boundsMaxY - r) {
        const float depth = m->posY - (w.boundsMaxY - r);
        m->posY = w.boundsMaxY - r;
        detail::EmitContact(TColEvent::MASS_BOUNDS, m, &w, m->posX, w.boundsMaxY, depth);
        WallFriction(m->posX, m->oldPosX, depth * (m->friction + w.friction) * 0.5f);
        if (m->aIndex < 0) return false;
    }
    return true;
}

// Zones. The zone is held while it works: its response may run callbacks that take it out
// of the table. False when a callback took the mass out of the world.
[[gnu::noinline]] bool ZoneContacts(TPhysics& w, TMass* m) {
    const int32_t nz = w.zoneCount;
    for (int32_t z = 0; z < nz; ++z) {
        if (z >= static_cast<int32_t>(w.zoneArray.size())) break;
        TZoneBase* zone = w.zoneArray[static_cast<size_t>(z)].Get();
        if (!zone || zone->colGroup == 0 || static_cast<float>(zone->colGroup) == m->colGroup) continue;
        const Ref<TZoneBase> hold(zone);
        zone->Collide(m);
        if (m->aIndex < 0) return false;
    }
    return true;
}

// All pairs: each pair once, from the mass in the lower entry. The count is read afresh,
// so masses entering during the loop are met. Masses of one group never meet: when every
// later entry is empty, in group 0 or in the mass's own group, no pair can pass the group
// test and the loop is skipped.
void CollideAllPairs(TPhysics& w, TMass* m, int32_t k) {
    const int32_t n = std::min(w.massCount, static_cast<int32_t>(w.massArray.size()));
    detail::GroupSuffix& s = *detail::WorldAccess::Suffix(w);
    const uint64_t contacts = detail::ContactCount(w);
    if (!s.valid || s.pass != detail::WorldAccess::Passes(w) || s.count != n || s.contacts != contacts) {
        s.Make(w, n);
        s.pass = detail::WorldAccess::Passes(w);
        s.count = n;
        s.contacts = contacts;
        s.valid = true;
    }
    if (k + 1 >= n) return;
    const size_t next = static_cast<size_t>(k) + 1;
    if (s.kind[next] == detail::GroupSuffix::NONE || (s.kind[next] == detail::GroupSuffix::SOLE && s.group[next] == m->colGroup))
        return;
    for (int32_t j = k + 1; j < w.massCount; ++j) {
        if (j >= static_cast<int32_t>(w.massArray.size())) break;
        TMass* other = w.massArray[static_cast<size_t>(j)].Get();
        if (!other) continue;
        const float g = other->colGroup;
        if (g == 0.0f || g == m->colGroup || !detail::MayTouch(m, other)) continue;
        s.valid = false;
        if (detail::CollideMasses(m, other) && m->aIndex < 0) return;
    }
}

// Box, zones and other masses for one mass in one pass. A callback may take the mass out
// of the world at any event; the rest of its pass is then skipped (it must not be put
// back into a grid cell). The mass itself stays valid: entries dropped during a step are
// held until the step ends.
void HandleMass(TPhysics& w, detail::PairIndex& index, TMass* m) {
    // Most masses touch neither the box nor a zone: those parts stay out of line.
    const float r = m->radius, x = m->posX, y = m->posY;
    if (x < w.boundsMinX + r || x > w.boundsMaxX - r || y < w.boundsMinY + r || y > w.boundsMaxY - r)
        if (!BoxContacts(w, m)) return;
    if (w.zoneCount > 0 && !m->frozen && m->colGroup != 0.0f)
        if (!ZoneContacts(w, m)) return;

    // Other masses.
    if (m->colGroup == 0.0f) {
        // Not placed this pass: a group 0 written straight into the field must reach the
        // index, which tells the placed masses from the others by their groups.
        index.NoteGroupZero(m);
        return;
    }
    if (w.gridon != 0)
        index.Collide(m);
    else
        CollideAllPairs(w, m, m->aIndex);
}

}  // namespace

int32_t TPhysics::Update() {
    TPhysics* w = currentWorld.Get();
    // A collision callback stepping the world again would walk tables and the pair
    // scratch buffer that the outer step is using: ignore it.
    if (!w || w->stepping_) return 0;
    w->UpdateThis();
    return 0;
}

void TPhysics::UpdateThis() {
    TPhysics* w = this;
    const Ref<TPhysics> keep(w);  // a callback may free or replace the world
    // The thread's current-world slot, looked up once: the loops below only compare it.
    const Ref<TPhysics>& current = currentWorld;
    detail::PairIndex& index = *w->index_;
    w->stepping_ = true;

    // 1. Integration and re-gridding. Nothing here runs callbacks, so the table is walked
    //    through a raw pointer.
    {
        const int32_t n = std::min(w->massCount, static_cast<int32_t>(w->massArray.size()));
        const Ref<TMass>* arr = w->massArray.data();
        const float gx = w->gravityX, gy = w->gravityY;
        for (int32_t k = 0; k < n; ++k) {
            TMass* m = arr[k].Get();
            if (!m) continue;
            if (!m->frozen) {
                const float px = m->posX, py = m->posY;
                m->posX = px + (px - m->oldPosX) + gx;
                m->posY = py + (py - m->oldPosY) + gy;
                m->oldPosX = px;
                m->oldPosY = py;
            }
        }
        // Placing is independent of integrating, so the masses are placed after all of
        // them moved, with the same result as placing each right after its move.
        index.RegridAll(n);
    }

    // 2. Last tick's events go.
    detail::FlushEvents(*w);

    // 3. Relaxation passes.
    const int32_t passes = w->i;
    // With a single pass in which no mass is likely to search for partners (the grid holds
    // one group besides group 0), the grid keeps cells in table order while masses are
    // handled. Searching reads cells faster when they are stored in list order, so worlds
    // with several groups keep moving each handled mass to the end of its cell.
    index.SetOnePass(passes == 1 && w->gridon != 0 && index.HoldsOneGroup());
    for (int32_t pass = 0; pass < passes && current.Get() == w; ++pass) {
        {
            const int32_t n = std::min(w->conCount, static_cast<int32_t>(w->conArray.size()));
            TConstraint::RelaxAll(w->conArray.data(), n);
        }
        // Callbacks run from here on: they may take masses out (null entries), add masses
        // (the table may move) or free the world, so entries are re-read by index.
        ++w->passes_;
        const int32_t n = w->massCount;
        for (int32_t k = 0; k < n; ++k) {
            if (k >= static_cast<int32_t>(w->massArray.size())) break;
            TMass* m = w->massArray[static_cast<size_t>(k)].Get();
            if (!m) continue;
            GELSIM_ASSERT(m->aIndex == k);  // the table's back-reference
            HandleMass(*w, index, m);
            if (current.Get() != w) break;
        }
    }

    index.SetOnePass(false);
    w->stepping_ = false;
    w->stepHold_.clear();
}

}  // namespace kin::gelsim
