#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "gelsim/core/MathUtil.h"
#include "tests/support/WorldFixture.h"
#include "platform/Graphics.h"
#include "platform/Image.h"
#include "platform/Pixmap.h"

namespace kin::gelsim::test {
namespace {

class View : public WorldFixture {
protected:
    void Canvas(int32_t w, int32_t h) {
        gfx = CreateHeadlessGraphics(w, h);
        SetGraphics(gfx.Get());
    }
    void TearDown() override {
        SetGraphics(nullptr);
        WorldFixture::TearDown();
    }
    Ref<TGraphics> gfx;
};

// The one truncation of colours and other products that may be anything: against a
// reference in double over the edges of the int32 range and random bit patterns (NaN and
// infinities among them). The zone's copy answered INT32_MAX for 2147483520 and the
// rig's clamped everything beyond to +-2147483520.
TEST(TruncToInt, ExactInsideTheRangeSaturatingBeyondZeroForNaN) {
    auto reference = [](float v) -> int32_t {
        if (std::isnan(v)) return 0;
        const double t = std::trunc(static_cast<double>(v));
        if (t >= 2147483647.0) return std::numeric_limits<int32_t>::max();
        if (t <= -2147483648.0) return std::numeric_limits<int32_t>::min();
        return static_cast<int32_t>(t);
    };
    std::vector<float> values = {0.0f, -0.0f, 0.99f, -0.99f, 255.0f * 1.0f, 2147483520.0f, 2147483648.0f,
                                 -2147483520.0f, -2147483648.0f, -2147483904.0f, 1e30f, -1e30f,
                                 std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                                 std::numeric_limits<float>::quiet_NaN()};
    std::mt19937 rng(12);
    for (int k = 0; k < 200000; ++k) {
        const uint32_t bits = static_cast<uint32_t>(rng());
        float v;
        std::memcpy(&v, &bits, sizeof v);
        values.push_back(v);
    }
    for (float v : values) ASSERT_EQ(TruncToInt(v), reference(v)) << v;
}

TEST_F(View, ZoomTwoCentredOnTheGroundLine) {
    Canvas(900, 600);
    TPhysics::SetDrawZoom(2);
    TPhysics::SetDrawCoords(512, 4096);
    EXPECT_FLOAT_EQ(TPhysics::ScreenX(512, 4096), 450);
    EXPECT_FLOAT_EQ(TPhysics::ScreenY(512, 4096), 300);
    EXPECT_FLOAT_EQ(TPhysics::ScreenY(0, 4000), 108);
    EXPECT_FLOAT_EQ(TPhysics::SimY(0, 600), 4246);
}

TEST_F(View, QuarterTurnMapsXDown) {
    Canvas(200, 100);
    TPhysics::SetDrawRotation(90);
    TPhysics::SetDrawCoords(0, 0);
    EXPECT_NEAR(TPhysics::ScreenX(10, 0), 100, 1e-4);
    EXPECT_NEAR(TPhysics::ScreenY(10, 0), 60, 1e-4);
    EXPECT_NEAR(TPhysics::SimX(100, 60), 10, 1e-4);
    EXPECT_NEAR(TPhysics::SimY(100, 60), 0, 1e-4);
}

TEST_F(View, SimIsTheInverseOfScreenForAnyTurnAndZoom) {
    Canvas(640, 480);
    for (float rot : {0.0f, 33.0f, -120.0f, 270.0f})
        for (float zoom : {0.25f, 1.0f, 3.5f}) {
            TPhysics::SetDrawRotation(rot);
            TPhysics::SetDrawZoom(zoom);
            TPhysics::SetDrawCoords(300, 2000);
            const float x = 123.5f, y = 1987.25f;
            const float sx = TPhysics::ScreenX(x, y), sy = TPhysics::ScreenY(x, y);
            EXPECT_NEAR(TPhysics::SimX(sx, sy), x, 2e-3f) << rot << " " << zoom;
            EXPECT_NEAR(TPhysics::SimY(sx, sy), y, 2e-3f) << rot << " " << zoom;
        }
}

TEST_F(View, ZoomZeroAnswersTheCentre) {
    Canvas(100, 100);
    TPhysics::SetDrawCoords(40, 70);
    TPhysics::SetDrawZoom(0);
    EXPECT_EQ(TPhysics::SimX(5, 5), 40.0f);
    EXPECT_EQ(TPhysics::SimY(5, 5), 70.0f);
    EXPECT_TRUE(std::isfinite(TPhysics::MouseX()));
    EXPECT_EQ(TPhysics::ScreenX(1000, 1000), 50.0f);
}

TEST_F(View, NewWorldShowsScreenPixels) {
    Canvas(320, 200);
    Ref<TPhysics> w = TPhysics::Create(1024, 4096, 0.1f, 0, 1);
    EXPECT_EQ(w->centerX, 160.0f);
    EXPECT_EQ(w->centerY, 100.0f);
    EXPECT_EQ(TPhysics::ScreenX(17, 23), 17.0f);
    EXPECT_EQ(TPhysics::ScreenY(17, 23), 23.0f);
    world = w;
}

TEST_F(View, DrawersRestoreTheStateTheyChange) {
    Canvas(200, 200);
    TPhysics::SetDrawZoom(2);
    TPhysics::SetDrawRotation(30);
    TPhysics::SetDrawCoords(100, 100);
    SetScale(3, 3);
    SetRotation(10);
    SetOrigin(4, 5);
    const DrawState before = gfx->State();
    TPhysics::DrawPoly({0, 0, 10, 0, 0, 10}, 100, 100);
    TPhysics::DrawOval(90, 90, 10, 10);
    TPhysics::DrawRect(90, 90, 10, 10);
    TPhysics::DrawLine(0, 0, 200, 200);
    const DrawState& after = gfx->State();
    EXPECT_EQ(after.tform_rot, before.tform_rot);
    EXPECT_EQ(after.tform_scale_x, before.tform_scale_x);
    EXPECT_EQ(after.tform_scale_y, before.tform_scale_y);
    EXPECT_EQ(after.origin_x, before.origin_x);
    EXPECT_EQ(after.origin_y, before.origin_y);
}

// Counts lit pixels of a white-on-black picture.
int32_t LitPixels(TGraphics* g) {
    int32_t n = 0;
    const std::vector<uint8_t> px = g->ReadPixels();
    for (size_t k = 0; k + 3 < px.size(); k += 4)
        if (px[k] > 128) ++n;
    return n;
}

TEST_F(View, PolygonIgnoresTheCallersScaleButAnImageDoesNot) {
    Canvas(200, 200);
    SetClsColor(0, 0, 0);
    SetColor(255, 255, 255);
    TPhysics::SetDrawCoords(100, 100);
    Cls();
    TPhysics::DrawPoly({-10, -10, 10, -10, 10, 10, -10, 10}, 100, 100);
    const int32_t plain = LitPixels(gfx.Get());
    Cls();
    SetScale(3, 3);
    TPhysics::DrawPoly({-10, -10, 10, -10, 10, 10, -10, 10}, 100, 100);
    EXPECT_EQ(LitPixels(gfx.Get()), plain);
    // The oval's size is multiplied by the caller's scale once more.
    Cls();
    SetScale(1, 1);
    TPhysics::DrawOval(95, 95, 10, 10);
    const int32_t small = LitPixels(gfx.Get());
    Cls();
    SetScale(3, 3);
    TPhysics::DrawOval(95, 95, 10, 10);
    EXPECT_GT(LitPixels(gfx.Get()), small * 6);
    // An image is scaled by the zoom on top of the caller's scale: three times as wide.
    Ref<TPixmap> px = MakeRef<TPixmap>(8, 8);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x) px->SetPixel(x, y, 0xFFFFFFFFu);
    Ref<TImage> img = TImage::Create(px.Get(), 0);
    TPhysics::SetDrawZoom(2);
    TPhysics::SetDrawCoords(100, 100);
    Cls();
    SetScale(1, 1);
    TPhysics::DrawImage(img.Get(), 50, 50, 0);
    const int32_t once = LitPixels(gfx.Get());
    EXPECT_EQ(once, 16 * 16);
    Cls();
    SetScale(3, 3);
    TPhysics::DrawImage(img.Get(), 50, 50, 0);
    EXPECT_EQ(LitPixels(gfx.Get()), 48 * 48);
    float sx, sy;
    GetScale(sx, sy);
    EXPECT_EQ(sx, 3.0f);
    SetScale(1, 1);
}

}  // namespace
}  // namespace kin::gelsim::test
