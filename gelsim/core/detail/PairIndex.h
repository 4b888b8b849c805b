#pragma once
// The grid's pair index, internal to the library (Grid.cpp): per cell, the masses of that
// cell's list in the same order, each with a copy of its collision group, in one
// contiguous run. The step walks these instead of the linked cells. The world owns one
// index; a mass placed in a cell remembers the index that holds it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gelsim/core/Physics.h"
#include "gelsim/core/detail/MassLinks.h"
#include "platform/List.h"

namespace kin::gelsim {

namespace detail {

struct GridEntry {
    TMass* mass;
    float group;    // the mass's colGroup (SetColGroup keeps it current; a value written into
                    // the field is taken in when the masses are placed after integration,
                    // or, after a callback ran, when the cell is checked; see Grid.cpp)
    int32_t stamp;  // the mass's table entry when it was placed
};

struct GridCell {
    GridEntry* data = nullptr;  // entries [begin, end) of a block of cap
    uint32_t begin = 0, end = 0, cap = 0;
    float only = 0.0f;      // every entry's group is 0 or this; NaN when mixed
    uint32_t descents = 0;  // neighbouring entries whose stamps decrease (0: table order)
    bool listed = false;    // in unsorted_
    bool listStale = false; // the cell's TList holds the right masses in another order
    uint32_t Size() const { return end - begin; }
};

// The pair search in progress: the cells it walks (in visit order) and where it is.
struct PairSearch {
    bool live = false;  // running over the index (no callback has changed the grid yet)
    int32_t si = 0;    // segment being walked
    uint32_t ei = 0;   // entry being handled in it
    struct Segment {
        const GridCell* cell;
        uint32_t from, to;
    };
    Segment segs[18] = {};  // runs of entries in visit order
    int32_t nsegs = 0;
    uint64_t runs = 0;  // GroupWrites() when the search began
    // The 3x3 cells of the search (columns c0..c1, rows r0..r1, walked column by column).
    int32_t c0 = 0, c1 = -1, r0 = 0, r1 = -1;
    // Once a callback changed the grid, the search walks the cells as they stand: cell
    // (c, r), whose entries before `next` (counted from the cell's first) it has passed.
    bool walking = false;
    int32_t c = 0, r = 0;
    uint32_t next = 0;
};

class PairIndex {
public:
    static constexpr int32_t MAX_GRID = TPhysics::MAX_GRID;

    explicit PairIndex(TPhysics& world);
    ~PairIndex();
    PairIndex(const PairIndex&) = delete;
    PairIndex& operator=(const PairIndex&) = delete;

    /// Cell placement of m (which must be in the world's mass table).
    void Place(TMass* m);
    /// Takes m out of the cell it is placed in (list and index), whichever world's it is.
    static void Leave(TMass* m);
    /// Refreshes m's group in the index after SetColGroup.
    void Regroup(TMass* m);
    /// Re-links a cell's list in the index's order if it lags behind.
    void SyncList(int32_t c, int32_t r);
    /// Re-places every mass of the table after integration (same result as placing them
    /// one by one in table order).
    void RegridAll(int32_t n);
    /// Starts (true) or ends (false) a relaxation pass that is the step's only one and in
    /// which cells may be kept in table order (see Grid.cpp).
    void SetOnePass(bool on) { onePass_ = on; }
    /// Every mass in the index has group 0 or one other group.
    bool HoldsOneGroup() const { return gridOthers_ == 0; }
    /// The other masses for the mass being handled: places it, then collides it with the
    /// candidates of the 3x3 cells around it.
    void Collide(TMass* m);
    /// A mass of group 0 that is not placed this pass: a group 0 written straight into
    /// the field reaches the index.
    void NoteGroupZero(TMass* m) {
        if (onePass_ && MassAccess::Links(m).indexedGroup != 0.0f && MassAccess::PlacedIn(m) == this) Regroup(m);
    }

private:
    friend struct PairIndexAccess;
    static size_t CellAt(int32_t c, int32_t r) { return static_cast<size_t>(c) * MAX_GRID + static_cast<size_t>(r); }
    /// The cell's list as it stands (its order may lag behind the index; see Grid.cpp).
    TList& ListAt(int32_t c, int32_t r) { return (*world_.shiftgrid)[static_cast<size_t>(c)][static_cast<size_t>(r)]; }
    GridCell& IndexCell(int32_t c, int32_t r);
    /// Stores a cell in its list order if it is held in table order (see Grid.cpp).
    void Materialize(int32_t c, int32_t r);
    void Materialize(GridCell& cell);
    bool InTableOrder(size_t at) const { return !((orderBits_[at >> 6] >> (at & 63)) & 1u); }
    /// Places the mass being handled by a one-pass step.
    void PlaceHandled(TMass* m);
    void PlaceHandledElsewhere(TMass* m, int32_t gx, int32_t gy);
    /// Inserts m into a cell held in table order at its table entry's place.
    void IndexInsertSorted(int32_t c, int32_t r, TMass* m);
    /// Appends m to cell (c, r) of the index (the list is linked by the caller).
    void IndexAppend(int32_t c, int32_t r, TMass* m);
    /// Takes m out of the index cell it was placed in.
    void Unindex(TMass* m);
    /// Room for one more entry at the end of the cell's run (moves or grows it).
    void MakeRoom(GridCell& cell);
    /// Counts one more out-of-order neighbour pair in the cell.
    void NoteDescent(GridCell& cell);
    /// Counts an entry of group g in (+1) or out (-1) of the grid-wide group count.
    void CountGroup(float g, int32_t delta);
    /// Refreshes the groups of a cell's entries that differ from their masses' fields.
    [[gnu::noinline]] void CheckGroups(GridCell& cell);
    /// Checks the groups of the cell at `at` unless that was done since the last callback.
    void CheckGroupsOnce(size_t at, uint64_t runs);
    void RegridOneByOne(int32_t n);
    /// Called before the grid or a group changes: a pair search running over the index
    /// first switches to walking the cells as they stand.
    void GridChanging();
    void StartWalking();
    /// An entry at position k of a cell's block is about to leave it.
    void Leaving(const GridCell& cell, uint32_t k);
    [[gnu::noinline]] void SearchPairs(TMass* m);
    /// The rest of a pair search after a callback changed the grid (see Grid.cpp).
    void CollideWalking(TMass* m);

    TPhysics& world_;
    // The pair search in progress: the cells it walks (in visit order) and where it is.
    PairSearch search_;
    std::unique_ptr<GridCell[]> cells_;
    // Cells stored in list order (bit set) rather than in table order, and the list of them.
    std::unique_ptr<uint64_t[]> orderBits_;
    std::vector<GridCell*> ordered_;
    // The table entry of the last mass a one-pass step placed (-1: none since the masses
    // were placed after integration); see Grid.cpp.
    int32_t placedThrough_ = -1;
    bool onePass_ = false;  // the relaxation pass now running is the step's only one
    int32_t gridPop_ = 0;   // masses in the index
    // Every mass in the index has group 0 or gridGroup_, except gridOthers_ of them.
    float gridGroup_ = 0.0f;
    int32_t gridOthers_ = 0;
    // The index's copies of the groups (and the summaries above) are those of the masses as
    // long as GroupWrites() still returns this: every write into a mass's group field is
    // counted (while the step runs only a callback can make one), and the step brings the
    // copies up to date when it places the masses after integration.
    uint64_t groupsAsOf_ = 0;
    // Per cell, GroupWrites() when its copies were last compared with the masses (kept apart
    // from the cells, which the search reads, since it is needed only after group writes).
    std::unique_ptr<uint64_t[]> cellGroupsAsOf_;
    std::vector<GridCell*> unsorted_;    // cells that went out of table order (each listed once)
    std::vector<GridEntry> partScratch_; // handled entries while a cell is put in list order
    std::vector<TMass*> moved_;          // masses changing cells after integration
};

/// Read-only view of one cell's pair index (tests and diagnostics).
class CellView {
public:
    explicit CellView(const GridCell& c) : c_(c) {}
    size_t size() const { return c_.Size(); }
    TMass* operator[](size_t k) const { return c_.data[c_.begin + k].mass; }

private:
    const GridCell& c_;
};

/// Tests and diagnostics reach the pair index only through here.
struct PairIndexAccess {
    /// The masses of cell (c, r) in list order, as the step's pair search sees them.
    static CellView CellIndex(TPhysics& w, int32_t c, int32_t r);
    /// Checks the pair index against the cell lists and the mass table without changing
    /// anything: every entry names an active mass of w's table placed in that cell, with
    /// its group; each cell's list holds exactly the cell's entries; the counts agree.
    /// Returns the first fault found, or an empty string.
    static std::string Validate(const TPhysics& w);
    // Saving and restoring a world's state (WorldState.cpp):
    /// Appends cell (c, r)'s masses to out in list order, changing nothing.
    static void ListOrder(const TPhysics& w, int32_t c, int32_t r, std::vector<TMass*>& out);
    /// Empties every cell of w's grid, lists and index, and forgets the pair search.
    static void ClearCells(TPhysics& w);
    /// Appends m (a mass of w's table that is in no cell) to the end of cell (c, r).
    static void Append(TPhysics& w, TMass* m, int32_t c, int32_t r);
    /// True when every cell of w is stored in list order and no pair search is under way.
    static bool StoredInListOrder(const TPhysics& w);
    /// Appends the cells (c * MAX_GRID + r) of w that hold masses, each once.
    static void OccupiedCells(const TPhysics& w, std::vector<int32_t>& cells);
    /// True when the cell holds exactly these masses in this order, with their present
    /// table entries and groups.
    static bool CellHolds(const TPhysics& w, int32_t cell, TMass* const* masses, size_t n);
    /// Empties one cell, list and index.
    static void ClearCell(TPhysics& w, int32_t cell);
};

}  // namespace detail
}  // namespace kin::gelsim
