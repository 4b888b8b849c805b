// Quad trees: the relevance rules on hand-made cases, building and queries against brute
// force on random outlines, depth and size against the rules, the deepest level, the node
// record (round trips, truncation, hostile nesting), and drawing.
#include "tests/support/ZoneFixture.h"
#include "gelsim/io/StreamIO.h"

namespace kin::gelsim::test {
namespace {

using QuadTree = ZoneWorld;

std::vector<const TQuadTree*> Leaves(const TQuadTree& t) {
    std::vector<const TQuadTree*> out;
    t.QueryInto(0, 0, -kInf, -kInf, kInf, kInf, out);
    return out;
}

Bytes Record(const TQuadTree& t) {
    TBankStream s;
    t.Write(s);
    return s.Bytes();
}

// ---------------------------------------------------------------------------------------
// Geometry rules

struct CrossCase {
    const char* name;
    float a[4], b[4];
    bool cross;
};

TEST(ZoneGeometry, SegmentCrossingRule) {
    const CrossCase cases[] = {
        {"x shape", {0, 0, 10, 10}, {0, 10, 10, 0}, true},
        {"touching at an end", {0, 0, 10, 0}, {10, 0, 10, 10}, true},
        {"t junction", {0, 0, 10, 0}, {5, 0, 5, 7}, true},
        {"apart", {0, 0, 10, 0}, {0, 1, 10, 2}, false},
        {"would cross if longer", {0, 0, 4, 4}, {10, 0, 6, 4}, false},
        {"parallel, apart", {0, 0, 10, 0}, {0, 3, 10, 3}, false},
        {"collinear, overlapping", {0, 0, 10, 0}, {5, 0, 15, 0}, true},
        {"collinear, far apart", {0, 0, 1, 0}, {50, 0, 60, 0}, true},
        {"nan", {0, 0, kNaN, 10}, {0, 10, 10, 0}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SegmentsMeet(c.a[0], c.a[1], c.a[2], c.a[3], c.b[0], c.b[1], c.b[2], c.b[3]), c.cross) << c.name;
        EXPECT_EQ(SegmentsMeet(c.b[0], c.b[1], c.b[2], c.b[3], c.a[0], c.a[1], c.a[2], c.a[3]), c.cross) << c.name;
    }
}

TEST(ZoneGeometry, WindingRule) {
    const Floats cw = Square(0, 0, 10);
    const Floats ccw = {0, 0, 0, 10, 10, 10, 10, 0};
    EXPECT_EQ(std::abs(WindingSum(cw.data(), 4, 5, 5)), 4);
    EXPECT_EQ(WindingSum(cw.data(), 4, 5, 5), -WindingSum(ccw.data(), 4, 5, 5));
    EXPECT_EQ(WindingSum(cw.data(), 4, 15, 5), 0);
    EXPECT_EQ(WindingSum(cw.data(), 4, 5, -5), 0);
    EXPECT_TRUE(InsidePolygon(cw.data(), 4, 0.5f, 9.5f));
    EXPECT_TRUE(InsidePolygon(cw.data(), 4, 105, 105, 100, 100));  // shifted vertices
    // Twice around the point: 8, which counts as outside.
    const Floats twice = {0, 0, 10, 0, 10, 10, 0, 10, 0, 0, 10, 0, 10, 10, 0, 10};
    EXPECT_EQ(std::abs(WindingSum(twice.data(), 8, 5, 5)), 8);
    EXPECT_FALSE(InsidePolygon(twice.data(), 8, 5, 5));
    // Degenerate input answers without faults.
    EXPECT_EQ(WindingSum(cw.data(), 0, 5, 5), 0);
    EXPECT_FALSE(InsidePolygon(cw.data(), 4, kNaN, 5));
    const Floats flat = {0, 0, 10, 0, 20, 0};
    EXPECT_FALSE(InsidePolygon(flat.data(), 3, 5, 0));
}

TEST(ZoneGeometry, BoxRelevanceByStyle) {
    const Floats sq = Square(0, 0, 10);
    struct Case {
        const char* name;
        float box[4];
        bool line, loop, fill, hole;
    };
    const Case cases[] = {
        {"holds a vertex", {-1, -1, 2, 2}, true, true, true, true},
        {"crossed by an edge", {4, -1, 2, 2}, true, true, true, true},
        {"wholly inside", {2, 2, 3, 3}, false, false, true, false},
        {"wholly outside", {20, 20, 3, 3}, false, false, false, true},
        // Only the closing edge (0,10)-(0,0) passes here: LINE has no closing edge.
        {"on the closing edge only", {-1, 4, 2, 2}, false, true, true, true},
        // A vertex exactly on a side is not strictly inside, but the edges touch the side.
        {"vertex on a side", {10, -3, 3, 3}, true, true, true, true},
    };
    for (const auto& c : cases) {
        const float* b = c.box;
        EXPECT_EQ(BoxRelevant(sq, TZone::LINE, b[0], b[1], b[2], b[3]), c.line) << c.name;
        EXPECT_EQ(BoxRelevant(sq, TZone::LOOP, b[0], b[1], b[2], b[3]), c.loop) << c.name;
        EXPECT_EQ(BoxRelevant(sq, TZone::FILL, b[0], b[1], b[2], b[3]), c.fill) << c.name;
        EXPECT_EQ(BoxRelevant(sq, TZone::HOLE, b[0], b[1], b[2], b[3]), c.hole) << c.name;
        EXPECT_FALSE(BoxRelevant(sq, 4, b[0], b[1], b[2], b[3])) << c.name;
        EXPECT_FALSE(BoxRelevant(sq, -1, b[0], b[1], b[2], b[3])) << c.name;
    }
}

// ---------------------------------------------------------------------------------------
// Building: known shapes

TEST_F(QuadTree, ALineOnTheSharedSideCollapsesToOneLeaf) {
    Ref<TQuadTree> t = TQuadTree::Create({0, 0, 10, 0}, TZone::LINE, -1, -1, 12, 2, 2);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(t->IsLeaf());
    EXPECT_EQ(Record(*t), (Bytes{0x00, 0x00, 0x80, 0xBF, 0x00, 0x00, 0x80, 0xBF, 0x00, 0x00, 0x40, 0x41, 0x00, 0x00,
                                 0x00, 0x40, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(QuadTree, SquareOutlineLeavesOutTheUntouchedInnerCells) {
    for (int32_t style : {TZone::LOOP, TZone::HOLE}) {
        Ref<TQuadTree> t = TQuadTree::Create(Square(0, 0, 10), style, -1, -1, 12, 12, 3);
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(t->childList.Count(), 4) << style;
        const float corners[4][2] = {{-1, -1}, {5, -1}, {-1, 5}, {5, 5}};
        int32_t k = 0;
        for (TObject* o : t->childList) {
            auto* q = static_cast<TQuadTree*>(o);
            EXPECT_EQ(q->posX, corners[k][0]);
            EXPECT_EQ(q->posY, corners[k][1]);
            EXPECT_EQ(q->sizeX, 6.0f);
            ASSERT_EQ(q->childList.Count(), 3);
            for (TObject* c : q->childList) {
                auto* leaf = static_cast<TQuadTree*>(c);
                EXPECT_TRUE(leaf->IsLeaf());
                EXPECT_EQ(leaf->sizeX, 3.0f);
                // The cell next to the square's centre is neither touched nor solid.
                EXPECT_FALSE(leaf->posX == (k % 2 ? 5.0f : 2.0f) && leaf->posY == (k / 2 ? 5.0f : 2.0f));
            }
            ++k;
        }
    }
    Ref<TQuadTree> fill = TQuadTree::Create(Square(0, 0, 10), TZone::FILL, -1, -1, 12, 12, 3);
    ASSERT_NE(fill, nullptr);
    EXPECT_TRUE(fill->IsLeaf());
}

TEST_F(QuadTree, ShallowLevelsAndUnknownStyles) {
    for (int32_t level : {-3, 0, 1}) {
        Ref<TQuadTree> t = TQuadTree::Create(Square(0, 0, 10), TZone::LOOP, -1, -1, 12, 12, level);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->NodeCount(), 1);
    }
    EXPECT_EQ(TQuadTree::Create(Square(0, 0, 10), TZone::LOOP, 20, 20, 5, 5, 4), nullptr);
    EXPECT_EQ(TQuadTree::Create(Square(0, 0, 10), 7, -1, -1, 12, 12, 4), nullptr);
    EXPECT_EQ(TQuadTree::Create({}, TZone::FILL, -1, -1, 12, 12, 4), nullptr);
}

// ---------------------------------------------------------------------------------------
// Building and queries against brute force

struct RandomCase {
    int32_t style;
    int32_t level;
};

class QuadTreeRandom : public ZoneWorld, public ::testing::WithParamInterface<RandomCase> {};

// The union of a tree's leaves is the set of finest cells whose whole chain of boxes, from
// the root down, is relevant (collapsing four leaves into their parent keeps the union).
TEST_P(QuadTreeRandom, LeavesCoverExactlyTheRelevantFinestCells) {
    const RandomCase rc = GetParam();
    std::mt19937 rng(1000u + static_cast<uint32_t>(rc.style * 10 + rc.level));
    for (int32_t trial = 0; trial < 12; ++trial) {
        const Floats v = RandomOutline(rng, 3 + trial, 0, 0, 64);
        const float x = -70, y = -70, w = 140, h = 140;
        Ref<TQuadTree> t = TQuadTree::Create(v, rc.style, x, y, w, h, rc.level);
        const int32_t cells = 1 << (rc.level - 1);
        std::vector<const TQuadTree*> leaves;
        if (t) leaves = Leaves(*t);
        for (int32_t i = 0; i < cells; ++i)
            for (int32_t j = 0; j < cells; ++j) {
                // The chain of boxes containing cell (i, j), computed as the builder halves them.
                bool chain = true;
                float bx = x, by = y, bw = w, bh = h;
                for (int32_t l = 0; l < rc.level && chain; ++l) {
                    if (l > 0) {
                        const int32_t shift = rc.level - 1 - l;
                        bw /= 2.0f;
                        bh /= 2.0f;
                        if ((i >> shift) & 1) bx += bw;
                        if ((j >> shift) & 1) by += bh;
                    }
                    chain = BoxRelevant(v, rc.style, bx, by, bw, bh);
                }
                const float mx = x + (static_cast<float>(i) + 0.5f) * w / static_cast<float>(cells);
                const float my = y + (static_cast<float>(j) + 0.5f) * h / static_cast<float>(cells);
                bool covered = false;
                for (const TQuadTree* leaf : leaves)
                    covered = covered || (leaf->posX < mx && mx < leaf->posX + leaf->sizeX && leaf->posY < my &&
                                          my < leaf->posY + leaf->sizeY);
                ASSERT_EQ(covered, chain) << "trial " << trial << " cell " << i << "," << j;
            }
        if (!t) continue;
        // Shape: children are quarters of their parent, in build order; no four leaf
        // quarters are left uncollapsed.
        std::vector<const TQuadTree*> stack = {t.Get()};
        while (!stack.empty()) {
            const TQuadTree* n = stack.back();
            stack.pop_back();
            int32_t leafKids = 0, k = 0;
            float lastKey = -1;
            for (TObject* o : n->childList) {
                auto* c = static_cast<const TQuadTree*>(o);
                EXPECT_EQ(c->sizeX, n->sizeX / 2.0f);
                const float key = (c->posY > n->posY ? 2.0f : 0.0f) + (c->posX > n->posX ? 1.0f : 0.0f);
                EXPECT_GT(key, lastKey);
                lastKey = key;
                leafKids += c->IsLeaf() ? 1 : 0;
                ++k;
                stack.push_back(c);
            }
            EXPECT_FALSE(k == 4 && leafKids == 4);
        }
    }
}

TEST_P(QuadTreeRandom, CollideAndQueryMatchBruteForceOverTheLeaves) {
    const RandomCase rc = GetParam();
    std::mt19937 rng(2000u + static_cast<uint32_t>(rc.style * 10 + rc.level));
    std::uniform_real_distribution<float> pos(-150, 150), size(0, 40);
    for (int32_t trial = 0; trial < 8; ++trial) {
        const Floats v = RandomOutline(rng, 4 + trial);
        Ref<TQuadTree> t = TQuadTree::Create(v, rc.style, -101, -101, 202, 202, rc.level);
        if (!t) continue;
        const std::vector<const TQuadTree*> leaves = Leaves(*t);
        const float ox = 30, oy = -20;  // the tree placed away from the origin
        std::vector<const TQuadTree*> found;
        found.reserve(leaves.size());
        for (int32_t q = 0; q < 300; ++q) {
            const float x = pos(rng), y = pos(rng), s = size(rng);
            std::vector<const TQuadTree*> expect;
            for (const TQuadTree* l : leaves)
                if (!(ox + l->posX > x + s || ox + l->posX + l->sizeX < x || oy + l->posY > y + s ||
                      oy + l->posY + l->sizeY < y))
                    expect.push_back(l);
            const bool missesRoot =
                ox + t->posX > x + s || ox + t->posX + t->sizeX < x || oy + t->posY > y + s || oy + t->posY + t->sizeY < y;
            EXPECT_EQ(t->Collide(ox, oy, x, y, s, 7), missesRoot ? 7 : (expect.empty() ? 0 : 1));
            found.clear();
            EXPECT_EQ(t->QueryInto(ox, oy, x, y, s, s, found), static_cast<int32_t>(expect.size()));
            EXPECT_EQ(found, expect);
            Ref<TList> list = t->Query(ox, oy, x, y, s, s);
            ASSERT_EQ(list->Count(), static_cast<int32_t>(expect.size()));
            size_t k = 0;
            for (TObject* o : *list) EXPECT_EQ(o, expect[k++]);
        }
    }
}

// What the tree is for: every point of the outline (and of the solid, for FILL and HOLE)
// lies in a leaf, so the exact test is never skipped where it would find a contact.
TEST_P(QuadTreeRandom, NoPointOfTheOutlineOrTheSolidIsLeftOut) {
    const RandomCase rc = GetParam();
    std::mt19937 rng(3000u + static_cast<uint32_t>(rc.style * 10 + rc.level));
    std::uniform_real_distribution<float> unit(0, 1), pos(-100, 100);
    for (int32_t trial = 0; trial < 8; ++trial) {
        const Floats v = RandomOutline(rng, 3 + 2 * trial);
        const int32_t n = static_cast<int32_t>(v.size() / 2);
        Ref<TQuadTree> t = TQuadTree::Create(v, rc.style, -101, -101, 202, 202, rc.level);
        ASSERT_NE(t, nullptr);
        const int32_t segs = rc.style == TZone::LINE ? n - 1 : n;
        for (int32_t s = 0; s < segs; ++s)
            for (int32_t k = 0; k < 20; ++k) {
                const int32_t a = s, b = (s + 1) % n;
                const float u = unit(rng);
                const float x = v[2 * a] * (1 - u) + v[2 * b] * u, y = v[2 * a + 1] * (1 - u) + v[2 * b + 1] * u;
                ASSERT_EQ(t->Collide(0, 0, x - 0.01f, y - 0.01f, 0.02f, 0), 1) << x << "," << y;
            }
        if (rc.style != TZone::FILL && rc.style != TZone::HOLE) continue;
        for (int32_t k = 0; k < 200; ++k) {
            const float x = pos(rng), y = pos(rng);
            const bool solid = InsidePolygon(v.data(), n, x, y) == (rc.style == TZone::FILL);
            if (solid) {
                ASSERT_EQ(t->Collide(0, 0, x - 0.01f, y - 0.01f, 0.02f, 0), 1) << x << "," << y;
            }
        }
    }
}

std::string CaseName(const ::testing::TestParamInfo<RandomCase>& info) {
    static const char* names[] = {"Line", "Loop", "Fill", "Hole"};
    return std::string(names[info.param.style]) + "Level" + std::to_string(info.param.level);
}

INSTANTIATE_TEST_SUITE_P(Styles, QuadTreeRandom,
                         ::testing::Values(RandomCase{TZone::LINE, 3}, RandomCase{TZone::LINE, 6},
                                           RandomCase{TZone::LOOP, 2}, RandomCase{TZone::LOOP, 5},
                                           RandomCase{TZone::FILL, 4}, RandomCase{TZone::FILL, 6},
                                           RandomCase{TZone::HOLE, 3}, RandomCase{TZone::HOLE, 6}),
                         CaseName);

// ---------------------------------------------------------------------------------------
// Depth: built to the level asked

/// Node count and depth of the tree the build rules give, counted without building it: a
/// relevant box is a node, level - 1 <= 0 makes it a leaf, otherwise its quarters follow
/// one level down, and four quarters that are all leaves fold into their parent.
struct Shape {
    bool present = false, leaf = false;
    int32_t nodes = 0, depth = 0;
};
Shape RuleShape(const Floats& v, int32_t style, float x, float y, float w, float h, int32_t level) {
    Shape s;
    if (!BoxRelevant(v, style, x, y, w, h)) return s;
    s.present = true;
    s.nodes = 1;
    s.depth = 1;
    if (level - 1 <= 0) {
        s.leaf = true;
        return s;
    }
    const float hw = w / 2, hh = h / 2;
    int32_t present = 0, leaves = 0;
    const float corners[4][2] = {{x, y}, {x + hw, y}, {x, y + hh}, {x + hw, y + hh}};
    for (const auto& c : corners) {
        const Shape q = RuleShape(v, style, c[0], c[1], hw, hh, level - 1);
        if (!q.present) continue;
        ++present;
        leaves += q.leaf ? 1 : 0;
        s.nodes += q.nodes;
        s.depth = std::max(s.depth, q.depth + 1);
    }
    if (present == 4 && leaves == 4) s = {true, true, 1, 1};
    s.leaf = s.nodes == 1;
    return s;
}

// Outlines of up to a few hundred vertices at levels up to 9: the tree is exactly as deep
// and as large as the rules make it, however much work that takes.
TEST_F(QuadTree, BuiltAsDeepAndAsLargeAsTheRulesMakeIt) {
    std::mt19937 rng(606);
    std::uniform_int_distribution<int32_t> vertices(3, 300), level(6, 9);
    int32_t atLevel = 0;
    for (int32_t trial = 0; trial < 32; ++trial) {
        const int32_t style = trial % 4, lv = level(rng);
        const Floats v = RandomOutline(rng, vertices(rng));
        Ref<TQuadTree> t = TQuadTree::Create(v, style, -101, -101, 202, 202, lv);
        const Shape want = RuleShape(v, style, -101, -101, 202, 202, lv);
        ASSERT_EQ(t != nullptr, want.present) << "trial " << trial;
        if (!t) continue;
        EXPECT_EQ(t->Depth(), want.depth) << "trial " << trial << ", level " << lv << ", style " << style;
        EXPECT_EQ(t->NodeCount(), want.nodes) << "trial " << trial << ", level " << lv << ", style " << style;
        atLevel += want.depth == lv ? 1 : 0;
    }
    EXPECT_GE(atLevel, 24);  // most outlines reach the finest level somewhere
}

// ---------------------------------------------------------------------------------------
// Limits: no level can make a build exhaust memory, time or the stack.

TEST_F(QuadTree, LevelsAboveTheDeepestAreBuiltAtTheDeepest) {
    // A long zig-zag touches about twice as many cells per level.
    Floats zig;
    for (int32_t i = 0; i <= 40; ++i) {
        zig.push_back(static_cast<float>(i) * 25.0f);
        zig.push_back(i % 2 ? 300.0f : 0.0f);
    }
    Ref<TQuadTree> deepest = TQuadTree::Create(zig, TZone::LINE, -1, -1, 1002, 302, TQuadTree::MAX_LEVEL);
    ASSERT_NE(deepest, nullptr);
    EXPECT_EQ(deepest->Depth(), TQuadTree::MAX_LEVEL);
    for (int32_t level : {TQuadTree::MAX_LEVEL + 1, INT32_MAX}) {
        Ref<TQuadTree> t = TQuadTree::Create(zig, TZone::LINE, -1, -1, 1002, 302, level);
        ASSERT_NE(t, nullptr);
        EXPECT_TRUE(t->SameAs(*deepest)) << level;
    }
    // Every level at or below 1, the lowest int included, gives one leaf.
    for (int32_t level : {1, 0, -1, INT32_MIN + 1, INT32_MIN}) {
        Ref<TQuadTree> t = TQuadTree::Create(zig, TZone::LINE, -1, -1, 1002, 302, level);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->NodeCount(), 1) << level;
    }
    // A zone stores the level it builds with, so GetQTLevel tells the tree's level.
    Ref<TZone> z = TZone::Create(zig, TZone::LINE, 0, 3, INT32_MAX);
    EXPECT_EQ(z->GetQTLevel(), TQuadTree::MAX_LEVEL);
    EXPECT_TRUE(z->quadTree->SameAs(*TQuadTree::Create(zig, TZone::LINE, -1, -1, 1002, 302, TQuadTree::MAX_LEVEL)));
    z->CalcQuadTree(TQuadTree::MAX_LEVEL + 1);
    EXPECT_EQ(z->GetQTLevel(), TQuadTree::MAX_LEVEL);
    z->CalcQuadTree(INT32_MIN);
    EXPECT_EQ(z->GetQTLevel(), INT32_MIN);
    EXPECT_EQ(z->quadTree->NodeCount(), 1);
}

// ---------------------------------------------------------------------------------------
// The node record

TEST_F(QuadTree, RecordRoundTripsAndEveryCutRaisesTheReadError) {
    std::mt19937 rng(7);
    for (int32_t style = 0; style < 4; ++style) {
        Ref<TQuadTree> t = TQuadTree::Create(RandomOutline(rng, 9), style, -101, -101, 202, 202, 5);
        ASSERT_NE(t, nullptr);
        const Bytes rec = Record(*t);
        EXPECT_EQ(rec.size(), static_cast<size_t>(20 * t->NodeCount()));
        TBankStream in(rec);
        Ref<TQuadTree> back = TQuadTree::Read(in);
        EXPECT_TRUE(back->SameAs(*t));
        EXPECT_TRUE(in.Eof());
        EXPECT_EQ(Record(*back), rec);
        for (size_t cut = 0; cut < rec.size(); cut += 3) {
            TBankStream part(Bytes(rec.begin(), rec.begin() + static_cast<std::ptrdiff_t>(cut)));
            EXPECT_THROW(TQuadTree::Read(part), TStreamReadException) << cut;
        }
    }
}

Bytes Node(float x, float y, float w, float h, int32_t children) {
    TBankStream s;
    for (float f : {x, y, w, h}) WriteFloat(s, f);
    WriteInt(s, children);
    return s.Bytes();
}

TEST_F(QuadTree, HostileRecordsAreRefusedWithoutExhaustingTheStack) {
    // A chain of single children far deeper than any build: refused as a format error (a
    // read error) instead of recursing a hundred thousand times.
    Bytes chain;
    for (int32_t i = 0; i < 100000; ++i) {
        const Bytes n = Node(0, 0, 1, 1, 1);
        chain.insert(chain.end(), n.begin(), n.end());
    }
    TBankStream deep(chain);
    EXPECT_THROW(TQuadTree::Read(deep), TFileFormatException);
    // The deepest nesting a build can make is accepted.
    Bytes ok;
    for (int32_t i = 0; i < TQuadTree::MAX_LEVEL; ++i) {
        const Bytes n = Node(0, 0, 1, 1, i + 1 < TQuadTree::MAX_LEVEL ? 1 : 0);
        ok.insert(ok.end(), n.begin(), n.end());
    }
    TBankStream fine(ok);
    EXPECT_EQ(TQuadTree::Read(fine)->Depth(), TQuadTree::MAX_LEVEL);
    // A node cannot have more quarters than four, or fewer than none.
    for (int32_t count : {5, -1, INT32_MAX, INT32_MIN}) {
        TBankStream s(Node(0, 0, 1, 1, count));
        EXPECT_THROW(TQuadTree::Read(s), TFileFormatException) << count;
    }
    // Any values are kept as they are, NaN included.
    TBankStream odd(Node(kNaN, kNaN, -kInf, 3, 0));
    Ref<TQuadTree> t = TQuadTree::Read(odd);
    EXPECT_TRUE(std::isnan(t->posX));
    EXPECT_EQ(t->Collide(0, 0, 0, 0, 1, 5), 1);  // NaN boxes compare with nothing: no miss
}

// ---------------------------------------------------------------------------------------
// Drawing

TEST_F(QuadTree, DrawsLeavesFilledOrAsCrossedOutlines) {
    TPhysics::SetDrawCoords(32, 32);  // world units are pixels
    // A root with one quarter present, placed at (20, 20): the leaf covers 20..30.
    Ref<TQuadTree> t = MakeRef<TQuadTree>();
    t->sizeX = t->sizeY = 20;
    Ref<TQuadTree> leaf = MakeRef<TQuadTree>();
    leaf->sizeX = leaf->sizeY = 10;
    t->childList.AddLast(leaf.Get());
    SetClsColor(0, 0, 0);
    SetColor(255, 0, 0);
    SetBlend(SOLIDBLEND);
    Cls();
    t->Draw(20, 20, 1);
    EXPECT_EQ(gfx->PixelAt(25, 25), 0xFF0000FFu);
    EXPECT_EQ(gfx->PixelAt(35, 35), 0x000000FFu);  // the absent quarter
    Cls();
    t->Draw(20, 20, 0);
    EXPECT_EQ(gfx->PixelAt(20, 27), 0xFF0000FFu);  // on the left side
    EXPECT_EQ(gfx->PixelAt(25, 20), 0xFF0000FFu);  // on the top side
    // Just below the top, a row meets the diagonals near both ends and nothing between.
    EXPECT_EQ(gfx->PixelAt(21, 21), 0xFF0000FFu);
    EXPECT_EQ(gfx->PixelAt(25, 21), 0x000000FFu);
    int32_t red = 0;
    for (int32_t x = 26; x < 30; ++x) red += gfx->PixelAt(x, 21) == 0xFF0000FFu ? 1 : 0;
    EXPECT_GE(red, 1);
    EXPECT_EQ(gfx->PixelAt(35, 35), 0x000000FFu);
}

}  // namespace
}  // namespace kin::gelsim::test
