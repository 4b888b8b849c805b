// A world's state as bytes: the format, the saver, and one builder shared by loading into
// a new world and restoring in place.
//
// Layout. A header ("GWST", version, flags), then sections, each a 4-character tag and a
// byte length: WRLD (parameters, view, next group), NAME (the names' string table), IMGS
// (images), MASS, CONS (the tables and every mass and constraint), ZONE (the zones, or
// references to them), BODY (the registry with rigs), GRID (cell order), EVNT (the event
// queue's mode and its pairs; an empty section means an empty queue in update mode) and END!.
//
// Masses and constraints are numbered in the state: the table's entries first, in entry
// order, then the ones only reachable from bodies and rigs. Their fields are stored as
// columns. Positions are raw (16 bytes a mass); every other column is a run of arithmetic
// runs and literal values, so that what is equal or counts up across masses (radius,
// weight, group, body index) costs almost nothing. A mass's cell is stored as its
// difference from the cell of its present centre (mostly 0).
//
// Cell order. The step's pair search visits a cell's masses in list order, so the order
// is part of the state. Between steps a cell normally lists its masses of group 0 first,
// then the others, each part in table order (placing them in table order after
// integration, then moving each handled mass to the end, gives exactly that). Cells in
// that order cost nothing; any other cell is stored as its full list.
//
// Reading checks every count against the bytes left before anything is allocated, reads
// the whole state into scratch columns, and only then touches the world, so a damaged
// state leaves the world as it was.
#include "gelsim/state/WorldState.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>

#include "gelsim/bodies/AdvBody.h"
#include "gelsim/bodies/Rig.h"
#include "gelsim/core/Body.h"
#include "gelsim/core/Constraint.h"
#include "gelsim/core/Mass.h"
#include "gelsim/core/detail/MassLinks.h"
#include "gelsim/core/detail/PairIndex.h"
#include "gelsim/core/detail/Contact.h"
#include "gelsim/core/detail/World.h"
#include "gelsim/core/ColEvent.h"
#include "gelsim/zones/QuadTree.h"
#include "gelsim/zones/Zone.h"
#include "platform/Image.h"
#include "platform/Pixmap.h"
#include "platform/Stream.h"

namespace kin::gelsim {

// ---------------------------------------------------------------------------------------
// The grid's side of a state (friend access to the pair index)
// ---------------------------------------------------------------------------------------

namespace detail {

void PairIndexAccess::ListOrder(const TPhysics& w, int32_t c, int32_t r, std::vector<TMass*>& out) {
    const PairIndex& x = WorldAccess::Index(w);
    const size_t at = PairIndex::CellAt(c, r);
    const GridCell& cell = x.cells_[at];
    const int32_t p = x.placedThrough_;
    if (x.InTableOrder(at) && p >= 0 && cell.Size() >= 2) {
        // Held in table order: the list is the not yet handled masses (and those of group
        // 0), then the handled ones, as Materialize would store it.
        for (uint32_t k = cell.begin; k < cell.end; ++k)
            if (!(cell.data[k].stamp <= p && cell.data[k].group != 0.0f)) out.push_back(cell.data[k].mass);
        for (uint32_t k = cell.begin; k < cell.end; ++k)
            if (cell.data[k].stamp <= p && cell.data[k].group != 0.0f) out.push_back(cell.data[k].mass);
        return;
    }
    for (uint32_t k = cell.begin; k < cell.end; ++k) out.push_back(cell.data[k].mass);
}

void PairIndexAccess::ClearCells(TPhysics& w) {
    PairIndex& x = WorldAccess::Index(w);
    int32_t cleared = 0;
    auto clear = [&](GridCell& cell) {
        for (uint32_t k = cell.begin; k < cell.end; ++k) {
            TMass* m = cell.data[k].mass;
            MassAccess::PlacedIn(m) = nullptr;
            m->gridlink.Remove();
        }
        cleared += static_cast<int32_t>(cell.Size());
        cell.begin = cell.end = 0;
        cell.only = 0.0f;
        cell.descents = 0;
        cell.listStale = false;
    };
    // The occupied cells are found through the table's masses; a cell holding anything else
    // is found by looking at them all.
    const int32_t n = std::min(w.massCount, static_cast<int32_t>(w.massArray.size()));
    for (int32_t k = 0; k < n; ++k) {
        TMass* m = w.massArray[static_cast<size_t>(k)].Get();
        if (!m || MassAccess::PlacedIn(m) != &x || m->gridx < 0 || m->gridx >= PairIndex::MAX_GRID || m->gridy < 0 ||
            m->gridy >= PairIndex::MAX_GRID)
            continue;
        clear(x.cells_[PairIndex::CellAt(m->gridx, m->gridy)]);
    }
    if (cleared != x.gridPop_)
        for (size_t k = 0; k < static_cast<size_t>(PairIndex::MAX_GRID) * PairIndex::MAX_GRID; ++k)
            if (x.cells_[k].Size() > 0) clear(x.cells_[k]);
    for (GridCell* cell : x.unsorted_) cell->listed = false;
    x.unsorted_.clear();
    for (GridCell* cell : x.ordered_) {
        const size_t at = static_cast<size_t>(cell - x.cells_.get());
        x.orderBits_[at >> 6] &= ~(uint64_t{1} << (at & 63));
    }
    x.ordered_.clear();
    x.moved_.clear();
    x.placedThrough_ = -1;
    x.search_ = PairSearch{};
    x.gridPop_ = 0;
    x.gridGroup_ = 0.0f;
    x.gridOthers_ = 0;
}

void PairIndexAccess::Append(TPhysics& w, TMass* m, int32_t c, int32_t r) {
    PairIndex& x = WorldAccess::Index(w);
    m->gridx = c;
    m->gridy = r;
    x.ListAt(c, r).AddLast(m->gridlink, m);
    x.IndexAppend(c, r, m);
    MassAccess::PlacedIn(m) = &x;
}

bool PairIndexAccess::StoredInListOrder(const TPhysics& w) {
    const PairIndex& x = WorldAccess::Index(w);
    return x.placedThrough_ < 0 && !x.search_.live && !x.search_.walking;
}

void PairIndexAccess::OccupiedCells(const TPhysics& w, std::vector<int32_t>& cells) {
    const PairIndex& x = WorldAccess::Index(w);
    const size_t first = cells.size();
    int32_t found = 0;
    // Found through the table's masses; a cell that holds anything else is found by
    // looking at them all.
    const int32_t n = std::min(w.massCount, static_cast<int32_t>(w.massArray.size()));
    for (int32_t k = 0; k < n; ++k) {
        const TMass* m = w.massArray[static_cast<size_t>(k)].Get();
        if (!m || MassAccess::PlacedIn(m) != &x || m->gridx < 0 || m->gridx >= PairIndex::MAX_GRID || m->gridy < 0 ||
            m->gridy >= PairIndex::MAX_GRID)
            continue;
        const size_t at = PairIndex::CellAt(m->gridx, m->gridy);
        const GridCell& cell = x.cells_[at];
        // A cell is counted at its first mass (the one its index lists first).
        if (cell.Size() > 0 && cell.data[cell.begin].mass == m) {
            cells.push_back(static_cast<int32_t>(at));
            found += static_cast<int32_t>(cell.Size());
        }
    }
    if (found == x.gridPop_) return;
    cells.resize(first);
    for (size_t k = 0; k < static_cast<size_t>(PairIndex::MAX_GRID) * PairIndex::MAX_GRID; ++k)
        if (x.cells_[k].Size() > 0) cells.push_back(static_cast<int32_t>(k));
}

bool PairIndexAccess::CellHolds(const TPhysics& w, int32_t cell, TMass* const* masses, size_t n) {
    const GridCell& c = WorldAccess::Index(w).cells_[static_cast<size_t>(cell)];
    if (c.Size() != n) return false;
    for (size_t k = 0; k < n; ++k) {
        const GridEntry& e = c.data[c.begin + k];
        const TMass* m = masses[k];
        if (e.mass != m || e.stamp != m->aIndex || std::memcmp(&e.group, &m->colGroup, sizeof(float)) != 0) return false;
    }
    return true;
}

void PairIndexAccess::ClearCell(TPhysics& w, int32_t at) {
    PairIndex& x = WorldAccess::Index(w);
    GridCell& cell = x.cells_[static_cast<size_t>(at)];
    for (uint32_t k = cell.begin; k < cell.end; ++k) {
        TMass* m = cell.data[k].mass;
        x.CountGroup(cell.data[k].group, -1);
        MassAccess::PlacedIn(m) = nullptr;
        m->gridlink.Remove();
    }
    x.gridPop_ -= static_cast<int32_t>(cell.Size());
    if (x.gridPop_ == 0) {
        x.gridGroup_ = 0.0f;
        x.gridOthers_ = 0;
    }
    cell.begin = cell.end = 0;
    cell.only = 0.0f;
    cell.descents = 0;
    cell.listStale = false;
}

TPhysics*& WorldAccess::Member(TConstraint& c) { return c.world_; }
TPhysics*& WorldAccess::Member(TZoneBase& z) { return z.world_; }
TPhysics*& WorldAccess::Member(TBody& b) { return b.world_; }

}  // namespace detail

namespace {

using detail::MassAccess;
using detail::PairIndexAccess;
using detail::WorldAccess;

constexpr char kTag[4] = {'G', 'W', 'S', 'T'};
constexpr int32_t kVersion = 1;
constexpr int32_t kFlagZones = 1;
// Memory a reader may take beyond 16 bytes per byte of state.
constexpr uint64_t kAllowance = uint64_t{4} << 20;
constexpr int32_t kMaxGrid = TPhysics::MAX_GRID;

// A mass's flags: frozen (1), frozen with another value (stored), cell off the centre's.
constexpr uint8_t kFrozen = 1, kFrozenValue = 2, kCellX = 4, kCellY = 8;

// Kinds of registry entries.
constexpr uint8_t kNoBody = 0, kAdvBody = 1, kPlainBody = 2;

[[noreturn]] void Damaged(const std::string& what) { throw TStreamReadException("world state: " + what); }
[[noreturn]] void Unsavable(const std::string& what) { throw TStreamWriteException("world state: " + what); }

// The grid cell of a coordinate, as the grid computes it.
inline int32_t CellOf(float v, float ratio, int32_t cells) {
    float f = v * ratio;
    f = f > 0.0f ? f : 0.0f;
    const float last = static_cast<float>(cells - 1);
    f = f < last ? f : last;
    return static_cast<int32_t>(f);
}
inline int32_t Cells(int32_t gridsize) { return std::max(1, std::min(gridsize, kMaxGrid)); }

uint32_t Bits(float f) { return std::bit_cast<uint32_t>(f); }
float FromBits(uint32_t u) { return std::bit_cast<float>(u); }

// ---------------------------------------------------------------------------------------
// Bytes
// ---------------------------------------------------------------------------------------

// Writes into a vector kept longer than what is written (the caller trims it with
// Finish), so that each number is a few stores and no call.
class Out {
public:
    explicit Out(std::vector<uint8_t>& b) : b_(b), n_(b.size()) {}
    void U8(uint32_t v) {
        Room(1);
        b_[n_++] = static_cast<uint8_t>(v);
    }
    void U32(uint32_t v) {
        Room(4);
        uint8_t* p = b_.data() + n_;
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v >> 16);
        p[3] = static_cast<uint8_t>(v >> 24);
        n_ += 4;
    }
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void F32(float v) { U32(Bits(v)); }
    void Var(uint64_t v) {
        Room(10);
        uint8_t* p = b_.data() + n_;
        size_t k = 0;
        while (v >= 0x80) {
            p[k++] = static_cast<uint8_t>(v | 0x80);
            v >>= 7;
        }
        p[k++] = static_cast<uint8_t>(v);
        n_ += k;
    }
    void SVar(int64_t v) { Var((static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63)); }
    void Str(const std::string& s) {
        Var(s.size());
        Raw(s.data(), s.size());
    }
    void Raw(const void* p, size_t n) {
        Room(n);
        if (n) std::memcpy(b_.data() + n_, p, n);
        n_ += n;
    }
    // A section: its tag, then a length patched in by End.
    size_t Begin(const char* tag) {
        Raw(tag, 4);
        const size_t at = n_;
        U32(0);
        return at;
    }
    void End(size_t at) {
        const uint32_t len = static_cast<uint32_t>(n_ - at - 4);
        for (int k = 0; k < 4; ++k) b_[at + static_cast<size_t>(k)] = static_cast<uint8_t>(len >> (8 * k));
    }
    void Finish() { b_.resize(n_); }
    /// Room for k more bytes: the writes below that are told there is room check nothing.
    void Room(size_t k) {
        if (n_ + k > b_.size()) b_.resize(std::max(b_.size() * 2, n_ + k + 256));
    }
    void VarInRoom(uint64_t v) {
        uint8_t* p = b_.data() + n_;
        size_t k = 0;
        while (v >= 0x80) {
            p[k++] = static_cast<uint8_t>(v | 0x80);
            v >>= 7;
        }
        p[k++] = static_cast<uint8_t>(v);
        n_ += k;
    }
    void SVarInRoom(int64_t v) { VarInRoom((static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63)); }
    void U32InRoom(uint32_t v) {
        uint8_t* p = b_.data() + n_;
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v >> 16);
        p[3] = static_cast<uint8_t>(v >> 24);
        n_ += 4;
    }

private:
    std::vector<uint8_t>& b_;
    size_t n_;
};

class In {
public:
    In(const uint8_t* p, size_t n) : p_(p), end_(p + n) {}
    size_t Left() const { return static_cast<size_t>(end_ - p_); }
    void Need(size_t n, const char* what) const {
        if (Left() < n) Damaged(std::string("ends in ") + what);
    }
    uint32_t U8(const char* what) {
        Need(1, what);
        return *p_++;
    }
    uint32_t U32(const char* what) {
        Need(4, what);
        const uint32_t v = uint32_t(p_[0]) | uint32_t(p_[1]) << 8 | uint32_t(p_[2]) << 16 | uint32_t(p_[3]) << 24;
        p_ += 4;
        return v;
    }
    int32_t I32(const char* what) { return static_cast<int32_t>(U32(what)); }
    float F32(const char* what) { return FromBits(U32(what)); }
    uint64_t Var(const char* what) {
        uint64_t v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            const uint32_t b = U8(what);
            v |= static_cast<uint64_t>(b & 0x7F) << shift;
            if (!(b & 0x80)) return v;
        }
        Damaged(std::string("an overlong number in ") + what);
    }
    int64_t SVar(const char* what) {
        const uint64_t u = Var(what);
        return static_cast<int64_t>(u >> 1) ^ -static_cast<int64_t>(u & 1);
    }
    int32_t Int(const char* what) {
        const int64_t v = SVar(what);
        if (v < INT32_MIN || v > INT32_MAX) Damaged(std::string("a number out of range in ") + what);
        return static_cast<int32_t>(v);
    }
    // A count of items that take at least `each` bytes apiece.
    size_t Count(const char* what, size_t each) {
        const uint64_t n = Var(what);
        if (n > Left() / std::max<size_t>(each, 1)) Damaged(std::string("a count larger than the data in ") + what);
        return static_cast<size_t>(n);
    }
    std::string Str(const char* what) {
        const size_t n = Count(what, 1);
        std::string s(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return s;
    }
    const uint8_t* Take(size_t n, const char* what) {
        Need(n, what);
        const uint8_t* at = p_;
        p_ += n;
        return at;
    }
    // A section with this tag: returns a reader over its bytes and moves past it.
    In Section(const char* tag) {
        Need(8, tag);
        if (std::memcmp(p_, tag, 4) != 0) Damaged(std::string("no ") + tag + " section where expected");
        p_ += 4;
        const uint32_t len = U32(tag);
        const uint8_t* at = Take(len, tag);
        return In(at, len);
    }
    void Done(const char* what) const {
        if (p_ != end_) Damaged(std::string("unread bytes at the end of ") + what);
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

// ---------------------------------------------------------------------------------------
// Columns
// ---------------------------------------------------------------------------------------

// Int columns: runs of (length << 1) then either an arithmetic run (first, step, both as
// differences from the previous value) or, with the low bit set, literal values (each the
// difference from the previous value).
void PutInts(Out& o, const int32_t* v, size_t n) {
    int64_t prev = 0;
    size_t i = 0;
    while (i < n) {
        size_t j = i + 1;
        if (j < n) {
            const int64_t d = int64_t(v[j]) - v[i];
            while (j + 1 < n && int64_t(v[j + 1]) - v[j] == d) ++j;
            ++j;
        }
        if (j - i >= 3) {
            o.Room(30);
            o.VarInRoom((j - i) << 1);
            o.SVarInRoom(int64_t(v[i]) - prev);
            o.SVarInRoom(int64_t(v[i + 1]) - v[i]);
            prev = v[j - 1];
            i = j;
            continue;
        }
        size_t k = i;
        while (k < n && !(k + 2 < n && int64_t(v[k + 1]) - v[k] == int64_t(v[k + 2]) - v[k + 1])) ++k;
        if (k == i) k = i + 1;
        o.Room(10 + (k - i) * 10);
        o.VarInRoom(((k - i) << 1) | 1);
        for (size_t q = i; q < k; ++q) {
            o.SVarInRoom(int64_t(v[q]) - prev);
            prev = v[q];
        }
        i = k;
    }
}

void GetInts(In& in, int32_t* v, size_t n, const char* what) {
    int64_t prev = 0;
    size_t i = 0;
    auto fit = [what](int64_t x) {
        if (x < INT32_MIN || x > INT32_MAX) Damaged(std::string("a value out of range in ") + what);
        return static_cast<int32_t>(x);
    };
    while (i < n) {
        const uint64_t head = in.Var(what);
        const uint64_t len = head >> 1;
        if (len == 0 || len > n - i) Damaged(std::string("a run past the end of ") + what);
        if (head & 1) {
            for (uint64_t q = 0; q < len; ++q) {
                const int64_t d = in.SVar(what);
                if (d < -(int64_t{1} << 33) || d > (int64_t{1} << 33)) Damaged(std::string("a value out of range in ") + what);
                prev = fit(prev + d);
                v[i++] = static_cast<int32_t>(prev);
            }
        } else {
            const int64_t d0 = in.SVar(what), step = in.SVar(what);
            if (d0 < -(int64_t{1} << 33) || d0 > (int64_t{1} << 33) || step < -(int64_t{1} << 33) || step > (int64_t{1} << 33))
                Damaged(std::string("a value out of range in ") + what);
            int64_t x = fit(prev + d0);
            for (uint64_t q = 0; q < len; ++q) {
                if (q) x = fit(x + step);
                v[i++] = static_cast<int32_t>(x);
            }
            prev = x;
        }
    }
}

// Float columns: runs of (length << 1) then one value repeated, or with the low bit set,
// literal values; raw bit patterns.
void PutFloats(Out& o, const float* v, size_t n) {
    size_t i = 0;
    while (i < n) {
        size_t j = i + 1;
        while (j < n && Bits(v[j]) == Bits(v[i])) ++j;
        if (j - i >= 2) {
            o.Var((j - i) << 1);
            o.F32(v[i]);
            i = j;
            continue;
        }
        size_t k = i + 1;
        while (k < n && !(k + 1 < n && Bits(v[k + 1]) == Bits(v[k]))) ++k;
        o.Var(((k - i) << 1) | 1);
        for (size_t q = i; q < k; ++q) o.F32(v[q]);
        i = k;
    }
}

void GetFloats(In& in, float* v, size_t n, const char* what) {
    size_t i = 0;
    while (i < n) {
        const uint64_t head = in.Var(what);
        const uint64_t len = head >> 1;
        if (len == 0 || len > n - i) Damaged(std::string("a run past the end of ") + what);
        if (head & 1) {
            for (uint64_t q = 0; q < len; ++q) v[i++] = in.F32(what);
        } else {
            const float x = in.F32(what);
            for (uint64_t q = 0; q < len; ++q) v[i++] = x;
        }
    }
}

// Collision groups are whole numbers held as floats, and automatic ones count down: as
// whole numbers they cost almost nothing (a leading 0), otherwise they are stored as
// floats (a leading 1).
bool WholeGroups(const float* v, size_t n) {
    for (size_t k = 0; k < n; ++k) {
        const float g = v[k];
        if (!(g >= -2147483648.0f && g < 2147483648.0f) || g != std::trunc(g) || (g == 0.0f && std::signbit(g)))
            return false;
    }
    return true;
}

void PutGroups(Out& o, const float* v, size_t n) {
    if (!WholeGroups(v, n)) {
        o.U8(1);
        PutFloats(o, v, n);
        return;
    }
    o.U8(0);
    std::vector<int32_t> iv(n);
    for (size_t k = 0; k < n; ++k) iv[k] = static_cast<int32_t>(v[k]);
    PutInts(o, iv.data(), n);
}

void GetGroups(In& in, float* v, size_t n, std::vector<int32_t>& scratch) {
    const uint32_t mode = in.U8("MASS");
    if (mode == 1) {
        GetFloats(in, v, n, "MASS");
        return;
    }
    if (mode != 0) Damaged("unknown group coding in MASS");
    scratch.resize(n);
    GetInts(in, scratch.data(), n, "MASS");
    for (size_t k = 0; k < n; ++k) v[k] = static_cast<float>(scratch[k]);
}

// ---------------------------------------------------------------------------------------
// The decoded state (scratch kept between restores, so that an undo of an unchanged set of
// objects allocates nothing per object)
// ---------------------------------------------------------------------------------------

struct Table {
    int32_t count = 0, freeCount = 0, length = 0;
    std::vector<int32_t> free;     // freeCount entries
    std::vector<int32_t> entries;  // entry of each object in the table, ascending
};

struct MassCols {
    size_t n = 0;
    std::vector<float> pos;  // 4 per mass: posX, posY, oldPosX, oldPosY
    std::vector<float> radius, mass, friction, group;
    std::vector<int32_t> frozen, aIndex, gridx, gridy, refCounter, abID, index, name;
};

struct ConCols {
    size_t n = 0;
    std::vector<int32_t> m0, m1;  // mass numbers, -1 for none
    std::vector<float> restLength, stiffness;
    std::vector<int32_t> refCounter, aIndex, abID, index, name;
};

struct SlotRec {
    int32_t run = 0;
    std::vector<std::pair<int32_t, int32_t>> held;  // (index, element number)
};

struct RigRec {
    int32_t name = 0, image = -1, mass = -1, con = -1;
    float angle = 0, scaleX = 1, scaleY = 1, red = 1, green = 1, blue = 1, alpha = 1;
    int32_t blend = 1, abID = -1, index = -1;
};

struct BodyRec {
    uint8_t kind = kNoBody;
    int32_t name = 0;
    std::vector<int32_t> conList;  // constraint numbers
    int32_t aIndex = -1, mIndex = 0, cIndex = 0, iIndex = 0, rIndex = 0;
    SlotRec masses, cons, images, rigs;  // rigs: numbers into Decoded::rigs
};

struct ImageRec {
    int32_t width = 0, height = 0, flags = 0;
    uint8_t mask[3] = {0, 0, 0};
    float hx = 0, hy = 0;
    std::vector<std::vector<uint8_t>> frames;  // RGBA
};

struct ZoneRec {
    int32_t name = 0;
    std::vector<float> origArea, area;
    int32_t style = 0;
    float friction = 0, offsetX = 0, offsetY = 0, angle = 0, scaleX = 1, scaleY = 1;
    float red = 1, green = 1, blue = 1, alpha = 1;
    int32_t blend = 1, colGroup = -1, aIndex = -1, qtLevel = 0, tree = -1, image = -1;
    float imgScaleX = 1, imgScaleY = 1;
};

// A zone as a state without zones knows it.
struct ZoneMark {
    int32_t colGroup = 0, style = 0, vertices = 0;
    float offsetX = 0, offsetY = 0;
};

struct Decoded {
    int32_t flags = 0;
    float boundsMaxX = 0, boundsMaxY = 0, boundsMinX = 0, boundsMinY = 0, friction = 0, gravityX = 0, gravityY = 0;
    int32_t i = 0, gridon = 0, gridsize = 0;
    float ratiox = 0, ratioy = 0;
    float view[10] = {};
    int32_t nextColGroup = -2;
    std::vector<std::string> names;
    std::vector<ImageRec> images;
    Table massTable, conTable, zoneTable, bodyTable;
    MassCols masses;
    ConCols cons;
    std::vector<std::pair<const uint8_t*, size_t>> trees;  // each tree's bytes (checked)
    std::vector<Ref<TQuadTree>> madeTrees;
    std::vector<ZoneRec> zones;        // with zones: one per zone table entry held
    struct EventRec {
        int32_t kind;
        bool replace;
        int32_t mass, other;  // state numbers; other: a mass's number, a zone entry, or 0 (the world)
        float x, y, force;
    };
    int32_t eventMode = 1;     // TColEvent::MODE_UPDATE
    size_t eventsPolled = 0;
    std::vector<EventRec> events;
    std::vector<ZoneMark> zoneMarks;   // without
    std::vector<BodyRec> bodies;       // one per registry entry below bodyCount
    std::vector<RigRec> rigs;
    std::vector<int32_t> unplaced;     // table masses in no cell
    std::vector<std::pair<int32_t, std::vector<int32_t>>> cellLists;  // (cell, mass numbers) not in the usual order
    uint64_t cost = 0;                 // memory the objects will take
    std::vector<int32_t> scratchInts;
};

// ---------------------------------------------------------------------------------------
// Saving
// ---------------------------------------------------------------------------------------

// A saver's working columns, kept by the thread between saves: each save then writes into
// memory that is already there.
struct SaveScratch {
    std::vector<TMass*> masses;
    std::vector<int32_t> massRank;
    std::vector<TConstraint*> cons;
    std::vector<int32_t> conRank;
    struct MassFields {
        std::vector<float> pos, radius, mass, friction, group;
        std::vector<uint8_t> flags;
        std::vector<int32_t> frozen, gridx, gridy;  // only where the flags say so
        std::vector<int32_t> aIndex, refCounter, abID, index, name;
    } mf;
    struct ConFields {
        std::vector<int32_t> m0, m1;
        std::vector<float> restLength, stiffness;
        std::vector<int32_t> refCounter, aIndex, abID, index, name;
    } cf;
};

SaveScratch& TheSaveScratch() {
    thread_local SaveScratch s;
    return s;
}

class Saver {
public:
    Saver(const TPhysics& w, bool withZones, bool withEvents, std::vector<uint8_t>& bytes)
        : w_(w), zones_(withZones), events_(withEvents), o_(bytes) {}

    void Run() {
        Number();
        o_.Raw(kTag, 4);
        o_.I32(kVersion);
        o_.I32(zones_ ? kFlagZones : 0);
        World();
        Names();
        Images();
        Masses();
        Cons();
        Zones();
        Bodies();
        Grid();
        const size_t ev = o_.Begin("EVNT");
        Events();
        o_.End(ev);
        o_.End(o_.Begin("END!"));
        o_.Finish();
    }

private:
    // Numbers every mass, constraint, rig and image of the state.
    void Number() {
        masses_.clear();
        cons_.clear();
        const int32_t nm = std::min(w_.massCount, static_cast<int32_t>(w_.massArray.size()));
        massRank_.assign(static_cast<size_t>(std::max(nm, 0)), -1);
        masses_.reserve(static_cast<size_t>(std::max(nm, 0)));
        for (int32_t e = 0; e < nm; ++e)
            if (TMass* m = w_.massArray[static_cast<size_t>(e)].Get()) {
                massRank_[static_cast<size_t>(e)] = static_cast<int32_t>(masses_.size());
                masses_.push_back(m);
            }
        tableMasses_ = masses_.size();
        const int32_t nc = std::min(w_.conCount, static_cast<int32_t>(w_.conArray.size()));
        conRank_.assign(static_cast<size_t>(std::max(nc, 0)), -1);
        cons_.reserve(static_cast<size_t>(std::max(nc, 0)));
        for (int32_t e = 0; e < nc; ++e)
            if (TConstraint* c = w_.conArray[static_cast<size_t>(e)].Get()) {
                conRank_[static_cast<size_t>(e)] = static_cast<int32_t>(cons_.size());
                cons_.push_back(c);
            }
        tableCons_ = cons_.size();
        const int32_t nb = std::min(w_.bodyCount, static_cast<int32_t>(w_.bodyArray.size()));
        for (int32_t e = 0; e < nb; ++e) {
            TObject* o = w_.bodyArray[static_cast<size_t>(e)].Get();
            if (!o) continue;
            if (auto* b = As<TAdvBody>(o)) {
                b->mArray.ForEach([&](TMass* m) { MassId(m); });
                b->cArray.ForEach([&](TConstraint* c) { ConId(c); });
                b->iArray.ForEach([&](TImage* i) { ImageId(i); });
                b->rArray.ForEach([&](TRig* r) {
                    if (r->mass) MassId(r->mass.Get());
                    if (r->con) ConId(r->con.Get());
                    if (r->image) ImageId(r->image.Get());
                });
            }
            if (auto* b = As<TBody>(o)) {
                if (b->conList)
                    for (TObject* x : *b->conList) {
                        auto* c = As<TConstraint>(x);
                        if (!c) Unsavable("a body's constraint list holds something else");
                        ConId(c);
                    }
            } else {
                Unsavable("the body registry holds something that is not a body");
            }
        }
        // Constraints reach masses; numbering them may add masses, not constraints.
        for (size_t k = 0; k < cons_.size(); ++k)
            for (const Ref<TMass>& m : cons_[k]->m)
                if (m) MassId(m.Get());
    }

    // The event queue: its mode, the pairs in queue order and how many were polled. An
    // event that names what the state does not hold (a mass that left the world and every
    // body, another world, a party of a custom kind) is left out; each event keeps its kind,
    // masses by state number, a zone by its table entry, point, force and merge rule.
    void Events() {
        if (events_) {
            detail::ReadEvents(const_cast<TPhysics&>(w_), queued_, polled_, mode_);
        } else {  // the mode alone: a restored world's queue is empty
            queued_.clear();
            polled_ = 0;
            mode_ = detail::EventMode(const_cast<TPhysics&>(w_));
        }
        kept_.clear();
        size_t keptPolled = 0;
        for (size_t k = 0; k < queued_.size(); ++k) {
            const detail::QueuedEvent& e = queued_[k];
            KeptEvent x{e, KnownMassId(e.mass), -1};
            if (x.mass < 0) continue;
            if (e.kind == TColEvent::MASS_MASS)
                x.other = KnownMassId(As<TMass>(e.other));
            else if (e.kind == TColEvent::MASS_ZONE) {
                const auto* z = As<TZoneBase>(e.other);
                const int32_t at = z ? z->aIndex : -1;
                if (at >= 0 && at < static_cast<int32_t>(w_.zoneArray.size()) && w_.zoneArray[static_cast<size_t>(at)].Get() == z)
                    x.other = at;
            } else if (e.kind == TColEvent::MASS_BOUNDS && e.other == &w_) {
                x.other = 0;
            }
            if (x.other < 0) continue;
            kept_.push_back(x);
            if (k < polled_) ++keptPolled;
        }
        o_.I32(mode_);
        o_.Var(kept_.size());
        o_.Var(keptPolled);
        for (const KeptEvent& x : kept_) {
            o_.U8(static_cast<uint32_t>(x.e.kind) | (x.e.replace ? 8u : 0u));
            o_.Var(static_cast<uint64_t>(x.mass));
            o_.Var(static_cast<uint64_t>(x.other));
            o_.F32(x.e.x);
            o_.F32(x.e.y);
            o_.F32(x.e.force);
        }
    }
    // A mass's state number, or -1 for one the state does not hold.
    int32_t KnownMassId(const TMass* m) const {
        if (!m) return -1;
        const int32_t e = m->aIndex;
        if (e >= 0 && static_cast<size_t>(e) < massRank_.size() && w_.massArray[static_cast<size_t>(e)].Get() == m)
            return massRank_[static_cast<size_t>(e)];
        const auto it = extraMass_.find(m);
        return it == extraMass_.end() ? -1 : it->second;
    }
    struct KeptEvent {
        detail::QueuedEvent e;
        int32_t mass, other;
    };
    std::vector<detail::QueuedEvent> queued_;
    std::vector<KeptEvent> kept_;
    size_t polled_ = 0;
    int32_t mode_ = TColEvent::MODE_UPDATE;

    [[gnu::always_inline]] int32_t MassId(const TMass* m) {
        if (!m) return -1;
        const int32_t e = m->aIndex;
        if (e >= 0 && static_cast<size_t>(e) < massRank_.size() && w_.massArray[static_cast<size_t>(e)].Get() == m)
            return massRank_[static_cast<size_t>(e)];
        return ExtraMassId(m);
    }
    [[gnu::noinline]] int32_t ExtraMassId(const TMass* m) {
        auto [it, fresh] = extraMass_.try_emplace(m, static_cast<int32_t>(masses_.size()));
        if (fresh) masses_.push_back(const_cast<TMass*>(m));
        return it->second;
    }
    int32_t ConId(const TConstraint* c) {
        if (!c) return -1;
        const int32_t e = c->aIndex;
        if (e >= 0 && static_cast<size_t>(e) < conRank_.size() && w_.conArray[static_cast<size_t>(e)].Get() == c)
            return conRank_[static_cast<size_t>(e)];
        auto [it, fresh] = extraCon_.try_emplace(c, static_cast<int32_t>(cons_.size()));
        if (fresh) cons_.push_back(const_cast<TConstraint*>(c));
        return it->second;
    }
    int32_t ImageId(const TImage* i) {
        if (!i) return -1;
        auto [it, fresh] = imageId_.try_emplace(i, static_cast<int32_t>(images_.size()));
        if (fresh) images_.push_back(i);
        return it->second;
    }
    int32_t NameId(const std::string& s) {
        if (s.empty()) return 0;
        if (s.size() == lastName_.size()) {
            bool same = true;
            for (size_t k = 0; same && k < s.size(); ++k) same = s[k] == lastName_[k];
            if (same) return lastNameId_;
        }
        auto [it, fresh] = nameId_.try_emplace(s, static_cast<int32_t>(names_.size() + 1));
        if (fresh) names_.push_back(&it->first);
        lastName_ = s;
        lastNameId_ = it->second;
        return it->second;
    }

    void World() {
        const size_t s = o_.Begin("WRLD");
        for (float f : {w_.boundsMaxX, w_.boundsMaxY, w_.boundsMinX, w_.boundsMinY, w_.friction, w_.gravityX, w_.gravityY})
            o_.F32(f);
        o_.I32(w_.i);
        o_.I32(w_.gridon);
        o_.I32(w_.gridsize);
        o_.F32(w_.ratiox);
        o_.F32(w_.ratioy);
        for (float f : {w_.drawOffsetX, w_.drawOffsetY, w_.drawScale, w_.centerX, w_.centerY, w_.drawRot, w_.drawIX,
                        w_.drawIY, w_.drawJX, w_.drawJY})
            o_.F32(f);
        o_.I32(w_.nextColGroup);
        o_.End(s);
    }

    // The masses' and constraints' names, each distinct one once (bodies, rigs and zones
    // are few and carry their own).
    void Names() {
        names_.clear();
        // The fields of every mass and constraint are gathered in one pass over the objects
        // (the columns are then written from these), which also numbers their names.
        GatherMasses();
        GatherCons();
        const size_t s = o_.Begin("NAME");
        o_.Var(names_.size());
        for (const std::string* n : names_) o_.Str(*n);
        o_.End(s);
    }

    void Images() {
        // Images of zones join the table as the zones are numbered.
        if (zones_)
            for (const auto& z : w_.zoneArray)
                if (auto* zone = As<TZone>(z.Get())) ImageId(zone->image.Get());
        const size_t s = o_.Begin("IMGS");
        o_.Var(images_.size());
        for (const TImage* im : images_) {
            o_.I32(im->width);
            o_.I32(im->height);
            o_.I32(im->flags);
            o_.U8(im->maskR);
            o_.U8(im->maskG);
            o_.U8(im->maskB);
            o_.F32(im->handle_x);
            o_.F32(im->handle_y);
            o_.Var(im->frames.size());
            for (const Ref<TPixmap>& f : im->frames) {
                const int32_t fw = f ? f->Width() : 0, fh = f ? f->Height() : 0;
                o_.I32(fw);
                o_.I32(fh);
                o_.U8(f && f->HasAlpha() ? 1 : 0);
                if (f) o_.Raw(f->Pixels(), static_cast<size_t>(fw) * static_cast<size_t>(fh) * 4);
            }
        }
        o_.End(s);
    }

    template <class T>
    void TableOf(const std::vector<Ref<T>>& arr, int32_t count, const std::vector<int32_t>& free, int32_t freeCount) {
        o_.I32(count);
        o_.I32(static_cast<int32_t>(arr.size()));
        const int32_t fc = std::max(0, std::min(freeCount, static_cast<int32_t>(free.size())));
        o_.Var(static_cast<uint64_t>(fc));
        // One number per free entry: a reader can then bound the table by the bytes.
        for (int32_t k = 0; k < fc; ++k) o_.Var(static_cast<uint32_t>(free[static_cast<size_t>(k)]));
    }


    void GatherMasses() {
        const size_t n = masses_.size();
        SaveScratch::MassFields& f = mf_;
        f.pos.resize(4 * n);
        for (auto* c : {&f.radius, &f.mass, &f.friction, &f.group}) c->resize(n);
        for (auto* c : {&f.aIndex, &f.refCounter, &f.abID, &f.index, &f.name}) c->resize(n);
        f.flags.resize(n);
        f.frozen.clear();
        f.gridx.clear();
        f.gridy.clear();
        const int32_t gs = Cells(w_.gridsize);
        const float rx = w_.ratiox, ry = w_.ratioy;
        for (size_t k = 0; k < n; ++k) {
            const TMass* m = masses_[k];
            f.pos[4 * k] = m->posX;
            f.pos[4 * k + 1] = m->posY;
            f.pos[4 * k + 2] = m->oldPosX;
            f.pos[4 * k + 3] = m->oldPosY;
            f.radius[k] = m->radius;
            f.mass[k] = m->mass;
            f.friction[k] = m->friction;
            f.group[k] = m->colGroup;
            f.aIndex[k] = m->aIndex;
            // A table mass's cell as its difference from the cell of its centre, which is
            // mostly none; other fields that are mostly 0 or 1 are flags.
            const bool table = k < tableMasses_;
            const int32_t dx = m->gridx - (table ? CellOf(m->posX, rx, gs) : 0);
            const int32_t dy = m->gridy - (table ? CellOf(m->posY, ry, gs) : 0);
            uint8_t fl = 0;
            if (m->frozen == 1) {
                fl |= kFrozen;
            } else if (m->frozen != 0) {
                fl |= kFrozenValue;
                f.frozen.push_back(m->frozen);
            }
            if (dx != 0) {
                fl |= kCellX;
                f.gridx.push_back(dx);
            }
            if (dy != 0) {
                fl |= kCellY;
                f.gridy.push_back(dy);
            }
            f.flags[k] = fl;
            f.refCounter[k] = m->refCounter;
            f.abID[k] = m->abID;
            f.index[k] = m->index;
            f.name[k] = NameId(m->name);
        }
    }

    void Masses() {
        const size_t s = o_.Begin("MASS");
        TableOf(w_.massArray, w_.massCount, w_.massFree, w_.massFreeCount);
        const size_t n = masses_.size();
        const SaveScratch::MassFields& f = mf_;
        o_.Var(tableMasses_);
        PutInts(o_, f.aIndex.data(), tableMasses_);  // their entries (the table's own view)
        o_.Var(n);
        if constexpr (std::endian::native == std::endian::little)
            o_.Raw(f.pos.data(), 16 * n);
        else
            for (float x : f.pos) o_.F32(x);
        o_.Raw(f.flags.data(), n);
        for (const auto* c : {&f.radius, &f.mass, &f.friction}) PutFloats(o_, c->data(), n);
        PutGroups(o_, f.group.data(), n);
        for (const auto* c : {&f.aIndex, &f.refCounter, &f.abID, &f.index, &f.name}) PutInts(o_, c->data(), n);
        for (const auto* c : {&f.frozen, &f.gridx, &f.gridy}) PutInts(o_, c->data(), c->size());
        o_.End(s);
    }


    void GatherCons() {
        const size_t n = cons_.size();
        SaveScratch::ConFields& f = cf_;
        for (auto* c : {&f.m0, &f.m1, &f.refCounter, &f.aIndex, &f.abID, &f.index, &f.name}) c->resize(n);
        f.restLength.resize(n);
        f.stiffness.resize(n);
        for (size_t k = 0; k < n; ++k) {
            const TConstraint* c = cons_[k];
            f.m0[k] = MassId(c->m[0].Get());
            f.m1[k] = MassId(c->m[1].Get());
            f.restLength[k] = c->restLength;
            f.stiffness[k] = c->stiffness;
            f.refCounter[k] = c->refCounter;
            f.aIndex[k] = c->aIndex;
            f.abID[k] = c->abID;
            f.index[k] = c->index;
            f.name[k] = NameId(c->name);
        }
    }

    void Cons() {
        const size_t s = o_.Begin("CONS");
        TableOf(w_.conArray, w_.conCount, w_.conFree, w_.conFreeCount);
        const size_t n = cons_.size();
        const SaveScratch::ConFields& f = cf_;
        o_.Var(tableCons_);
        PutInts(o_, f.aIndex.data(), tableCons_);
        o_.Var(n);
        // Per constraint at least 10 bytes: the masses (each a number from the one before)
        // and the two raw floats; a reader bounds the count by them.
        int64_t prev = 0;
        o_.Room(n * 28);
        for (size_t k = 0; k < n; ++k) {
            const int64_t a = f.m0[k], b = f.m1[k];
            o_.SVarInRoom(a - prev);
            o_.SVarInRoom(b - a);
            prev = a;
            o_.U32InRoom(Bits(f.restLength[k]));
            o_.U32InRoom(Bits(f.stiffness[k]));
        }
        for (const auto* c : {&f.refCounter, &f.aIndex, &f.abID, &f.index, &f.name}) PutInts(o_, c->data(), n);
        o_.End(s);
    }

    void QuadTree(const TQuadTree& t) {
        o_.F32(t.posX);
        o_.F32(t.posY);
        o_.F32(t.sizeX);
        o_.F32(t.sizeY);
        o_.I32(t.childList.Count());
        for (TObject* c : t.childList) {
            auto* q = As<TQuadTree>(c);
            if (!q) Unsavable("a quad tree holds something else");
            QuadTree(*q);
        }
    }

    void Zones() {
        const size_t s = o_.Begin("ZONE");
        TableOf(w_.zoneArray, w_.zoneCount, w_.zoneFree, w_.zoneFreeCount);
        const int32_t nz = std::min(w_.zoneCount, static_cast<int32_t>(w_.zoneArray.size()));
        std::vector<const TZone*> held;
        std::vector<int32_t> entries;
        for (int32_t e = 0; e < nz; ++e)
            if (TZoneBase* z = w_.zoneArray[static_cast<size_t>(e)].Get()) {
                auto* zone = As<TZone>(z);
                if (!zone) Unsavable("the zone table holds a zone of another kind");
                held.push_back(zone);
                entries.push_back(e);
            }
        o_.Var(held.size());
        for (int32_t e : entries) o_.Var(static_cast<uint32_t>(e));
        if (!zones_) {
            for (const TZone* z : held) {
                o_.I32(z->colGroup);
                o_.I32(z->style);
                o_.I32(static_cast<int32_t>(z->origArea.size() / 2));
                o_.F32(z->offsetX);
                o_.F32(z->offsetY);
            }
            o_.End(s);
            return;
        }
        // Quad trees, each once (copies of a zone share theirs).
        std::unordered_map<const TQuadTree*, int32_t> treeId;
        std::vector<const TQuadTree*> trees;
        for (const TZone* z : held)
            if (z->quadTree && treeId.try_emplace(z->quadTree.Get(), static_cast<int32_t>(trees.size())).second)
                trees.push_back(z->quadTree.Get());
        o_.Var(trees.size());
        for (const TQuadTree* t : trees) QuadTree(*t);
        for (const TZone* z : held) {
            o_.Str(z->name);
            o_.Var(z->origArea.size());
            for (float f : z->origArea) o_.F32(f);
            o_.Var(z->area.size());
            for (float f : z->area) o_.F32(f);
            o_.I32(z->style);
            for (float f : {z->friction, z->offsetX, z->offsetY, z->angle, z->scaleX, z->scaleY, z->red, z->green,
                            z->blue, z->alpha, z->imgScaleX, z->imgScaleY})
                o_.F32(f);
            o_.I32(z->blend);
            o_.I32(z->colGroup);
            o_.I32(z->aIndex);
            o_.I32(z->qtLevel);
            o_.I32(z->quadTree ? treeId[z->quadTree.Get()] : -1);
            o_.I32(ImageId(z->image.Get()));
        }
        o_.End(s);
    }

    void Slots(int32_t run, const std::vector<std::pair<int32_t, int32_t>>& held) {
        o_.Var(static_cast<uint32_t>(run));
        o_.Var(held.size());
        int32_t prev = -1;
        for (const auto& [i, id] : held) {
            o_.Var(static_cast<uint32_t>(i - prev - 1));
            o_.SVar(id);
            prev = i;
        }
    }

    template <class T, class F>
    std::vector<std::pair<int32_t, int32_t>> Held(const TSlots<T>& slots, F id) {
        std::vector<std::pair<int32_t, int32_t>> out;
        int32_t last = -1;
        for (int32_t i = slots.First(); i != std::numeric_limits<int32_t>::max(); i = slots.Next(i)) {
            if (i <= last) break;
            last = i;
            if (T* e = slots.Get(i)) out.emplace_back(i, id(e));
        }
        return out;
    }

    void Bodies() {
        const size_t s = o_.Begin("BODY");
        TableOf(w_.bodyArray, w_.bodyCount, w_.bodyFree, w_.bodyFreeCount);
        const int32_t nb = std::min(w_.bodyCount, static_cast<int32_t>(w_.bodyArray.size()));
        std::vector<const TRig*> rigs;
        for (int32_t e = 0; e < nb; ++e) {
            TObject* o = w_.bodyArray[static_cast<size_t>(e)].Get();
            auto* body = As<TBody>(o);
            auto* adv = As<TAdvBody>(o);
            o_.U8(!body ? kNoBody : adv ? kAdvBody : kPlainBody);
            if (!body) continue;
            o_.Str(body->name);
            o_.Var(body->conList ? static_cast<uint64_t>(body->conList->Count()) : 0);
            if (body->conList)
                for (TObject* x : *body->conList) o_.Var(static_cast<uint32_t>(ConId(As<TConstraint>(x))));
            if (!adv) continue;
            o_.I32(adv->aIndex);
            o_.I32(adv->mIndex);
            o_.I32(adv->cIndex);
            o_.I32(adv->iIndex);
            o_.I32(adv->rIndex);
            Slots(static_cast<int32_t>(adv->mArray.size()), Held(adv->mArray, [&](TMass* m) { return MassId(m); }));
            Slots(static_cast<int32_t>(adv->cArray.size()), Held(adv->cArray, [&](TConstraint* c) { return ConId(c); }));
            Slots(static_cast<int32_t>(adv->iArray.size()), Held(adv->iArray, [&](TImage* i) { return ImageId(i); }));
            Slots(static_cast<int32_t>(adv->rArray.size()), Held(adv->rArray, [&](TRig* r) {
                      rigs.push_back(r);
                      return static_cast<int32_t>(rigs.size() - 1);
                  }));
        }
        o_.Var(rigs.size());
        for (const TRig* r : rigs) {
            o_.Str(r->name);
            o_.SVar(ImageId(r->image.Get()));
            o_.SVar(MassId(r->mass.Get()));
            o_.SVar(ConId(r->con.Get()));
            for (float f : {r->angle, r->scaleX, r->scaleY, r->red, r->green, r->blue, r->alpha}) o_.F32(f);
            o_.I32(r->blend);
            o_.I32(r->abID);
            o_.I32(r->index);
        }
        o_.End(s);
    }

    void Grid() {
        const size_t s = o_.Begin("GRID");
        const detail::PairIndex& index = WorldAccess::Index(w_);
        std::vector<int32_t> unplaced;
        std::vector<TMass*> list;
        std::vector<uint8_t> seen(static_cast<size_t>(kMaxGrid) * kMaxGrid, 0);
        size_t listed = 0;
        std::vector<uint8_t> cellBytes;
        Out cells(cellBytes);
        uint64_t odd = 0;
        for (size_t k = 0; k < tableMasses_; ++k) {
            TMass* m = masses_[k];
            if (MassAccess::PlacedIn(m) != &index || m->gridx < 0 || m->gridx >= kMaxGrid || m->gridy < 0 ||
                m->gridy >= kMaxGrid) {
                unplaced.push_back(static_cast<int32_t>(k));
                continue;
            }
            const size_t at = static_cast<size_t>(m->gridx) * kMaxGrid + static_cast<size_t>(m->gridy);
            if (seen[at]) continue;
            seen[at] = 1;
            list.clear();
            PairIndexAccess::ListOrder(w_, m->gridx, m->gridy, list);
            listed += list.size();
            // The usual order: group 0 first, then the others, each in table order.
            bool usual = true;
            uint64_t prevKey = 0;
            for (size_t q = 0; q < list.size() && usual; ++q) {
                const TMass* x = list[q];
                const int32_t e = x->aIndex;
                if (e < 0 || static_cast<size_t>(e) >= massRank_.size() || w_.massArray[static_cast<size_t>(e)].Get() != x)
                    Unsavable("a grid cell holds a mass that is not in the mass table");
                const uint64_t key = (uint64_t{x->colGroup != 0.0f ? 1u : 0u} << 32) | static_cast<uint32_t>(e);
                if (q > 0 && key <= prevKey) usual = false;
                prevKey = key;
            }
            if (usual) continue;
            ++odd;
            cells.Var(at);
            cells.Var(list.size());
            for (const TMass* x : list) cells.Var(static_cast<uint32_t>(massRank_[static_cast<size_t>(x->aIndex)]));
        }
        if (listed + unplaced.size() != tableMasses_) Unsavable("the grid's cells do not match the mass table");
        o_.Var(unplaced.size());
        for (int32_t u : unplaced) o_.Var(static_cast<uint32_t>(u));
        cells.Finish();
        o_.Var(odd);
        o_.Raw(cellBytes.data(), cellBytes.size());
        o_.End(s);
    }

    const TPhysics& w_;
    bool zones_;
    bool events_;
    Out o_;
    SaveScratch& x_ = TheSaveScratch();
    std::vector<TMass*>& masses_ = x_.masses;
    size_t tableMasses_ = 0;
    std::vector<int32_t>& massRank_ = x_.massRank;
    std::unordered_map<const TMass*, int32_t> extraMass_;
    std::vector<TConstraint*>& cons_ = x_.cons;
    size_t tableCons_ = 0;
    std::vector<int32_t>& conRank_ = x_.conRank;
    SaveScratch::MassFields& mf_ = x_.mf;
    SaveScratch::ConFields& cf_ = x_.cf;
    std::unordered_map<const TConstraint*, int32_t> extraCon_;
    std::vector<const TImage*> images_;
    std::unordered_map<const TImage*, int32_t> imageId_;
    std::vector<const std::string*> names_;
    std::unordered_map<std::string, int32_t> nameId_;
    std::string lastName_;
    int32_t lastNameId_ = 0;
};

// ---------------------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------------------

// Rough memory of the objects a state makes (slab slots are whole cache lines).
constexpr uint64_t kMassCost = (sizeof(TMass) + 63) / 64 * 64 + 32;
constexpr uint64_t kConCost = (sizeof(TConstraint) + 63) / 64 * 64 + 32;

void ReadTable(In& in, Table& t, size_t held, const char* what, Decoded& d) {
    t.count = in.I32(what);
    t.length = in.I32(what);
    const size_t fc = in.Count(what, 1);
    t.free.resize(fc);
    for (size_t k = 0; k < fc; ++k) {
        const uint64_t v = in.Var(what);
        if (v >= static_cast<uint64_t>(std::max(t.count, 0))) Damaged(std::string("a free entry past the count in ") + what);
        t.free[k] = static_cast<int32_t>(v);
    }
    t.freeCount = static_cast<int32_t>(fc);
    if (t.count < 0 || t.count >= INT32_MAX / 2 || static_cast<uint64_t>(t.count) < held)
        Damaged(std::string("a bad count in ") + what);
    // The table is as long as the saved one but never shorter than a new world's, and a
    // high count is only believed with a byte per entry behind it.
    if (t.length <= t.count) t.length = t.count + 1;
    t.length = std::max(t.length, TPhysics::TABLE_START);
    t.length = std::min<int64_t>(t.length, std::max<int64_t>(int64_t(t.count) * 2, TPhysics::TABLE_START));
    d.cost += uint64_t(static_cast<uint32_t>(t.length)) * 12;
}

// Quad trees are checked while the state is read and made only when a zone needs one
// (an undo finds the zone's own tree the same, and keeps it).
void SkipTree(In& in, int32_t depth, uint64_t& nodes) {
    in.Take(16, "a quad tree");
    const int32_t n = in.I32("a quad tree");
    if (n < 0 || n > 4) Damaged("a quad tree node with " + std::to_string(n) + " children");
    if (n > 0 && depth >= TQuadTree::MAX_LEVEL) Damaged("a quad tree deeper than its deepest level");
    ++nodes;
    for (int32_t k = 0; k < n; ++k) SkipTree(in, depth + 1, nodes);
}

Ref<TQuadTree> MakeTree(In& in) {
    Ref<TQuadTree> t = MakeRef<TQuadTree>();
    t->posX = in.F32("a quad tree");
    t->posY = in.F32("a quad tree");
    t->sizeX = in.F32("a quad tree");
    t->sizeY = in.F32("a quad tree");
    const int32_t n = in.I32("a quad tree");
    for (int32_t k = 0; k < n; ++k) t->childList.AddLast(MakeTree(in).Get());
    return t;
}

bool SameTree(In& in, const TQuadTree& t) {
    for (float f : {t.posX, t.posY, t.sizeX, t.sizeY})
        if (in.U32("a quad tree") != Bits(f)) return false;
    const int32_t n = in.I32("a quad tree");
    if (n != t.childList.Count()) return false;
    for (TObject* c : t.childList) {
        auto* q = As<TQuadTree>(c);
        if (!q || !SameTree(in, *q)) return false;
    }
    return true;
}

void ReadSlots(In& in, SlotRec& s, size_t limit, const char* what) {
    const uint64_t run = in.Var(what);
    const size_t n = in.Count(what, 2);
    s.held.resize(n);
    int64_t prev = -1;
    for (size_t k = 0; k < n; ++k) {
        const uint64_t gap = in.Var(what);
        if (gap > static_cast<uint64_t>(TAdvBody::MAX_ENTRIES)) Damaged(std::string("an index out of range in ") + what);
        const int64_t i = prev + 1 + static_cast<int64_t>(gap);
        if (i > TAdvBody::MAX_ENTRIES) Damaged(std::string("an index out of range in ") + what);
        const int32_t id = in.Int(what);
        if (id < 0 || static_cast<size_t>(id) >= limit) Damaged(std::string("a missing element in ") + what);
        s.held[k] = {static_cast<int32_t>(i), id};
        prev = i;
    }
    // The run's length only decides how entries are stored, not what the table does: a
    // long run over few entries is kept no longer than twice the entries reach.
    const uint64_t reach = prev < 0 ? 0 : static_cast<uint64_t>(prev) + 1;
    s.run = static_cast<int32_t>(std::min<uint64_t>(run, reach * 2 + 16));
}

int32_t NameOf(const Decoded& d, int32_t id, const char* what) {
    if (id < 0 || static_cast<size_t>(id) > d.names.size()) Damaged(std::string("a missing name in ") + what);
    return id;
}

void Decode(const uint8_t* data, size_t size, Decoded& d) {
    if (!data && size) Damaged("no data");
    In in(data ? data : reinterpret_cast<const uint8_t*>(""), size);
    const uint8_t* tag = in.Take(4, "the header");
    if (std::memcmp(tag, kTag, 4) != 0) Damaged("not a world state");
    const int32_t version = in.I32("the header");
    if (version != kVersion) Damaged("version " + std::to_string(version) + " is not known");
    d.flags = in.I32("the header");
    if (d.flags & ~kFlagZones) Damaged("unknown flags");
    const uint64_t budget = uint64_t(size) * 16 + kAllowance;
    d.cost = 0;

    {
        In s = in.Section("WRLD");
        d.boundsMaxX = s.F32("WRLD");
        d.boundsMaxY = s.F32("WRLD");
        d.boundsMinX = s.F32("WRLD");
        d.boundsMinY = s.F32("WRLD");
        d.friction = s.F32("WRLD");
        d.gravityX = s.F32("WRLD");
        d.gravityY = s.F32("WRLD");
        d.i = s.I32("WRLD");
        d.gridon = s.I32("WRLD");
        d.gridsize = s.I32("WRLD");
        // The pair search takes the cells around a mass up to gridsize - 1: a world holds
        // no more than MAX_GRID (SetGridSize clamps), and a state may not either.
        if (d.gridsize > kMaxGrid) Damaged("more grid cells than a world has in WRLD");
        d.ratiox = s.F32("WRLD");
        d.ratioy = s.F32("WRLD");
        for (float& f : d.view) f = s.F32("WRLD");
        d.nextColGroup = s.I32("WRLD");
        s.Done("WRLD");
    }
    {
        In s = in.Section("NAME");
        const size_t n = s.Count("NAME", 1);
        d.names.resize(n);
        for (size_t k = 0; k < n; ++k) d.names[k] = s.Str("NAME");
        s.Done("NAME");
    }
    {
        In s = in.Section("IMGS");
        const size_t n = s.Count("IMGS", 24);
        d.images.resize(n);
        for (ImageRec& im : d.images) {
            im.width = s.I32("IMGS");
            im.height = s.I32("IMGS");
            im.flags = s.I32("IMGS");
            for (uint8_t& c : im.mask) c = static_cast<uint8_t>(s.U8("IMGS"));
            im.hx = s.F32("IMGS");
            im.hy = s.F32("IMGS");
            const size_t nf = s.Count("IMGS", 9);
            im.frames.resize(nf);
            for (auto& f : im.frames) {
                const int32_t fw = s.I32("IMGS"), fh = s.I32("IMGS");
                const uint32_t alpha = s.U8("IMGS");
                if (fw < 0 || fh < 0 || alpha > 1 || (fw > 0) != (fh > 0)) Damaged("a bad picture size in IMGS");
                const uint64_t bytes = uint64_t(static_cast<uint32_t>(fw)) * static_cast<uint32_t>(fh) * 4;
                if (bytes > s.Left()) Damaged("ends in IMGS");
                // Width, height and the alpha flag travel in front of the pixels.
                f.resize(9 + static_cast<size_t>(bytes));
                std::memcpy(f.data(), &fw, 4);
                std::memcpy(f.data() + 4, &fh, 4);
                f[8] = static_cast<uint8_t>(alpha);
                std::memcpy(f.data() + 9, s.Take(static_cast<size_t>(bytes), "IMGS"), static_cast<size_t>(bytes));
            }
        }
        s.Done("IMGS");
    }
    {
        In s = in.Section("MASS");
        MassCols& m = d.masses;
        ReadTable(s, d.massTable, 0, "MASS", d);
        const size_t held = s.Count("MASS", 1);
        d.massTable.entries.resize(held);
        GetInts(s, d.massTable.entries.data(), held, "MASS");
        for (size_t k = 0; k < held; ++k) {
            const int32_t e = d.massTable.entries[k];
            if (e < 0 || e >= d.massTable.count || (k > 0 && e <= d.massTable.entries[k - 1]))
                Damaged("a table entry out of order in MASS");
        }
        if (d.massTable.count > d.massTable.length - 1) Damaged("a table shorter than its count in MASS");
        m.n = s.Count("MASS", 17);
        if (m.n < held) Damaged("fewer masses than table entries in MASS");
        d.cost += m.n * kMassCost;
        if (d.cost > budget) Damaged("more objects than the data can describe");
        m.pos.resize(m.n * 4);
        const uint8_t* raw = s.Take(m.n * 16, "MASS");
        if constexpr (std::endian::native == std::endian::little) {
            if (m.n) std::memcpy(m.pos.data(), raw, m.n * 16);
        } else {
            for (size_t k = 0; k < m.n * 4; ++k) {
                In one(raw + 4 * k, 4);
                m.pos[k] = one.F32("MASS");
            }
        }
        const uint8_t* flags = s.Take(m.n, "MASS");
        for (auto* col : {&m.radius, &m.mass, &m.friction}) {
            col->resize(m.n);
            GetFloats(s, col->data(), m.n, "MASS");
        }
        m.group.resize(m.n);
        GetGroups(s, m.group.data(), m.n, d.scratchInts);
        for (auto* col : {&m.aIndex, &m.refCounter, &m.abID, &m.index, &m.name}) {
            col->resize(m.n);
            GetInts(s, col->data(), m.n, "MASS");
        }
        // Frozen values and cell differences where the flags announce them, then spread
        // out to one per mass.
        size_t counts[3] = {0, 0, 0};
        for (size_t k = 0; k < m.n; ++k) {
            if (flags[k] & ~(kFrozen | kFrozenValue | kCellX | kCellY) || (flags[k] & kFrozen && flags[k] & kFrozenValue))
                Damaged("unknown flags in MASS");
            counts[0] += (flags[k] & kFrozenValue) ? 1 : 0;
            counts[1] += (flags[k] & kCellX) ? 1 : 0;
            counts[2] += (flags[k] & kCellY) ? 1 : 0;
        }
        std::vector<int32_t>* cols[3] = {&m.frozen, &m.gridx, &m.gridy};
        const uint8_t bits[3] = {kFrozenValue, kCellX, kCellY};
        for (int q = 0; q < 3; ++q) {
            std::vector<int32_t>& col = *cols[q];
            col.resize(m.n);
            GetInts(s, col.data(), counts[q], "MASS");
            // From the back, so that each value moves up to its mass's place.
            size_t at = counts[q];
            for (size_t k = m.n; k-- > 0;)
                col[k] = (flags[k] & bits[q]) ? col[--at] : (q == 0 ? ((flags[k] & kFrozen) ? 1 : 0) : 0);
        }
        for (size_t k = 0; k < m.n; ++k) NameOf(d, m.name[k], "MASS");
        s.Done("MASS");
    }
    {
        In s = in.Section("CONS");
        ConCols& c = d.cons;
        ReadTable(s, d.conTable, 0, "CONS", d);
        const size_t held = s.Count("CONS", 1);
        d.conTable.entries.resize(held);
        GetInts(s, d.conTable.entries.data(), held, "CONS");
        for (size_t k = 0; k < held; ++k) {
            const int32_t e = d.conTable.entries[k];
            if (e < 0 || e >= d.conTable.count || (k > 0 && e <= d.conTable.entries[k - 1]))
                Damaged("a table entry out of order in CONS");
        }
        if (d.conTable.count > d.conTable.length - 1) Damaged("a table shorter than its count in CONS");
        c.n = s.Count("CONS", 10);
        if (c.n < held) Damaged("fewer constraints than table entries in CONS");
        d.cost += c.n * kConCost;
        if (d.cost > budget) Damaged("more objects than the data can describe");
        for (auto* col : {&c.m0, &c.m1}) col->resize(c.n);
        c.restLength.resize(c.n);
        c.stiffness.resize(c.n);
        int64_t prev = 0;
        for (size_t k = 0; k < c.n; ++k) {
            const int64_t da = s.SVar("CONS"), db = s.SVar("CONS");
            if (da < -(int64_t{1} << 33) || da > (int64_t{1} << 33) || db < -(int64_t{1} << 33) || db > (int64_t{1} << 33))
                Damaged("a constraint with a missing mass in CONS");
            const int64_t a = prev + da;
            const int64_t b = a + db;
            if (a < -1 || b < -1 || a >= static_cast<int64_t>(d.masses.n) || b >= static_cast<int64_t>(d.masses.n))
                Damaged("a constraint with a missing mass in CONS");
            c.m0[k] = static_cast<int32_t>(a);
            c.m1[k] = static_cast<int32_t>(b);
            prev = a;
            c.restLength[k] = s.F32("CONS");
            c.stiffness[k] = s.F32("CONS");
        }
        for (auto* col : {&c.refCounter, &c.aIndex, &c.abID, &c.index, &c.name}) {
            col->resize(c.n);
            GetInts(s, col->data(), c.n, "CONS");
        }
        for (size_t k = 0; k < c.n; ++k) NameOf(d, c.name[k], "CONS");
        s.Done("CONS");
    }
    {
        In s = in.Section("ZONE");
        ReadTable(s, d.zoneTable, 0, "ZONE", d);
        const size_t held = s.Count("ZONE", 1);
        d.zoneTable.entries.resize(held);
        for (size_t k = 0; k < held; ++k) {
            const uint64_t e = s.Var("ZONE");
            if (e >= static_cast<uint64_t>(d.zoneTable.count) || (k > 0 && e <= static_cast<uint64_t>(d.zoneTable.entries[k - 1])))
                Damaged("a table entry out of order in ZONE");
            d.zoneTable.entries[k] = static_cast<int32_t>(e);
        }
        if (d.zoneTable.count > d.zoneTable.length - 1) Damaged("a table shorter than its count in ZONE");
        d.zones.clear();
        d.zoneMarks.clear();
        d.trees.clear();
        if (!(d.flags & kFlagZones)) {
            d.zoneMarks.resize(held);
            for (ZoneMark& z : d.zoneMarks) {
                z.colGroup = s.I32("ZONE");
                z.style = s.I32("ZONE");
                z.vertices = s.I32("ZONE");
                z.offsetX = s.F32("ZONE");
                z.offsetY = s.F32("ZONE");
            }
        } else {
            const size_t nt = s.Count("ZONE", 20);
            uint64_t nodes = 0;
            d.trees.resize(nt);
            for (auto& t : d.trees) {
                const size_t before = s.Left();
                const uint8_t* at = s.Take(0, "a quad tree");
                SkipTree(s, 1, nodes);
                t = {at, before - s.Left()};
            }
            d.cost += nodes * 160;
            d.zones.resize(held);
            for (ZoneRec& z : d.zones) {
                const std::string name = s.Str("ZONE");
                d.names.push_back(name);
                z.name = static_cast<int32_t>(d.names.size());
                z.origArea.resize(s.Count("ZONE", 4));
                for (float& f : z.origArea) f = s.F32("ZONE");
                z.area.resize(s.Count("ZONE", 4));
                for (float& f : z.area) f = s.F32("ZONE");
                if (z.origArea.size() % 2 || z.area.size() != z.origArea.size()) Damaged("an outline of odd length in ZONE");
                z.style = s.I32("ZONE");
                for (float* f : {&z.friction, &z.offsetX, &z.offsetY, &z.angle, &z.scaleX, &z.scaleY, &z.red, &z.green,
                                 &z.blue, &z.alpha, &z.imgScaleX, &z.imgScaleY})
                    *f = s.F32("ZONE");
                z.blend = s.I32("ZONE");
                z.colGroup = s.I32("ZONE");
                z.aIndex = s.I32("ZONE");
                z.qtLevel = s.I32("ZONE");
                z.tree = s.I32("ZONE");
                z.image = s.I32("ZONE");
                if (z.tree < -1 || z.tree >= static_cast<int32_t>(nt)) Damaged("a missing quad tree in ZONE");
                if (z.image < -1 || z.image >= static_cast<int32_t>(d.images.size())) Damaged("a missing image in ZONE");
                d.cost += 512 + (z.origArea.size() + z.area.size()) * 4;
            }
        }
        s.Done("ZONE");
    }
    {
        In s = in.Section("BODY");
        ReadTable(s, d.bodyTable, 0, "BODY", d);
        if (static_cast<uint64_t>(d.bodyTable.count) > s.Left()) Damaged("a count larger than the data in BODY");
        d.bodies.resize(static_cast<size_t>(d.bodyTable.count));
        for (BodyRec& b : d.bodies) {
            b = BodyRec{};
            b.kind = static_cast<uint8_t>(s.U8("BODY"));
            if (b.kind == kNoBody) continue;
            if (b.kind != kAdvBody && b.kind != kPlainBody) Damaged("a body of unknown kind in BODY");
            const std::string name = s.Str("BODY");
            d.names.push_back(name);
            b.name = static_cast<int32_t>(d.names.size());
            const size_t nc = s.Count("BODY", 1);
            b.conList.resize(nc);
            for (int32_t& c : b.conList) {
                const uint64_t id = s.Var("BODY");
                if (id >= d.cons.n) Damaged("a missing constraint in BODY");
                c = static_cast<int32_t>(id);
            }
            d.cost += nc * 64;
            if (b.kind != kAdvBody) continue;
            b.aIndex = s.I32("BODY");
            b.mIndex = s.I32("BODY");
            b.cIndex = s.I32("BODY");
            b.iIndex = s.I32("BODY");
            b.rIndex = s.I32("BODY");
            ReadSlots(s, b.masses, d.masses.n, "BODY");
            ReadSlots(s, b.cons, d.cons.n, "BODY");
            ReadSlots(s, b.images, d.images.size(), "BODY");
            ReadSlots(s, b.rigs, static_cast<size_t>(INT32_MAX), "BODY");
            // Entries from a table's count on are empty: an adder puts its element there.
            const std::pair<const SlotRec*, int32_t> tables[4] = {
                {&b.masses, b.mIndex}, {&b.cons, b.cIndex}, {&b.images, b.iIndex}, {&b.rigs, b.rIndex}};
            for (const auto& [rec, count] : tables)
                if (!rec->held.empty() && rec->held.back().first >= count) Damaged("an element past its table's count in BODY");
            d.cost += 1024 + (static_cast<uint64_t>(b.masses.run) + b.cons.run + b.images.run + b.rigs.run) * 8 +
                      (b.masses.held.size() + b.cons.held.size() + b.images.held.size() + b.rigs.held.size()) * 48;
        }
        const size_t nr = s.Count("BODY", 40);
        d.rigs.resize(nr);
        for (RigRec& r : d.rigs) {
            const std::string name = s.Str("BODY");
            d.names.push_back(name);
            r.name = static_cast<int32_t>(d.names.size());
            r.image = s.Int("BODY");
            r.mass = s.Int("BODY");
            r.con = s.Int("BODY");
            if (r.image < -1 || r.image >= static_cast<int32_t>(d.images.size()) || r.mass < -1 ||
                r.mass >= static_cast<int32_t>(d.masses.n) || r.con < -1 || r.con >= static_cast<int32_t>(d.cons.n))
                Damaged("a rig naming a missing element in BODY");
            for (float* f : {&r.angle, &r.scaleX, &r.scaleY, &r.red, &r.green, &r.blue, &r.alpha}) *f = s.F32("BODY");
            r.blend = s.I32("BODY");
            r.abID = s.I32("BODY");
            r.index = s.I32("BODY");
        }
        d.cost += nr * 160;
        // Every rig belongs to exactly one body's table.
        std::vector<uint8_t> owned(nr, 0);
        for (const BodyRec& b : d.bodies)
            for (const auto& [i, id] : b.rigs.held) {
                if (id < 0 || static_cast<size_t>(id) >= nr || owned[static_cast<size_t>(id)])
                    Damaged("a rig in no body or in two in BODY");
                owned[static_cast<size_t>(id)] = 1;
            }
        if (std::find(owned.begin(), owned.end(), 0) != owned.end()) Damaged("a rig in no body in BODY");
        s.Done("BODY");
    }
    if (d.cost > budget) Damaged("more objects than the data can describe");
    {
        In s = in.Section("GRID");
        const size_t held = d.massTable.entries.size();
        const size_t nu = s.Count("GRID", 1);
        d.unplaced.resize(nu);
        for (int32_t& u : d.unplaced) {
            const uint64_t v = s.Var("GRID");
            if (v >= held) Damaged("an unplaced mass outside the table in GRID");
            u = static_cast<int32_t>(v);
        }
        const size_t nl = s.Count("GRID", 2);
        d.cellLists.resize(nl);
        for (auto& [cell, list] : d.cellLists) {
            const uint64_t at = s.Var("GRID");
            if (at >= static_cast<uint64_t>(kMaxGrid) * kMaxGrid) Damaged("a cell outside the grid in GRID");
            cell = static_cast<int32_t>(at);
            list.resize(s.Count("GRID", 1));
            for (int32_t& id : list) {
                const uint64_t v = s.Var("GRID");
                if (v >= held) Damaged("a listed mass outside the table in GRID");
                id = static_cast<int32_t>(v);
            }
        }
        s.Done("GRID");
    }
    {
        In s = in.Section("EVNT");
        d.events.clear();
        d.eventMode = TColEvent::MODE_UPDATE;
        d.eventsPolled = 0;
        if (s.Left() > 0) {
            d.eventMode = s.I32("EVNT");
            const size_t n = s.Count("EVNT", 15);
            d.eventsPolled = static_cast<size_t>(s.Var("EVNT"));
            if (d.eventsPolled > n) Damaged("more events polled than queued in EVNT");
            d.events.resize(n);
            for (Decoded::EventRec& e : d.events) {
                const uint32_t t = s.U8("EVNT");
                e.kind = static_cast<int32_t>(t & 7u);
                e.replace = (t & 8u) != 0;
                if ((t & ~15u) != 0 || e.kind < TColEvent::MASS_MASS || e.kind > TColEvent::MASS_BOUNDS)
                    Damaged("an event of an unknown kind in EVNT");
                const uint64_t mass = s.Var("EVNT"), other = s.Var("EVNT");
                if (mass > INT32_MAX || other > INT32_MAX) Damaged("a number out of range in EVNT");
                e.mass = static_cast<int32_t>(mass);
                e.other = static_cast<int32_t>(other);
                e.x = s.F32("EVNT");
                e.y = s.F32("EVNT");
                e.force = s.F32("EVNT");
            }
        }
        s.Done("EVNT");
    }
    in.Section("END!").Done("END!");
    in.Done("the state");

    // Cross-checks that need everything read.
    for (const Decoded::EventRec& e : d.events)
        if (static_cast<size_t>(e.mass) >= d.masses.n ||
            (e.kind == TColEvent::MASS_MASS && static_cast<size_t>(e.other) >= d.masses.n))
            Damaged("an event naming a mass the state does not hold in EVNT");
    MassCols& m = d.masses;
    const size_t held = std::min(d.massTable.entries.size(), m.n);
    const int32_t gs = Cells(d.gridsize);
    for (size_t k = 0; k < held; ++k) {
        // A table mass's cell is stored as its difference from the cell of its centre.
        const int64_t gx = int64_t(m.gridx[k]) + CellOf(m.pos[4 * k], d.ratiox, gs);
        const int64_t gy = int64_t(m.gridy[k]) + CellOf(m.pos[4 * k + 1], d.ratioy, gs);
        if (gx < INT32_MIN || gx > INT32_MAX || gy < INT32_MIN || gy > INT32_MAX) Damaged("a cell out of range in MASS");
        m.gridx[k] = static_cast<int32_t>(gx);
        m.gridy[k] = static_cast<int32_t>(gy);
    }
}

// ---------------------------------------------------------------------------------------
// Building: puts a decoded state into a world, reusing what sits at the saved places
// ---------------------------------------------------------------------------------------

struct Scratch {
    std::vector<detail::QueuedEvent> events;  // the queue as Build writes it
    Decoded d;
    std::vector<Ref<TMass>> masses;
    std::vector<Ref<TConstraint>> cons;
    std::vector<Ref<TObject>> bodies;
    std::vector<Ref<TRig>> rigs;
    std::vector<Ref<TImage>> images;
    std::vector<Ref<TZone>> zones;
    std::vector<uint8_t> mark;
    std::vector<int32_t> cells;
    std::vector<uint32_t> cellStart, cellCount;  // counts all 0 between restores
    std::vector<int32_t> touched;
    std::vector<TMass*> cellMasses;
    std::vector<uint8_t> cellMark;  // all 0 between restores
    std::vector<int32_t> refill;
};

Scratch& TheScratch() {
    thread_local Scratch s;
    return s;
}

Ref<TImage> MakeImage(const ImageRec& r) {
    Ref<TImage> im = MakeRef<TImage>();
    im->width = r.width;
    im->height = r.height;
    im->flags = r.flags;
    im->maskR = r.mask[0];
    im->maskG = r.mask[1];
    im->maskB = r.mask[2];
    im->handle_x = r.hx;
    im->handle_y = r.hy;
    for (const auto& f : r.frames) {
        int32_t fw, fh;
        std::memcpy(&fw, f.data(), 4);
        std::memcpy(&fh, f.data() + 4, 4);
        std::vector<uint8_t> px(f.begin() + 9, f.end());
        Ref<TPixmap> p = MakeRef<TPixmap>(fw, fh, std::move(px));
        p->SetHasAlpha(f[8] != 0);
        im->frames.push_back(p);
    }
    return im;
}

bool SameImage(const TImage* im, const ImageRec& r) {
    if (!im || im->width != r.width || im->height != r.height || im->flags != r.flags || im->frames.size() != r.frames.size() ||
        im->maskR != r.mask[0] || im->maskG != r.mask[1] || im->maskB != r.mask[2] || Bits(im->handle_x) != Bits(r.hx) ||
        Bits(im->handle_y) != Bits(r.hy))
        return false;
    for (size_t k = 0; k < r.frames.size(); ++k) {
        const TPixmap* p = im->frames[k].Get();
        const auto& f = r.frames[k];
        int32_t fw, fh;
        std::memcpy(&fw, f.data(), 4);
        std::memcpy(&fh, f.data() + 4, 4);
        if (!p || p->Width() != fw || p->Height() != fh || (p->HasAlpha() ? 1 : 0) != f[8]) return false;
        if (f.size() > 9 && std::memcmp(p->Pixels(), f.data() + 9, f.size() - 9) != 0) return false;
    }
    return true;
}

// A name from the string table (0: empty), written only when it differs.
inline void SetName(std::string& name, int32_t id, const Decoded& d) {
    if (id == 0) {
        if (!name.empty()) name.clear();
        return;
    }
    const std::string& n = d.names[static_cast<size_t>(id - 1)];
    // Names are short: compared here rather than through a library call.
    bool same = name.size() == n.size();
    for (size_t k = 0; same && k < n.size(); ++k) same = name[k] == n[k];
    if (!same) name = n;
}

template <class T>
void SetTable(std::vector<Ref<T>>& arr, int32_t& count, std::vector<int32_t>& freeStack, int32_t& freeCount, const Table& t,
              const std::vector<Ref<T>>& objs) {
    // Same length as saved: entries are overwritten in place, the rest emptied.
    arr.resize(static_cast<size_t>(t.length));
    size_t next = 0;
    for (size_t e = 0; e < arr.size(); ++e) {
        if (next < t.entries.size() && static_cast<size_t>(t.entries[next]) == e) {
            if (arr[e].Get() != objs[next].Get()) arr[e] = objs[next];
            ++next;
        } else if (arr[e]) {
            arr[e] = nullptr;
        }
    }
    count = t.count;
    freeStack.assign(static_cast<size_t>(t.length), 0);
    std::copy(t.free.begin(), t.free.end(), freeStack.begin());
    freeCount = t.freeCount;
}

// An old body that is not reused: emptied without counting anything out, so that its end
// (or a later Free) leaves the restored tables alone.
void Disarm(TObject* o) {
    if (auto* b = As<TBody>(o)) b->conList = MakeRef<TList>();
    if (auto* a = As<TAdvBody>(o)) {
        a->aIndex = -1;
        a->mArray.Reset(0);
        a->cArray.Reset(0);
        a->iArray.Reset(0);
        a->rArray.Reset(0);
        a->mIndex = a->cIndex = a->iIndex = a->rIndex = 0;
    }
}

void Build(TPhysics& w, Scratch& s, const TPhysics* zonesFrom, bool setZones) {
    Decoded& d = s.d;
    const MassCols& mc = d.masses;
    const ConCols& cc = d.cons;
    const bool withZones = d.flags & kFlagZones;

    // Zones first: a state without zones may still be refused here, before anything changed.
    const TPhysics& zoneSource = zonesFrom ? *zonesFrom : w;
    s.zones.clear();
    if (!withZones) {
        for (size_t k = 0; k < d.zoneMarks.size(); ++k) {
            const size_t e = static_cast<size_t>(d.zoneTable.entries[k]);
            TZone* z = e < zoneSource.zoneArray.size() ? As<TZone>(zoneSource.zoneArray[e].Get()) : nullptr;
            const ZoneMark& mk = d.zoneMarks[k];
            if (!z || z->colGroup != mk.colGroup || z->style != mk.style ||
                static_cast<int32_t>(z->origArea.size() / 2) != mk.vertices || Bits(z->offsetX) != Bits(mk.offsetX) ||
                Bits(z->offsetY) != Bits(mk.offsetY))
                Damaged("zone entry " + std::to_string(e) + " is not the zone the state was saved with");
            s.zones.push_back(z);
        }
    }

    // The grid. Usually (an undo a few steps back) most cells already hold what they will
    // hold: the cells occupied now are noted first, while the masses still name them, and
    // only those that differ are rebuilt at the end. Otherwise the grid is emptied here,
    // while the masses in it are still held by the table.
    const bool keepCells = PairIndexAccess::StoredInListOrder(w);
    s.cells.clear();
    if (keepCells)
        PairIndexAccess::OccupiedCells(w, s.cells);
    else
        PairIndexAccess::ClearCells(w);

    // Images: one object per saved image; a body's image at the same index is reused when
    // it is the same picture.
    s.images.assign(d.images.size(), nullptr);

    // Masses and constraints: the table's objects are reused at their entries, and each
    // object is reached once (its fields are set as it is taken).
    auto setMass = [&](size_t k) {
        TMass* m = s.masses[k].Get();
        m->posX = mc.pos[4 * k];
        m->posY = mc.pos[4 * k + 1];
        m->oldPosX = mc.pos[4 * k + 2];
        m->oldPosY = mc.pos[4 * k + 3];
        m->radius = mc.radius[k];
        m->mass = mc.mass[k];
        m->friction = mc.friction[k];
        if (Bits(m->colGroup) != Bits(mc.group[k])) m->colGroup = mc.group[k];
        m->frozen = mc.frozen[k];
        m->aIndex = mc.aIndex[k];
        m->gridx = mc.gridx[k];
        m->gridy = mc.gridy[k];
        m->refCounter = mc.refCounter[k];
        m->abID = mc.abID[k];
        m->index = mc.index[k];
        SetName(m->name, mc.name[k], d);
    };
    const size_t heldM = d.massTable.entries.size(), heldC = d.conTable.entries.size();
    s.masses.resize(mc.n);
    for (size_t k = 0; k < heldM; ++k) {
        const size_t e = static_cast<size_t>(d.massTable.entries[k]);
        TMass* reuse = e < w.massArray.size() ? w.massArray[e].Get() : nullptr;
        if (reuse && reuse->aIndex != static_cast<int32_t>(e)) reuse = nullptr;
        if (!reuse)
            s.masses[k] = MakeRef<TMass>();
        else if (s.masses[k].Get() != reuse)
            s.masses[k] = reuse;
        setMass(k);
    }

    // Bodies: the registry's object at the same id and of the same kind is reused; masses
    // that are in no table are reused from the reused body's table at the same index.
    s.bodies.assign(d.bodies.size(), nullptr);
    std::vector<Ref<TObject>> dropped;
    const int32_t oldBodies = std::min(w.bodyCount, static_cast<int32_t>(w.bodyArray.size()));
    for (size_t id = 0; id < d.bodies.size(); ++id) {
        const BodyRec& b = d.bodies[id];
        if (b.kind == kNoBody) continue;
        TObject* old = static_cast<int32_t>(id) < oldBodies ? w.bodyArray[id].Get() : nullptr;
        const bool same = old && ((b.kind == kAdvBody) == (As<TAdvBody>(old) != nullptr)) && As<TBody>(old);
        if (same) {
            s.bodies[id] = old;
            if (auto* a = As<TAdvBody>(old)) {
                for (const auto& [i, id2] : b.masses.held)
                    if (static_cast<size_t>(id2) >= heldM)
                        if (TMass* m = a->mArray.Get(i); m && m->aIndex < 0) s.masses[static_cast<size_t>(id2)] = m;
                for (const auto& [i, id2] : b.images.held)
                    if (!s.images[static_cast<size_t>(id2)] && SameImage(a->iArray.Get(i), d.images[static_cast<size_t>(id2)]))
                        s.images[static_cast<size_t>(id2)] = a->iArray.Get(i);
            }
        }
    }
    if (mc.n > heldM) {
        // A reused mass may have been taken twice (shared between two bodies' tables).
        std::unordered_map<const TMass*, size_t> first;
        for (size_t k = heldM; k < mc.n; ++k) {
            if (s.masses[k] && !first.try_emplace(s.masses[k].Get(), k).second) s.masses[k] = nullptr;
            if (!s.masses[k]) s.masses[k] = MakeRef<TMass>();
            setMass(k);
        }
    }
    for (size_t k = 0; k < s.images.size(); ++k)
        if (!s.images[k]) s.images[k] = MakeImage(d.images[k]);

    s.cons.resize(cc.n);
    for (size_t k = 0; k < cc.n; ++k) {
        TConstraint* reuse = nullptr;
        if (k < heldC) {
            const size_t e = static_cast<size_t>(d.conTable.entries[k]);
            reuse = e < w.conArray.size() ? w.conArray[e].Get() : nullptr;
            if (reuse && reuse->aIndex != static_cast<int32_t>(e)) reuse = nullptr;
        }
        if (!reuse)
            s.cons[k] = MakeRef<TConstraint>();
        else if (s.cons[k].Get() != reuse)
            s.cons[k] = reuse;
        TConstraint* c = s.cons[k].Get();
        TMass* a = cc.m0[k] >= 0 ? s.masses[static_cast<size_t>(cc.m0[k])].Get() : nullptr;
        TMass* b = cc.m1[k] >= 0 ? s.masses[static_cast<size_t>(cc.m1[k])].Get() : nullptr;
        if (c->m[0].Get() != a) c->m[0] = a;
        if (c->m[1].Get() != b) c->m[1] = b;
        c->restLength = cc.restLength[k];
        c->stiffness = cc.stiffness[k];
        c->refCounter = cc.refCounter[k];
        c->aIndex = cc.aIndex[k];
        c->abID = cc.abID[k];
        c->index = cc.index[k];
        SetName(c->name, cc.name[k], d);
    }

    // Tables.
    {
        std::vector<Ref<TMass>>& tm = s.masses;
        // SetTable takes the table's objects as the first entries of the numbering.
        // Membership goes with the table: what leaves it belongs to no world any more, what
        // is in it belongs to w.
        for (auto& m : w.massArray)
            if (m && MassAccess::World(m.Get()) == &w) MassAccess::World(m.Get()) = nullptr;
        for (auto& c : w.conArray)
            if (c && WorldAccess::Member(*c) == &w) WorldAccess::Member(*c) = nullptr;
        SetTable(w.massArray, w.massCount, w.massFree, w.massFreeCount, d.massTable, tm);
        SetTable(w.conArray, w.conCount, w.conFree, w.conFreeCount, d.conTable, s.cons);
        for (size_t k = 0; k < d.massTable.entries.size(); ++k) MassAccess::World(tm[k].Get()) = &w;
        for (size_t k = 0; k < d.conTable.entries.size(); ++k) WorldAccess::Member(*s.cons[k]) = &w;
    }

    // The registry: bodies that are not reused are emptied and let go; new ones are made
    // (which takes ids that the rebuilt registry then overwrites).
    for (int32_t e = 0; e < oldBodies; ++e) {
        Ref<TObject>& slot = w.bodyArray[static_cast<size_t>(e)];
        if (!slot) continue;
        const bool kept = static_cast<size_t>(e) < s.bodies.size() && s.bodies[static_cast<size_t>(e)].Get() == slot.Get();
        if (!kept) {
            Disarm(slot.Get());
            if (auto* b = As<TBody>(slot.Get()); b && WorldAccess::Member(*b) == &w) WorldAccess::Member(*b) = nullptr;
            dropped.push_back(slot);
        }
    }
    for (size_t id = 0; id < d.bodies.size(); ++id) {
        const BodyRec& b = d.bodies[id];
        if (b.kind == kNoBody || s.bodies[id]) continue;
        if (b.kind == kAdvBody)
            s.bodies[id] = Ref<TObject>(MakeRef<TAdvBody>().Get());
        else
            s.bodies[id] = Ref<TObject>(MakeRef<TBody>().Get());
    }
    {
        Table bt = d.bodyTable;
        bt.entries.clear();
        std::vector<Ref<TObject>> objs;
        for (size_t id = 0; id < d.bodies.size(); ++id)
            if (s.bodies[id]) {
                bt.entries.push_back(static_cast<int32_t>(id));
                objs.push_back(s.bodies[id]);
            }
        // Ids handed out to the new bodies above are forgotten with the old registry.
        for (auto& e : w.bodyArray)
            if (e && std::find(objs.begin(), objs.end(), e) == objs.end() &&
                std::find(dropped.begin(), dropped.end(), e) == dropped.end())
                dropped.push_back(e);
        SetTable(w.bodyArray, w.bodyCount, w.bodyFree, w.bodyFreeCount, bt, objs);
        for (const Ref<TObject>& o : objs)
            if (auto* b = As<TBody>(o.Get())) WorldAccess::Member(*b) = &w;
    }
    s.rigs.assign(d.rigs.size(), nullptr);
    for (size_t id = 0; id < d.bodies.size(); ++id) {
        const BodyRec& b = d.bodies[id];
        if (b.kind == kNoBody) continue;
        auto* body = As<TBody>(s.bodies[id].Get());
        body->name = d.names[static_cast<size_t>(b.name - 1)];
        if (auto* a = As<TAdvBody>(body)) {
            // Rigs at the same index are reused.
            for (const auto& [i, rid] : b.rigs.held)
                if (TRig* r = a->rArray.Get(i)) s.rigs[static_cast<size_t>(rid)] = r;
            a->aIndex = b.aIndex;
            a->mIndex = b.mIndex;
            a->cIndex = b.cIndex;
            a->iIndex = b.iIndex;
            a->rIndex = b.rIndex;
            auto fill = [](auto& slots, const SlotRec& rec, auto& objs) {
                slots.Reset(static_cast<size_t>(rec.run));
                for (const auto& [i, e] : rec.held) slots.Set(i, objs[static_cast<size_t>(e)]);
            };
            fill(a->mArray, b.masses, s.masses);
            fill(a->cArray, b.cons, s.cons);
            fill(a->iArray, b.images, s.images);
            for (const auto& [i, rid] : b.rigs.held)
                if (!s.rigs[static_cast<size_t>(rid)]) s.rigs[static_cast<size_t>(rid)] = MakeRef<TRig>();
            fill(a->rArray, b.rigs, s.rigs);
        }
    }
    for (size_t k = 0; k < d.rigs.size(); ++k) {
        const RigRec& r = d.rigs[k];
        TRig* rig = s.rigs[k].Get();
        rig->name = d.names[static_cast<size_t>(r.name - 1)];
        rig->image = r.image >= 0 ? s.images[static_cast<size_t>(r.image)] : nullptr;
        rig->mass = r.mass >= 0 ? s.masses[static_cast<size_t>(r.mass)] : nullptr;
        rig->con = r.con >= 0 ? s.cons[static_cast<size_t>(r.con)] : nullptr;
        rig->angle = r.angle;
        rig->scaleX = r.scaleX;
        rig->scaleY = r.scaleY;
        rig->red = r.red;
        rig->green = r.green;
        rig->blue = r.blue;
        rig->alpha = r.alpha;
        rig->blend = r.blend;
        rig->abID = r.abID;
        rig->index = r.index;
    }
    // Constraint lists, through Assign so that each constraint knows the lists holding it;
    // the count is held above 0 meanwhile (nothing enters a table) and set after.
    for (size_t id = 0; id < d.bodies.size(); ++id) {
        const BodyRec& b = d.bodies[id];
        if (b.kind == kNoBody) continue;
        auto* body = As<TBody>(s.bodies[id].Get());
        // A reused body whose list holds these constraints in this order keeps it.
        if (body->conList && body->conList->Count() == static_cast<int32_t>(b.conList.size())) {
            bool same = true;
            size_t q = 0;
            for (TObject* o : *body->conList)
                if (o != s.cons[static_cast<size_t>(b.conList[q++])].Get()) {
                    same = false;
                    break;
                }
            if (same) continue;
        }
        body->conList = MakeRef<TList>();
        for (int32_t c : b.conList) {
            TConstraint* con = s.cons[static_cast<size_t>(c)].Get();
            con->refCounter = 1;
            const int32_t before = body->conList->Count();
            con->Assign(body);
            if (body->conList->Count() == before) body->conList->AddLast(con);  // listed twice
        }
    }
    for (size_t k = 0; k < cc.n; ++k) s.cons[k]->refCounter = cc.refCounter[k];

    // Zones.
    if (withZones) {
        d.madeTrees.assign(d.trees.size(), nullptr);
        for (size_t k = 0; k < d.zones.size(); ++k) {
            const ZoneRec& r = d.zones[k];
            const size_t e = static_cast<size_t>(d.zoneTable.entries[k]);
            TZone* old = e < w.zoneArray.size() ? As<TZone>(w.zoneArray[e].Get()) : nullptr;
            Ref<TZone> z = old ? Ref<TZone>(old) : MakeRef<TZone>();
            z->name = d.names[static_cast<size_t>(r.name - 1)];
            z->style = r.style;
            z->angle = r.angle;
            z->scaleX = r.scaleX;
            z->scaleY = r.scaleY;
            z->origArea = r.origArea;
            z->UpdateArea();  // the outline's box, from which the contact test starts
            z->area = r.area;
            z->friction = r.friction;
            z->offsetX = r.offsetX;
            z->offsetY = r.offsetY;
            z->red = r.red;
            z->green = r.green;
            z->blue = r.blue;
            z->alpha = r.alpha;
            z->blend = r.blend;
            z->colGroup = r.colGroup;
            z->aIndex = r.aIndex;
            z->qtLevel = r.qtLevel;
            if (r.tree < 0) {
                z->quadTree = nullptr;
            } else {
                const auto [at, len] = d.trees[static_cast<size_t>(r.tree)];
                In keep(at, len);
                Ref<TQuadTree>& made = d.madeTrees[static_cast<size_t>(r.tree)];
                if (!(z->quadTree && SameTree(keep, *z->quadTree) && keep.Left() == 0)) {
                    if (!made) {
                        In from(at, len);
                        made = MakeTree(from);
                    }
                    z->quadTree = made;
                }
            }
            z->image = r.image >= 0 ? s.images[static_cast<size_t>(r.image)] : nullptr;
            z->imgScaleX = r.imgScaleX;
            z->imgScaleY = r.imgScaleY;
            s.zones.push_back(z);
        }
    }
    if (setZones) {
        std::vector<Ref<TZoneBase>> objs(s.zones.begin(), s.zones.end());
        // Zones of the state belong to w; zones taken from another world stay that world's.
        for (auto& z : w.zoneArray)
            if (z && WorldAccess::Member(*z) == &w) WorldAccess::Member(*z) = nullptr;
        SetTable(w.zoneArray, w.zoneCount, w.zoneFree, w.zoneFreeCount, d.zoneTable, objs);
        if (withZones)
            for (const Ref<TZoneBase>& z : objs) WorldAccess::Member(*z) = &w;
    }

    // World parameters.
    w.boundsMaxX = d.boundsMaxX;
    w.boundsMaxY = d.boundsMaxY;
    w.boundsMinX = d.boundsMinX;
    w.boundsMinY = d.boundsMinY;
    w.friction = d.friction;
    w.gravityX = d.gravityX;
    w.gravityY = d.gravityY;
    w.i = d.i;
    w.gridon = d.gridon;
    w.gridsize = d.gridsize;
    w.ratiox = d.ratiox;
    w.ratioy = d.ratioy;
    float* view[10] = {&w.drawOffsetX, &w.drawOffsetY, &w.drawScale, &w.centerX, &w.centerY,
                       &w.drawRot,     &w.drawIX,      &w.drawIY,    &w.drawJX,  &w.drawJY};
    for (size_t k = 0; k < 10; ++k) *view[k] = d.view[k];
    w.nextColGroup = d.nextColGroup;

    // The grid: masses in the usual order (group 0 first, then the others, each in table
    // order), then the cells stored as lists.
    s.mark.assign(heldM, 0);
    for (int32_t u : d.unplaced) s.mark[static_cast<size_t>(u)] = 1;
    for (const auto& [cell, list] : d.cellLists)
        for (int32_t id : list) s.mark[static_cast<size_t>(id)] = 2;
    if (!keepCells) {
        for (int pass = 0; pass < 2; ++pass)
            for (size_t k = 0; k < heldM; ++k) {
                if (s.mark[k]) continue;
                TMass* m = s.masses[k].Get();
                if ((m->colGroup != 0.0f) != (pass == 1)) continue;
                PairIndexAccess::Append(w, m, m->gridx, m->gridy);
            }
        for (const auto& [cell, list] : d.cellLists)
            for (int32_t id : list) {
                TMass* m = s.masses[static_cast<size_t>(id)].Get();
                PairIndexAccess::Append(w, m, cell / kMaxGrid, cell % kMaxGrid);
            }
    } else {
        // Each cell's masses in their order (a counting sort by cell over the cells used,
        // with per-cell counts that are all 0 between restores).
        constexpr size_t kCells = static_cast<size_t>(kMaxGrid) * kMaxGrid;
        s.cellCount.resize(kCells);
        s.cellStart.resize(kCells);
        s.touched.clear();
        auto count = [&](size_t at, uint32_t n) {
            if (s.cellCount[at] == 0) s.touched.push_back(static_cast<int32_t>(at));
            s.cellCount[at] += n;
        };
        for (size_t k = 0; k < heldM; ++k)
            if (s.mark[k] == 0) count(static_cast<size_t>(s.masses[k]->gridx * kMaxGrid + s.masses[k]->gridy), 1);
        for (const auto& [cell, list] : d.cellLists)
            if (!list.empty()) count(static_cast<size_t>(cell), static_cast<uint32_t>(list.size()));
        uint32_t total = 0;
        for (int32_t c : s.touched) {
            s.cellStart[static_cast<size_t>(c)] = total;
            total += s.cellCount[static_cast<size_t>(c)];
            s.cellCount[static_cast<size_t>(c)] = s.cellStart[static_cast<size_t>(c)];  // from here on: the fill point
        }
        s.cellMasses.resize(total);
        for (int pass = 0; pass < 2; ++pass)
            for (size_t k = 0; k < heldM; ++k) {
                if (s.mark[k]) continue;
                TMass* m = s.masses[k].Get();
                if ((m->colGroup != 0.0f) != (pass == 1)) continue;
                s.cellMasses[s.cellCount[static_cast<size_t>(m->gridx * kMaxGrid + m->gridy)]++] = m;
            }
        for (const auto& [cell, list] : d.cellLists)
            for (int32_t id : list) s.cellMasses[s.cellCount[static_cast<size_t>(cell)]++] = s.masses[static_cast<size_t>(id)].Get();
        // The masses of a cell are cellMasses[cellStart, cellCount) now; a cell not used
        // has an empty range.
        for (int32_t c : s.touched) s.cells.push_back(c);
        auto range = [&](size_t at, TMass* const*& first, size_t& n) {
            const bool used = s.cellCount[at] > s.cellStart[at];
            first = s.cellMasses.data() + (used ? s.cellStart[at] : 0);
            n = used ? s.cellCount[at] - s.cellStart[at] : 0;
        };
        // Every cell that is to change is emptied before any is filled: a mass moving from
        // one cell to another must have left the first.
        s.cellMark.resize(kCells);
        s.refill.clear();
        for (int32_t c : s.cells) {
            const size_t at = static_cast<size_t>(c);
            if (s.cellMark[at]) continue;
            s.cellMark[at] = 1;
            TMass* const* first;
            size_t n;
            range(at, first, n);
            if (PairIndexAccess::CellHolds(w, c, first, n)) continue;
            PairIndexAccess::ClearCell(w, c);
            s.refill.push_back(c);
        }
        for (int32_t c : s.cells) s.cellMark[static_cast<size_t>(c)] = 0;
        for (int32_t c : s.refill) {
            TMass* const* first;
            size_t n;
            range(static_cast<size_t>(c), first, n);
            for (size_t k = 0; k < n; ++k) PairIndexAccess::Append(w, first[k], c / kMaxGrid, c % kMaxGrid);
        }
        for (int32_t c : s.touched) s.cellCount[static_cast<size_t>(c)] = 0;
    }
    dropped.clear();

    // The event queue last: its pairs name the objects built above. A zone entry that holds
    // no zone now (a state without zones put into a world whose zones changed) drops its
    // event, as the step's next flush would.
    s.events.clear();
    size_t polled = 0;
    for (size_t k = 0; k < d.events.size(); ++k) {
        const Decoded::EventRec& e = d.events[k];
        detail::QueuedEvent q{e.kind, s.masses[static_cast<size_t>(e.mass)].Get(), nullptr, e.x, e.y, e.force, e.replace};
        if (e.kind == TColEvent::MASS_MASS)
            q.other = s.masses[static_cast<size_t>(e.other)].Get();
        else if (e.kind == TColEvent::MASS_ZONE)
            q.other = static_cast<size_t>(e.other) < w.zoneArray.size() ? w.zoneArray[static_cast<size_t>(e.other)].Get() : nullptr;
        else
            q.other = &w;
        if (!q.mass || !q.other) continue;
        s.events.push_back(q);
        if (k < d.eventsPolled) ++polled;
    }
    detail::WriteEvents(w, s.events, polled, d.eventMode);
    s.events.clear();
}

// Checks of a decoded state that need the world it goes into (none may fail after Build
// has begun to change it).
// A table's free stack names distinct entries below its count that hold nothing: the next
// entries handed out must be empty.
void CheckFree(const Table& t, const std::vector<int32_t>& held, const char* what) {
    std::vector<uint8_t> used(static_cast<size_t>(t.count), 0);
    for (int32_t e : held) used[static_cast<size_t>(e)] = 1;
    for (int32_t e : t.free) {
        if (used[static_cast<size_t>(e)]) Damaged(std::string("a free entry that is taken in ") + what);
        used[static_cast<size_t>(e)] = 1;
    }
}

void Check(Decoded& d) {
    CheckFree(d.massTable, d.massTable.entries, "MASS");
    CheckFree(d.conTable, d.conTable.entries, "CONS");
    CheckFree(d.zoneTable, d.zoneTable.entries, "ZONE");
    d.bodyTable.entries.clear();
    for (size_t id = 0; id < d.bodies.size(); ++id)
        if (d.bodies[id].kind != kNoBody) d.bodyTable.entries.push_back(static_cast<int32_t>(id));
    CheckFree(d.bodyTable, d.bodyTable.entries, "BODY");
    const MassCols& m = d.masses;
    const size_t held = d.massTable.entries.size();
    std::vector<uint8_t> mark(held, 0);
    for (int32_t u : d.unplaced) {
        if (mark[static_cast<size_t>(u)]) Damaged("a mass placed twice in GRID");
        mark[static_cast<size_t>(u)] = 1;
    }
    for (const auto& [cell, list] : d.cellLists)
        for (int32_t id : list) {
            if (mark[static_cast<size_t>(id)]) Damaged("a mass placed twice in GRID");
            mark[static_cast<size_t>(id)] = 1;
        }
    for (size_t k = 0; k < held; ++k) {
        if (m.aIndex[k] != d.massTable.entries[k]) Damaged("a table mass that names another entry in MASS");
        if (mark[k]) continue;
        if (m.gridx[k] < 0 || m.gridx[k] >= kMaxGrid || m.gridy[k] < 0 || m.gridy[k] >= kMaxGrid)
            Damaged("a mass outside the grid in MASS");
    }
    for (size_t k = 0; k < d.cons.n; ++k)
        if (k < d.conTable.entries.size() && d.cons.aIndex[k] != d.conTable.entries[k])
            Damaged("a table constraint that names another entry in CONS");
    if (d.flags & kFlagZones)
        for (size_t k = 0; k < d.zones.size(); ++k)
            if (d.zones[k].aIndex != d.zoneTable.entries[k]) Damaged("a zone that names another entry in ZONE");
}

}  // namespace

std::vector<uint8_t> SaveState(const TPhysics& w, bool withZones, bool withEvents) {
    // Half a tick is no moment to go back to: a restored world would step from the middle.
    if (WorldAccess::Stepping(w)) Unsavable("a world cannot be saved while it steps");
    std::vector<uint8_t> bytes;
    bytes.reserve(64 + static_cast<size_t>(std::max(w.massCount, 0)) * 24 + static_cast<size_t>(std::max(w.conCount, 0)) * 12);
    Saver(w, withZones, withEvents, bytes).Run();
    return bytes;
}

Ref<TPhysics> LoadState(const uint8_t* data, size_t size, const TPhysics* zonesFrom) {
    Scratch& s = TheScratch();
    Decode(data, size, s.d);
    Check(s.d);
    if (!(s.d.flags & kFlagZones) && !s.d.zoneMarks.empty() && !zonesFrom)
        Damaged("the state has no zones and no world to take them from");
    // A world to take the zones from is checked before the new world replaces it.
    const Ref<TPhysics> keepZones(const_cast<TPhysics*>(zonesFrom));
    if (!(s.d.flags & kFlagZones))
        for (size_t k = 0; k < s.d.zoneMarks.size(); ++k) {
            const size_t e = static_cast<size_t>(s.d.zoneTable.entries[k]);
            const TZone* z = e < zonesFrom->zoneArray.size() ? As<TZone>(zonesFrom->zoneArray[e].Get()) : nullptr;
            const ZoneMark& mk = s.d.zoneMarks[k];
            if (!z || z->colGroup != mk.colGroup || z->style != mk.style ||
                static_cast<int32_t>(z->origArea.size() / 2) != mk.vertices || Bits(z->offsetX) != Bits(mk.offsetX) ||
                Bits(z->offsetY) != Bits(mk.offsetY))
                Damaged("zone entry " + std::to_string(e) + " is not the zone the state was saved with");
        }
    Ref<TPhysics> w = TPhysics::Create(s.d.boundsMaxX, s.d.boundsMaxY, s.d.gravityY, s.d.gravityX, s.d.i);
    // Nothing here keeps objects from one world to the next.
    s.masses.clear();
    s.cons.clear();
    Build(*w, s, zonesFrom, true);
    s.masses.clear();
    s.cons.clear();
    s.bodies.clear();
    s.rigs.clear();
    s.images.clear();
    s.zones.clear();
    s.d.madeTrees.clear();
    return w;
}

void RestoreState(TPhysics& w, const uint8_t* data, size_t size) {
    // The step walks the tables and the grid that a restore would replace under it.
    if (WorldAccess::Stepping(w)) Damaged("a world cannot be restored while it steps");
    Scratch& s = TheScratch();
    Decode(data, size, s.d);
    Check(s.d);
    if (!(s.d.flags & kFlagZones)) {
        // The world keeps its own zones.
        s.d.zoneTable = Table{};
        s.d.zoneMarks.clear();
    }
    {
        // New bodies take their ids in the world being restored.
        const TPhysics::Scope current(&w);
        Build(w, s, nullptr, (s.d.flags & kFlagZones) != 0);
    }
    // The scratch keeps its columns' room for the next restore, but no objects.
    s.masses.clear();
    s.cons.clear();
    s.d.madeTrees.clear();
    s.bodies.clear();
    s.rigs.clear();
    s.images.clear();
    s.zones.clear();
}

}  // namespace kin::gelsim
