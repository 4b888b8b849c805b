// Rigs: stored values and drawing through the world's view on a headless canvas.
#include "tests/support/BodyFixture.h"

namespace kin::gelsim::test {
namespace {

uint32_t Rgb(uint32_t pixel) { return pixel >> 8; }

class Rigs : public BodyWorld {
protected:
    void SetUp() override {
        BodyWorld::SetUp();
        SetClsColor(0, 0, 0);
        Cls();
    }
};

TEST_F(Rigs, CreateAndClampedSetters) {
    Ref<TMass> m = TMass::Create(1, 2, 1, 1, 0, 0);
    Ref<TImage> img = SolidImage(2, 2);
    Ref<TRig> r = TRig::Create(img.Get(), m.Get(), nullptr, 30.0f);
    EXPECT_EQ(r->GetName(), "Rig");
    EXPECT_EQ(r->GetImage(), img.Get());
    EXPECT_EQ(r->GetMass(), m.Get());
    EXPECT_EQ(r->GetConstraint(), nullptr);
    EXPECT_EQ(r->GetAngle(), 30.0f);
    EXPECT_EQ(r->GetBlend(), 1);
    EXPECT_EQ(r->GetAlpha(), 1.0f);
    EXPECT_EQ(r->abID, -1);
    EXPECT_EQ(r->GetIndex(), -1);

    r->SetColor(300, -5, 128);
    EXPECT_EQ(r->red, 1.0f);
    EXPECT_EQ(r->green, 0.0f);
    EXPECT_EQ(r->blue, 128.0f / 255.0f);
    int32_t cr = -1, cg = -1, cb = -1;
    r->GetColor(cr, cg, cb);
    EXPECT_EQ(cr, 255);
    EXPECT_EQ(cg, 0);
    EXPECT_EQ(cb, 128);
    for (int32_t v = 0; v < 256; ++v) {  // every byte value survives the factor
        r->SetColor(v, v, v);
        r->GetColor(cr, cg, cb);
        ASSERT_EQ(cr, v);
    }
    r->SetAlpha(2);
    EXPECT_EQ(r->GetAlpha(), 1.0f);
    r->SetAlpha(-1);
    EXPECT_EQ(r->GetAlpha(), 0.0f);
}

TEST_F(Rigs, DrawTintsTheCallersColourAndRestoresTheState) {
    Ref<TMass> m = TMass::Create(20, 20, 1, 1, 0, 0);
    Ref<TRig> r = TRig::Create(SolidImage(8, 8).Get(), m.Get(), nullptr, 0);
    r->SetBlend(SOLIDBLEND);
    r->SetColor(128, 255, 255);
    SetColor(101, 255, 255);
    SetAlpha(0.75f);
    SetBlend(ALPHABLEND);
    SetRotation(12.0f);
    SetScale(3.0f, 4.0f);
    const DrawState before = gfx->State();

    r->Draw();
    EXPECT_EQ(Rgb(gfx->PixelAt(23, 23)), 0x32FFFFu);  // 101 * 128/255 = 50.7 -> 50

    const DrawState& after = gfx->State();
    EXPECT_EQ(after.color_red, before.color_red);
    EXPECT_EQ(after.color_green, before.color_green);
    EXPECT_EQ(after.color_alpha, before.color_alpha);
    EXPECT_EQ(after.blend_mode, before.blend_mode);
    EXPECT_EQ(after.tform_rot, before.tform_rot);
    EXPECT_EQ(after.tform_scale_x, before.tform_scale_x);
    EXPECT_EQ(after.tform_scale_y, before.tform_scale_y);
    EXPECT_EQ(after.tform_ix, before.tform_ix);
}

TEST_F(Rigs, DrawMultipliesTheCallersAlpha) {
    Ref<TMass> m = TMass::Create(20, 20, 1, 1, 0, 0);
    Ref<TRig> r = TRig::Create(SolidImage(8, 8).Get(), m.Get(), nullptr, 0);
    r->SetBlend(ALPHABLEND);
    r->SetAlpha(0.5f);
    SetAlpha(0.5f);
    r->Draw();
    const uint32_t red = gfx->PixelAt(23, 23) >> 24;  // white at 0.25 over black
    EXPECT_NEAR(static_cast<double>(red), 64.0, 2.0);
    EXPECT_EQ(GetAlpha(), 0.5f);
}

TEST_F(Rigs, FollowsItsConstraintsDirection) {
    // A 16 x 2 bar whose handle is the middle of its left end.
    Ref<TImage> bar = SolidImage(16, 2);
    SetImageHandle(bar.Get(), 0, 1);
    Ref<TMass> a = TMass::Create(32, 32, 1, 1, 0, 0);
    Ref<TMass> below = TMass::Create(32, 60, 1, 1, 0, 0);
    Ref<TConstraint> down = TConstraint::Create(a.Get(), below.Get(), 0, 1);
    Ref<TRig> r = TRig::Create(bar.Get(), a.Get(), down.Get(), 0);
    r->SetBlend(SOLIDBLEND);
    r->Draw();
    EXPECT_EQ(Rgb(gfx->PixelAt(32, 42)), 0xFFFFFFu);  // along +y
    EXPECT_EQ(Rgb(gfx->PixelAt(42, 32)), 0u);

    Cls();
    r->SetConstraint(nullptr);  // the angle alone: along +x
    r->Draw();
    EXPECT_EQ(Rgb(gfx->PixelAt(42, 32)), 0xFFFFFFu);
    EXPECT_EQ(Rgb(gfx->PixelAt(32, 42)), 0u);
}

TEST_F(Rigs, WithoutImageOrMassNothingIsDrawn) {
    Ref<TMass> m = TMass::Create(20, 20, 1, 1, 0, 0);
    Ref<TRig> noImage = TRig::Create(nullptr, m.Get(), nullptr, 0);
    Ref<TRig> noMass = TRig::Create(SolidImage(8, 8).Get(), nullptr, nullptr, 0);
    noImage->Draw();
    noMass->Draw();
    EXPECT_EQ(Rgb(gfx->PixelAt(22, 22)), 0u);
    EXPECT_EQ(Rgb(gfx->PixelAt(2, 2)), 0u);
}

}  // namespace
}  // namespace kin::gelsim::test
