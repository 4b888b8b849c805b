// The game's top level driven through the headless backend: start-up, the stepping rule
// of the main loop, window events and closing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "app/Game.h"
#include "gelsim/core/Physics.h"
#include "media/BuiltinMedia.h"
#include "platform/Graphics.h"
#include "platform/Hook.h"
#include "platform/detail/HeadlessControl.h"
#include "tests/app/GameFixture.h"
#include "tests/support/CountingAllocator.h"

using namespace kin;
using kin::gelsim::TPhysics;
using slime::Counters;
using slime::Game;

namespace {

class GameLoop : public slime::test::GameFixture {};

}  // namespace

TEST_F(GameLoop, StartUpBuildsWindowCanvasTimerWorldAndSounds) {
    auto& g = Game();
    ASSERT_TRUE(g.window);
    EXPECT_EQ(g.window->Title(), "Slime Tower");
    ASSERT_TRUE(g.canvas);
    EXPECT_EQ(g.canvas->Width(), g.window->ClientWidth());
    EXPECT_EQ(g.canvas->Height(), g.window->ClientHeight());
    ASSERT_TRUE(g.timer);
    EXPECT_EQ(g.timer->Ticks(), 0);
    ASSERT_TRUE(TPhysics::currentWorld);
    float x0, y0, x1, y1;
    TPhysics::GetBounds(x0, y0, x1, y1);
    EXPECT_EQ(x0, 0.0f);
    EXPECT_EQ(y0, 0.0f);
    EXPECT_EQ(x1, 1024.0f);
    EXPECT_EQ(y1, 4096.0f);
    EXPECT_FLOAT_EQ(TPhysics::currentWorld->gravityY, 0.1f);
    EXPECT_EQ(TPhysics::currentWorld->gravityX, 0.0f);
    EXPECT_EQ(TPhysics::currentWorld->i, 1);
    EXPECT_TRUE(g.soundRemove);
    EXPECT_TRUE(g.soundAdd);
    EXPECT_EQ(g.pointerX, 0.0f);  // until the first "MouseMove"
    EXPECT_EQ(g.pointerY, 0.0f);
}

TEST_F(GameLoop, StepsOncePerChangedTickCountAndNeverTwicePerFrame) {
    auto& g = Game();
    // No tick: a pass waits, finds the count unchanged and neither steps nor draws.
    EXPECT_TRUE(slime::LoopPass());
    EXPECT_EQ(Counters().steps, 0);
    EXPECT_EQ(Counters().frames, 0);

    g.timer->Tick();
    EXPECT_TRUE(slime::LoopPass());
    EXPECT_EQ(Counters().steps, 1);
    EXPECT_EQ(Counters().frames, 1);
    EXPECT_EQ(g.lastTicks, 1);

    // A slow loop: three ticks pass before the next pass; the world advances once only.
    g.timer->Tick();
    g.timer->Tick();
    g.timer->Tick();
    EXPECT_TRUE(slime::LoopPass());
    EXPECT_EQ(Counters().steps, 2);
    EXPECT_EQ(g.lastTicks, 4);
    EXPECT_TRUE(slime::LoopPass());
    EXPECT_EQ(Counters().steps, 2);

    // The three ticks produced at most one waiting "TimerTick" (the queue never floods).
    EXPECT_LE(QueuedEventCount(), 1);
}

TEST_F(GameLoop, AFrameClearsTheCanvasWithTheSkyColour) {
    Game().timer->Tick();
    slime::LoopPass();
    TGraphics* c = Canvas();
    ASSERT_NE(c, nullptr);
    // Above the structure, between the walls, clear of the numbers: sky.
    EXPECT_EQ(c->PixelAt(c->Width() / 2, c->Height() / 4), 0x7F7FFFFFu);
    EXPECT_EQ(c->PixelAt(c->Width() / 2, 60), 0x7F7FFFFFu);
}

TEST_F(GameLoop, PointerEventsAreKept) {
    detail::HeadlessMouseMove(Game().canvas, 37, 120);
    EXPECT_EQ(Game().pointerX, 37.0f);
    EXPECT_EQ(Game().pointerY, 120.0f);
    // Other keys and the wheel mean nothing to the game: no move, no frame, no step.
    detail::HeadlessWheel(Game().canvas, 2, 300, 10);
    detail::HeadlessKey(Game().window, 'x');
    slime::LoopPass();
    EXPECT_EQ(Game().pointerX, 37.0f);
    EXPECT_EQ(Game().pointerY, 120.0f);
    EXPECT_EQ(Counters().frames, 0);
    EXPECT_EQ(Counters().steps, 0);
    EXPECT_FALSE(Game().closed);
}

TEST_F(GameLoop, PaintDrawsWithoutStepping) {
    Game().canvas->Activate(ACTIVATE_REDRAW);
    slime::LoopPass();
    EXPECT_EQ(Counters().frames, 1);
    EXPECT_EQ(Counters().steps, 0);
}

TEST_F(GameLoop, ResizeRepaintsAtTheNewSize) {
    detail::HeadlessResize(Game().window, 700, 300);
    slime::LoopPass();  // the repaint asked for by the resize arrives and is drawn
    EXPECT_GE(Counters().frames, 1);
    EXPECT_EQ(Counters().steps, 0);
    TGraphics* c = Canvas();
    EXPECT_EQ(c->Width(), 700);
    EXPECT_EQ(c->Height(), 300);
    EXPECT_EQ(c->PixelAt(350, 40), 0x7F7FFFFFu);  // sky, at the new size
}

TEST_F(GameLoop, ClosingFreesTheWorldAndEndsTheLoop) {
    Game().timer->Tick();
    EXPECT_TRUE(slime::LoopPass());
    detail::HeadlessClose(Game().window);
    EXPECT_FALSE(TPhysics::currentWorld);  // freed before anything else
    EXPECT_FALSE(slime::LoopPass());
    EXPECT_EQ(Counters().steps, 1);
}

// H shows a panel of the keys over the frame and hides it again, leaving the frame as it
// was; a panel left open allocates nothing per frame. Esc closes the game as the window's
// close button does.
TEST_F(GameLoop, HTogglesTheHelpPanelAndEscQuits) {
    // Clear of the scrolling edges, and the blobs' wobble taken back before each compared
    // frame: frames repeat exactly.
    Game().pointerX = 225.0f;
    Game().pointerY = 300.0f;
    Frame();
    const int32_t phase = slime::wobblePhase;
    Frame();
    const std::vector<uint8_t> plain = Canvas()->ReadPixels();
    long plainAllocations = 0;
    {
        kin::test::THeapCount count;
        for (int32_t i = 0; i < 5; ++i) Frame();
        plainAllocations = count.Use().allocations;
    }

    detail::HeadlessKey(Game().window, 'h');
    slime::wobblePhase = phase;
    Frame();
    const std::vector<uint8_t> help = Canvas()->ReadPixels();
    ASSERT_EQ(help.size(), plain.size());
    const size_t rowBytes = static_cast<size_t>(Canvas()->Width()) * 4;
    size_t changed = 0, firstRow = SIZE_MAX, lastRow = 0;
    for (size_t k = 0; k < help.size(); ++k)
        if (help[k] != plain[k]) {
            ++changed;
            firstRow = std::min(firstRow, k / rowBytes);
            lastRow = std::max(lastRow, k / rowBytes);
        }
    EXPECT_GT(changed, 1000u);
    EXPECT_GE(firstRow, 30u);  // a panel near the top, over the frame, not a new frame
    EXPECT_LT(lastRow, 250u);
    {
        kin::test::THeapCount count;
        for (int32_t i = 0; i < 5; ++i) Frame();
        EXPECT_EQ(count.Use().allocations, plainAllocations);
    }

    detail::HeadlessKey(Game().window, 'h');
    slime::wobblePhase = phase;
    Frame();
    EXPECT_TRUE(Canvas()->ReadPixels() == plain);

    Game().timer->Tick();
    EXPECT_TRUE(slime::LoopPass());
    detail::HeadlessKey(Game().window, KEY_ESCAPE);
    EXPECT_TRUE(Game().closed);
    EXPECT_FALSE(TPhysics::currentWorld);
    EXPECT_FALSE(slime::LoopPass());
    EXPECT_EQ(Counters().steps, 1);
}
