// The tower scene on the headless backend: set-up, the camera, the height lines and
// numbers, the ceiling, clicks, the answers to contacts, and missing or damaged data files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "app/Game.h"
#include "app/Scene.h"
#include "gelsim/bodies/BodyFile.h"
#include "gelsim/core/Physics.h"
#include "gelsim/core/ColEvent.h"
#include "platform/Hook.h"
#include "platform/detail/HeadlessControl.h"
#include "tests/app/GameFixture.h"

using namespace kin;
using kin::gelsim::TAdvBody;
using kin::gelsim::TColEvent;
using kin::gelsim::TMass;
using kin::gelsim::TPhysics;
using kin::gelsim::TZoneBase;
using slime::Counters;
using slime::Game;
using slime::Scene;
using slime::TSlime;

namespace {

constexpr float W = 450.0f, H = 600.0f;      // the headless window's canvas
constexpr float HALF_VIEW = 300.0f * 1024.0f / 450.0f;  // world units from centre to bottom edge

class SceneTest : public slime::test::GameFixture {
protected:
    TAdvBody& Body() { return *Scene().slime->ab; }
    /// Moves the structure (at rest) so its reference mass is at (x, y); its top is 62.5 above.
    void PlaceStructure(float x, float y) { Body().Position(x, y); }
    void Pointer(float x, float y) {
        Game().pointerX = x;
        Game().pointerY = y;
    }
    /// A click on the canvas pixel where blob i is drawn.
    void HandleClickAt(int32_t i) {
        const float x = Body().MassGetX(i), y = Body().MassGetY(i);
        slime::HandleClick(TPhysics::ScreenX(x, y), TPhysics::ScreenY(x, y));
    }
    uint32_t Pixel(int32_t x, int32_t y) { return Canvas()->PixelAt(x, y); }
    /// True when some pixel of the box has exactly this colour (0xRRGGBB).
    bool BoxHas(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t rgb) {
        for (int32_t y = y0; y <= y1; ++y)
            for (int32_t x = x0; x <= x1; ++x)
                if ((Pixel(x, y) >> 8) == rgb) return true;
        return false;
    }
};

TEST_F(SceneTest, SetUpBuildsTheSceneInItsStartingState) {
    const slime::SceneState& s = Scene();
    EXPECT_EQ(s.problems, std::vector<std::string>{});
    ASSERT_TRUE(s.slime);
    EXPECT_EQ(Body().MassMaxIndex(), 4);
    EXPECT_EQ(Body().MassGetX(0), 482.0f);
    EXPECT_EQ(Body().MassGetY(0), 3906.0f);
    EXPECT_EQ(s.viewY, 4096.0f);
    EXPECT_EQ(s.topRecord, 4096.0f);
    EXPECT_TRUE(s.hudFont);
    ASSERT_TRUE(s.logo);
    EXPECT_EQ(s.logo->width, 160);
    EXPECT_EQ(HookCount(TColEvent::EventHook()), 1);
    // The ground, and two copies turned into the side walls; all three collide.
    const auto& z = s.zones;
    ASSERT_TRUE(z[0] && z[1] && z[2]);
    EXPECT_EQ(z[0]->GetPositionX(), 512.0f);
    EXPECT_EQ(z[0]->GetPositionY(), 4096.0f);
    EXPECT_EQ(z[1]->GetPositionX(), 1024.0f);
    EXPECT_EQ(z[1]->GetPositionY(), 2096.0f);
    EXPECT_EQ(z[1]->GetRotation(), -70.0f);
    EXPECT_EQ(z[2]->GetPositionX(), 0.0f);
    EXPECT_EQ(z[2]->GetPositionY(), -904.0f);
    EXPECT_EQ(z[2]->GetRotation(), 70.0f);
    for (const auto& zone : z) EXPECT_GE(zone->aIndex, 0);
}

TEST_F(SceneTest, TheFirstFrameFillsTheWidthAndSitsOnTheGroundLine) {
    Pointer(200.0f, 300.0f);
    Frame();
    Screenshot("first-frame");
    EXPECT_FLOAT_EQ(TPhysics::currentWorld->drawScale, W / 1024.0f);
    EXPECT_NEAR(TPhysics::ScreenX(0.0f, 4000.0f), 0.0f, 1e-3f);
    EXPECT_NEAR(TPhysics::ScreenX(1024.0f, 4000.0f), W, 1e-3f);
    EXPECT_NEAR(TPhysics::ScreenY(0.0f, 4096.0f), H, 1e-2f);  // ground line on the bottom edge
    EXPECT_EQ(Scene().topRecord, 3843.5f);                      // highest blob at 3853.5
    EXPECT_EQ(Scene().viewY, 3843.5f);                          // the camera keeps the top in view
    EXPECT_EQ(Pixel(225, 100), 0x7F7FFFFFu);                    // sky
}

// Camera: one drawn frame with the pointer at this height, from this view centre, with the
// structure's top at 1937.5 (high enough that the ground clamp stays out of the way).
struct ScrollCase {
    const char* name;
    float pointerY, viewY, expected;
};
class Scrolling : public SceneTest, public ::testing::WithParamInterface<ScrollCase> {};

TEST_P(Scrolling, PointerNearAnEdgeMovesTheViewByFiveUnits) {
    const ScrollCase& c = GetParam();
    PlaceStructure(482.0f, 2000.0f);
    Pointer(200.0f, c.pointerY);
    Scene().viewY = c.viewY;
    Frame();
    EXPECT_NEAR(Scene().viewY, c.expected, 1e-2f);
    EXPECT_LE(TPhysics::SimY(0.0f, H), 4096.01f);  // never below the ground line
}

INSTANTIATE_TEST_SUITE_P(
    Edges, Scrolling,
    ::testing::Values(ScrollCase{"TopEdgeScrollsUp", 10.0f, 3000.0f, 2995.0f},
                      ScrollCase{"ThePointerStartsAtTheTop", 0.0f, 3000.0f, 2995.0f},
                      ScrollCase{"UpOnlyAsFarAsTheTop", 10.0f, 1940.0f, 1937.5f},
                      ScrollCase{"Row32DoesNotScroll", 32.0f, 3000.0f, 3000.0f},
                      ScrollCase{"MiddleStays", 300.0f, 3000.0f, 3000.0f},
                      ScrollCase{"Row568DoesNotScroll", 568.0f, 3000.0f, 3000.0f},
                      ScrollCase{"BottomEdgeScrollsDown", 590.0f, 3000.0f, 3005.0f},
                      ScrollCase{"DownOnlyToTheGroundLine", 590.0f, 3411.0f, 4096.0f - HALF_VIEW}),
    [](const ::testing::TestParamInfo<ScrollCase>& i) { return std::string(i.param.name); });

TEST_F(SceneTest, ResizingRescalesTheViewToTheNewWidth) {
    detail::HeadlessResize(Game().window, 900, 500);
    slime::LoopPass();
    EXPECT_FLOAT_EQ(TPhysics::currentWorld->drawScale, 900.0f / 1024.0f);
    EXPECT_NEAR(TPhysics::ScreenX(1024.0f, 4000.0f), 900.0f, 1e-3f);
    EXPECT_NEAR(TPhysics::ScreenY(0.0f, 4096.0f), 500.0f, 1e-2f);
}

TEST_F(SceneTest, TheCeilingFollowsTheRecordWithAThousandUnitsOfRoom) {
    float x0, y0, x1, y1;
    TPhysics::GetBounds(x0, y0, x1, y1);
    EXPECT_EQ(y0, 0.0f);  // before the first frame: as the world was made
    Pointer(200.0f, 300.0f);
    Frame();
    TPhysics::GetBounds(x0, y0, x1, y1);
    EXPECT_EQ(y0, 2843.5f);
    EXPECT_EQ(x0, 0.0f);
    EXPECT_EQ(x1, 1024.0f);
    EXPECT_EQ(y1, 4096.0f);
    PlaceStructure(482.0f, 2000.0f);
    Frame();
    TPhysics::GetBounds(x0, y0, x1, y1);
    EXPECT_EQ(y0, 937.5f);
    // Coming down again keeps the record, and with it the ceiling.
    PlaceStructure(482.0f, 3906.0f);
    Frame();
    EXPECT_EQ(Scene().topRecord, 1937.5f);
    TPhysics::GetBounds(x0, y0, x1, y1);
    EXPECT_EQ(y0, 937.5f);
}

TEST_F(SceneTest, LinesAndNumbersShowTheTopAndTheRecord) {
    Pointer(200.0f, 300.0f);
    PlaceStructure(482.0f, 3300.0f);  // record 3237.5, in view after coming down again
    Frame();
    PlaceStructure(482.0f, 3906.0f);
    Frame();
    Screenshot("record-in-view");
    // The current top (3843.5): a red line across the canvas, its height (252) on the left
    // just below it.
    const int32_t s = static_cast<int32_t>(TPhysics::ScreenY(0.0f, 3843.5f));
    EXPECT_TRUE(BoxHas(0, s - 1, 3, s + 1, 0xFF0000));
    EXPECT_TRUE(BoxHas(W - 4, s - 1, W - 1, s + 1, 0xFF0000));
    EXPECT_TRUE(BoxHas(10, s + 2, 80, s + 35, 0xFF0000));
    // The record (3238): a green line, its height (858) flush right below it.
    const int32_t r = static_cast<int32_t>(TPhysics::ScreenY(0.0f, 3238.0f));
    ASSERT_GT(r, 50);
    EXPECT_TRUE(BoxHas(0, r - 1, 3, r + 1, 0x00FF00));
    EXPECT_TRUE(BoxHas(W - 100, r + 2, W - 10, r + 35, 0x00FF00));
    EXPECT_FALSE(BoxHas(0, r + 2, W / 2, r + 35, 0x00FF00));
    // The logo at half size in the bottom-right corner.
    const std::vector<uint8_t> with = Canvas()->ReadPixels();
    Scene().logo = nullptr;
    slime::wobblePhase -= 8;  // the blobs wobble exactly as in the frame before
    Frame();
    const std::vector<uint8_t> without = Canvas()->ReadPixels();
    int32_t inside = 0, outside = 0;
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
            const size_t k = static_cast<size_t>((y * static_cast<int32_t>(W) + x) * 4);
            if (std::memcmp(&with[k], &without[k], 4) == 0) continue;
            (x >= W - 90 && x < W - 10 && y >= H - 70 && y < H - 10 ? inside : outside)++;
        }
    EXPECT_GT(inside, 400);
    EXPECT_EQ(outside, 0);
}

TEST_F(SceneTest, ARecordAboveTheViewKeepsItsNumberAtTheTopEdge) {
    Pointer(200.0f, 300.0f);
    PlaceStructure(482.0f, 2000.0f);  // record 1937.5
    Frame();
    PlaceStructure(482.0f, 3906.0f);
    Frame();
    Frame();
    Screenshot("record-above");
    EXPECT_LT(TPhysics::ScreenY(0.0f, Scene().topRecord), 0.0f);
    EXPECT_TRUE(BoxHas(W - 120, 5, W - 10, 40, 0x00FF00));
    EXPECT_FALSE(BoxHas(0, 5, W / 2, 40, 0x00FF00));
}

TEST_F(SceneTest, AClickOnABlobRemovesItAndAClickInReachAddsOne) {
    Pointer(200.0f, 300.0f);
    Frame();
    HandleClickAt(4);
    EXPECT_FALSE(Body().MassExists(4));
    EXPECT_EQ(Counters().removeSounds, 1);
    // 65 units from blob 3 and 98 from blob 0, more than 100 from the others.
    slime::HandleClick(TPhysics::ScreenX(500.0f, 3810.0f), TPhysics::ScreenY(500.0f, 3810.0f));
    EXPECT_EQ(Body().MassMaxIndex(), 5);
    EXPECT_EQ(Counters().addSounds, 1);
    EXPECT_TRUE(Body().MassIsActive(5));
}

// What the ghost shows at a pointer is what a click there does: over a dense grid of
// points around the settled structure, the preview's reachable blobs are the click's, and
// wherever the ghost shows a new blob, the click adds one.
TEST_F(SceneTest, TheGhostShowsExactlyWhatAClickDoes) {
    Pointer(225.0f, 300.0f);
    for (int32_t i = 0; i < 60; ++i) {
        TPhysics::Update();
        Frame();
    }
    TSlime& slime = *Scene().slime;
    int32_t ghosts = 0, mismatches = 0, points = 0;
    for (float wy = 3700.0f; wy < 3990.0f; wy += 1.7f) {
        for (float wx = 330.0f; wx < 640.0f; wx += 1.7f) {
            const float px = TPhysics::ScreenX(wx, wy), py = TPhysics::ScreenY(wx, wy);
            // The pointer where the click lands, turned into a world point as the click's is.
            slime.Draw(TPhysics::SimX(px, py), TPhysics::SimY(px, py));
            const std::vector<int32_t> preview = slime.Reachable();
            const TSlime::ClickEffect shown = slime.Effect();
            if (shown == TSlime::ClickEffect::Remove) continue;  // a click there removes a blob
            const bool ghost = shown == TSlime::ClickEffect::Add;
            const int32_t before = Body().MassMaxIndex();
            ++points;
            slime::HandleClick(px, py);
            mismatches += slime.Reachable() != preview;
            if (!ghost) continue;
            ++ghosts;
            // The new blob is the highest index (nothing was removed), at the clicked point.
            ASSERT_EQ(Body().MassMaxIndex(), before + 1) << "ghost at " << wx << "," << wy << " placed nothing";
            Body().MassRemove(before + 1);
            Body().CleanIndex();
        }
    }
    std::printf("%d points clicked, %d with a ghost\n", points, ghosts);
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(ghosts, 1000);
}

TEST_F(SceneTest, MouseEventsReachTheScene) {
    Pointer(200.0f, 300.0f);
    Frame();
    const int32_t x = static_cast<int32_t>(TPhysics::ScreenX(Body().MassGetX(3), Body().MassGetY(3)));
    const int32_t y = static_cast<int32_t>(TPhysics::ScreenY(Body().MassGetX(3), Body().MassGetY(3)));
    detail::HeadlessMouseMove(Game().canvas, x, y);
    detail::HeadlessMouseButton(Game().canvas, 1, true, x, y);
    EXPECT_FALSE(Body().MassExists(3));
    EXPECT_EQ(Counters().removeSounds, 1);
}

// A blob pushed back by one side of the box is removed at once, with the removal sound.
struct WallCase {
    const char* name;
    float x, y;                   // where the structure's reference mass is placed
    std::vector<int32_t> removed;  // blobs touching that side
};
class BoxContact : public SceneTest, public ::testing::WithParamInterface<WallCase> {};

TEST_P(BoxContact, RemovesTheBlobAndPlaysTheRemovalSound) {
    const WallCase& c = GetParam();
    slime::MoveCeiling();  // record still 4096: the ceiling is 3096
    PlaceStructure(c.x, c.y);
    TPhysics::Update();
    for (int32_t i = 0; i <= 4; ++i) {
        const bool gone = std::count(c.removed.begin(), c.removed.end(), i) > 0;
        EXPECT_EQ(Body().MassExists(i), gone ? 0 : 1) << "blob " << i;
    }
    EXPECT_EQ(Counters().removeSounds, static_cast<int64_t>(c.removed.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Sides, BoxContact,
    ::testing::Values(WallCase{"Left", 65.0f, 3500.0f, {1}}, WallCase{"Right", 959.0f, 3500.0f, {2}},
                      WallCase{"Ground", 482.0f, 4090.0f, {0, 1, 2}},
                      WallCase{"Ceiling", 482.0f, 3150.0f, {3, 4}}),
    [](const ::testing::TestParamInfo<WallCase>& i) { return std::string(i.param.name); });

TEST_F(SceneTest, BoxContactsOnlyRemoveBlobsOfTheStructureAndOnlyOnce) {
    Ref<TMass> m = Body().MassGet(2);
    Ref<TColEvent> e = TColEvent::Create(m.Get(), TPhysics::currentWorld.Get(), 0.0f, 0.0f, 1.0f);
    TColEvent::Emit(e.Get());
    TColEvent::Emit(e.Get());  // a corner: the same blob pushed back twice in one step
    EXPECT_FALSE(Body().MassExists(2));
    EXPECT_EQ(Counters().removeSounds, 1);
    // A mass of some other body with the same index is left alone.
    Ref<TAdvBody> other = TAdvBody::Create();
    for (int32_t i = 0; i < 4; ++i) other->MassAdd(10.0f, 10.0f, 1.0f, 5.0f, 0.0f, 1);
    TColEvent::Emit(TColEvent::Create(other->MassGet(3), TPhysics::currentWorld.Get(), 0, 0, 1).Get());
    EXPECT_TRUE(other->MassExists(3));
    EXPECT_TRUE(Body().MassExists(3));
    EXPECT_EQ(Counters().removeSounds, 1);
    // Mass-against-mass contacts change nothing.
    TColEvent::Emit(TColEvent::Create(Body().MassGet(0), Body().MassGet(1), 0, 0, 1).Get());
    EXPECT_EQ(Body().MassExists(0) + Body().MassExists(1), 2);
    EXPECT_FALSE(Body().MassIsFrozen(0));
}

class StandInZone final : public TZoneBase {
public:
    int32_t Collide(TMass*) override { return 0; }
};

TEST_F(SceneTest, ABlobTouchingAZoneFreezesAndSquelchesOnlyTheFirstTime) {
    Ref<StandInZone> zone = MakeRef<StandInZone>();
    Ref<TColEvent> e = TColEvent::Create(Body().MassGet(1), zone.Get(), 0, 0, 1);
    ASSERT_EQ(e->GetID(), TColEvent::MASS_ZONE);
    TColEvent::Emit(e.Get());
    EXPECT_TRUE(Body().MassIsFrozen(1));
    EXPECT_EQ(Counters().addSounds, 1);
    TColEvent::Emit(e.Get());
    EXPECT_EQ(Counters().addSounds, 1);
    EXPECT_TRUE(Body().MassExists(1));
}

// Even-odd test of a world point against a zone's outline where it stands.
bool InsideZone(const kin::gelsim::TZone& z, float x, float y) {
    const std::vector<float> a = z.GetArea();
    const size_t n = a.size() / 2;
    bool in = false;
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
        const float xi = a[2 * i] + z.GetPositionX(), yi = a[2 * i + 1] + z.GetPositionY();
        const float xj = a[2 * j] + z.GetPositionX(), yj = a[2 * j + 1] + z.GetPositionY();
        if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) in = !in;
    }
    return in;
}

TEST_F(SceneTest, TheStructureStartsOnTheGroundBetweenTwoWallsThatStandOnIt) {
    const auto& z = Scene().zones;
    // Where each wall stands on the ground: the first column point, from the middle out,
    // where the point just above the ground's top lies inside the wall.
    auto groundTop = [&](float x) {
        float y = 3500.0f;
        while (y < 4096.0f && !InsideZone(*z[0], x, y)) y += 0.5f;
        return y;
    };
    auto foot = [&](const kin::gelsim::TZone& wall, float step) {
        for (float x = 512.0f; x >= 0.0f && x <= 1024.0f; x += step)
            if (InsideZone(wall, x, groundTop(x) - 1.0f)) return x;
        return -1.0f;
    };
    const float right = foot(*z[1], 1.0f), left = foot(*z[2], -1.0f);
    EXPECT_GT(right, 800.0f);
    EXPECT_GT(left, 0.0f);
    EXPECT_LT(left, 200.0f);
    // Nothing of the walls over the structure's place, and the bottom row touches the ground.
    for (float y = 3000.0f; y < groundTop(482.0f); y += 5.0f)
        for (float x = 400.0f; x <= 560.0f; x += 5.0f) EXPECT_FALSE(InsideZone(*z[1], x, y) || InsideZone(*z[2], x, y));
    for (int32_t i = 0; i <= 2; ++i) EXPECT_NEAR(groundTop(Body().MassGetX(i)), Body().MassGetY(i) + 10.0f, 0.5f);

    // A blob thrown against either wall sticks there, with the squelch (once the bottom
    // row has stuck to the ground).
    TPhysics::Update();
    for (const auto& [wall, x, vx] : {std::tuple{z[1].Get(), right, 3.0f}, std::tuple{z[2].Get(), left, -3.0f}}) {
        float face = 512.0f;
        while (!InsideZone(*wall, face, 3700.0f)) face += vx > 0 ? 1.0f : -1.0f;
        Ref<TMass> blob = TMass::Create(face - 8.0f * vx, 3700.0f, 10.0f, 10.0f, 1.0f, 1);
        blob->AddRef();
        blob->SetVelocity(vx, 0.0f);
        const int64_t sounds = Counters().addSounds;
        for (int32_t step = 0; step < 30 && !blob->IsFrozen(); ++step) TPhysics::Update();
        EXPECT_TRUE(blob->IsFrozen()) << "wall at " << x;
        EXPECT_EQ(Counters().addSounds, sounds + 1);
        blob->SubRef();
    }
}

TEST_F(SceneTest, TheStructureRestsWhereItStartsAndTheRecordIsItsTop) {
    Pointer(225.0f, 300.0f);
    for (int32_t i = 0; i < 240; ++i) {
        if (i > 0) TPhysics::Update();
        Frame();
    }
    EXPECT_EQ(Counters().removeSounds, 0);
    float top = 4096.0f;
    for (int32_t i = 0; i <= 4; ++i) {
        ASSERT_TRUE(Body().MassExists(i));
        top = std::min(top, Body().MassGetY(i) - 10.0f);
    }
    EXPECT_NEAR(Scene().topRecord, top, 0.1f);
    // The two numbers on screen agree.
    EXPECT_EQ(static_cast<int32_t>(4096.0f - Scene().topRecord), static_cast<int32_t>(4096.0f - top));
    for (int32_t i = 0; i <= 2; ++i) EXPECT_TRUE(Body().MassIsFrozen(i));
}

// --- data files that cannot be used ---------------------------------------------------

// Bytes of a body file holding the given blobs and no strands.
std::string BodyFileBytes(const std::vector<std::pair<float, float>>& blobs) {
    kin::gelsim::TBodyFileData d;
    d.massCount = static_cast<int32_t>(blobs.size());
    for (const auto& [x, y] : blobs) {
        kin::gelsim::TBodyFileMass m;
        m.index = static_cast<int32_t>(d.masses.size());
        m.x = x;
        m.y = y;
        m.mass = m.radius = 10.0f;
        m.friction = 1.0f;
        m.colGroup = 1;
        d.masses.push_back(m);
    }
    TBankStream bank;
    kin::gelsim::WriteBodyFile(bank, d);
    return std::string(bank.Bytes().begin(), bank.Bytes().end());
}

std::string RepositoryFile(const char* name) {
    std::ifstream f(std::filesystem::path(SOURCE_ROOT) / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

const char* const MISSING = "(missing)";

struct DataCase {
    const char* name;
    std::string body, ground;           // file contents, or MISSING
    std::vector<std::string> problems;  // shown in the window, in order
};

class DataFiles : public SceneTest, public ::testing::WithParamInterface<DataCase> {
protected:
    std::filesystem::path StartFolder() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("slime-scene-" + std::to_string(::getpid()) + "-" + GetParam().name);
        std::filesystem::create_directories(dir_ / "media");
        for (const auto& [file, bytes] : {std::pair{"slime.plb", GetParam().body}, {"ground.plz", GetParam().ground}})
            if (bytes != MISSING) std::ofstream(dir_ / "media" / file, std::ios::binary) << bytes;
        return dir_;
    }
    void SetUp() override {
        ::testing::internal::CaptureStderr();
        SceneTest::SetUp();
        stderr_ = ::testing::internal::GetCapturedStderr();
    }
    void TearDown() override {
        SceneTest::TearDown();
        std::filesystem::remove_all(dir_);
    }
    std::filesystem::path dir_;
    std::string stderr_;
};

TEST_P(DataFiles, TheGameStillRunsAndSaysWhatIsWrong) {
    const DataCase& c = GetParam();
    const auto& problems = Scene().problems;
    EXPECT_EQ(problems, c.problems);
    for (const std::string& p : problems) EXPECT_NE(stderr_.find("slime-tower: " + p), std::string::npos) << stderr_;
    size_t lines = 0;
    for (size_t at = stderr_.find("slime-tower: "); at != std::string::npos; at = stderr_.find("slime-tower: ", at + 1))
        ++lines;
    EXPECT_EQ(lines, problems.size()) << stderr_;
    // The reason names the file looked at and what is wrong with it.
    if (std::string(c.name).find("Truncated") != std::string::npos) {
        EXPECT_NE(stderr_.find("could not be read (Error reading from stream: "), std::string::npos) << stderr_;
        EXPECT_NE(stderr_.find(": ends in "), std::string::npos) << stderr_;
    }

    // It plays on: frames, steps, clicks anywhere.
    for (int32_t i = 0; i < 3; ++i) {
        Game().timer->Tick();
        slime::LoopPass();
    }
    slime::HandleClick(200.0f, 300.0f);
    slime::HandleClick(220.0f, 560.0f);
    Frame();
    Screenshot(std::string("data-") + c.name);
    EXPECT_GE(Counters().frames, 4);
    // A message is readable in the middle of the window: white text on a dark band.
    if (!problems.empty()) {
        EXPECT_TRUE(BoxHas(0, 260, W - 1, 340, 0xFFFFFF));
    }
    // And the window still closes cleanly.
    detail::HeadlessClose(Game().window);
    EXPECT_FALSE(slime::LoopPass());
}

INSTANTIATE_TEST_SUITE_P(
    Files, DataFiles,
    ::testing::Values(
        DataCase{"BothMissing", MISSING, MISSING, {"media/ground.plz is missing", "media/slime.plb is missing"}},
        DataCase{"BodyNotABodyFile", "PNG and more", RepositoryFile("media/ground.plz"),
                 {"media/slime.plb is not a body file"}},
        DataCase{"BodyTruncated", BodyFileBytes({{0, 0}, {60, 0}}).substr(0, 30), RepositoryFile("media/ground.plz"),
                 {"media/slime.plb could not be read"}},
        DataCase{"BodyOfOneBlob", BodyFileBytes({{0, 0}}), RepositoryFile("media/ground.plz"), {}},
        DataCase{"BodyOfNoBlob", BodyFileBytes({}), RepositoryFile("media/ground.plz"), {}},
        DataCase{"GroundTruncated", RepositoryFile("media/slime.plb"), RepositoryFile("media/ground.plz").substr(0, 40),
                 {"media/ground.plz could not be read"}},
        DataCase{"GroundNotAZoneFile", RepositoryFile("media/slime.plb"), RepositoryFile("media/slime.plb"),
                 {"media/ground.plz is not a zone file"}}),
    [](const ::testing::TestParamInfo<DataCase>& i) { return std::string(i.param.name); });

TEST(DataFileLookup, FallsBackToTheFolderOfTheExecutableAndTheOneAbove) {
    namespace fs = std::filesystem;
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    const fs::path old = fs::current_path();
    fs::current_path(fs::temp_directory_path());
    const std::string name = exe.filename().string();
    const std::string above = (exe.parent_path().filename() / exe.filename()).string();
    EXPECT_EQ(fs::path(slime::FindDataFile(name)), exe.parent_path() / name);
    EXPECT_EQ(fs::path(slime::FindDataFile(above)), exe.parent_path().parent_path() / above);
    EXPECT_EQ(slime::FindDataFile("media/no-such-file.plb"), "media/no-such-file.plb");
    fs::current_path(exe.parent_path());
    EXPECT_EQ(slime::FindDataFile(name), name);  // the working directory comes first
    fs::current_path(old);
}

// A player who keeps clicking above the two highest blobs, with a second between clicks.
TEST_F(SceneTest, ClickingAboveTheTopGrowsATower) {
    Pointer(225.0f, 300.0f);
    auto frames = [&](int32_t n) {
        for (int32_t i = 0; i < n; ++i) {
            TPhysics::Update();
            Frame();
        }
    };
    frames(120);  // the structure settles on the ground
    float start = 4096.0f;
    for (int32_t i = 0; i <= Body().MassMaxIndex(); ++i)
        if (Body().MassExists(i)) start = std::min(start, Body().MassGetY(i) - 10.0f);
    EXPECT_NEAR(start, 3843.5f, 1.0f);
    for (int32_t click = 0; click < 12; ++click) {
        int32_t a = -1, b = -1;
        for (int32_t i = 0; i <= Body().MassMaxIndex(); ++i) {
            if (!Body().MassExists(i)) continue;
            if (a < 0 || Body().MassGetY(i) < Body().MassGetY(a)) {
                b = a;
                a = i;
            } else if (b < 0 || Body().MassGetY(i) < Body().MassGetY(b)) {
                b = i;
            }
        }
        ASSERT_GE(b, 0);
        const float ax = Body().MassGetX(a), ay = Body().MassGetY(a);
        const float bx = Body().MassGetX(b), by = Body().MassGetY(b);
        const float mx = (ax + bx) * 0.5f, my = (ay + by) * 0.5f;
        const float half = std::hypot(bx - ax, by - ay) * 0.5f;
        const float up = std::sqrt(std::max(70.0f * 70.0f - half * half, 400.0f));
        // Perpendicular to a-b, pointing up the screen.
        float nx = -(by - ay), ny = bx - ax;
        if (ny > 0) nx = -nx, ny = -ny;
        const float len = std::hypot(nx, ny);
        slime::HandleClick(TPhysics::ScreenX(mx + nx / len * up, my + ny / len * up),
                           TPhysics::ScreenY(mx + nx / len * up, my + ny / len * up));
        frames(40);
    }
    Screenshot("tower");
    std::printf("top went from %.1f to %.1f with %d blobs added, %d removed\n", start, Scene().topRecord,
                static_cast<int>(Counters().addSounds), static_cast<int>(Counters().removeSounds));
    EXPECT_GE(Counters().addSounds, 10);
    EXPECT_LT(Scene().topRecord, start - 200.0f);
}
}  // namespace
