#pragma once
// The grid's pair index, internal to the library (Grid.cpp): per cell, the masses of that
// cell's list in the same order, each with a copy of its collision group, in one
// contiguous run. The step walks these instead of the linked cells.
#include <cstddef>
#include <cstdint>
#include <string>

#include "gelsim/core/Physics.h"

namespace kin::gelsim {

class TMass;

namespace detail {

struct GridEntry {
    TMass* mass;
    float group;    // the mass's colGroup (SetColGroup keeps it current; a value written into
                    // the field is taken in when the masses are placed after integration)
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
    bool live = false;  // walking the cells themselves (no snapshot taken)
    int32_t si = 0;    // segment being walked
    uint32_t ei = 0;   // entry being handled in it
    struct Segment {
        const GridCell* cell;
        uint32_t from, to;
    };
    Segment segs[18] = {};  // runs of entries in visit order
    int32_t nsegs = 0;
    size_t snapCount = 0;  // candidates copied to pairScratch_ by TakeSnapshot
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
};

}  // namespace detail
}  // namespace kin::gelsim
