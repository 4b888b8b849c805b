// Timers: hand-driven ticks headless, and (when SDL's dummy video driver is available)
// real ticks and repaint requests travelling through SDL's queue on the window backend.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/Event.h"
#include "platform/System.h"
#include "platform/Timer.h"
#include "platform/Window.h"

namespace kin {
namespace {

class TimerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(InitServices(Backend::Headless)); }
    void TearDown() override { ShutdownServices(); }
};

TEST_F(TimerTest, EachTickCountsAndTheWaitingTickEventIsRefreshed) {
    Ref<TTimer> timer = TTimer::Create(60.0f);
    ASSERT_TRUE(timer);
    EXPECT_EQ(timer->Ticks(), 0);
    timer->Tick();
    EXPECT_EQ(timer->Ticks(), 1);
    ASSERT_EQ(QueuedEventCount(), 1);
    EXPECT_EQ(PeekEvent()->id, EVENT_TIMERTICK);
    EXPECT_EQ(PeekEvent()->source.Get(), timer.Get());
    EXPECT_EQ(PeekEvent()->data, 1);

    // A loop that falls behind finds one event with the latest count, not a backlog.
    for (int i = 0; i < 500; ++i) timer->Tick();
    EXPECT_EQ(QueuedEventCount(), 1);
    EXPECT_EQ(PollEvent()->data, 501);
    timer->Tick();
    EXPECT_EQ(QueuedEventCount(), 1);

    // Each timer is its own source.
    Ref<TTimer> second = TTimer::Create(30.0f);
    second->Tick();
    EXPECT_EQ(QueuedEventCount(), 2);
    EXPECT_EQ(second->Ticks(), 1);
}

TEST_F(TimerTest, RatesThatCannotTickAreRefused) {
    EXPECT_FALSE(TTimer::Create(0.0f));
    EXPECT_FALSE(TTimer::Create(-60.0f));
    EXPECT_FALSE(TTimer::Create(std::nanf("")));
    EXPECT_FALSE(TTimer::Create(INFINITY));
    EXPECT_TRUE(TTimer::Create(5000.0f));  // faster than a millisecond: one millisecond
}

// The window backend with SDL's dummy drivers (set for every test run): no display and
// no sound card involved. Skipped where the dummy video driver is unavailable.
class WindowBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        if (!InitServices(Backend::Window, &error)) GTEST_SKIP() << error;
    }
    void TearDown() override { ShutdownServices(); }

    // Waits for an event with this id; other events pass by. The running timer keeps
    // events coming, so this never blocks for long.
    Ref<TEvent> WaitFor(int32_t id) {
        for (int i = 0; i < 100000; ++i) {
            Ref<TEvent> ev = WaitEvent();
            if (ev && ev->id == id) return ev;
        }
        return nullptr;
    }
};

TEST_F(WindowBackendTest, TicksAndRepaintsArriveThroughTheWindowSystem) {
    EXPECT_EQ(CurrentBackend(), Backend::Window);
    Ref<TTimer> timer = TTimer::Create(500.0f);
    ASSERT_TRUE(timer);
    Ref<TEvent> tick = WaitFor(EVENT_TIMERTICK);
    ASSERT_TRUE(tick);
    EXPECT_EQ(tick->source.Get(), timer.Get());
    EXPECT_GE(tick->data, 1);
    EXPECT_GE(timer->Ticks(), tick->data);

    Ref<TGadget> window = CreateWindow("test", 0, 0, 320, 240, nullptr, 0x203);
    ASSERT_TRUE(window);
    EXPECT_GT(window->ClientWidth(), 0);
    EXPECT_LE(window->ClientWidth(), 320);
    Ref<TGadget> canvas = CreateCanvas(0, 0, window->ClientWidth(), window->ClientHeight(), window, 0);
    ASSERT_TRUE(canvas);
    canvas->Activate(ACTIVATE_REDRAW);
    Ref<TEvent> paint = WaitFor(EVENT_GADGETPAINT);
    ASSERT_TRUE(paint);
    EXPECT_EQ(paint->source.Get(), canvas.Get());

    // A repaint asked for and then overtaken by freeing the canvas is not delivered.
    canvas->Activate(ACTIVATE_REDRAW);
    FreeGadget(window);
    FlushEvents();
    const int32_t start = timer->Ticks();
    while (timer->Ticks() < start + 3) {
        Ref<TEvent> ev = WaitEvent();
        ASSERT_TRUE(ev);
        EXPECT_NE(ev->id, EVENT_GADGETPAINT);
    }
    timer->Stop();
}

}  // namespace
}  // namespace kin
