// Headless windows and canvases: sizes, layout, resize/close/paint events, freeing.
#include <gtest/gtest.h>

#include <string>

#include "platform/Event.h"
#include "platform/Graphics.h"
#include "platform/Input.h"
#include "platform/System.h"
#include "platform/Window.h"
#include "platform/detail/HeadlessControl.h"

namespace kin {
namespace {

using namespace detail;

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InitServices(Backend::Headless));
        window = CreateWindow("Slime Tower", 0, 0, 450, 600, nullptr, 0x203);
        ASSERT_TRUE(window);
        canvas = CreateCanvas(0, 0, window->ClientWidth(), window->ClientHeight(), window, 0);
        ASSERT_TRUE(canvas);
    }
    void TearDown() override {
        canvas = nullptr;
        window = nullptr;
        ShutdownServices();
    }
    Ref<TGadget> window, canvas;
};

TEST_F(WindowTest, OuterSizeIsTheClientSizeAndTheWindowIsCentred) {
    EXPECT_EQ(window->Title(), "Slime Tower");
    EXPECT_EQ(window->ClientWidth(), 450);
    EXPECT_EQ(window->ClientHeight(), 600);
    EXPECT_EQ(window->X(), (HEADLESS_DESKTOP_W - 450) / 2);
    EXPECT_EQ(window->Y(), (HEADLESS_DESKTOP_H - 600) / 2);
    TGraphics* g = CanvasGraphics(canvas);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->Width(), 450);
    EXPECT_EQ(g->Height(), 600);
    EXPECT_EQ(CanvasGraphics(window), nullptr);
    EXPECT_FALSE(CreateCanvas(0, 0, 10, 10, nullptr, 0));
    EXPECT_FALSE(CreateCanvas(0, 0, 10, 10, canvas, 0));
}

TEST_F(WindowTest, ResizeMovesCanvasAndGraphicsThenReportsWindowSize) {
    canvas->SetLayout(1, 1, 1, 1);
    HeadlessResize(window, 800, 500);
    EXPECT_EQ(window->ClientWidth(), 800);
    EXPECT_EQ(canvas->Width(), 800);
    EXPECT_EQ(canvas->Height(), 500);
    EXPECT_EQ(CanvasGraphics(canvas)->Width(), 800);
    EXPECT_EQ(CanvasGraphics(canvas)->Height(), 500);
    Ref<TEvent> ev = PollEvent();
    ASSERT_TRUE(ev);
    EXPECT_EQ(ev->id, EVENT_WINDOWSIZE);
    EXPECT_EQ(ev->source.Get(), window.Get());
    EXPECT_EQ(ev->x, 800);
    EXPECT_EQ(ev->y, 500);
    // Sizes below one pixel are raised to one.
    HeadlessResize(window, 0, -3);
    EXPECT_EQ(CanvasGraphics(canvas)->Width(), 1);
    EXPECT_EQ(CanvasGraphics(canvas)->Height(), 1);
}

struct LayoutCase {
    int32_t left, right;
    int32_t wantX, wantW;  // after the parent grows from 400 to 500 wide
};

class LayoutTest : public WindowTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(LayoutTest, LockedEdgesKeepTheirDistance) {
    const LayoutCase c = GetParam();
    HeadlessResize(window, 400, 300);
    Ref<TGadget> inner = CreateCanvas(50, 20, 100, 60, window, 0);
    inner->SetLayout(c.left, c.right, 1, 0);
    HeadlessResize(window, 500, 300);
    EXPECT_EQ(inner->X(), c.wantX);
    EXPECT_EQ(inner->Width(), c.wantW);
    EXPECT_EQ(inner->Y(), 20);
    EXPECT_EQ(inner->Height(), 60);
    EXPECT_EQ(CanvasGraphics(inner)->Width(), c.wantW);
}

INSTANTIATE_TEST_SUITE_P(Edges, LayoutTest,
                         ::testing::Values(LayoutCase{1, 1, 50, 200}, LayoutCase{1, 0, 50, 100},
                                           LayoutCase{0, 1, 150, 100}, LayoutCase{0, 0, 100, 100}),
                         [](const ::testing::TestParamInfo<LayoutCase>& info) {
                             return std::string(info.param.left ? "LeftLocked" : "LeftFree") +
                                    (info.param.right ? "RightLocked" : "RightFree");
                         });

TEST_F(WindowTest, CloseAndPointerArriveAsEvents) {
    HeadlessMouseMove(canvas, 30, 40);
    HeadlessMouseButton(canvas, 1, true, 31, 41);
    HeadlessClose(window);
    Ref<TEvent> move = PollEvent(), down = PollEvent(), close = PollEvent();
    ASSERT_TRUE(move && down && close);
    EXPECT_EQ(move->id, EVENT_MOUSEMOVE);
    EXPECT_EQ(move->source.Get(), canvas.Get());
    EXPECT_EQ(down->id, EVENT_MOUSEDOWN);
    EXPECT_EQ(down->data, 1);
    EXPECT_EQ(close->id, EVENT_WINDOWCLOSE);
    EXPECT_EQ(close->source.Get(), window.Get());
    EXPECT_EQ(MouseX(), 31);
    EXPECT_TRUE(MouseDown(1));
}

TEST_F(WindowTest, RepaintArrivesLaterAndOnlyOnce) {
    canvas->Activate(ACTIVATE_REDRAW);
    canvas->Activate(ACTIVATE_REDRAW);
    EXPECT_EQ(QueuedEventCount(), 0);  // not inside Activate
    Ref<TEvent> ev = WaitEvent();
    ASSERT_TRUE(ev);
    EXPECT_EQ(ev->id, EVENT_GADGETPAINT);
    EXPECT_EQ(ev->source.Get(), canvas.Get());
    EXPECT_EQ(WaitEvent().Get(), nullptr);
    // After delivery a new request is honoured; a window asks all its canvases.
    window->Activate(ACTIVATE_REDRAW);
    HeadlessPump();
    EXPECT_EQ(QueuedEventCount(), 1);
    // Focus and maximise have nothing to do headless.
    window->Activate(ACTIVATE_FOCUS);
    window->Activate(ACTIVATE_MAXIMIZE);
    EXPECT_EQ(window->ClientWidth(), 450);
}

TEST_F(WindowTest, FreeingClosesGraphicsAndDropsPendingPaints) {
    SetGraphics(CanvasGraphics(canvas));
    canvas->Activate(ACTIVATE_REDRAW);
    FreeGadget(window);
    EXPECT_EQ(CurrentGraphics(), nullptr);
    EXPECT_EQ(CanvasGraphics(canvas), nullptr);
    HeadlessPump();
    EXPECT_EQ(QueuedEventCount(), 0);
    canvas->Activate(ACTIVATE_REDRAW);
    HeadlessResize(window, 10, 10);
    HeadlessClose(window);
    EXPECT_EQ(PollEvent().Get(), nullptr);
    FreeGadget(window);  // twice is harmless
}

TEST_F(WindowTest, EndGraphicsFreesEveryWindow) {
    Ref<TGadget> second = CreateWindow("second", 10, 20, 100, 80, nullptr, 0x3);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->X(), 10);
    EXPECT_EQ(second->Y(), 20);
    Ref<TGadget> c2 = CreateCanvas(0, 0, 100, 80, second, 0);
    EndGraphics();
    EXPECT_EQ(CanvasGraphics(canvas), nullptr);
    EXPECT_EQ(CanvasGraphics(c2), nullptr);
    EXPECT_FALSE(CreateCanvas(0, 0, 5, 5, second, 0));
}

}  // namespace
}  // namespace kin
