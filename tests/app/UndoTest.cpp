// Undo and redo in the game: a click taken back leaves the world bit for bit as it was just
// before the click, and play goes on as if the click had never happened; Y does it again.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/Game.h"
#include "app/Replay.h"
#include "app/Scene.h"
#include "app/Slime.h"
#include "app/Undo.h"
#include "gelsim/core/Physics.h"
#include "gelsim/state/WorldState.h"
#include "tests/app/GameFixture.h"

using kin::gelsim::TPhysics;
using slime::Scene;
using slime::TSlime;

namespace {

class UndoRedo : public slime::test::GameFixture {
protected:
    // Ticks as the loop plays them: a step and a frame each.
    static void Ticks(int32_t n) {
        for (int32_t k = 0; k < n; ++k) {
            slime::Game().timer->Tick();
            slime::LoopPass();
        }
    }
    static std::vector<uint8_t> Bytes() { return kin::gelsim::SaveState(*TPhysics::currentWorld, false); }
    // A world point where a click adds a blob.
    static void AddPoint(float& x, float& y) {
        for (y = TSlime::START_Y - 40.0f; y > TSlime::START_Y - 400.0f; y -= 7.0f)
            for (x = 200.0f; x < 800.0f; x += 7.0f)
                if (Scene().slime->ReachScan(x, y) == TSlime::ClickEffect::Add) return;
        FAIL() << "no point where a click adds a blob";
    }
};

TEST_F(UndoRedo, UndoGivesTheWorldBeforeTheClickAndPlayGoesOnWithoutIt) {
    Ticks(30);
    float x = 0, y = 0;
    AddPoint(x, y);
    const std::vector<uint8_t> before = Bytes();
    const float record = Scene().topRecord, view = Scene().viewY;
    slime::ClickAt(x, y);
    Ticks(60);
    const std::vector<uint8_t> clicked = Bytes();
    ASSERT_NE(clicked, before);

    ASSERT_TRUE(slime::Undo());
    EXPECT_EQ(Bytes(), before);
    EXPECT_EQ(Scene().topRecord, record);
    EXPECT_EQ(Scene().viewY, view);
    EXPECT_FALSE(slime::Undo());  // nothing older
    ASSERT_TRUE(slime::Redo());
    EXPECT_EQ(Bytes(), clicked);
    EXPECT_FALSE(slime::Redo());
    ASSERT_TRUE(slime::Undo());
    Ticks(240);
    const uint64_t undone = slime::WorldHash();

    // The same game without the click.
    GameFixture::TearDown();
    GameFixture::SetUp();
    Ticks(30 + 240);
    EXPECT_EQ(slime::WorldHash(), undone);
}

TEST_F(UndoRedo, AHundredLevelsAreKeptAndANewClickForgetsTheRedos) {
    Ticks(10);
    float x = 0, y = 0;
    AddPoint(x, y);
    slime::ClickAt(x, y);
    for (int32_t k = 0; k < 120; ++k) slime::RememberBeforeClick();
    EXPECT_EQ(slime::History().undo.size(), slime::UNDO_LEVELS);
    ASSERT_TRUE(slime::Undo());
    EXPECT_EQ(slime::History().redo.size(), 1u);
    slime::ClickAt(x, y);
    EXPECT_TRUE(slime::History().redo.empty());
    // A hundred states of the starting structure stay small.
    EXPECT_LT(slime::History().Bytes(), 100u * 64u * 1024u);
}

}  // namespace
