// Quad trees over zone outlines: the relevance of a box, building with uniform regions
// collapsed upward, the broad-phase query, drawing, and the node record.
#include "gelsim/zones/QuadTree.h"

#include <cmath>
#include <cstring>
#include <string>

#include "gelsim/core/Assert.h"
#include "gelsim/core/Physics.h"
#include "gelsim/io/StreamIO.h"

namespace kin::gelsim {

// ---------------------------------------------------------------------------------------
// Outline geometry

bool SegmentsMeet(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4) {
    const float dxA = x2 - x1, dyA = y2 - y1, dxB = x4 - x3, dyB = y4 - y3;
    // Twice the vector between the midpoints: no halving, so the test stays exact for
    // touching segments with representable coordinates.
    const float cx = (x3 + x4) - (x1 + x2), cy = (y3 + y4) - (y1 + y2);
    const float den = dyA * dxB - dyB * dxA;
    const float nA = dxB * cy - dyB * cx;
    const float nB = dxA * cy - dyA * cx;
    const float d = std::fabs(den);
    return std::fabs(nA) <= d && std::fabs(nB) <= d;
}

namespace {

// Quadrant of (vx, vy) around (px, py): 1 up-left, 2 up-right, 3 down-right, 4 down-left
// (y grows downwards). Coordinates that compare with nothing (NaN) land in 2 or 3.
inline int32_t Quadrant(float vx, float vy, float px, float py) {
    if (vy < py) return vx < px ? 1 : 2;
    return vx < px ? 4 : 3;
}

}  // namespace

int32_t WindingSum(const float* xy, int32_t n, float px, float py, float ox, float oy) {
    if (!xy || n <= 0) return 0;
    float prevX = xy[2 * (n - 1)] + ox, prevY = xy[2 * (n - 1) + 1] + oy;
    int32_t q = Quadrant(prevX, prevY, px, py);
    int32_t sum = 0;
    for (int32_t i = 0; i < n; ++i) {
        const float vx = xy[2 * i] + ox, vy = xy[2 * i + 1] + oy;
        const int32_t q2 = Quadrant(vx, vy, px, py);
        int32_t d = q2 - q;
        if (d == 3) d = -1;
        if (d == -3) d = 1;
        if (d == 2 || d == -2) {
            // Diagonal step: which side of P the edge passes decides the direction. The
            // two ends lie on opposite sides of y = py, so the divisor is not 0 for
            // finite coordinates; the guard covers the rest.
            const float den = prevY - vy;
            if (den != 0.0f) {
                const float xi = vx - (vy - py) * (prevX - vx) / den;
                if (xi < px) d = -d;
            }
        }
        sum += d;
        q = q2;
        prevX = vx;
        prevY = vy;
    }
    return sum;
}

bool BoxRelevant(const std::vector<float>& area, int32_t style, float x, float y, float w, float h) {
    if (style < 0 || style > 3) return false;
    const int32_t n = static_cast<int32_t>(area.size() / 2);
    const float* v = area.data();
    const float x2 = x + w, y2 = y + h;
    auto vertexIn = [&](int32_t i) {
        const float vx = v[2 * i], vy = v[2 * i + 1];
        return x < vx && vx < x2 && y < vy && vy < y2;
    };
    auto segmentHits = [&](int32_t a, int32_t b) {
        const float ax = v[2 * a], ay = v[2 * a + 1], bx = v[2 * b], by = v[2 * b + 1];
        return SegmentsMeet(ax, ay, bx, by, x, y, x2, y) || SegmentsMeet(ax, ay, bx, by, x, y, x, y2) ||
               SegmentsMeet(ax, ay, bx, by, x2, y, x2, y2) || SegmentsMeet(ax, ay, bx, by, x, y2, x2, y2);
    };
    if (n == 0) return style == 3;  // nothing to be inside of: everything is outside a hole
    if (style == 0) {
        if (vertexIn(0)) return true;
        for (int32_t i = 1; i < n; ++i)
            if (vertexIn(i) || segmentHits(i - 1, i)) return true;
        return false;
    }
    if (vertexIn(0) || segmentHits(n - 1, 0)) return true;
    for (int32_t i = 1; i < n; ++i)
        if (vertexIn(i) || segmentHits(i - 1, i)) return true;
    // No side crossed and no vertex inside: the box is wholly inside or wholly outside,
    // and its corner tells which.
    if (style == 1) return false;
    const bool inside = InsidePolygon(v, n, x, y);
    return style == 2 ? inside : !inside;
}

// ---------------------------------------------------------------------------------------
// Building

namespace {

// The build follows the rules plainly: a box the outline makes relevant becomes a node,
// its four quarters are built one level down, and four leaf quarters fold back into their
// parent. level counts the levels still allowed, this one included; it is only ever
// compared before it is lowered, so no value can overflow.
Ref<TQuadTree> Build(const std::vector<float>& area, int32_t style, float x, float y, float w, float h,
                     int32_t level) {
    GELSIM_ASSERT(level <= TQuadTree::MAX_LEVEL);  // what bounds the recursion
    if (!BoxRelevant(area, style, x, y, w, h)) return nullptr;
    Ref<TQuadTree> node = MakeRef<TQuadTree>();
    node->posX = x;
    node->posY = y;
    node->sizeX = w;
    node->sizeY = h;
    if (level <= 1) return node;
    const float hw = w / 2.0f, hh = h / 2.0f;
    const float cx[4] = {x, x + hw, x, x + hw}, cy[4] = {y, y, y + hh, y + hh};
    int32_t present = 0, leaves = 0;
    for (int32_t k = 0; k < 4; ++k) {
        Ref<TQuadTree> q = Build(area, style, cx[k], cy[k], hw, hh, level - 1);
        if (!q) continue;
        ++present;
        if (q->IsLeaf()) ++leaves;
        node->childList.AddLast(q.Get());
    }
    if (present == 4 && leaves == 4) node->childList.Clear();  // a uniform region: the node is the leaf
    return node;
}

}  // namespace

Ref<TQuadTree> TQuadTree::Create(const std::vector<float>& area, int32_t style, float x, float y, float w, float h,
                                 int32_t level) {
    if (style < 0 || style > 3) return nullptr;
    return Build(area, style, x, y, w, h, ClampLevel(level));
}

// ---------------------------------------------------------------------------------------
// Queries and drawing

namespace {

// A node's children are nodes: the tree is made by Build, ReadNode and the tool's JSON.
inline const TQuadTree* Child(TObject* o) {
    GELSIM_ASSERT(dynamic_cast<const TQuadTree*>(o) != nullptr);
    return static_cast<const TQuadTree*>(o);
}

inline bool Misses(const TQuadTree& t, float ox, float oy, float x, float y, float w, float h) {
    const float bx = ox + t.posX, by = oy + t.posY;
    return bx > x + w || bx + t.sizeX < x || by > y + h || by + t.sizeY < y;
}

}  // namespace

int32_t TQuadTree::Collide(float ox, float oy, float x, float y, float size, int32_t outside) const {
    if (Misses(*this, ox, oy, x, y, size, size)) return outside;
    if (IsLeaf()) return 1;
    for (TObject* o : childList)
        if (Child(o)->Collide(ox, oy, x, y, size, 0) != 0) return 1;
    return 0;
}

int32_t TQuadTree::QueryInto(float ox, float oy, float x, float y, float w, float h,
                             std::vector<const TQuadTree*>& out) const {
    if (Misses(*this, ox, oy, x, y, w, h)) return 0;
    if (IsLeaf()) {
        out.push_back(this);
        return 1;
    }
    int32_t n = 0;
    for (TObject* o : childList) n += Child(o)->QueryInto(ox, oy, x, y, w, h, out);
    return n;
}

Ref<TList> TQuadTree::Query(float ox, float oy, float x, float y, float w, float h) const {
    std::vector<const TQuadTree*> leaves;
    QueryInto(ox, oy, x, y, w, h, leaves);
    Ref<TList> list = MakeRef<TList>();
    for (const TQuadTree* t : leaves) list->AddLast(const_cast<TQuadTree*>(t));
    return list;
}

int32_t TQuadTree::Draw(float ox, float oy, int32_t filled) const {
    if (!IsLeaf()) {
        for (TObject* o : childList) Child(o)->Draw(ox, oy, filled);
        return 0;
    }
    const float X = ox + posX, Y = oy + posY, W = sizeX, H = sizeY;
    if (filled != 0) {
        TPhysics::DrawRect(X, Y, W, H);
        return 0;
    }
    TPhysics::DrawLine(X, Y, X + W, Y);
    TPhysics::DrawLine(X + W, Y, X + W, Y + H);
    TPhysics::DrawLine(X + W, Y + H, X, Y + H);
    TPhysics::DrawLine(X, Y + H, X, Y);
    TPhysics::DrawLine(X, Y, X + W, Y + H);
    TPhysics::DrawLine(X, Y + H, X + W, Y);
    return 0;
}

int32_t TQuadTree::NodeCount() const {
    int32_t n = 1;
    for (TObject* o : childList) n += Child(o)->NodeCount();
    return n;
}

int32_t TQuadTree::Depth() const {
    int32_t d = 0;
    for (TObject* o : childList) {
        const int32_t c = Child(o)->Depth();
        if (c > d) d = c;
    }
    return d + 1;
}

bool TQuadTree::SameAs(const TQuadTree& other) const {
    auto same = [](float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    if (!same(posX, other.posX) || !same(posY, other.posY) || !same(sizeX, other.sizeX) ||
        !same(sizeY, other.sizeY) || childList.Count() != other.childList.Count())
        return false;
    TLink* b = other.childList.FirstLink();
    for (TLink* a = childList.FirstLink(); a; a = a->NextLink(), b = b->NextLink())
        if (!Child(a->Value())->SameAs(*Child(b->Value()))) return false;
    return true;
}

// ---------------------------------------------------------------------------------------
// The node record

void TQuadTree::Write(TStream& s) const {
    WriteFloat(s, posX);
    WriteFloat(s, posY);
    WriteFloat(s, sizeX);
    WriteFloat(s, sizeY);
    WriteInt(s, childList.Count());
    for (TObject* o : childList) Child(o)->Write(s);
}

namespace {

// Depth is bounded so that a file of nested records cannot exhaust the stack; every node
// costs at least its 20 bytes of file, so memory grows only with the data present.
Ref<TQuadTree> ReadNode(TStream& s, int32_t depth) {
    if (depth > TQuadTree::MAX_LEVEL)
        throw TFileFormatException("quad tree nested deeper than " + std::to_string(TQuadTree::MAX_LEVEL) + " levels");
    Ref<TQuadTree> t = MakeRef<TQuadTree>();
    t->posX = ReadFloat(s);
    t->posY = ReadFloat(s);
    t->sizeX = ReadFloat(s);
    t->sizeY = ReadFloat(s);
    const int32_t n = ReadInt(s);
    if (n < 0 || n > 4)
        throw TFileFormatException("quad-tree node with " + std::to_string(n) + " children (0 to 4 allowed)");
    for (int32_t i = 0; i < n; ++i) {
        Ref<TQuadTree> c = ReadNode(s, depth + 1);
        t->childList.AddLast(c.Get());
    }
    return t;
}

}  // namespace

Ref<TQuadTree> TQuadTree::Read(TStream& s) { return ReadNode(s, 1); }

}  // namespace kin::gelsim
