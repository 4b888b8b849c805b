// The plain model of the world's step (see StepModel.h).
#include "StepModel.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <vector>

#include "gelsim/core/ColEvent.h"
#include "gelsim/core/Physics.h"
#include "gelsim/core/ZoneBase.h"

namespace kin::gelsim::test {
namespace {

// The model's grid while a model step runs: one list of masses per cell, [column][row].
struct ModelGrid {
    TPhysics* world = nullptr;
    std::vector<std::vector<TMass*>> cells;  // MAX_GRID x MAX_GRID
    // The cell of every placed mass (the model leaves the masses' own cell fields to the
    // library's grid).
    struct Cell {
        int32_t c, r;
    };
    std::unordered_map<const TMass*, Cell> where;
    // The cell the pair search is walking and the position of its next entry.
    const std::vector<TMass*>* walked = nullptr;
    size_t next = 0;

    std::vector<TMass*>& At(int32_t c, int32_t r) {
        return cells[static_cast<size_t>(c) * TPhysics::MAX_GRID + static_cast<size_t>(r)];
    }

    // A mass's cell coordinate: floor(v * ratio) as an integer, clamped to 0..gridsize-1.
    int32_t CellOf(float v, float ratio) const {
        const float f = std::floor(v * ratio);
        if (!(f >= 0.0f)) return 0;
        if (f >= static_cast<float>(world->gridsize - 1)) return world->gridsize - 1;
        return static_cast<int32_t>(f);
    }

    bool IsActive(const TMass* m) const {
        return m->aIndex >= 0 && m->aIndex < world->massCount &&
               world->massArray[static_cast<size_t>(m->aIndex)].Get() == m;
    }

    // Takes m out of the list of its cell, if it is in one. A walk over that list goes on
    // with the entry that followed the one it visited last.
    void Leave(TMass* m) {
        const auto placed = where.find(m);
        if (placed == where.end()) return;
        std::vector<TMass*>& cell = At(placed->second.c, placed->second.r);
        where.erase(placed);
        const auto it = std::find(cell.begin(), cell.end(), m);
        const auto at = static_cast<size_t>(it - cell.begin());
        cell.erase(it);
        if (&cell == walked && at < next) --next;
    }

    // AddToGrid: out of the old cell, into the cell of the present position, at the end.
    void Place(TMass* m) {
        if (!IsActive(m)) return;
        Leave(m);
        const Cell at{CellOf(m->posX, world->ratiox), CellOf(m->posY, world->ratioy)};
        At(at.c, at.r).push_back(m);
        where[m] = at;

    }
};

ModelGrid* running = nullptr;  // the grid of the model step in progress
ModelGrid last;                // the grid as the last model step left it

void WallFriction(float pos, float& old, float f) {
    const float v = pos - old;
    if (f > std::fabs(v)) {
        old = pos;
    } else {
        const float sign = v > 0.0f ? 1.0f : (v < 0.0f ? -1.0f : 0.0f);
        old = old + f * sign;
    }
}

// A contact with the box, as an event (wall friction follows at the caller).
void BoxEvent(TPhysics* w, TMass* m, float x, float y, float depth) {
    const Ref<TColEvent> e = TColEvent::Create(m, w, x, y, depth);
    TColEvent::Emit(e.Get());
}

// Whether the handled mass is still in the world (a callback may have taken it out; the
// rest of its pass is then skipped).
bool StillIn(TMass* m) { return m->aIndex >= 0; }

// Box, zones and other masses for the mass in entry k.
void HandleMass(ModelGrid& g, TPhysics* w, TMass* m, int32_t k) {
    const Ref<TMass> hold(m);
    const float r = m->radius;
    // Box, horizontal axis, one side.
    if (m->posX < w->boundsMinX + r) {
        const float depth = (w->boundsMinX + r) - m->posX;
        m->posX = w->boundsMinX + r;
        BoxEvent(w, m, w->boundsMinX, m->posY, depth);
        WallFriction(m->posY, m->oldPosY, depth * (m->friction + w->friction) * 0.5f);
        if (!StillIn(m)) return;
    } else if (m->posX > w->boundsMaxX - r) {
        const float depth = m->posX - (w->boundsMaxX - r);
        m->posX = w->boundsMaxX - r;
        BoxEvent(w, m, w->boundsMaxX, m->posY, depth);
        WallFriction(m->posY, m->oldPosY, depth * (m->friction + w->friction) * 0.5f);
        if (!StillIn(m)) return;
    }
    // Box, vertical axis.
    if (m->posY < w->boundsMinY + r) {
        const float depth = (w->boundsMinY + r) - m->posY;
        m->posY = w->boundsMinY + r;
        BoxEvent(w, m, m->posX, w->boundsMinY, depth);
        WallFriction(m->posX, m->oldPosX, depth * (m->friction + w->friction) * 0.5f);
        if (!StillIn(m)) return;
    } else if (m->posY > w->boundsMaxY - r) {
        const float depth = m->posY - (w->boundsMaxY - r);
        m->posY = w->boundsMaxY - r;
        BoxEvent(w, m, m->posX, w->boundsMaxY, depth);
        WallFriction(m->posX, m->oldPosX, depth * (m->friction + w->friction) * 0.5f);
        if (!StillIn(m)) return;
    }
    // Zones.
    if (!m->frozen && m->colGroup != 0.0f) {
        const int32_t nz = w->zoneCount;
        for (int32_t z = 0; z < nz; ++z) {
            TZoneBase* zone = w->zoneArray[static_cast<size_t>(z)].Get();
            if (!zone) continue;
            if (zone->colGroup != 0 && static_cast<float>(zone->colGroup) != m->colGroup) {
                const Ref<TZoneBase> keep(zone);
                zone->Collide(m);
                if (!StillIn(m)) return;
            }
        }
    }
    // Other masses.
    if (w->gridon != 0 && m->colGroup != 0.0f) {
        g.Place(m);
        const int32_t gc = g.where[m].c, gr = g.where[m].r;
        for (int32_t c = gc - 1; c <= gc + 1; ++c) {
            for (int32_t row = gr - 1; row <= gr + 1; ++row) {
                if (c < 0 || c >= w->gridsize || row < 0 || row >= w->gridsize) continue;
                const std::vector<TMass*>& cell = g.At(c, row);
                g.walked = &cell;
                g.next = 0;
                while (g.next < cell.size()) {
                    TMass* other = cell[g.next++];
                    if (other->colGroup != 0.0f && other->colGroup != m->colGroup) {
                        const Ref<TMass> keep(other);
                        m->Collide(other);
                        if (!StillIn(m)) {
                            g.walked = nullptr;
                            return;
                        }
                    }
                }
                g.walked = nullptr;
            }
        }
    } else if (m->colGroup != 0.0f) {
        for (int32_t j = k + 1; j < w->massCount; ++j) {
            TMass* other = w->massArray[static_cast<size_t>(j)].Get();
            if (!other) continue;
            if (other->colGroup != 0.0f && other->colGroup != m->colGroup) {
                const Ref<TMass> keep(other);
                m->Collide(other);
                if (!StillIn(m)) return;
            }
        }
    }
}

}  // namespace

void ModelUpdate() {
    TPhysics* w = TPhysics::currentWorld.Get();
    if (!w) return;
    const Ref<TPhysics> keep(w);
    ModelGrid& g = last;
    g = ModelGrid{};
    g.world = w;
    g.cells.resize(static_cast<size_t>(TPhysics::MAX_GRID) * TPhysics::MAX_GRID);
    running = &g;

    // 1. Integration, and every mass into its cell, in table order.
    {
        const int32_t n = w->massCount;
        for (int32_t k = 0; k < n; ++k) {
            TMass* m = w->massArray[static_cast<size_t>(k)].Get();
            if (!m) continue;
            if (!m->frozen) {
                const float px = m->posX, py = m->posY;
                m->posX = px + (px - m->oldPosX) + w->gravityX;
                m->posY = py + (py - m->oldPosY) + w->gravityY;
                m->oldPosX = px;
                m->oldPosY = py;
            }
            g.Place(m);
        }
    }

    // 2. Last tick's events.
    TColEvent::Flush();

    // 3. Relaxation passes.
    for (int32_t pass = 1; pass <= w->i && TPhysics::currentWorld.Get() == w; ++pass) {
        const int32_t nc = w->conCount;
        for (int32_t k = 0; k < nc; ++k)
            if (TConstraint* c = w->conArray[static_cast<size_t>(k)].Get()) c->Satisfy();
        const int32_t n = w->massCount;
        for (int32_t k = 0; k < n && TPhysics::currentWorld.Get() == w; ++k) {
            TMass* m = w->massArray[static_cast<size_t>(k)].Get();
            if (m) HandleMass(g, w, m, k);
        }
    }
    running = nullptr;
}

const std::vector<TMass*>& ModelCell(int32_t c, int32_t r) {
    static const std::vector<TMass*> none;
    return last.cells.empty() ? none : last.At(c, r);
}

void ModelAddRef(TMass* m) {
    const bool entering = m->refCounter == 0;
    m->AddRef();
    if (entering && running) running->Place(m);
}

void ModelSubRef(TMass* m) {
    m->SubRef();
    if (m->refCounter == 0 && running) running->Leave(m);
}

void ModelAddToGrid(TMass* m) {
    m->AddToGrid();
    if (running) running->Place(m);
}

void ModelAssign(TConstraint* c, TBody* body) {
    TMass* a = c->GetMass1();
    TMass* b = c->GetMass2();
    const bool aEnters = a && a->refCounter == 0, bEnters = b && b->refCounter == 0;
    c->Assign(body);
    if (!running) return;
    if (aEnters && a->refCounter > 0) running->Place(a);
    if (bEnters && b->refCounter > 0 && b != a) running->Place(b);
}

void ModelFree(TConstraint* c, TBody* body) {
    TMass* a = c->GetMass1();
    TMass* b = c->GetMass2();
    const bool aIn = a && a->refCounter > 0, bIn = b && b->refCounter > 0;
    c->Free(body);
    if (!running) return;
    if (aIn && a->refCounter == 0) running->Leave(a);
    if (bIn && b->refCounter == 0 && b != a) running->Leave(b);
}

}  // namespace kin::gelsim::test
