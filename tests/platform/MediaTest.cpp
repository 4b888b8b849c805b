// The built-in file registry and the nine data files compiled into the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media/BuiltinMedia.h"
#include "platform/Media.h"
#include "platform/Png.h"
#include "platform/Stream.h"

using namespace kin;

namespace {

std::vector<uint8_t> DiskBytes(const std::string& name) {
    std::ifstream in(std::string(SOURCE_ROOT) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

class BuiltinMedia : public ::testing::Test {
protected:
    static void SetUpTestSuite() { slime::RegisterBuiltinMedia(); }
};

const char* const kAllNames[] = {
    "media/blob.png",           "media/goo.png",           "media/ghostblob.png",
    "media/ghostgoo.png",       "media/del.png",           "media/AlienSquidge02.wav",
    "media/AlienSquidge06.wav", "media/zincboom.ttf",      "media/gelsimlogo.png",
};

}  // namespace

TEST_F(BuiltinMedia, AllNineAreRegisteredWithTheExactBytesOfTheirFiles) {
    for (const char* name : kAllNames) {
        SCOPED_TRACE(name);
        const IncbinEntry* e = FindIncbin(name);
        ASSERT_NE(e, nullptr);
        EXPECT_STREQ(e->name, name);
        EXPECT_GT(e->size, 400);
        const std::vector<uint8_t> disk = DiskBytes(name);
        ASSERT_EQ(e->size, static_cast<int64_t>(disk.size()));
        EXPECT_EQ(std::memcmp(e->data, disk.data(), disk.size()), 0);
    }
    EXPECT_GE(IncbinCount(), 9);
}

struct PictureSize {
    const char* name;
    int32_t width, height;
};

TEST_F(BuiltinMedia, PicturesDecodeToTheirSizesAndEndExactlyAtTheirLastByte) {
    const PictureSize pictures[] = {{"media/blob.png", 32, 32},   {"media/goo.png", 100, 32},
                                    {"media/ghostblob.png", 32, 32}, {"media/ghostgoo.png", 100, 32},
                                    {"media/del.png", 34, 34},    {"media/gelsimlogo.png", 160, 120}};
    for (const PictureSize& p : pictures) {
        SCOPED_TRACE(p.name);
        Ref<TStream> s = OpenMedia(std::string("incbin::") + p.name);
        ASSERT_TRUE(s);
        Ref<TPixmap> pix = LoadPixmapPNG(*s);
        ASSERT_TRUE(pix);
        EXPECT_EQ(pix->Width(), p.width);
        EXPECT_EQ(pix->Height(), p.height);
        EXPECT_TRUE(pix->HasAlpha());
        EXPECT_TRUE(s->Eof());
        // Soft shapes on a transparent ground: the corners are clear, something is drawn.
        EXPECT_EQ(pix->GetPixel(0, 0) & 0xFF, 0u);
        int visible = 0;
        for (int32_t y = 0; y < pix->Height(); ++y)
            for (int32_t x = 0; x < pix->Width(); ++x) visible += (pix->GetPixel(x, y) & 0xFF) > 32;
        EXPECT_GT(visible, pix->Width() * pix->Height() / 5);
    }
}

TEST_F(BuiltinMedia, SoundsArePcm16StereoAt44100WithTheirDurations) {
    const struct {
        const char* name;
        double seconds;
    } sounds[] = {{"media/AlienSquidge02.wav", 0.38}, {"media/AlienSquidge06.wav", 0.48}};
    for (const auto& snd : sounds) {
        SCOPED_TRACE(snd.name);
        const IncbinEntry* e = FindIncbin(snd.name);
        ASSERT_NE(e, nullptr);
        ASSERT_GE(e->size, 44);
        const uint8_t* d = e->data;
        EXPECT_EQ(std::memcmp(d, "RIFF", 4), 0);
        EXPECT_EQ(Le32(d + 4), uint32_t(e->size - 8));
        EXPECT_EQ(std::memcmp(d + 8, "WAVEfmt ", 8), 0);
        EXPECT_EQ(Le16(d + 20), 1);  // PCM
        EXPECT_EQ(Le16(d + 22), 2);  // stereo
        EXPECT_EQ(Le32(d + 24), 44100u);
        EXPECT_EQ(Le16(d + 32), 4);
        EXPECT_EQ(Le16(d + 34), 16);
        EXPECT_EQ(std::memcmp(d + 36, "data", 4), 0);
        const uint32_t bytes = Le32(d + 40);
        EXPECT_EQ(int64_t(bytes) + 44, e->size);
        EXPECT_NEAR(bytes / 4.0 / 44100.0, snd.seconds, 0.02);
        // Not silence: the samples reach a healthy level.
        int peak = 0;
        for (uint32_t i = 0; i + 1 < bytes; i += 2) peak = std::max(peak, std::abs(int16_t(Le16(d + 44 + i))));
        EXPECT_GT(peak, 16000);
    }
}

TEST_F(BuiltinMedia, FontIsTrueType) {
    const IncbinEntry* e = FindIncbin("media/zincboom.ttf");
    ASSERT_NE(e, nullptr);
    ASSERT_GT(e->size, 10000);
    EXPECT_EQ(Le32(e->data), 0x00000100u);  // sfnt version 1.0, stored big-endian
}

TEST(IncbinRegistry, RegistersReplacesAndRefusesNonsense) {
    static const uint8_t a[] = {1, 2, 3}, b[] = {4};
    RegisterIncbin("test/registry-probe", a, 3);
    const IncbinEntry* e = FindIncbin("test/registry-probe");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->size, 3);
    const int count = IncbinCount();
    RegisterIncbin("test/registry-probe", b, 1);  // same name: replaced, not added
    EXPECT_EQ(IncbinCount(), count);
    EXPECT_EQ(FindIncbin("test/registry-probe")->data, b);

    RegisterIncbin("", a, 3);
    RegisterIncbin("test/negative", a, -1);
    RegisterIncbin("test/null", nullptr, 5);
    EXPECT_EQ(IncbinCount(), count);
    EXPECT_EQ(FindIncbin("test/null"), nullptr);
    EXPECT_EQ(FindIncbin("incbin::test/registry-probe"), nullptr);  // names carry no prefix
    EXPECT_EQ(FindIncbin("test/unknown"), nullptr);
}
