// Fonts: text width rules, glyph placement, the built-in default font and TrueType loading.
#include <gtest/gtest.h>

#include <ostream>

#include <cmath>
#include <filesystem>
#include <string>

#include "platform/Font.h"
#include "platform/Graphics.h"
#include "platform/Media.h"
#include "tests/platform/DrawFixture.h"

using namespace kin;
using kin::test::DrawFixture;

namespace {

/// 'a' advances 2.6 and 'b' 3.7 pixels; every other character is absent. Glyphs are 2x2
/// white squares, 'a' offset by (1, 2).
class FakeFont : public TImageFont {
public:
    FakeFont() {
        Ref<TPixmap> pm = MakeRef<TPixmap>(2, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x) pm->SetPixel(x, y, 0xFFFFFFFF);
        square = TImage::Create(pm.Get(), 0);
    }
    TImage* Glyph(uint32_t code) override { return code == 'a' || code == 'b' ? square.Get() : nullptr; }
    float Advance(uint32_t code) override { return code == 'a' ? 2.6f : code == 'b' ? 3.7f : 0.0f; }
    void GlyphOffset(uint32_t code, float& dx, float& dy) override {
        dx = code == 'a' ? 1.0f : 0.0f;
        dy = code == 'a' ? 2.0f : 0.0f;
    }
    float Height() override { return 9.5f; }
    Ref<TImage> square;
};

struct WidthCase {
    const char* name;
    const char* text;
    int32_t width;
};
void PrintTo(const WidthCase& c, std::ostream* os) { *os << c.text; }

class TextWidthTest : public DrawFixture, public ::testing::WithParamInterface<WidthCase> {};

TEST_P(TextWidthTest, TruncatesAfterEachGlyphAndSkipsAbsentCharacters) {
    Ref<FakeFont> font = MakeRef<FakeFont>();
    SetImageFont(font);
    EXPECT_EQ(TextWidth(GetParam().text), GetParam().width) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, TextWidthTest,
                         ::testing::Values(WidthCase{"Empty", "", 0}, WidthCase{"OneGlyph", "a", 2},
                                           WidthCase{"ThreeGlyphs", "aaa", 6},           // not 7
                                           WidthCase{"AbsentCharacterInside", "ab?b", 8},    // not 9
                                           WidthCase{"AllAbsent", "???", 0},
                                           WidthCase{"AbsentTwoByteCharacter", "b\xC3\xA9" "b", 6}),
                         [](const ::testing::TestParamInfo<WidthCase>& info) { return std::string(info.param.name); });

TEST_F(DrawFixture, TextPlacesGlyphsAtTruncatedPenPositions) {
    Ref<FakeFont> font = MakeRef<FakeFont>();
    SetImageFont(font);
    EXPECT_EQ(GetImageFont(), font.Get());
    EXPECT_EQ(TextHeight("ab"), 9);
    SetOrigin(1, 1);
    DrawText("a?b", 10, 20);  // 'a' at pen 0 + (1,2); '?' adds nothing; 'b' at pen 2
    Snap();
    EXPECT_TRUE(BoxIs(12, 23, 14, 25, {255, 255, 255}));
    EXPECT_TRUE(BoxIs(13, 21, 15, 23, {255, 255, 255}));
    EXPECT_EQ(LitCount(), 8);
}

TEST_F(DrawFixture, TextFollowsTheRotation) {
    Ref<FakeFont> font = MakeRef<FakeFont>();
    SetImageFont(font);
    SetRotation(90);
    DrawText("bbbb", 30, 10);  // pens 0, 3, 6, 9 run down the screen
    Snap();
    for (int pen : {0, 3, 6, 9}) EXPECT_TRUE(BoxIs(28, 10 + pen, 30, 12 + pen, {255, 255, 255})) << pen;
    EXPECT_EQ(LitCount(), 4 * 4);
}

// ---------------------------------------------------------------- the default font

TEST_F(DrawFixture, DefaultFontIsUsedWhenNoneIsSelected) {
    SetImageFont(nullptr);
    EXPECT_EQ(GetImageFont(), nullptr);
    TImageFont* def = DefaultFont();
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(TextWidth("abc"), 3 * int32_t(def->Advance('a')));
    EXPECT_GT(def->Advance('a'), 5.0f);
    EXPECT_EQ(TextWidth("\xE4\xB8\x80"), 0);                    // U+4E00: no glyph
    EXPECT_EQ(TextWidth("\xC3\xA9"), TextWidth("e"));           // UTF-8 e-acute
    EXPECT_EQ(TextWidth("\xFF"), TextWidth("e"));               // a stray byte reads as Latin-1
    EXPECT_EQ(def->Glyph(' '), nullptr);                        // nothing to draw...
    EXPECT_EQ(TextWidth(" "), TextWidth("e"));                  // ...but it advances
    const int32_t h = TextHeight("Hg");
    EXPECT_GE(h, 12);

    DrawText("Hello 123", 4, 6);
    Snap();
    const int lit = LitCount();
    EXPECT_GT(lit, 40);
    const int right = 4 + TextWidth("Hello 123");
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (Lit(x, y)) {
                EXPECT_TRUE(x >= 4 && x < right && y >= 6 && y < 6 + h) << x << "," << y;
            }
    // Glyph textures are made once; drawing again uploads nothing.
    const int64_t uploads = g_->TextureUploads();
    DrawText("Hello 123", 4, 30);
    EXPECT_EQ(g_->TextureUploads(), uploads);
}

// ---------------------------------------------------------------- TrueType fonts

std::string AnyTrueTypeFile() {
    namespace fs = std::filesystem;
    for (const std::string& p : {std::string(SOURCE_ROOT) + "/media/zincboom.ttf",
                                std::string("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf")})
        if (fs::exists(p)) return p;
    return {};
}

TEST_F(DrawFixture, TrueTypeFontRendersCrispGlyphs) {
    const std::string path = AnyTrueTypeFile();
    if (path.empty()) GTEST_SKIP() << "no TrueType file on this machine";
    Ref<TImageFont> smooth = LoadImageFont(path, 35, SMOOTHFONT);
    ASSERT_TRUE(smooth);
    TImage* one = smooth->Glyph('1');
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->flags, FILTEREDIMAGE | MIPMAPPEDIMAGE);
    const float adv = smooth->Advance('1');
    EXPECT_GT(adv, 5.0f);
    EXPECT_EQ(adv, std::floor(adv));  // hinted advances are whole pixels
    EXPECT_GT(smooth->Height(), 30.0f);
    EXPECT_EQ(smooth->Advance(0x10FFFD), 0.0f);  // private-use character: absent

    Ref<TImageFont> mono = LoadImageFont(path, 35, 0);
    ASSERT_TRUE(mono);
    TImage* m = mono->Glyph('1');
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->flags, 0);
    for (int y = 0; y < m->height; ++y)
        for (int x = 0; x < m->width; ++x) {
            const uint32_t a = m->frames[0]->GetPixel(x, y) & 0xFF;
            EXPECT_TRUE(a == 0 || a == 255);
        }

    SetImageFont(smooth);
    DrawText("10", 2, 2);
    Snap();
    EXPECT_GT(LitCount(), 50);
}

TEST(FontLoad, RefusesBadNamesDataAndSizes) {
    EXPECT_FALSE(LoadImageFont("/nonexistent/font.ttf", 35, SMOOTHFONT));
    static const uint8_t junk[] = "this is not a font file at all";
    RegisterIncbin("test/junk.ttf", junk, sizeof junk);
    EXPECT_FALSE(LoadImageFont("incbin::test/junk.ttf", 35, SMOOTHFONT));
    const std::string path = AnyTrueTypeFile();
    if (!path.empty()) {
        EXPECT_FALSE(LoadImageFont(path, 0, SMOOTHFONT));
        EXPECT_FALSE(LoadImageFont(path, 5000, SMOOTHFONT));
    }
}

}  // namespace
