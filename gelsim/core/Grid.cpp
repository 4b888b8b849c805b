// The world's grid: cell lists, the pair index beside them, placing masses, and the pair
// search of the step.
//
// Sections: the pair index (append, remove, groups); placing a mass; re-placing every
// mass after integration; the pair search.
//
// Every cell has a TList (the public view) and, in the pair index, a contiguous run of
// entries in the same order, each with a copy of the mass's group and of its table entry
// (its stamp). The search rejects same-group candidates without touching them, passes
// over cells that hold no other group, and is not run at all while the whole grid holds
// no other group.
//
// Order. Placing a mass moves it to the end of its cell, and the step places the masses
// in table order, so after integration every cell lists its masses in table order, and
// while a pass runs each cell holds its not yet handled masses in table order followed
// by the handled ones. The index keeps a read position per cell, so the handled mass
// (usually the cell's first) moves to the end in constant time.
//
// Table order. Within one pass the masses are handled in table order, so a cell that
// held its masses in table order when the pass began holds, at any moment, its masses
// not yet handled (and those of group 0, which are never moved) in table order, followed
// by the handled ones in table order: its list order follows from the table entry of the
// last mass handled (placedThrough_). A one-pass step whose grid holds one group (so
// that nobody is expected to search) therefore keeps such cells stored in table order
// and moves nothing when the handled mass stays in its cell; should a search happen after
// all, it reads such a cell in two runs. A cell is stored in list order instead (its bit
// in orderBits_) from the first change that does not fit, e.g. a callback placing another
// mass; the next re-placement after integration brings every cell back to table order.
//
// Lists. Each cell's TList always holds exactly the cell's masses, but moving the handled
// mass to the end is done in the index only: relinking the list there would touch two
// other masses' links for every mass handled. A cell whose list lags behind is marked and
// re-linked when the list is asked for (Cell) or before the list itself is edited.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "gelsim/core/Assert.h"
#include "gelsim/core/Mass.h"
#include "gelsim/core/Physics.h"
#include "gelsim/core/detail/MassLinks.h"
#include "gelsim/core/detail/PairIndex.h"
#include "gelsim/core/detail/World.h"

namespace kin::gelsim {

TList& TPhysics::Cell(int32_t c, int32_t r) {
    index_->SyncList(c, r);
    return (*shiftgrid)[static_cast<size_t>(c)][static_cast<size_t>(r)];
}

namespace detail {

inline GridCell& PairIndex::IndexCell(int32_t c, int32_t r) {
    GELSIM_ASSERT(c >= 0 && c < MAX_GRID && r >= 0 && r < MAX_GRID);
    return cells_[CellAt(c, r)];
}

inline void PairIndex::GridChanging() {
    if (search_.live) StartWalking();
}

inline void PairIndex::Leaving(const GridCell& cell, uint32_t k) {
    const PairSearch& s = search_;
    if (s.walking && &cell == &cells_[CellAt(s.c, s.r)] && k - cell.begin < s.next) --search_.next;
}

PairIndex::PairIndex(TPhysics& world)
    : world_(world),
      cells_(std::make_unique<GridCell[]>(static_cast<size_t>(MAX_GRID) * MAX_GRID)),
      orderBits_(std::make_unique<uint64_t[]>(static_cast<size_t>(MAX_GRID) * MAX_GRID / 64)),
      cellGroupsAsOf_(std::make_unique<uint64_t[]>(static_cast<size_t>(MAX_GRID) * MAX_GRID)) {
    partScratch_.resize(64);
    unsorted_.reserve(static_cast<size_t>(MAX_GRID) * MAX_GRID);
    ordered_.reserve(static_cast<size_t>(MAX_GRID) * MAX_GRID);
}

PairIndex::~PairIndex() {
    // Masses still in cells (active when the world was freed) forget this index; the
    // world's cell lists unlink them as they go.
    for (size_t k = 0; k < static_cast<size_t>(MAX_GRID) * MAX_GRID; ++k) {
        GridCell& cell = cells_[k];
        for (uint32_t e = cell.begin; e < cell.end; ++e) MassAccess::PlacedIn(cell.data[e].mass) = nullptr;
        delete[] cell.data;
        cell = GridCell{};
    }
}

CellView PairIndexAccess::CellIndex(TPhysics& w, int32_t c, int32_t r) {
    PairIndex& index = WorldAccess::Index(w);
    index.Materialize(c, r);
    return CellView(index.cells_[PairIndex::CellAt(c, r)]);
}

std::string PairIndexAccess::Validate(const TPhysics& w) {
    const PairIndex& index = WorldAccess::Index(w);
    auto at = [](int32_t c, int32_t r) { return " in cell (" + std::to_string(c) + ", " + std::to_string(r) + ")"; };
    int32_t population = 0;
    std::vector<const TMass*> listed, indexed;
    for (int32_t c = 0; c < PairIndex::MAX_GRID; ++c) {
        for (int32_t r = 0; r < PairIndex::MAX_GRID; ++r) {
            const GridCell& cell = index.cells_[PairIndex::CellAt(c, r)];
            if (cell.begin > cell.end || cell.end > cell.cap) return "entries outside their block" + at(c, r);
            indexed.clear();
            for (uint32_t k = cell.begin; k < cell.end; ++k) {
                const GridEntry& e = cell.data[k];
                const TMass* m = e.mass;
                if (!m) return "an empty entry" + at(c, r);
                if (MassAccess::PlacedIn(m) != &index) return "a mass placed in another world" + at(c, r);
                if (m->gridx != c || m->gridy != r) return "a mass that thinks it is elsewhere" + at(c, r);
                if (m->aIndex < 0 || m->aIndex >= static_cast<int32_t>(w.massArray.size()) ||
                    w.massArray[static_cast<size_t>(m->aIndex)].Get() != m)
                    return "a mass whose table entry does not name it" + at(c, r);
                if (std::memcmp(&e.group, &MassAccess::Links(m).indexedGroup, sizeof e.group) != 0)
                    return "a group copy that differs from the mass's" + at(c, r);
                if (cell.only == cell.only && e.group != 0.0f && e.group != cell.only)
                    return "a group the cell's summary leaves out" + at(c, r);
                indexed.push_back(m);
            }
            listed.clear();
            for (TObject* o : (*w.shiftgrid)[static_cast<size_t>(c)][static_cast<size_t>(r)]) listed.push_back(static_cast<const TMass*>(o));
            std::sort(listed.begin(), listed.end());
            std::sort(indexed.begin(), indexed.end());
            if (listed != indexed) return "the list and the index hold different masses" + at(c, r);
            population += static_cast<int32_t>(cell.Size());
        }
    }
    if (population != index.gridPop_) return "the index's count is " + std::to_string(index.gridPop_) + ", its cells hold " + std::to_string(population);
    int32_t placed = 0;
    for (const auto& m : w.massArray)
        if (m && MassAccess::PlacedIn(m.Get()) == &index) ++placed;
    if (placed != population) return "the table has " + std::to_string(placed) + " placed masses, the cells " + std::to_string(population);
    return {};
}
namespace {

constexpr float kMixed = std::numeric_limits<float>::quiet_NaN();

// Grid cell of a coordinate: floor(v * ratio) clamped to 0..cells-1. The clamp happens in
// float, so NaN and infinities never reach the integer conversion; for values at or above
// 0 truncation equals floor, and everything below 0 (or NaN) lands in cell 0. Written as
// two selects, which compile to a max and a min without branches (a NaN fails the first
// comparison and becomes 0).
inline int32_t CellOf(float v, float ratio, int32_t cells) {
    float f = v * ratio;
    f = f > 0.0f ? f : 0.0f;
    const float last = static_cast<float>(cells - 1);
    f = f < last ? f : last;
    return static_cast<int32_t>(f);
}

inline int32_t Cells(const TPhysics& w) { return std::max(1, std::min(w.gridsize, PairIndex::MAX_GRID)); }

// The conservative group summary of a run of entries.
float OnlyGroup(const GridEntry* e, uint32_t n) {
    float only = 0.0f;
    for (uint32_t k = 0; k < n; ++k) {
        const float g = e[k].group;
        if (only == 0.0f)
            only = g;
        else if (g != 0.0f && g != only)
            return kMixed;
    }
    return only;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The pair index
// ---------------------------------------------------------------------------------------

void PairIndex::MakeRoom(GridCell& cell) {
    if (cell.end < cell.cap) return;
    const uint32_t n = cell.Size();
    if (cell.begin > 0 && n < cell.cap) {
        std::memmove(cell.data, cell.data + cell.begin, n * sizeof(GridEntry));
    } else {
        // A crowded cell gets room at once, so a settling pile does not keep growing cells.
        const uint32_t cap = std::max<uint32_t>(16, cell.cap * 2);
        auto* data = new GridEntry[cap];
        if (n) std::memcpy(data, cell.data + cell.begin, n * sizeof(GridEntry));
        delete[] cell.data;
        cell.data = data;
        cell.cap = cap;
    }
    cell.begin = 0;
    cell.end = n;
}

void PairIndex::NoteDescent(GridCell& cell) {
    if (cell.descents++ == 0 && !cell.listed) {
        cell.listed = true;
        unsorted_.push_back(&cell);
    }
}

void PairIndex::CountGroup(float g, int32_t delta) {
    // A group is compared by its bits here, so that every entry is counted out exactly as
    // it was counted in.
    if (g == 0.0f || std::memcmp(&g, &gridGroup_, sizeof g) == 0) return;
    if (gridGroup_ == 0.0f && gridOthers_ == 0 && delta > 0) {
        gridGroup_ = g;  // the first non-zero group of the grid
        return;
    }
    gridOthers_ += delta;
}

void PairIndex::IndexAppend(int32_t c, int32_t r, TMass* m) {
    GridCell& cell = IndexCell(c, r);
    MakeRoom(cell);
    const float g = m->colGroup;
    const int32_t stamp = m->aIndex;
    if (cell.begin == cell.end) {
        cell.only = g;
        cell.descents = 0;
    } else {
        if (cell.data[cell.end - 1].stamp > stamp) NoteDescent(cell);
        if (cell.only == 0.0f)
            cell.only = g;
        else if (g != 0.0f && g != cell.only)
            cell.only = kMixed;
    }
    cell.data[cell.end++] = GridEntry{m, g, stamp};
    MassAccess::Links(m).indexedGroup = g;
    if (gridPop_++ == 0) {
        gridGroup_ = 0.0f;
        gridOthers_ = 0;
    }
    CountGroup(g, +1);
}

void PairIndex::Unindex(TMass* m) {
    GridCell& cell = IndexCell(m->gridx, m->gridy);
    GridEntry* d = cell.data;
    auto descent = [d](uint32_t a, uint32_t b) -> uint32_t { return d[a].stamp > d[b].stamp ? 1u : 0u; };
    uint32_t k = cell.begin;
    while (k < cell.end && d[k].mass != m) ++k;
    GELSIM_ASSERT(k < cell.end);  // a placed mass is in its cell's index
    if (k == cell.end) return;
    GELSIM_ASSERT(gridPop_ > 0);
    const float removedGroup = d[k].group;
    Leaving(cell, k);
    if (k > cell.begin) cell.descents -= descent(k - 1, k);
    if (k + 1 < cell.end) cell.descents -= descent(k, k + 1);
    if (k > cell.begin && k + 1 < cell.end) cell.descents += descent(k - 1, k + 1);
    if (k == cell.begin) {
        ++cell.begin;  // the usual case: the cell's first mass is the one being handled
    } else {
        std::memmove(d + k, d + k + 1, (cell.end - k - 1) * sizeof(GridEntry));
        --cell.end;
    }
    CountGroup(removedGroup, -1);
    if (--gridPop_ == 0) {
        gridGroup_ = 0.0f;
        gridOthers_ = 0;
    }
    if (cell.begin == cell.end) {
        cell.begin = cell.end = 0;
        cell.only = 0.0f;
        cell.descents = 0;
    } else if (cell.only != cell.only) {
        cell.only = OnlyGroup(d + cell.begin, cell.Size());
    }
}

void PairIndex::Regroup(TMass* m) {
    GridCell& cell = IndexCell(m->gridx, m->gridy);
    for (uint32_t k = cell.begin; k < cell.end; ++k) {
        if (cell.data[k].mass == m) {
            GridChanging();
            // Whether an entry counts as handled depends on its group: fix the order first.
            Materialize(cell);
            k = cell.begin;
            while (cell.data[k].mass != m) ++k;
            CountGroup(cell.data[k].group, -1);
            CountGroup(m->colGroup, +1);
            cell.data[k].group = m->colGroup;
            MassAccess::Links(m).indexedGroup = m->colGroup;
            cell.only = OnlyGroup(cell.data + cell.begin, cell.Size());
            return;
        }
    }
}

void PairIndex::CheckGroups(GridCell& cell) {
    uint32_t k = cell.begin;
    while (k < cell.end) {
        const GridEntry& e = cell.data[k];
        if (std::memcmp(&e.group, &e.mass->colGroup, sizeof(float)) == 0) {
            ++k;
            continue;
        }
        Regroup(e.mass);  // may reorder the cell
        k = cell.begin;
    }
}

inline void PairIndex::CheckGroupsOnce(size_t at, uint64_t runs) {
    if (cellGroupsAsOf_[at] == runs) return;
    CheckGroups(cells_[at]);
    cellGroupsAsOf_[at] = runs;
}

void PairIndex::Materialize(int32_t c, int32_t r) { Materialize(IndexCell(c, r)); }

void PairIndex::Materialize(GridCell& cell) {
    const size_t at = static_cast<size_t>(&cell - cells_.get());
    if (!InTableOrder(at)) return;
    orderBits_[at >> 6] |= uint64_t{1} << (at & 63);
    ordered_.push_back(&cell);
    const int32_t p = placedThrough_;
    if (p < 0 || cell.Size() < 2) return;
    // List order: entries not yet handled and those of group 0 first, then the handled
    // ones, each part in table order.
    GridEntry* d = cell.data;
    const uint32_t b = cell.begin, e = cell.end;
    // A stable partition through the world's scratch run (std::stable_partition would
    // allocate a buffer each time).
    if (partScratch_.size() < cell.Size()) partScratch_.resize(cell.Size() * 2);
    uint32_t kept = b, moved = 0;
    for (uint32_t k = b; k < e; ++k) {
        if (d[k].stamp <= p && d[k].group != 0.0f)
            partScratch_[moved++] = d[k];
        else
            d[kept++] = d[k];
    }
    std::copy(partScratch_.begin(), partScratch_.begin() + moved, d + kept);
    uint32_t desc = 0;
    for (uint32_t k = b + 1; k < e; ++k) desc += d[k - 1].stamp > d[k].stamp ? 1u : 0u;
    cell.descents = 0;
    for (uint32_t k = 0; k < desc; ++k) NoteDescent(cell);
    cell.listStale = true;
}

void PairIndex::IndexInsertSorted(int32_t c, int32_t r, TMass* m) {
    GridCell& cell = IndexCell(c, r);
    const int32_t stamp = m->aIndex;
    uint32_t at = cell.end;
    while (at > cell.begin && cell.data[at - 1].stamp > stamp) --at;
    const uint32_t tail = cell.end - at;
    IndexAppend(c, r, m);  // groups, counts and room; the entry goes last
    if (tail == 0) return;
    GridEntry* d = cell.data;
    const uint32_t end = cell.end;
    const GridEntry moved = d[end - 1];
    std::memmove(d + end - tail, d + end - tail - 1, tail * sizeof(GridEntry));
    d[end - tail - 1] = moved;
    cell.descents = 0;  // IndexAppend saw a larger stamp before it; the order is right
}

// The mass being handled by a one-pass step. In a cell held in table order, staying
// needs nothing and entering another such cell is an insertion at its table entry's
// place: either way the cell keeps its list order implied by placedThrough_.
inline void PairIndex::PlaceHandled(TMass* m) {
    const int32_t gs = Cells(world_);
    const int32_t gx = CellOf(m->posX, world_.ratiox, gs), gy = CellOf(m->posY, world_.ratioy, gs);
    // The usual case, kept free of calls: the mass stays in its cell.
    if (gx == m->gridx && gy == m->gridy && MassAccess::PlacedIn(m) == this && m->aIndex > placedThrough_ &&
        InTableOrder(CellAt(gx, gy)) && std::memcmp(&m->colGroup, &MassAccess::Links(m).indexedGroup, sizeof(float)) == 0) {
        placedThrough_ = m->aIndex;
        return;
    }
    PlaceHandledElsewhere(m, gx, gy);
}

void PairIndex::PlaceHandledElsewhere(TMass* m, int32_t gx, int32_t gy) {
    if (MassAccess::PlacedIn(m) != this || m->aIndex <= placedThrough_ ||
        std::memcmp(&m->colGroup, &MassAccess::Links(m).indexedGroup, sizeof(float)) != 0) {
        Place(m);
        return;
    }
    const size_t at = CellAt(gx, gy);
    if (!InTableOrder(at)) {
        Place(m);
        placedThrough_ = m->aIndex;
        return;
    }
    placedThrough_ = m->aIndex;
    if (gx == m->gridx && gy == m->gridy) return;
    Unindex(m);
    m->gridlink.Remove();
    m->gridx = gx;
    m->gridy = gy;
    ListAt(gx, gy).AddLast(m->gridlink, m);
    cells_[at].listStale = true;
    IndexInsertSorted(gx, gy, m);
}

// ---------------------------------------------------------------------------------------
// Placing a mass
// ---------------------------------------------------------------------------------------

void PairIndex::Leave(TMass* m) {
    if (PairIndex* index = MassAccess::PlacedIn(m)) {
        index->GridChanging();
        index->Unindex(m);
        MassAccess::PlacedIn(m) = nullptr;
    }
    m->gridlink.Remove();
}

void PairIndex::Place(TMass* m) {
    const int32_t gs = Cells(world_);
    const int32_t gx = CellOf(m->posX, world_.ratiox, gs), gy = CellOf(m->posY, world_.ratioy, gs);
    // Moving a mass to the end of a list is an edit in list order (it matters only while
    // cells may be kept in table order, that is from a one-pass step on).
    if ((onePass_ || placedThrough_ >= 0) && InTableOrder(CellAt(gx, gy))) {
        GridChanging();
        Materialize(gx, gy);
    }
    if (m->gridlink.List() == &ListAt(gx, gy)) {
        GridCell& cell = IndexCell(gx, gy);
        GELSIM_ASSERT(cell.end > cell.begin);  // the mass is listed there, so it is indexed there
        GridEntry& last = cell.data[cell.end - 1];
        if (last.mass == m) {
            // Already last in that cell: taking it out and appending it again changes
            // nothing but the copy of its group, and that a walk over the cell that has
            // passed it is now before it again.
            if (!(last.group == m->colGroup)) Regroup(m);
            GridChanging();
            Leaving(cell, cell.end - 1);
            return;
        }
        if (cell.data[cell.begin].mass == m && cell.data[cell.begin].group == m->colGroup) {
            // First in that cell (the usual case for the mass being handled): from the front
            // to the end, with the same entry, the same groups and the same count.
            GridChanging();
            const GridEntry e = cell.data[cell.begin];
            if (e.stamp > cell.data[cell.begin + 1].stamp) --cell.descents;
            Leaving(cell, cell.begin);
            ++cell.begin;
            MakeRoom(cell);
            if (cell.data[cell.end - 1].stamp > e.stamp) NoteDescent(cell);
            cell.data[cell.end++] = e;
            cell.listStale = true;
            return;
        }
    }
    GridChanging();
    Leave(m);
    m->gridx = gx;
    m->gridy = gy;
    ListAt(gx, gy).AddLast(m->gridlink, m);
    IndexAppend(gx, gy, m);
    MassAccess::PlacedIn(m) = this;
}

void PairIndex::SyncList(int32_t c, int32_t r) {
    GridCell& cell = IndexCell(c, r);
    if (cell.Size() > 1 && InTableOrder(CellAt(c, r)) && placedThrough_ >= 0) {
        GridChanging();
        Materialize(cell);
    }
    if (!cell.listStale) return;
    cell.listStale = false;
    TList& list = ListAt(c, r);
    for (uint32_t k = cell.begin; k < cell.end; ++k) cell.data[k].mass->gridlink.Remove();
    for (uint32_t k = cell.begin; k < cell.end; ++k) list.AddLast(cell.data[k].mass->gridlink, cell.data[k].mass);
}

// ---------------------------------------------------------------------------------------
// Re-placing every mass after integration
// ---------------------------------------------------------------------------------------
//
// Placing the masses one by one in table order leaves every cell holding its masses in
// table order, whatever the order before, provided every mass in a cell is one of those
// placed (each once). So a mass that stays in its cell needs nothing when its cell is
// already in table order; the others leave their cells and enter their new ones at their
// place in table order, and cells out of order are put in order.

namespace {

// Unlinks the links of entries [from, end) from the cell list (they are appended again after).
void UnlinkFrom(const GridEntry* d, uint32_t from, uint32_t end) {
    for (uint32_t k = from; k < end; ++k) d[k].mass->gridlink.Remove();
}

void RelinkFrom(TList& list, const GridEntry* d, uint32_t from, uint32_t end) {
    for (uint32_t k = from; k < end; ++k) list.AddLast(d[k].mass->gridlink, d[k].mass);
}

}  // namespace

void PairIndex::RegridAll(int32_t n) {
    const Ref<TMass>* arr = world_.massArray.data();
    const int32_t gs = Cells(world_);
    const float rx = world_.ratiox, ry = world_.ratioy;
    moved_.clear();
    // Every group is taken into the index below, and no callback runs while the masses
    // are placed: the copies are the masses' own from here on.
    groupsAsOf_ = GroupWrites();
    // The outcome is every cell in table order whatever the order before, so the cells
    // kept in table order are taken as they are stored.
    placedThrough_ = -1;
    int32_t staying = 0, movingInGrid = 0;
    for (int32_t k = 0; k < n; ++k) {
        TMass* m = arr[k].Get();
        if (!m) continue;
        if (m->aIndex != k) {  // not the table's own view of the mass: place one by one
            RegridOneByOne(n);
            return;
        }
        const int32_t gx = CellOf(m->posX, rx, gs), gy = CellOf(m->posY, ry, gs);
        if (m->gridlink.List() == &ListAt(gx, gy)) {
            // A group written straight into the field since the mass was placed is taken
            // into the index now.
            if (std::memcmp(&m->colGroup, &MassAccess::Links(m).indexedGroup, sizeof(float)) != 0) Regroup(m);
            ++staying;
            continue;
        }
        if (MassAccess::PlacedIn(m) == this) ++movingInGrid;
        moved_.push_back(m);
    }
    if (staying + movingInGrid != gridPop_) {  // a cell holds a mass that is not placed here
        RegridOneByOne(n);
        return;
    }

    // Leavers first, then cells out of order are sorted, then the newcomers go in.
    for (TMass* m : moved_) {
        if (MassAccess::PlacedIn(m) != this) continue;
        Unindex(m);
        MassAccess::PlacedIn(m) = nullptr;
        m->gridlink.Remove();
    }
    for (GridCell* cell : unsorted_) {
        cell->listed = false;
        if (cell->descents == 0) continue;
        GridEntry* d = cell->data;
        // Stamps are distinct here: every mass in a cell was just seen at its own entry.
        std::sort(d + cell->begin, d + cell->end, [](const GridEntry& a, const GridEntry& b) { return a.stamp < b.stamp; });
        const size_t at = static_cast<size_t>(cell - cells_.get());
        TList& list = ListAt(static_cast<int32_t>(at / MAX_GRID), static_cast<int32_t>(at % MAX_GRID));
        UnlinkFrom(d, cell->begin, cell->end);
        RelinkFrom(list, d, cell->begin, cell->end);
        cell->listStale = false;
        cell->descents = 0;
    }
    unsorted_.clear();
    for (TMass* m : moved_) {
        const int32_t gx = CellOf(m->posX, rx, gs), gy = CellOf(m->posY, ry, gs);
        Leave(m);  // a mass of another world's grid
        m->gridx = gx;
        m->gridy = gy;
        MassAccess::PlacedIn(m) = this;
        GridCell& cell = IndexCell(gx, gy);
        TList& list = ListAt(gx, gy);
        const int32_t stamp = m->aIndex;
        // Entries after the new one: usually none or a few.
        uint32_t at = cell.end;
        while (at > cell.begin && cell.data[at - 1].stamp > stamp) --at;
        const uint32_t tail = cell.end - at;
        if (tail == 0) {
            list.AddLast(m->gridlink, m);
            IndexAppend(gx, gy, m);
            continue;
        }
        // Relinking the tail assumes the links before it are in the index's order.
        SyncList(gx, gy);
        UnlinkFrom(cell.data, at, cell.end);
        // Append, then rotate the tail behind the new entry.
        IndexAppend(gx, gy, m);
        GridEntry* d = cell.data;
        const uint32_t end = cell.end;
        const GridEntry moved = d[end - 1];
        std::memmove(d + end - tail, d + end - tail - 1, tail * sizeof(GridEntry));
        d[end - tail - 1] = moved;
        cell.descents = 0;  // IndexAppend saw a smaller stamp last; the order is right again
        list.AddLast(m->gridlink, m);
        RelinkFrom(list, d, end - tail, end);
    }
    moved_.clear();
    // Every cell is in table order again.
    for (GridCell* cell : ordered_) {
        const size_t at = static_cast<size_t>(cell - cells_.get());
        orderBits_[at >> 6] &= ~(uint64_t{1} << (at & 63));
    }
    ordered_.clear();
}

void PairIndex::RegridOneByOne(int32_t n) {
    for (int32_t k = 0; k < n && k < static_cast<int32_t>(world_.massArray.size()); ++k)
        if (TMass* m = world_.massArray[static_cast<size_t>(k)].Get()) Place(m);
}

// ---------------------------------------------------------------------------------------
// The pair search
// ---------------------------------------------------------------------------------------
//
// Pairs through the 3x3 cells around the mass, in cell-list order. The search runs over
// the index; when a contact's callback is about to change the grid or a group, the search
// switches to walking the cells as they stand (StartWalking): it puts the cells it has
// still to visit in list order and goes on after the candidate it met last, so that it
// meets the masses that enter those cells later and not those that leave them, exactly as
// a walk over the cell lists themselves would.

void PairIndex::StartWalking() {
    PairSearch& s = search_;
    s.live = false;
    const GridCell* cur = s.segs[s.si].cell;
    const TMass* met = cur->data[s.ei].mass;  // the candidate whose contact runs the callback
    const size_t at = static_cast<size_t>(cur - cells_.get());
    s.c = static_cast<int32_t>(at / MAX_GRID);
    s.r = static_cast<int32_t>(at % MAX_GRID);
    for (int32_t c = s.c; c <= s.c1; ++c)
        for (int32_t r = (c == s.c ? s.r : s.r0); r <= s.r1; ++r) Materialize(c, r);
    uint32_t e = cur->begin;
    while (cur->data[e].mass != met) ++e;
    s.next = e - cur->begin + 1;
    s.walking = true;
}

namespace {

// Entries e[0..count) (count <= 64) that pass the first part of the search's filter for
// mass m with group mg: bit k set when entry k's mass has another, non-zero group and lies
// within reach vertically (one of the box tests of MayTouch, same arithmetic; cells are
// four times taller than wide, so this is the test that rejects most). Evaluated without
// branches, since most candidates fail it and which ones is unpredictable.
#if defined(__SSE2__)
// Four entries at a time: a cell holds three or four masses on average, so one group of
// four usually covers it, and the four candidates' loads are issued together. A last group
// that is not full repeats its last entry, whose bits are then cleared. Each lane computes
// what the scalar test below computes (one IEEE operation each, and the unordered
// comparisons give the same answers for NaN).
inline uint64_t NearMask(const TMass* m, float mg, const GridEntry* e, uint32_t count) {
    const __m128 my = _mm_set1_ps(m->posY), mr = _mm_set1_ps(m->radius);
    const __m128 group = _mm_set1_ps(mg), zero = _mm_setzero_ps();
    const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    const uint32_t last = count - 1;
    uint64_t mask = 0;
    for (uint32_t k = 0; k < count; k += 4) {
        const GridEntry& e0 = e[k];
        const GridEntry& e1 = e[std::min(k + 1, last)];
        const GridEntry& e2 = e[std::min(k + 2, last)];
        const GridEntry& e3 = e[std::min(k + 3, last)];
        const __m128 g = _mm_setr_ps(e0.mass->colGroup, e1.mass->colGroup, e2.mass->colGroup, e3.mass->colGroup);
        const __m128 y = _mm_setr_ps(e0.mass->posY, e1.mass->posY, e2.mass->posY, e3.mass->posY);
        const __m128 r = _mm_setr_ps(e0.mass->radius, e1.mass->radius, e2.mass->radius, e3.mass->radius);
        const __m128 R = _mm_add_ps(mr, r);
        const __m128 dy = _mm_and_ps(_mm_sub_ps(my, y), absMask);
        const __m128 ok = _mm_and_ps(_mm_and_ps(_mm_cmpneq_ps(g, zero), _mm_cmpneq_ps(g, group)), _mm_cmpngt_ps(dy, R));
        mask |= static_cast<uint64_t>(_mm_movemask_ps(ok)) << k;
    }
    return count >= 64 ? mask : mask & ((uint64_t{1} << count) - 1);
}
#else
inline uint64_t NearMask(const TMass* m, float mg, const GridEntry* e, uint32_t count) {
    const float my = m->posY, mr = m->radius;
    uint64_t mask = 0;
    for (uint32_t k = 0; k < count; ++k) {
        const TMass* o = e[k].mass;
        const float g = o->colGroup;
        const float R = mr + o->radius;
        const float dy = my - o->posY;
        const bool ok = !(g == 0.0f) & !(g == mg) & !(std::fabs(dy) > R);
        mask |= static_cast<uint64_t>(ok) << k;
    }
    return mask;
}
#endif

}  // namespace

void PairIndex::Collide(TMass* m) {
    if (onePass_)
        PlaceHandled(m);
    else
        Place(m);
    // No mass in the grid has a group other than 0 and the mass's own: nothing to meet.
    // Once a group has been written into a mass (by a callback, say), that holds for the
    // cells around the mass after their copies have been compared with the masses.
    if (gridOthers_ == 0 && m->colGroup == gridGroup_) {
        const uint64_t runs = GroupWrites();
        if (runs == groupsAsOf_) return;
        const int32_t gs = Cells(world_);
        for (int32_t c = std::max(m->gridx - 1, 0); c <= std::min(m->gridx + 1, gs - 1); ++c)
            for (int32_t r = std::max(m->gridy - 1, 0); r <= std::min(m->gridy + 1, gs - 1); ++r) CheckGroupsOnce(CellAt(c, r), runs);
        if (gridOthers_ == 0 && m->colGroup == gridGroup_) return;
    }
    SearchPairs(m);
}

void PairIndex::SearchPairs(TMass* m) {
    PairSearch& s = search_;
    const int32_t gs = Cells(world_);
    const int32_t c0 = std::max(m->gridx - 1, 0), c1 = std::min(m->gridx + 1, gs - 1);
    const int32_t r0 = std::max(m->gridy - 1, 0), r1 = std::min(m->gridy + 1, gs - 1);
    s.c0 = c0;
    s.c1 = c1;
    s.r0 = r0;
    s.r1 = r1;
    float mg = m->colGroup;
    // Candidates' groups are read from the masses, since a callback may have written
    // them. The index's copies, and the summaries made from them, hold while no group has
    // been written since the masses were placed, or since they were compared with the masses
    // (which is done, while cells are kept in table order, before their order is inferred
    // from them).
    const uint64_t runs = GroupWrites();
    s.runs = runs;
    const bool copiesHold = runs == groupsAsOf_;
    const int32_t p = placedThrough_;
    int32_t ns = 0;
    if (p < 0) {  // every cell is stored in list order
        for (int32_t c = c0; c <= c1; ++c)
            for (int32_t r = r0; r <= r1; ++r) {
                const GridCell* cell = &cells_[CellAt(c, r)];
                s.segs[ns++] = PairSearch::Segment{cell, cell->begin, cell->end};
            }
    } else {
    for (int32_t c = c0; c <= c1; ++c)
        for (int32_t r = r0; r <= r1; ++r) {
            const size_t at = CellAt(c, r);
            const GridCell* cell = &cells_[at];
            if (cell->begin == cell->end) continue;
            if (!copiesHold) CheckGroupsOnce(at, runs);
            if (InTableOrder(at) && p >= 0 && cell->data[cell->end - 1].stamp > p && cell->data[cell->begin].stamp <= p) {
                // Not yet handled first, then the handled ones.
                uint32_t split = cell->begin + 1;
                while (cell->data[split].stamp <= p) ++split;
                if (split < cell->end) s.segs[ns++] = PairSearch::Segment{cell, split, cell->end};
                if (split > cell->begin) s.segs[ns++] = PairSearch::Segment{cell, cell->begin, split};
            } else {
                s.segs[ns++] = PairSearch::Segment{cell, cell->begin, cell->end};
            }
        }
    }
    s.nsegs = ns;
    s.live = true;
    for (int32_t si = 0; si < ns; ++si) {
        const PairSearch::Segment& seg = s.segs[si];
        // Nothing here but the mass's own group and group 0:
        if (seg.cell->only == mg &&
            (GroupWrites() == groupsAsOf_ || GroupWrites() == cellGroupsAsOf_[static_cast<size_t>(seg.cell - cells_.get())]))
            continue;
        const GridEntry* data = seg.cell->data;
        uint32_t ei = seg.from;
        // Up to the segment's first contact the filter's first part is evaluated for the
        // whole run at once (it holds while nothing moves: a miss changes nothing); after
        // a contact the remaining candidates are tested one by one.
        bool touched = false;
        while (ei < seg.to && !touched) {
            const uint32_t count = std::min<uint32_t>(seg.to - ei, 64);
            uint64_t mask = NearMask(m, mg, data + ei, count);
            uint32_t next = ei + count;
            while (mask) {
                const uint32_t at = ei + static_cast<uint32_t>(__builtin_ctzll(mask));
                mask &= mask - 1;
                TMass* other = data[at].mass;
                if (!MayTouch(m, other)) continue;
                s.si = si;
                s.ei = at;
                const bool hit = CollideMasses(m, other);
                if (!s.live) {
                    // A callback changed the grid or a group: go on walking the cells.
                    CollideWalking(m);
                    return;
                }
                if (!hit) continue;
                if (m->aIndex < 0) {
                    s.live = false;
                    return;
                }
                mg = m->colGroup;  // a callback may have written it
                // A group written since the search began: the cells' order, inferred from
                // the copies, is found again by walking them.
                if (p >= 0 && GroupWrites() != s.runs) {
                    StartWalking();
                    CollideWalking(m);
                    return;
                }
                next = at + 1;
                touched = true;
                break;
            }
            ei = next;
        }
        for (; ei < seg.to; ++ei) {
            const GridEntry& e = data[ei];
            const float g = e.mass->colGroup;
            if (g == 0.0f || g == mg) continue;
            TMass* other = e.mass;
            if (!MayTouch(m, other)) continue;
            s.si = si;
            s.ei = ei;
            const bool hit = CollideMasses(m, other);
            if (!s.live) {
                CollideWalking(m);
                return;
            }
            if (hit) {
                if (m->aIndex < 0) {
                    s.live = false;
                    return;
                }
                mg = m->colGroup;
                if (p >= 0 && GroupWrites() != s.runs) {
                    StartWalking();
                    CollideWalking(m);
                    return;
                }
            }
        }
    }
    s.live = false;
}

void PairIndex::CollideWalking(TMass* m) {
    PairSearch& s = search_;
    while (m->aIndex >= 0) {
        const GridCell& cell = cells_[CellAt(s.c, s.r)];
        while (s.next < cell.Size()) {
            TMass* other = cell.data[cell.begin + s.next++].mass;
            const float g = other->colGroup;
            if (g == 0.0f || g == m->colGroup || !MayTouch(m, other)) continue;
            if (CollideMasses(m, other) && m->aIndex < 0) break;
        }
        s.next = 0;
        if (++s.r > s.r1) {
            s.r = s.r0;
            if (++s.c > s.c1) break;
        }
    }
    s.walking = false;
}

}  // namespace detail
}  // namespace kin::gelsim
