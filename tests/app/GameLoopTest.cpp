// The game's top level driven through the headless backend: start-up, the stepping rule
// of the main loop, window events and closing.
#include <gtest/gtest.h>

#include "app/Game.h"
#include "gelsim/core/Physics.h"
#include "media/BuiltinMedia.h"
#include "platform/Graphics.h"
#include "platform/Hook.h"
#include "platform/detail/HeadlessControl.h"
#include "tests/app/GameFixture.h"

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
    // Keys and the wheel mean nothing to the game: no move, no frame, no step.
    detail::HeadlessWheel(Game().canvas, 2, 300, 10);
    detail::HeadlessKey(Game().window, KEY_ESCAPE);
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
