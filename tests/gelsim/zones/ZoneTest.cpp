// Zones: creation rules, the world's zone table (activation, entry reuse, growth, a new
// world), attributes, vertex editing, the transform, tree rebuilding, copies, drawing.
#include "tests/support/ZoneFixture.h"

namespace kin::gelsim::test {
namespace {

using Zone = ZoneWorld;

// ---------------------------------------------------------------------------------------
// Creation and the zone table

TEST_F(Zone, CreateNeedsTwoWholeVertices) {
    for (const Floats& bad : {Floats{}, Floats{1, 2}, Floats{1, 2, 3}, Floats{1, 2, 3, 4, 5}}) {
        const int32_t before = world->zoneCount;
        EXPECT_EQ(TZone::Create(bad, TZone::LINE, 0, 1, 2), nullptr) << bad.size();
        EXPECT_EQ(world->zoneCount, before);
    }
    Floats v = {0, 0, 10, 0};
    Ref<TZone> z = TZone::Create(v, TZone::LINE, 1.5f, 3, 2);
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(z->GetName(), "Zone");
    EXPECT_EQ(z->VertCount(), 2);
    EXPECT_EQ(z->GetArea(), v);
    EXPECT_EQ(z->GetFriction(), 1.0f);
    EXPECT_EQ(z->GetColGroup(), 3);
    EXPECT_EQ(z->GetQTLevel(), 2);
    EXPECT_EQ(z->aIndex, 0);
    EXPECT_EQ(world->zoneArray[0].Get(), z.Get());
    ASSERT_NE(z->quadTree, nullptr);
    // The caller's array is the caller's: changing it later leaves the zone alone.
    v[2] = 99;
    EXPECT_EQ(z->VertGetX(1), 10.0f);
}

TEST_F(Zone, BareZoneDefaults) {
    TZone z;
    EXPECT_EQ(z.GetName(), "");
    EXPECT_EQ(z.VertCount(), 0);
    EXPECT_EQ(z.GetStyle(), TZone::LINE);
    EXPECT_EQ(z.GetBlend(), 1);
    EXPECT_EQ(z.GetColGroup(), -1);
    EXPECT_EQ(z.aIndex, -1);
    EXPECT_EQ(z.quadTree, nullptr);
    EXPECT_EQ(z.ColResponse, &TZone::ColDefault);
    float sx = 0, sy = 0;
    z.ImageGetScale(sx, sy);
    EXPECT_EQ(sx + sy, 2.0f);
    // Nothing to hit and nothing to draw, but no fault either.
    Ref<TMass> m = Disc(0, 0, 5);
    EXPECT_EQ(z.Collide(m.Get()), 0);
    EXPECT_EQ(z.Draw(), 0);
    EXPECT_EQ(z.DrawQuadTree(1), 0);
    z.CalcQuadTree(5);
    EXPECT_EQ(z.quadTree, nullptr);
}

TEST_F(Zone, AutomaticGroupsAreFreshAndSharedWithMasses) {
    const int32_t next = TPhysics::currentWorld->nextColGroup;
    Ref<TZone> a = TZone::Create(Square(0, 0, 1), TZone::LOOP, 0, -1, 1);
    Ref<TMass> m = TMass::Create(0, 0, 1, 1, 0, -1);
    Ref<TZone> b = TZone::Create(Square(0, 0, 1), TZone::LOOP, 0, -1, 1);
    EXPECT_EQ(a->GetColGroup(), next);
    EXPECT_EQ(m->GetColGroup(), next - 1);
    EXPECT_EQ(b->GetColGroup(), next - 2);
    b->SetColGroup(7);
    EXPECT_EQ(b->GetColGroup(), 7);
    b->SetColGroup(-1);
    EXPECT_EQ(b->GetColGroup(), next - 3);
}

TEST_F(Zone, EntriesAreReusedLastFreedFirstAndTheTableGrows) {
    std::vector<Ref<TZone>> zones;
    for (int32_t i = 0; i < 1024; ++i) zones.push_back(TZone::Create({0, 0, 1, 0}, TZone::LINE, 0, 1, 1));
    EXPECT_EQ(zones.back()->aIndex, 1023);
    EXPECT_EQ(world->zoneArray.size(), 2048u);
    EXPECT_EQ(world->zoneFree.size(), 2048u);
    zones[5]->DeActivate();
    zones[9]->Free();
    EXPECT_EQ(zones[5]->aIndex, -1);
    EXPECT_EQ(world->zoneArray[5], nullptr);
    EXPECT_EQ(zones[9]->IsActive(), 0);
    zones[9]->DeActivate();  // twice: nothing more
    EXPECT_EQ(world->zoneFreeCount, 2);
    Ref<TZone> c = TZone::Create({0, 0, 1, 0}, TZone::LINE, 0, 1, 1);
    EXPECT_EQ(c->aIndex, 9);
    zones[5]->Activate();
    EXPECT_EQ(zones[5]->aIndex, 5);
    zones[5]->Activate();  // already active: nothing
    EXPECT_EQ(world->zoneFreeCount, 0);
    EXPECT_EQ(world->zoneCount, 1024);
    // The table holds its own reference: a zone the program lets go of stays in the world.
    Ref<TZone> kept = c;
    const int32_t refs = c->RefCount();
    c = nullptr;
    EXPECT_EQ(kept->RefCount(), refs - 1);
    EXPECT_EQ(world->zoneArray[9].Get(), kept.Get());
}

TEST_F(Zone, ANewWorldForgetsZonesWhichCanJoinItAgain) {
    Ref<TZone> z = TZone::Create(Square(0, 0, 10), TZone::FILL, 0, 2, 3);
    Ref<TZone> other = TZone::Create(Square(0, 0, 10), TZone::FILL, 0, 2, 3);
    world = TPhysics::Create(1024, 4096, 0.1f, 0, 1);
    EXPECT_EQ(z->IsActive(), 0);
    Ref<TZone> fresh = TZone::Create(Square(0, 0, 10), TZone::FILL, 0, 2, 3);
    EXPECT_EQ(fresh->aIndex, 0);
    // The stale entry 0 belongs to the fresh zone now: giving it back leaves that alone.
    z->DeActivate();
    EXPECT_EQ(world->zoneArray[0].Get(), fresh.Get());
    other->Activate();  // an entry of the old world: the zone joins this one
    EXPECT_EQ(other->IsActive(), 1);
    EXPECT_EQ(world->zoneArray[static_cast<size_t>(other->aIndex)].Get(), other.Get());
    // Without a world there is no table to join.
    TPhysics::Free();
    world = nullptr;
    Ref<TZone> none = TZone::Create(Square(0, 0, 10), TZone::FILL, 0, 2, 3);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->aIndex, -1);
    world = TPhysics::Create(1024, 4096, 0.1f, 0, 1);
}

// ---------------------------------------------------------------------------------------
// Attributes

TEST_F(Zone, AttributesKeepTheirRanges) {
    Ref<TZone> z = TZone::Create({0, 0, 1, 0}, TZone::LINE, 0, 1, 1);
    for (auto [in, out] : {std::pair{1.5f, 1.0f}, {-1.0f, 0.0f}, {0.25f, 0.25f}, {kNaN, 0.0f}}) {
        z->SetFriction(in);
        EXPECT_EQ(z->GetFriction(), out) << in;
    }
    z->SetColor(300, -5, 128);
    EXPECT_EQ(z->red, 1.0f);
    EXPECT_EQ(z->green, 0.0f);
    EXPECT_EQ(z->blue, 128.0f / 255.0f);
    int32_t r = 0, g = 0, b = 0;
    for (int32_t c = 0; c <= 255; ++c) {
        z->SetColor(c, 255 - c, c);
        z->GetColor(r, g, b);
        ASSERT_EQ(r * 1000000 + g * 1000 + b, c * 1000000 + (255 - c) * 1000 + c);
    }
    z->red = kNaN;  // as a damaged file may leave it: read back as 0, not undefined
    z->GetColor(r, g, b);
    EXPECT_EQ(r, 0);
    z->SetAlpha(3.0f);
    EXPECT_EQ(z->GetAlpha(), 3.0f);
    z->SetBlend(4);
    EXPECT_EQ(z->GetBlend(), 4);
    z->SetName("ground");
    EXPECT_EQ(z->GetName(), "ground");
    z->ImageSetScale(2, 3);
    float sx = 0, sy = 0;
    z->ImageGetScale(sx, sy);
    EXPECT_EQ(sx * 10 + sy, 23.0f);
    Ref<TImage> img = SolidImage(2, 2);
    z->ImageSet(img.Get());
    EXPECT_EQ(z->ImageGet(), img.Get());
    z->ImageSet(nullptr);
    EXPECT_EQ(z->ImageGet(), nullptr);
}

// ---------------------------------------------------------------------------------------
// Vertices

TEST_F(Zone, VertexEditingKeepsTwoVerticesAndRebuildsTheTree) {
    Ref<TZone> z = TZone::Create({0, 0, 10, 0}, TZone::LINE, 0, 1, 3);
    z->SetScale(2, 1);
    const Ref<TQuadTree> tree = z->quadTree;  // held, so a new tree cannot take its address
    // Removals never go below two vertices.
    z->VertRemoveLast();
    z->VertRemoveFirst();
    z->VertRemove(0);
    EXPECT_EQ(z->VertCount(), 2);
    EXPECT_EQ(z->quadTree, tree);
    // Out-of-range indices do nothing.
    z->VertInsert(3, 1, 1);
    z->VertInsert(-1, 1, 1);
    z->VertPosition(2, 1, 1);
    z->VertPosition(-1, 1, 1);
    EXPECT_EQ(z->VertCount(), 2);
    EXPECT_EQ(z->quadTree, tree);
    // Additions, in local units, with area following through the transform.
    z->VertInsert(2, 10, 10);  // VertCount(): appends
    z->VertAddFirst(-5, 0);
    z->VertAddLast(0, 10);
    z->VertInsert(1, -2, -2);
    EXPECT_EQ(z->origArea, (Floats{-5, 0, -2, -2, 0, 0, 10, 0, 10, 10, 0, 10}));
    EXPECT_NE(z->quadTree, tree);
    const Floats area = z->GetArea();
    ASSERT_EQ(area.size(), 12u);
    for (size_t i = 0; i < 12; i += 2) {
        EXPECT_NEAR(area[i], 2 * z->origArea[i], 1e-4);
        EXPECT_NEAR(area[i + 1], z->origArea[i + 1], 1e-4);
    }
    z->VertPosition(0, 1, 1);
    float x = 0, y = 0;
    z->VertGetPosition(0, x, y);
    EXPECT_EQ(x + y, 2.0f);
    EXPECT_NEAR(z->GetArea()[0], 2.0f, 1e-5);
    x = y = 77;
    z->VertGetPosition(6, x, y);
    EXPECT_EQ(x + y, 154.0f);
    EXPECT_EQ(z->VertGetX(-1), 0.0f);
    EXPECT_EQ(z->VertGetY(6), 0.0f);
    z->VertRemove(1);
    z->VertRemoveFirst();
    z->VertRemoveLast();
    EXPECT_EQ(z->origArea, (Floats{0, 0, 10, 0, 10, 10}));
    EXPECT_EQ(z->GetArea().size(), 6u);
}

// ---------------------------------------------------------------------------------------
// Transform: scale, then rotation; the offset only at contact and drawing.

TEST_F(Zone, ScaleComesBeforeRotationAndTheOffsetIsNeverApplied) {
    Ref<TZone> z = TZone::Create({1, 1, 1, 0}, TZone::LINE, 0, 1, 2);
    z->SetScale(2, 1);
    Floats a = z->GetArea();
    EXPECT_NEAR(a[0], 2, 1e-6);
    EXPECT_NEAR(a[1], 1, 1e-6);
    z->SetScale(1, 1);
    z->Rotate(90);
    a = z->GetArea();
    EXPECT_NEAR(a[2], 0, 1e-6);  // (1, 0) turns to (0, 1): toward +y
    EXPECT_NEAR(a[3], 1, 1e-6);
    z->Turn(-45);
    EXPECT_EQ(z->GetRotation(), 45.0f);
    z->SetScale(2, 1);  // (1, 1) -> (2, 1), then turned by 45 degrees
    a = z->GetArea();
    EXPECT_NEAR(a[0], std::sqrt(5.0f) * std::cos((45 + 26.565051f) * 3.14159265f / 180), 1e-5);
    EXPECT_NEAR(a[1], std::sqrt(5.0f) * std::sin((45 + 26.565051f) * 3.14159265f / 180), 1e-5);
    float sx = 0, sy = 0;
    z->GetScale(sx, sy);
    EXPECT_EQ(sx * 10 + sy, 21.0f);
    // Moving touches neither area nor the tree.
    const Ref<TQuadTree> tree = z->quadTree;
    z->Position(100, 200);
    z->Move(1, 2);
    EXPECT_EQ(z->GetArea(), a);
    EXPECT_EQ(z->quadTree, tree);
    EXPECT_EQ(z->GetX(), 101.0f);
    EXPECT_EQ(z->GetPositionY(), 202.0f);
    EXPECT_EQ(z->GetPositionX(), z->GetX());
    EXPECT_EQ(z->GetY(), z->GetPositionY());
    // The tree is built over area in local units: its root is area's box enlarged by 1.
    float minX = a[0], maxX = a[0];
    for (size_t i = 0; i < a.size(); i += 2) {
        minX = std::min(minX, a[i]);
        maxX = std::max(maxX, a[i]);
    }
    EXPECT_EQ(tree->posX, minX - 1);
    EXPECT_EQ(tree->sizeX, (maxX - minX) + 2);
}

TEST_F(Zone, DegenerateTransformsGiveNoNaNAndNoFault) {
    Ref<TZone> z = TZone::Create(Square(0, 0, 10), TZone::FILL, 0, 1, 4);
    z->SetScale(0, 0);  // every vertex at the origin
    for (float v : z->GetArea()) EXPECT_EQ(v, 0.0f);
    ASSERT_NE(z->quadTree, nullptr);
    Ref<TMass> m = Disc(0.5f, 0.5f, 1);
    z->Collide(m.Get());
    EXPECT_TRUE(std::isfinite(m->posX) && std::isfinite(m->posY));
    z->SetScale(kNaN, 1);
    z->Rotate(kInf);
    m->Position(0.5f, 0.5f);
    z->Collide(m.Get());
    EXPECT_EQ(m->posX, 0.5f);  // no measurable outline, no contact
    z->Draw();
    z->DrawQuadTree(0);
    Ref<TZone> dup = TZone::Create({3, 3, 3, 3, 3, 3}, TZone::HOLE, 0, 1, 6);  // all vertices equal
    m->Position(3, 3);
    dup->Collide(m.Get());  // on the outline: pushed by nothing
    EXPECT_TRUE(std::isfinite(m->posX) && std::isfinite(m->posY));
}

// ---------------------------------------------------------------------------------------
// Copies

TEST_F(Zone, CopiesShareTheTreeUntilOneRebuilds) {
    Ref<TZone> z = TZone::Create(Square(-50, -5, 100), TZone::FILL, 0.5f, 4, 5);
    z->SetName("ground");
    z->SetColor(10, 20, 30);
    z->SetAlpha(0.5f);
    z->SetBlend(3);
    z->Position(512, 4096);
    z->ImageSetScale(2, 2);
    z->OverrideCollision(RecordResponse);
    Ref<TImage> img = SolidImage(2, 2);
    z->ImageSet(img.Get());
    Ref<TZone> c = z->Copy();
    EXPECT_NE(c->aIndex, z->aIndex);
    EXPECT_EQ(c->IsActive(), 1);
    EXPECT_EQ(c->GetName(), "ground");
    EXPECT_EQ(c->origArea, z->origArea);
    EXPECT_EQ(c->area, z->area);
    EXPECT_EQ(c->quadTree.Get(), z->quadTree.Get());
    EXPECT_EQ(c->ImageGet(), img.Get());
    EXPECT_EQ(c->ColResponse, &RecordResponse);
    EXPECT_EQ(c->GetColGroup(), 4);
    EXPECT_EQ(c->GetX(), 512.0f);
    int32_t r, g, b;
    c->GetColor(r, g, b);
    EXPECT_EQ(r + g + b, 60);
    EXPECT_EQ(c->GetAlpha(), 0.5f);
    EXPECT_EQ(c->GetBlend(), 3);
    EXPECT_EQ(c->GetQTLevel(), 5);

    // The game's walls: copies moved and turned; the source keeps its tree and outline.
    const Ref<TQuadTree> sourceTree = z->quadTree;
    const Floats sourceArea = z->area;
    c->Position(1024, 2096);
    c->Rotate(-70);
    EXPECT_NE(c->quadTree.Get(), sourceTree.Get());
    EXPECT_EQ(z->quadTree.Get(), sourceTree.Get());
    EXPECT_EQ(z->area, sourceArea);
    // Moved only: the shared tree serves both, each at its own position.
    Ref<TZone> moved = z->Copy();
    moved->Position(0, 0);
    moved->OverrideCollision(nullptr);
    Ref<TMass> m = Disc(10, -6, 2, 0, 1);
    moved->Collide(m.Get());
    EXPECT_EQ(m->posY, -7.0f);  // pushed up out of the copy at the origin
    EXPECT_EQ(moved->quadTree.Get(), sourceTree.Get());
    gRecorded = {};
    m->Position(522, 4090);
    z->Collide(m.Get());
    EXPECT_EQ(gRecorded.calls, 1);  // the source at (512, 4096) is hit there too
    EXPECT_NEAR(gRecorded.depth, 1.0f, 1e-4);
}

}  // namespace
}  // namespace kin::gelsim::test
