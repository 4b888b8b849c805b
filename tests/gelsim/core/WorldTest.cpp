#include <cmath>

#include "tests/support/WorldFixture.h"

// Parameterised cases are named by their row in the table (CTest names stay readable).
const auto kRowName = [](const auto& info) { return "row" + std::to_string(info.index); };

namespace kin::gelsim::test {
namespace {

using World = WorldFixture;

TEST_F(World, CreateSetsParametersAndFreshTables) {
    EXPECT_EQ(TPhysics::currentWorld.Get(), world.Get());
    EXPECT_EQ(world->boundsMinX, 0.0f);
    EXPECT_EQ(world->boundsMaxY, 4096.0f);
    EXPECT_EQ(world->gravityY, 0.1f);
    EXPECT_EQ(world->gravityX, 0.0f);
    EXPECT_EQ(world->i, 1);
    EXPECT_EQ(world->friction, 1.0f);
    EXPECT_EQ(world->gridon, 0);
    EXPECT_EQ(world->gridsize, 8);
    EXPECT_EQ(world->ratiox, 8.0f / 1024.0f);
    EXPECT_EQ(world->ratioy, 8.0f / 4096.0f);
    for (auto* len : {&world->massArray, &world->massArray}) EXPECT_EQ(len->size(), 1024u);
    EXPECT_EQ(world->conArray.size(), 1024u);
    EXPECT_EQ(world->zoneArray.size(), 1024u);
    EXPECT_EQ(world->bodyArray.size(), 1024u);
    EXPECT_EQ(world->massCount + world->conCount + world->zoneCount + world->bodyCount, 0);
    EXPECT_TRUE(world->Cell(127, 127).IsEmpty());
}

TEST_F(World, FreeClearsParametersAndTablesButKeepsCounts) {
    Active(100, 100);
    TPhysics::Free();
    EXPECT_EQ(TPhysics::currentWorld.Get(), nullptr);
    EXPECT_EQ(world->boundsMaxX, 0.0f);
    EXPECT_EQ(world->gravityY, 0.0f);
    EXPECT_EQ(world->friction, 0.0f);
    EXPECT_EQ(world->i, 0);
    EXPECT_TRUE(world->massArray.empty());
    EXPECT_EQ(world->massCount, 1);
    // The mass leaves cleanly without a world, and out of every cell.
    held[0]->SubRef();
    EXPECT_EQ(held[0]->IsActive(), 0);
    EXPECT_EQ(held[0]->gridlink.List(), nullptr);
}

TEST_F(World, FunctionsWithoutWorldDoNothingAndReturnFiniteZero) {
    TPhysics::Free();
    EXPECT_EQ(TPhysics::Update(), 0);
    EXPECT_EQ(TPhysics::SetGravity(1, 2), 0);
    EXPECT_EQ(TPhysics::SetGridSize(50), 0);
    EXPECT_EQ(TPhysics::SetDrawZoom(3), 0);
    EXPECT_EQ(TPhysics::SimX(10, 20), 0.0f);
    EXPECT_EQ(TPhysics::ScreenY(10, 20), 0.0f);
    EXPECT_EQ(TPhysics::MouseX(), 0.0f);
    EXPECT_EQ(TPhysics::DrawLine(0, 0, 1, 1), 0);
    float a = 7, b = 7, c = 7, d = 7;
    TPhysics::GetBounds(a, b, c, d);
    EXPECT_EQ(a + b + c + d, 28.0f);
    EXPECT_EQ(TPhysics::TakeBodyId(world.Get()), -1);
    Ref<TMass> m = TMass::Create(0, 0, 1, 1, 0, 1);
    m->AddRef();  // counted, but there is no table to enter
    EXPECT_EQ(m->aIndex, -1);
    m->SubRef();
    EXPECT_EQ(m->refCounter, 0);
}

TEST_F(World, GridSizeIsClampedAndRatiosFollowTheBox) {
    struct Case { int32_t in, out; };
    for (Case c : {Case{4, 8}, Case{-3, 8}, Case{8, 8}, Case{64, 64}, Case{128, 128}, Case{500, 128}}) {
        TPhysics::SetGridSize(c.in);
        EXPECT_EQ(world->gridsize, c.out) << c.in;
        EXPECT_EQ(world->ratiox, static_cast<float>(c.out) / 1024.0f);
        EXPECT_EQ(world->ratioy, static_cast<float>(c.out) / 4096.0f);
    }
}

TEST_F(World, BoundsAreOrderedAndKeepTheOldRatios) {
    TPhysics::SetGridSize(16);
    TPhysics::SetBounds(1024, 4096, 0, 0);
    float a, b, c, d;
    TPhysics::GetBounds(a, b, c, d);
    EXPECT_EQ(a, 0.0f);
    EXPECT_EQ(b, 0.0f);
    EXPECT_EQ(c, 1024.0f);
    EXPECT_EQ(d, 4096.0f);
    TPhysics::SetBounds(-50, 10, 2048, 20);
    EXPECT_EQ(world->ratiox, 16.0f / 1024.0f);
    EXPECT_EQ(world->boundsMinX, -50.0f);
}

TEST_F(World, EmptyOrInfiniteBoxKeepsAUsableGrid) {
    TPhysics::SetBounds(300, 300, 300, 300);
    TPhysics::SetGridSize(16);
    EXPECT_EQ(world->ratiox, 0.0f);
    EXPECT_EQ(world->ratioy, 0.0f);
    TPhysics::SetBounds(-INFINITY, 0, INFINITY, NAN);
    TPhysics::SetGridSize(16);
    EXPECT_EQ(world->ratiox, 0.0f);
    EXPECT_EQ(world->ratioy, 0.0f);
    Ref<TPhysics> zero = TPhysics::Create(0, 0, 0.1f, 0, 1);
    EXPECT_EQ(zero->ratiox, 0.0f);
    // Masses still meet through the grid: all of them share the first cell.
    TPhysics::SetBounds(-1e6f, -1e6f, 1e6f, 1e6f);
    TPhysics::UseShiftedGrid(1);
    TPhysics::SetGravity(0, 0);
    Ref<TMass> a = Active(10, 10), b = Active(18, 10);
    TPhysics::Update();
    EXPECT_EQ(a->gridx, 0);
    EXPECT_NEAR(b->posX - a->posX, 10.0f, 1e-4f);
    world = zero;
}

TEST_F(World, FreeFallGainsGravityEachTick) {
    Ref<TMass> m = Active(500, 100);
    const float start = m->posY;
    float prev = start;
    for (float expect : {0.1f, 0.2f, 0.3f, 0.4f}) {
        TPhysics::Update();
        EXPECT_NEAR(m->posY - prev, expect, 1e-4f);
        prev = m->posY;
    }
}

TEST_F(World, InactiveMassIsNeverSimulated) {
    Ref<TMass> idle = TMass::Create(500, 100, 1, 5, 0, -1);
    Ref<TMass> other = Active(503, 100);
    for (int k = 0; k < 20; ++k) TPhysics::Update();
    EXPECT_EQ(idle->posY, 100.0f);
    EXPECT_EQ(idle->posX, 500.0f);
}

struct WallCase {
    float vy;       // motion along the wall per tick
    float expectV;  // remaining after the contact
};
class WallFriction : public WorldFixture, public ::testing::WithParamInterface<WallCase> {};

TEST_P(WallFriction, ContactOfDepthTwoBrakesMotionAlongTheWall) {
    TPhysics::SetGravity(0, 0);
    // Rim 2 units past the left wall: centre at r - 2 after integration.
    Ref<TMass> m = Active(5.0f - 2.0f, 2000.0f, 1.0f, 5.0f, 1.0f);
    m->oldPosY = m->posY - GetParam().vy;
    const float yBefore = m->posY + GetParam().vy;  // where integration puts it
    TPhysics::Update();
    EXPECT_EQ(m->posX, 5.0f);
    EXPECT_NEAR(m->posY, yBefore, 1e-4f);
    EXPECT_NEAR(m->posY - m->oldPosY, GetParam().expectV, 1e-4f);
    ASSERT_EQ(TColEvent::QueueCount(), 1);
    TColEvent* e = TColEvent::Poll();
    EXPECT_EQ(e->GetID(), TColEvent::MASS_BOUNDS);
    EXPECT_EQ(e->GetForce(), 2.0f);
    EXPECT_EQ(e->GetX(), 0.0f);
    EXPECT_NEAR(e->GetY(), yBefore, 1e-4f);
    EXPECT_EQ(TColEvent::Seek(m.Get(), nullptr), e);
}
INSTANTIATE_TEST_SUITE_P(Examples, WallFriction,
                         ::testing::Values(WallCase{0.5f, 0.0f}, WallCase{3.0f, 1.0f}, WallCase{-3.0f, -1.0f},
                                           WallCase{0.0f, 0.0f}),
                         kRowName);

TEST_F(World, EachWallPushesBackWithItsOwnEvent) {
    TPhysics::SetGravity(0, 0);
    struct Case { float x, y, ex, ey, cx, cy; };
    for (Case c : {Case{1024, 500, 1019, 500, 1024, 500}, Case{500, 0, 500, 5, 500, 0},
                   Case{500, 4100, 500, 4091, 500, 4096}}) {
        Ref<TMass> m = Active(c.x, c.y);
        TPhysics::Update();
        EXPECT_EQ(m->posX, c.ex);
        EXPECT_EQ(m->posY, c.ey);
        TColEvent* e = TColEvent::Seek(m.Get(), world.Get());
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->GetX(), c.cx);
        EXPECT_EQ(e->GetY(), c.cy);
        m->SubRef();
    }
}

TEST_F(World, FrozenMassStaysButIsBoundedAndCollides) {
    Ref<TMass> f = Active(2, 500);
    f->Freeze();
    Ref<TMass> g = Active(10, 500);
    TPhysics::Update();
    EXPECT_EQ(f->posY, 500.0f);  // not integrated
    EXPECT_EQ(f->posX, 5.0f);    // held inside the box
    EXPECT_NEAR(g->posX, 15.0f, 0.01f);  // pushed by the frozen mass, which did not move
    EXPECT_NE(TColEvent::Seek(f.Get(), nullptr), nullptr);
}

TEST_F(World, GroupZeroMeetsOnlyTheBox) {
    TPhysics::SetGravity(0, 0);
    Ref<TMass> a = Active(100, 100, 1, 5, 0, 0);
    Ref<TMass> b = Active(104, 100);
    TPhysics::Update();
    EXPECT_EQ(a->posX, 100.0f);
    EXPECT_EQ(b->posX, 104.0f);
    EXPECT_EQ(TColEvent::QueueCount(), 0);
}

TEST_F(World, EqualGroupsPassThroughEachOther) {
    TPhysics::SetGravity(0, 0);
    for (int32_t grid : {0, 1}) {
        TPhysics::UseShiftedGrid(grid);
        Ref<TMass> a = Active(100, 100, 1, 5, 0, 7), b = Active(104, 100, 1, 5, 0, 7);
        TPhysics::Update();
        EXPECT_EQ(b->posX - a->posX, 4.0f);
        a->SubRef();
        b->SubRef();
    }
}

TEST_F(World, NoPassesMeansIntegrationOnly) {
    TPhysics::SetIterations(0);
    Ref<TMass> m = Active(-50, 100);
    TPhysics::Update();
    EXPECT_LT(m->posX, 0.0f);
    EXPECT_EQ(TColEvent::QueueCount(), 0);
}

TEST_F(World, PileSettlesWithoutOverlapWithAndWithoutTheGrid) {
    for (int32_t grid : {0, 1}) {
        TPhysics::Create(1024, 4096, 0.1f, 0, 4);
        TPhysics::UseShiftedGrid(grid);
        TPhysics::SetGridSize(128);
        std::vector<Ref<TMass>> ms;
        for (int k = 0; k < 60; ++k) {
            ms.push_back(TMass::Create(400 + (k % 10) * 11.0f, 3900 + (k / 10) * 11.0f, 1, 5, 0.3f, -1));
            ms.back()->AddRef();
        }
        for (int s = 0; s < 400; ++s) TPhysics::Update();
        float worst = 0;
        for (size_t i = 0; i < ms.size(); ++i)
            for (size_t j = i + 1; j < ms.size(); ++j)
                worst = std::max(worst, 10.0f - std::hypot(ms[i]->posX - ms[j]->posX, ms[i]->posY - ms[j]->posY));
        EXPECT_LT(worst, 1.0f) << "grid " << grid;
        for (auto& m : ms) EXPECT_LE(m->posY, 4091.5f);
    }
}

TEST_F(World, TablesReuseEntriesLastInFirstOutAndDouble) {
    std::vector<Ref<TMass>> ms;
    for (int k = 0; k < 1023; ++k) ms.push_back(Active(10, 10, 1, 1, 0, 0));
    EXPECT_EQ(world->massArray.size(), 1024u);
    ms.push_back(Active(10, 10, 1, 1, 0, 0));  // hands out entry 1023
    EXPECT_EQ(world->massArray.size(), 2048u);
    EXPECT_EQ(world->massFree.size(), 2048u);
    EXPECT_EQ(world->massArray[500].Get(), ms[500].Get());
    ms[3]->SubRef();
    ms[7]->SubRef();
    EXPECT_EQ(world->massArray[3].Get(), nullptr);
    Ref<TMass> a = Active(1, 1), b = Active(1, 1), c = Active(1, 1);
    EXPECT_EQ(a->aIndex, 7);
    EXPECT_EQ(b->aIndex, 3);
    EXPECT_EQ(c->aIndex, 1024);
}

TEST_F(World, BodyRegistryHandsOutAndReusesIds) {
    Ref<TBody> b1 = MakeRef<TBody>(), b2 = MakeRef<TBody>(), b3 = MakeRef<TBody>();
    EXPECT_EQ(TPhysics::TakeBodyId(b1.Get()), 0);
    EXPECT_EQ(TPhysics::TakeBodyId(b2.Get()), 1);
    TPhysics::GiveBodyId(0, b2.Get());  // wrong owner: ignored
    EXPECT_EQ(TPhysics::GetBody(0), b1.Get());
    TPhysics::GiveBodyId(0, b1.Get());
    EXPECT_EQ(TPhysics::GetBody(0), nullptr);
    EXPECT_EQ(TPhysics::TakeBodyId(b3.Get()), 0);
    EXPECT_EQ(TPhysics::GetBody(2), nullptr);
    EXPECT_EQ(TPhysics::GetBody(-1), nullptr);
}

TEST(ColGroups, AutomaticGroupsAreFreshAndNegative) {
    const Ref<TPhysics> w = TPhysics::Create(100, 100, 0, 0, 1);
    Ref<TMass> a = TMass::Create(0, 0, 1, 1, 0, -1), b = TMass::Create(0, 0, 1, 1, 0, 5);
    b->SetColGroup(-1);
    EXPECT_LE(a->GetColGroup(), -2);
    EXPECT_EQ(b->GetColGroup(), a->GetColGroup() - 1);
    EXPECT_EQ(w->nextColGroup, b->GetColGroup() - 1);
    b->SetColGroup(5);
    EXPECT_EQ(b->GetColGroup(), 5);
}

// gridsize is a public field: a value above the largest grid written into it straight must
// not lead the pair search past the last cell (the sanitizer build reads the cells).
TEST(Grid, ASizeWrittenStraightIntoTheFieldKeepsTheSearchInsideTheCells) {
    const Ref<TPhysics> w = TPhysics::Create(1024, 1024, 0, 0, 1);
    TPhysics::UseShiftedGrid(1);
    TPhysics::SetGridSize(128);
    w->gridsize = 500;
    Ref<TMass> a = TMass::Create(1015, 1015, 1, 5, 0, -1), b = TMass::Create(1017, 1019, 1, 5, 0, -1);
    a->AddRef();
    b->AddRef();
    for (int32_t k = 0; k < 3; ++k) TPhysics::Update();
    const float dx = a->posX - b->posX, dy = a->posY - b->posY;
    EXPECT_GE(dx * dx + dy * dy, 9.9f * 9.9f);  // they met and were pushed apart
    TPhysics::Free();
}

}  // namespace
}  // namespace kin::gelsim::test
