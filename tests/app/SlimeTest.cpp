// The slime structure: the crossing test, the reach scan, adding and removing blobs, and
// what a frame draws (preview, removal marker, dropped blobs, the reported top).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "app/Game.h"
#include "app/Slime.h"
#include "gelsim/core/Physics.h"
#include "media/BuiltinMedia.h"
#include "platform/Graphics.h"
#include "platform/Input.h"
#include "platform/Random.h"
#include "platform/System.h"

using namespace kin;
using kin::gelsim::TAdvBody;
using kin::gelsim::TPhysics;
using slime::Counters;
using slime::SegmentsCross;
using slime::TSlime;

namespace {

// --- the crossing test ---------------------------------------------------------------

struct CrossCase {
    const char* name;
    float a[4];  // first segment
    float b[4];  // second segment
    int32_t expected;
};

class Crossing : public ::testing::TestWithParam<CrossCase> {};

TEST_P(Crossing, AnswersTheSameInEveryOrder) {
    const CrossCase& c = GetParam();
    const float* a = c.a;
    const float* b = c.b;
    EXPECT_EQ(SegmentsCross(a[0], a[1], a[2], a[3], b[0], b[1], b[2], b[3]), c.expected);
    EXPECT_EQ(SegmentsCross(a[2], a[3], a[0], a[1], b[0], b[1], b[2], b[3]), c.expected);
    EXPECT_EQ(SegmentsCross(b[0], b[1], b[2], b[3], a[0], a[1], a[2], a[3]), c.expected);
}

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Segments, Crossing,
    ::testing::Values(CrossCase{"X", {0, 0, 10, 10}, {0, 10, 10, 0}, 1},
                      CrossCase{"Disjoint", {0, 0, 10, 0}, {0, 5, 10, 5}, 0},
                      CrossCase{"WouldCrossIfLonger", {0, 0, 4, 4}, {0, 10, 10, 0}, 0},
                      CrossCase{"SharedEndPoint", {0, 0, 10, 0}, {10, 0, 20, 5}, 0},
                      CrossCase{"EndPointOnTheOther", {5, 0, 5, 10}, {0, 0, 10, 0}, 0},
                      CrossCase{"CollinearOverlapping", {0, 0, 10, 0}, {5, 0, 20, 0}, 0},
                      CrossCase{"NearlyParallel", {0, 0, 100, 0}, {0, 1, 100, 1.000001f}, 0},
                      CrossCase{"NotANumber", {0, 0, 10, 10}, {0, 10, NaN, 0}, 0}),
    [](const ::testing::TestParamInfo<CrossCase>& i) { return std::string(i.param.name); });

// --- a structure built by hand in a headless world ----------------------------------

class SlimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        slime::RegisterBuiltinMedia();
        std::string error;
        ASSERT_TRUE(InitServices(Backend::Headless, &error)) << error;
        slime::ResetGame();
        TPhysics::Create(1024.0f, 4096.0f, 0.1f, 0.0f, 1);
        gfx_ = CreateHeadlessGraphics(400, 400);
        SetGraphics(gfx_.Get());
        // World units equal pixels: zoom 1, world point (200, 200) at the centre.
        TPhysics::SetDrawZoom(1.0f);
        TPhysics::SetDrawCoords(200.0f, 200.0f);
        s_ = TSlime::Create("no-such-folder/slime.plb");
        s_->ab = TAdvBody::Create();  // start from an empty structure
        slime::wobblePhase = 0;
    }
    void TearDown() override {
        s_ = nullptr;
        SetGraphics(nullptr);
        gfx_ = nullptr;
        TPhysics::Free();
        slime::ResetGame();
        ShutdownServices();
    }
    TAdvBody& Body() { return *s_->ab; }
    int32_t Blob(float x, float y) { return Body().MassAdd(x, y, 10.0f, 10.0f, 1.0f, 1); }
    /// A strand between two blobs, assigned so both take part in the world.
    int32_t Strand(int32_t a, int32_t b) {
        const int32_t k = Body().ConAdd(a, b, -1.0f, 0.5f);
        Body().ConAssign(k);
        return k;
    }
    int32_t LiveMasses() {
        int32_t n = 0;
        for (int32_t i = 0; i <= Body().MassMaxIndex(); ++i) n += Body().MassExists(i);
        return n;
    }
    void PointerAt(float wx, float wy) {
        pointerX_ = wx;
        pointerY_ = wy;
    }
    /// One frame of the structure with the pointer where the test put it.
    float Draw() { return s_->Draw(pointerX_, pointerY_); }
    /// Draws one frame from a cleared canvas at a fixed wobble phase; returns the pixels.
    std::vector<uint8_t> DrawAt(int32_t phase) {
        SetClsColor(0, 0, 0);
        Cls();
        SetBlend(ALPHABLEND);
        slime::wobblePhase = phase;
        Draw();
        return gfx_->ReadPixels();
    }

    Ref<TGraphics> gfx_;
    Ref<TSlime> s_;
    float pointerX_ = -10000.0f;  // world point; far away unless a test moves it
    float pointerY_ = -10000.0f;
};

TEST_F(SlimeTest, CreationLoadsThePicturesAndPlacesTheReferenceMass) {
    Ref<TSlime> s = TSlime::Create(std::string(SOURCE_ROOT) + "/media/slime.plb");
    EXPECT_EQ(s->LoadProblem(), "");
    ASSERT_TRUE(s->ab->MassExists(0));
    EXPECT_EQ(s->ab->MassGetX(0), 482.0f);
    EXPECT_EQ(s->ab->MassGetY(0), 3906.0f);
    EXPECT_EQ(s->ab->MassGetVX(0), 0.0f);
    EXPECT_TRUE(s->ab->MassIsActive(0));  // loaded activated
    // Blobs and the marker pivot about their centres, strands about the middle of their left end.
    ASSERT_TRUE(s->blob && s->goo && s->ghostblob && s->ghostgoo && s->del);
    EXPECT_EQ(s->ghostblob->handle_x, 16.0f);
    EXPECT_EQ(s->del->handle_y, 17.0f);
    EXPECT_EQ(s->goo->handle_x, 0.0f);
    EXPECT_EQ(s->ghostgoo->handle_y, 16.0f);
}

TEST_F(SlimeTest, AMissingBodyFileLeavesAnEmptyStructureAndSaysWhy) {
    EXPECT_EQ(TSlime::Create("no-such-folder/slime.plb")->LoadProblem(), "no-such-folder/slime.plb is missing");
    EXPECT_EQ(s_->ab->MassMaxIndex(), -1);
    EXPECT_EQ(s_->Add(300.0f, 300.0f), 0);
    EXPECT_EQ(Draw(), 4096.0f);
    EXPECT_EQ(Counters().addSounds + Counters().removeSounds, 0);
}

// Removal reach: a click at this distance from the only blob removes it or not.
class RemovalReach : public SlimeTest, public ::testing::WithParamInterface<std::pair<float, bool>> {};

TEST_P(RemovalReach, RemovesTheNearestBlobWithinTenUnits) {
    const auto [distance, removed] = GetParam();
    const int32_t far = Blob(100.0f, 120.0f);  // 21+ units from every click below
    const int32_t a = Blob(100.0f, 100.0f);
    s_->Add(100.0f + distance * 0.6f, 100.0f - distance * 0.8f);
    EXPECT_EQ(Body().MassExists(a), removed ? 0 : 1);
    EXPECT_EQ(Body().MassExists(far), 1);
    EXPECT_EQ(Counters().removeSounds, removed ? 1 : 0);
    EXPECT_EQ(Counters().addSounds, 0);
    EXPECT_EQ(LiveMasses(), removed ? 1 : 2);
}

INSTANTIATE_TEST_SUITE_P(Distances, RemovalReach,
                         ::testing::Values(std::pair{0.0f, true}, std::pair{5.0f, true}, std::pair{10.0f, true},
                                           std::pair{10.5f, false}),
                         [](const ::testing::TestParamInfo<std::pair<float, bool>>& info) {
                             std::string name = "Distance" + std::to_string(info.param.first);  // "10.500000"
                             name.erase(name.find_last_not_of('0') + 1);
                             if (name.back() == '.') name.pop_back();
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

TEST_F(SlimeTest, ANewBlobTakesAStrandToEveryBlobInReachAtItsPresentLength) {
    const int32_t a = Blob(160.0f, 100.0f);  // 60 from the click
    const int32_t b = Blob(100.0f, 180.0f);  // 80 from the click
    const int32_t out = Blob(100.0f, 220.0f);  // 120: out of reach
    s_->Add(100.0f, 100.0f);
    ASSERT_EQ(Body().MassMaxIndex(), 3);
    const int32_t n = 3;
    EXPECT_EQ(Body().MassGetX(n), 100.0f);
    EXPECT_EQ(Body().MassGetY(n), 100.0f);
    EXPECT_EQ(Body().MassGetMass(n), 10.0f);
    EXPECT_EQ(Body().MassGetRadius(n), 10.0f);
    EXPECT_EQ(Body().MassGetFriction(n), 1.0f);
    EXPECT_EQ(Body().MassGetColGroup(n), 1);
    ASSERT_EQ(Body().ConMaxIndex(), 1);
    EXPECT_EQ(Body().ConGetMass1(0), n);
    EXPECT_EQ(Body().ConGetMass2(0), a);
    EXPECT_FLOAT_EQ(Body().ConGetRestLength(0), 60.0f);
    EXPECT_EQ(Body().ConGetMass2(1), b);
    EXPECT_FLOAT_EQ(Body().ConGetRestLength(1), 80.0f);
    EXPECT_EQ(Body().ConGetStiffness(1), 0.5f);
    // Assigned at once: the strands and all three blobs are in the world.
    EXPECT_TRUE(Body().MassIsActive(n));
    EXPECT_TRUE(Body().MassIsActive(a));
    EXPECT_TRUE(Body().MassIsActive(b));
    EXPECT_FALSE(Body().MassIsActive(out));
    EXPECT_EQ(Counters().addSounds, 1);
    EXPECT_EQ(Counters().removeSounds, 0);
}

TEST_F(SlimeTest, OneBlobInReachIsNotEnough) {
    Blob(160.0f, 100.0f);
    Blob(100.0f, 300.0f);
    s_->Add(100.0f, 100.0f);
    EXPECT_EQ(Body().MassMaxIndex(), 1);
    EXPECT_EQ(Counters().addSounds, 0);
}

TEST_F(SlimeTest, ABlobThirtyUnitsAwayBlocksAddingEvenWithSeveralInReach) {
    Blob(130.0f, 100.0f);  // nearest: 30
    Blob(100.0f, 170.0f);
    Blob(30.0f, 100.0f);
    Blob(100.0f, 30.0f);
    s_->Add(100.0f, 100.0f);
    EXPECT_EQ(s_->Reachable().size(), 3u);
    EXPECT_EQ(Body().MassMaxIndex(), 3);
    EXPECT_EQ(Counters().addSounds + Counters().removeSounds, 0);
}

// Strand reach: a blob at this offset from the scan point is reachable or not.
struct ReachCase {
    const char* name;
    float dx, dy;
    bool reachable;
};
class StrandReach : public SlimeTest, public ::testing::WithParamInterface<ReachCase> {};

TEST_P(StrandReach, OnlyStrictlyBetweenFiftyAndAHundred) {
    const ReachCase& c = GetParam();
    Blob(100.0f + c.dx, 100.0f + c.dy);
    s_->ReachScan(100.0f, 100.0f);
    EXPECT_EQ(s_->Reachable().size(), c.reachable ? 1u : 0u);
    EXPECT_EQ(s_->Nearest(), 0);
}

INSTANTIATE_TEST_SUITE_P(Offsets, StrandReach,
                         ::testing::Values(ReachCase{"Exactly50", 30.0f, 40.0f, false},
                                           ReachCase{"Just50_5", 50.5f, 0.0f, true},
                                           ReachCase{"Middle", 0.0f, -75.0f, true},
                                           ReachCase{"Just99_5", 0.0f, 99.5f, true},
                                           ReachCase{"Exactly100", -60.0f, 80.0f, false},
                                           ReachCase{"Near", 20.0f, 0.0f, false}),
                         [](const ::testing::TestParamInfo<ReachCase>& i) { return std::string(i.param.name); });

TEST_F(SlimeTest, ACrossingStrandBlocksButStrandsMeetingAtTheTargetOrAlongItDoNot) {
    // Click at (100, 100). Blob c at (170, 100) sits behind a strand p-q that crosses the
    // way to it; blob t at (100, 170) has a strand t-u meeting it at the end and a strand
    // v-t lying along the new strand's line (v at (100, 160) is itself 60 away).
    const int32_t p = Blob(140.0f, 40.0f), q = Blob(140.0f, 160.0f);
    const int32_t c = Blob(170.0f, 100.0f);
    const int32_t t = Blob(100.0f, 190.0f), u = Blob(30.0f, 200.0f), v = Blob(100.0f, 160.0f);
    Strand(p, q);
    Strand(t, u);
    Strand(v, t);
    s_->ReachScan(100.0f, 100.0f);
    const std::vector<int32_t>& r = s_->Reachable();
    EXPECT_EQ(std::count(r.begin(), r.end(), c), 0) << "strand p-q crosses the way to c";
    EXPECT_EQ(std::count(r.begin(), r.end(), t), 1);
    EXPECT_EQ(std::count(r.begin(), r.end(), v), 1);
    EXPECT_EQ(std::count(r.begin(), r.end(), q), 1);  // p-q ends at q: only touches
}

TEST_F(SlimeTest, TheReachListKeepsTheFirst512BlobsInReach) {
    // 600 blobs on a circle of radius 75 around the click (stacked, so no strands cross).
    for (int32_t i = 0; i < 600; ++i) {
        const float a = static_cast<float>(i) * 0.6f * 3.14159265f / 180.0f;
        Blob(500.0f + 75.0f * std::cos(a), 500.0f + 75.0f * std::sin(a));
    }
    s_->Add(500.0f, 500.0f);
    ASSERT_EQ(s_->Reachable().size(), 512u);
    EXPECT_EQ(s_->Reachable().front(), 0);
    EXPECT_EQ(s_->Reachable().back(), 511);
    EXPECT_EQ(Body().ConMaxIndex(), 511);
    EXPECT_EQ(Counters().addSounds, 1);
}

TEST_F(SlimeTest, NonFiniteClicksChangeNothing) {
    Blob(160.0f, 100.0f);
    Blob(100.0f, 180.0f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    s_->Add(nan, 100.0f);
    s_->Add(inf, -inf);
    EXPECT_EQ(Body().MassMaxIndex(), 1);
    EXPECT_EQ(LiveMasses(), 2);
    EXPECT_EQ(Counters().addSounds + Counters().removeSounds, 0);
}

// --- drawing ----------------------------------------------------------------------

TEST_F(SlimeTest, WithNoBlobTheTopIsTheGroundAndThePointerShows) {
    SetMouseVisible(0);
    EXPECT_EQ(Draw(), 4096.0f);
    EXPECT_EQ(MouseVisible(), 1);
}

TEST_F(SlimeTest, TheTopLiesTenUnitsAboveTheHighestActiveBlob) {
    const int32_t a = Blob(482.0f, 3906.0f), b = Blob(542.0f, 3950.0f), c = Blob(420.0f, 3990.0f);
    Strand(a, b);
    Strand(b, c);
    Blob(500.0f, 3000.0f);  // higher, but on no strand: not counted (and dropped)
    EXPECT_EQ(Draw(), 3896.0f);
    EXPECT_FALSE(Body().MassExists(3));
}

TEST_F(SlimeTest, ABlobLeftWithoutStrandsIsRemovedOnTheNextDraw) {
    const int32_t a = Blob(100, 100), b = Blob(160, 100), c = Blob(130, 160);
    Strand(a, b);
    const int32_t only = Strand(b, c);
    Strand(a, c);
    const int32_t lone = Blob(300, 300);
    Body().ConRemove(Strand(lone, a));  // lone's only strand
    EXPECT_TRUE(Body().MassExists(lone));
    Draw();
    EXPECT_FALSE(Body().MassExists(lone));
    EXPECT_EQ(LiveMasses(), 3);
    // A strand that is not assigned does not hold its blobs either.
    Body().ConFree(only);
    Body().ConFree(0);
    Draw();
    EXPECT_TRUE(Body().MassExists(a));  // a-c still assigned
    EXPECT_TRUE(Body().MassExists(c));
    EXPECT_FALSE(Body().MassExists(b));
}

// Long play adds and removes blobs all the time: after every frame the tables hold no more
// holes than live entries, and every blob and strand still knows its own index.
TEST_F(SlimeTest, FramesCloseTheHolesThatRemovedBlobsLeave) {
    const int32_t right = Blob(360, 300), left = Blob(300, 300), top = Blob(330, 250);  // blobs 0, 1, 2
    Strand(left, right);
    Strand(right, top);
    Strand(left, top);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int32_t compactions = 0, blobs = 3;
    for (int32_t click = 0; click < 600; ++click) {
        const int32_t n = Body().MassMaxIndex() + 1;
        const int32_t i = static_cast<int32_t>(rng() % static_cast<uint32_t>(n));
        if (!Body().MassExists(i)) continue;
        // Grow to about a dozen blobs, then mostly remove; clicks near a blob add.
        const bool remove = blobs > 12 || (blobs > 4 && rng() % 4 == 0);
        const float a = 6.2831853f * unit(rng), r = remove ? 9.0f * unit(rng) : 60.0f + 40.0f * unit(rng);
        s_->Add(Body().MassGetX(i) + r * std::cos(a), Body().MassGetY(i) + r * std::sin(a));
        const int32_t before = Body().MassMaxIndex() + Body().ConMaxIndex();
        Draw();
        compactions += Body().MassMaxIndex() + Body().ConMaxIndex() < before;
        int32_t strands = 0;
        blobs = 0;
        for (int32_t j = 0; j <= Body().MassMaxIndex(); ++j) {
            if (!Body().MassExists(j)) continue;
            ++blobs;
            ASSERT_EQ(Body().MassGet(j)->index, j);
        }
        for (int32_t k = 0; k <= Body().ConMaxIndex(); ++k) {
            if (!Body().ConExists(k)) continue;
            ++strands;
            ASSERT_EQ(Body().ConGet(k)->index, k);
            ASSERT_TRUE(Body().MassExists(Body().ConGetMass1(k)) && Body().MassExists(Body().ConGetMass2(k)));
        }
        ASSERT_LE(Body().MassMaxIndex() + 1 - blobs, blobs) << "click " << click;
        ASSERT_LE(Body().ConMaxIndex() + 1 - strands, strands) << "click " << click;
        if (blobs < 3) {  // removals can cascade: start a new triangle
            const int32_t a = Blob(300, 300), b = Blob(360, 300), c = Blob(330, 250);
            Strand(a, b);
            Strand(b, c);
            Strand(c, a);
            blobs += 3;
        }
    }
    EXPECT_GT(compactions, 5);
}

TEST_F(SlimeTest, EachBlobWobblesTheSameWayOnEveryFrame) {
    const int32_t a = Blob(100, 100), b = Blob(180, 100);
    Strand(a, b);
    slime::wobblePhase = 352;
    Draw();
    EXPECT_EQ(slime::wobblePhase, 0);  // 8 per frame, within one turn
    // The same phase draws the same picture, whatever random numbers were used in between.
    const std::vector<uint8_t> first = DrawAt(16);
    Rnd(0.0, 1.0);
    EXPECT_EQ(DrawAt(16), first);
    EXPECT_NE(DrawAt(96), first);
}

// Centre of the pixels that differ between two pictures, or (-1, -1) when none differ.
std::pair<float, float> DiffCentre(const std::vector<uint8_t>& p, const std::vector<uint8_t>& q, int32_t w) {
    double sx = 0, sy = 0;
    int64_t n = 0;
    for (size_t i = 0; i + 3 < p.size() && i + 3 < q.size(); i += 4) {
        if (p[i] == q[i] && p[i + 1] == q[i + 1] && p[i + 2] == q[i + 2]) continue;
        const int64_t k = static_cast<int64_t>(i / 4);
        sx += static_cast<double>(k % w);
        sy += static_cast<double>(k / w);
        ++n;
    }
    if (n == 0) return {-1.0f, -1.0f};
    return {static_cast<float>(sx / n), static_cast<float>(sy / n)};
}

TEST_F(SlimeTest, APointerNearABlobHidesTheSystemPointerAndMarksTheBlob) {
    const int32_t a = Blob(150, 180), b = Blob(230, 190);
    Strand(a, b);
    const std::vector<uint8_t> plain = DrawAt(0);
    EXPECT_EQ(MouseVisible(), 1);
    PointerAt(156.0f, 186.0f);  // 8.5 units from blob a
    const std::vector<uint8_t> marked = DrawAt(0);
    EXPECT_EQ(MouseVisible(), 0);
    const auto [cx, cy] = DiffCentre(plain, marked, 400);
    EXPECT_NEAR(cx, TPhysics::ScreenX(150, 180), 1.5f);
    EXPECT_NEAR(cy, TPhysics::ScreenY(150, 180), 1.5f);
}

TEST_F(SlimeTest, APreviewShowsWhereAClickWouldAddABlob) {
    const int32_t a = Blob(140, 200), b = Blob(260, 200);
    Strand(a, b);
    const std::vector<uint8_t> plain = DrawAt(0);
    PointerAt(200.0f, 280.0f);  // both blobs 100 away: out of reach, no preview
    EXPECT_EQ(DrawAt(0), plain);
    EXPECT_EQ(MouseVisible(), 1);
    PointerAt(200.0f, 140.0f);  // both blobs 85 away: preview with two ghost strands
    const std::vector<uint8_t> preview = DrawAt(0);
    EXPECT_EQ(MouseVisible(), 0);
    EXPECT_EQ(s_->Reachable().size(), 2u);
    const auto [cx, cy] = DiffCentre(plain, preview, 400);
    EXPECT_NEAR(cx, TPhysics::ScreenX(200, 140), 6.0f);  // symmetric ghost strands
    EXPECT_LT(cy, TPhysics::ScreenY(200, 200));          // above the real strand
    // Nothing was added by looking.
    EXPECT_EQ(Body().MassMaxIndex(), 1);
}

TEST_F(SlimeTest, NoMarkerForABlobDroppedInTheSameFrame) {
    const int32_t a = Blob(100, 100), b = Blob(170, 100);
    Strand(a, b);
    const int32_t lone = Blob(300, 300);
    PointerAt(302.0f, 300.0f);
    const std::vector<uint8_t> pic = DrawAt(0);
    EXPECT_FALSE(Body().MassExists(lone));
    // Nothing drawn around the world's origin, where a stale index would have put it.
    for (int32_t y = 0; y < 20; ++y)
        for (int32_t x = 0; x < 20; ++x) EXPECT_EQ(pic[static_cast<size_t>((y * 400 + x) * 4)], 0) << x << "," << y;
    EXPECT_EQ(DiffCentre(pic, DrawAt(0), 400).first, -1.0f);
}

}  // namespace
