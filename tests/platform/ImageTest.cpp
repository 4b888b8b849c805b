// Images: creation, masking, loading, handles, frames, and how they are drawn and cached.
#include <gtest/gtest.h>

#include <ostream>

#include <vector>

#include "platform/Graphics.h"
#include "platform/Image.h"
#include "platform/Media.h"
#include "platform/Png.h"
#include "tests/platform/DrawFixture.h"

using namespace kin;
using kin::test::DrawFixture;
using kin::test::Near;
using kin::test::Rgb;

namespace {

Ref<TPixmap> Solid(int w, int h, uint32_t rgba, bool hasAlpha = true) {
    Ref<TPixmap> pm = MakeRef<TPixmap>(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) pm->SetPixel(x, y, rgba);
    pm->SetHasAlpha(hasAlpha);
    return pm;
}

/// Left half left, right half right.
Ref<TPixmap> Halves(int w, int h, uint32_t left, uint32_t right, bool hasAlpha) {
    Ref<TPixmap> pm = Solid(w, h, right, hasAlpha);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w / 2; ++x) pm->SetPixel(x, y, left);
    return pm;
}

constexpr uint32_t RED = 0xFF0000FF, GREEN = 0x00FF00FF, BLUE = 0x0000FFFF, MAGENTA = 0xFF00FFFF;

// ---------------------------------------------------------------- creation and loading

TEST(ImageCreate, TakesSizeFlagsAndMaskColour) {
    SetMaskColor(300, 10, -4);  // clamped
    Ref<TPixmap> pm = Solid(6, 4, RED);
    Ref<TImage> img = LoadImage(pm.Get(), MASKEDIMAGE | FILTEREDIMAGE | MIPMAPPEDIMAGE);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width, 6);
    EXPECT_EQ(img->height, 4);
    EXPECT_EQ(img->flags, 7);
    EXPECT_EQ(img->maskR, 255);
    EXPECT_EQ(img->maskB, 0);
    ASSERT_EQ(img->frames.size(), 1u);
    EXPECT_EQ(img->frames[0].Get(), pm.Get());  // nothing masked: shared, not copied
    MidHandleImage(img);
    EXPECT_FLOAT_EQ(img->handle_x, 3.0f);
    EXPECT_FLOAT_EQ(img->handle_y, 2.0f);
    SetImageHandle(img, -1.5f, 7);
    EXPECT_FLOAT_EQ(img->handle_x, -1.5f);
    SetImageHandle(nullptr, 1, 1);
    MidHandleImage(nullptr);
    SetMaskColor(0, 0, 0);
}

TEST(ImageCreate, DefaultFlagsComeFromAutoImageFlags) {
    Ref<TPixmap> pm = Solid(2, 2, RED);
    EXPECT_EQ(LoadImage(pm.Get(), -1)->flags, MASKEDIMAGE | FILTEREDIMAGE);
    AutoImageFlags(FILTEREDIMAGE);
    EXPECT_EQ(LoadImage(pm.Get())->flags, FILTEREDIMAGE);
    AutoImageFlags(-1);
    EXPECT_EQ(LoadImage(pm.Get())->flags, MASKEDIMAGE | FILTEREDIMAGE);
}

TEST(ImageCreate, RefusesEmptyAndOversizedPictures) {
    EXPECT_FALSE(LoadImage(static_cast<TPixmap*>(nullptr)));
    Ref<TPixmap> empty = MakeRef<TPixmap>(0, 0);
    EXPECT_FALSE(LoadImage(empty.Get()));
    EXPECT_FALSE(TImage::CreateBlank(0, 5));
    EXPECT_FALSE(TImage::CreateBlank(5, 5, 0));
    EXPECT_FALSE(TImage::CreateBlank(20000, 5));
    EXPECT_FALSE(TImage::CreateBlank(16384, 16384, 4));
    Ref<TImage> blank = TImage::CreateBlank(3, 2, 4, 0);
    ASSERT_TRUE(blank);
    EXPECT_EQ(blank->frames.size(), 4u);
    EXPECT_EQ(blank->frames[3]->GetPixel(2, 1), 0u);
}

struct MaskCase {
    const char* name;
    bool pictureHasAlpha;
    int32_t flags;
    bool leftTransparent;
};
void PrintTo(const MaskCase& c, std::ostream* os) { *os << c.name; }

class MaskTest : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskTest, MaskColourTurnsTransparentOnlyInMaskedPicturesWithoutAlpha) {
    const MaskCase& c = GetParam();
    SetMaskColor(255, 0, 255);
    Ref<TPixmap> pm = Halves(4, 2, MAGENTA, BLUE, c.pictureHasAlpha);
    Ref<TImage> img = LoadImage(pm.Get(), c.flags);
    SetMaskColor(0, 0, 0);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->frames[0]->GetPixel(0, 0), c.leftTransparent ? 0u : MAGENTA);
    EXPECT_EQ(img->frames[0]->GetPixel(3, 1), BLUE);
    EXPECT_EQ(pm->GetPixel(0, 0), MAGENTA);  // the caller's pixmap is never changed
}

INSTANTIATE_TEST_SUITE_P(Cases, MaskTest,
                         ::testing::Values(MaskCase{"maskedNoAlpha", false, MASKEDIMAGE, true},
                                           MaskCase{"maskedWithAlpha", true, MASKEDIMAGE, false},
                                           MaskCase{"unmaskedNoAlpha", false, FILTEREDIMAGE, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ImageLoad, FromStreamMediaNameAndBuiltinData) {
    Ref<TPixmap> pm = Halves(5, 3, RED, GREEN, true);
    TBankStream bank;
    ASSERT_TRUE(SavePixmapPNG(*pm, bank, 5));
    const std::vector<uint8_t> png = bank.Bytes();

    TBankStream in(png.data(), int64_t(png.size()));
    Ref<TImage> img = LoadImage(in, 0);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width, 5);
    EXPECT_EQ(img->height, 3);
    EXPECT_EQ(img->frames[0]->GetPixel(4, 2), GREEN);

    RegisterIncbin("test/halves.png", png.data(), int64_t(png.size()));
    Ref<TImage> builtin = LoadImage("incbin::test/halves.png", -1);
    ASSERT_TRUE(builtin);
    EXPECT_EQ(builtin->frames[0]->GetPixel(0, 0), RED);

    EXPECT_FALSE(LoadImage("incbin::test/absent.png"));
    EXPECT_FALSE(LoadImage("/nonexistent/dir/picture.png"));
    const uint8_t junk[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    TBankStream bad(junk, sizeof junk);
    EXPECT_FALSE(LoadImage(bad));
    TBankStream truncated(png.data(), int64_t(png.size() / 2));
    EXPECT_FALSE(LoadImage(truncated));
}

// ---------------------------------------------------------------- drawing

class ImageDrawTest : public DrawFixture {};

TEST_F(ImageDrawTest, FramePlacedByItsOwnHandleNotTheDrawingHandle) {
    Ref<TImage> img = LoadImage(Solid(4, 4, RED).Get(), 0);
    SetImageHandle(img, 1, 2);
    SetHandle(10, 10);  // applies to shapes only
    SetOrigin(3, 4);
    DrawImage(img, 20, 20);
    Snap();
    EXPECT_TRUE(BoxIs(22, 22, 26, 26, {255, 0, 0}));
    EXPECT_EQ(LitCount(), 16);
}

TEST_F(ImageDrawTest, MidHandleCentresAndTransformPivotsThere) {
    Ref<TImage> img = LoadImage(Solid(6, 4, GREEN).Get(), 0);
    MidHandleImage(img);
    DrawImage(img, 30, 30);
    Snap();
    EXPECT_TRUE(BoxIs(27, 28, 33, 32, {0, 255, 0}));
    EXPECT_EQ(LitCount(), 24);
    Cls();
    SetTransform(90, 2, 1);  // 12 x 4 turned upright about the centre
    DrawImage(img, 30, 30);
    Snap();
    EXPECT_TRUE(BoxIs(28, 24, 32, 36, {0, 255, 0}));
    EXPECT_EQ(LitCount(), 48);
}

TEST_F(ImageDrawTest, SelectsFramesAndIgnoresAbsentOnes) {
    Ref<TImage> img = TImage::CreateBlank(2, 2, 2, 0);
    img->frames[0] = Solid(2, 2, RED);
    img->frames[1] = Solid(2, 2, GREEN);
    DrawImage(img, 0, 0, 1);
    DrawImage(img, 10, 0, 2);
    DrawImage(img, 20, 0, -1);
    DrawImage(nullptr, 30, 0, 0);
    img->frames[0] = nullptr;
    DrawImage(img, 40, 0, 0);
    Snap();
    EXPECT_TRUE(BoxIs(0, 0, 2, 2, {0, 255, 0}));
    EXPECT_EQ(LitCount(), 4);
}

TEST_F(ImageDrawTest, ColourAndAlphaModulateTheTexels) {
    Ref<TImage> img = LoadImage(Solid(4, 4, 0xFFFFFFFF).Get(), 0);
    SetColor(255, 0, 128);
    DrawImage(img, 0, 0);
    SetBlend(ALPHABLEND);
    SetColor(255, 255, 255);
    SetAlpha(0.5f);
    DrawImage(img, 10, 0);
    Snap();
    EXPECT_TRUE(Near(At(1, 1), {255, 0, 128}, 1));
    EXPECT_TRUE(Near(At(11, 1), {127, 127, 127}, 2));
}

TEST_F(ImageDrawTest, MaskedPixelsStayTransparentWithAlphaBlending) {
    SetMaskColor(255, 0, 255);
    Ref<TImage> img = LoadImage(Halves(4, 4, MAGENTA, BLUE, false).Get(), MASKEDIMAGE);
    SetMaskColor(0, 0, 0);
    SetBlend(ALPHABLEND);
    DrawImage(img, 8, 8);
    Snap();
    EXPECT_TRUE(BoxIs(8, 8, 10, 12, BG));
    EXPECT_TRUE(BoxIs(10, 8, 12, 12, {0, 0, 255}));
}

TEST_F(ImageDrawTest, MaskBlendDrawsTexelsAboveHalfAlphaWithoutBlending) {
    SetClsColor(0, 0, 200);
    Cls();
    // alpha 129 on the left (drawn, unblended), 127 on the right (skipped)
    Ref<TImage> img = LoadImage(Halves(4, 4, 0xFF000081, 0x00FF007F, true).Get(), 0);
    SetBlend(MASKBLEND);
    DrawImage(img, 8, 8);
    SetAlpha(0.5f);  // the whole image is skipped
    DrawImage(img, 20, 8);
    Snap();
    EXPECT_TRUE(BoxIs(8, 8, 10, 12, {255, 0, 0}));
    EXPECT_TRUE(BoxIs(10, 8, 12, 12, {0, 0, 200}));
    EXPECT_TRUE(BoxIs(20, 8, 24, 12, {0, 0, 200}));
}

TEST_F(ImageDrawTest, TexturesAreMadeOncePerContextAndFreedWithTheImage) {
    Ref<TImage> img = LoadImage(Solid(4, 4, RED).Get(), 0);
    for (int i = 0; i < 5; ++i) DrawImage(img, float(i * 5), 0);
    EXPECT_EQ(g_->TextureUploads(), 1);
    EXPECT_EQ(g_->CachedImageCount(), 1);

    // A second context keeps textures of its own.
    Ref<TGraphics> other = CreateHeadlessGraphics(16, 16);
    SetGraphics(other);
    DrawImage(img, 0, 0);
    EXPECT_EQ(other->TextureUploads(), 1);
    EXPECT_EQ(other->PixelAt(1, 1) >> 8, 0xFF0000u);
    SetGraphics(g_);

    // Changed pixels are picked up after Invalidate.
    img->frames[0]->SetPixel(0, 0, GREEN);
    img->Invalidate();
    EXPECT_EQ(g_->CachedImageCount(), 0);
    DrawImage(img, 40, 40);
    EXPECT_EQ(g_->TextureUploads(), 2);
    EXPECT_EQ(g_->PixelAt(40, 40) >> 8, 0x00FF00u);

    img = nullptr;
    EXPECT_EQ(g_->CachedImageCount(), 0);
    EXPECT_EQ(other->CachedImageCount(), 0);
}

TEST_F(ImageDrawTest, ResizeMakesFreshTexturesAndContextsMayDieFirst) {
    Ref<TImage> img = LoadImage(Solid(4, 4, RED).Get(), 0);
    DrawImage(img, 0, 0);
    g_->Resize(32, 32);
    EXPECT_EQ(g_->CachedImageCount(), 0);
    DrawImage(img, 2, 2);
    EXPECT_EQ(g_->TextureUploads(), 2);
    EXPECT_EQ(g_->PixelAt(3, 3) >> 8, 0xFF0000u);

    SetGraphics(nullptr);
    g_ = nullptr;  // the context goes before the image: the image forgets its textures
    EXPECT_EQ(img->cache, nullptr);
    img = nullptr;
}

}  // namespace
