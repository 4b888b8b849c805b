// PNG codec: round trips, pictures embedded in a stream, damaged and hostile input, and
// every colour type and bit depth coming back as 8-bit RGBA.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "platform/Png.h"
#include "platform/Stream.h"

using namespace kin;

namespace {

// ---------------------------------------------------------------------------------------
// A minimal PNG maker (stored deflate blocks, no filtering), so the tests can build any
// colour type, bit depth, palette, transparency and interlacing, or damage them at will.

uint32_t Crc(const uint8_t* p, size_t n, uint32_t crc = 0) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        ready = true;
    }
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void Be32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    Be32(out, uint32_t(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    Be32(out, Crc(body.data(), body.size()));
}

std::vector<uint8_t> Zlib(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> z = {0x78, 0x01};
    size_t pos = 0;
    do {
        size_t n = std::min<size_t>(65535, raw.size() - pos);
        bool last = pos + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(uint8_t(n));
        z.push_back(uint8_t(n >> 8));
        z.push_back(uint8_t(~n));
        z.push_back(uint8_t(~n >> 8));
        z.insert(z.end(), raw.begin() + long(pos), raw.begin() + long(pos + n));
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
    Be32(z, (b << 16) | a);
    return z;
}

struct RawPicture {
    uint32_t width, height;
    int depth;      // bits per sample
    int colorType;  // 0 gray, 2 rgb, 3 palette, 4 gray+alpha, 6 rgba
    std::vector<uint16_t> samples;  // row-major, channels per pixel as the colour type says
    std::vector<uint8_t> palette;   // PLTE
    std::vector<uint8_t> trns;      // tRNS
    bool interlaced;
};

RawPicture Pic(uint32_t w, uint32_t h, int depth, int colorType, std::vector<uint16_t> samples,
               std::vector<uint8_t> palette = {}, std::vector<uint8_t> trns = {}) {
    return {w, h, depth, colorType, std::move(samples), std::move(palette), std::move(trns), false};
}

int Channels(int colorType) { return colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1; }

std::vector<uint8_t> Header(uint32_t w, uint32_t h, int depth, int colorType, bool interlaced) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    Be32(ihdr, w);
    Be32(ihdr, h);
    ihdr.insert(ihdr.end(), {uint8_t(depth), uint8_t(colorType), 0, 0, uint8_t(interlaced ? 1 : 0)});
    Chunk(out, "IHDR", ihdr);
    return out;
}

// Scanlines (filter byte 0) of the pixels x0, x0+dx, ... of rows y0, y0+dy, ...
void Scanlines(const RawPicture& p, uint32_t x0, uint32_t y0, uint32_t dx, uint32_t dy, std::vector<uint8_t>& raw) {
    const int ch = Channels(p.colorType);
    if (x0 >= p.width) return;
    for (uint32_t y = y0; y < p.height; y += dy) {
        raw.push_back(0);
        uint32_t acc = 0;
        int bits = 0;
        for (uint32_t x = x0; x < p.width; x += dx)
            for (int c = 0; c < ch; ++c) {
                uint16_t v = p.samples[(size_t(y) * p.width + x) * size_t(ch) + size_t(c)];
                if (p.depth == 16) {
                    raw.push_back(uint8_t(v >> 8));
                    raw.push_back(uint8_t(v));
                } else {
                    acc = (acc << p.depth) | v;
                    bits += p.depth;
                    if (bits == 8) raw.push_back(uint8_t(acc)), acc = 0, bits = 0;
                }
            }
        if (bits) raw.push_back(uint8_t(acc << (8 - bits)));
    }
}

std::vector<uint8_t> Encode(const RawPicture& p) {
    std::vector<uint8_t> out = Header(p.width, p.height, p.depth, p.colorType, p.interlaced);
    if (!p.palette.empty()) Chunk(out, "PLTE", p.palette);
    if (!p.trns.empty()) Chunk(out, "tRNS", p.trns);
    std::vector<uint8_t> raw;
    if (p.interlaced) {
        static const uint32_t pass[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
        for (const auto& s : pass) Scanlines(p, s[0], s[1], s[2], s[3], raw);
    } else {
        Scanlines(p, 0, 0, 1, 1, raw);
    }
    Chunk(out, "IDAT", Zlib(raw));
    Chunk(out, "IEND", {});
    return out;
}

Ref<TPixmap> Decode(const std::vector<uint8_t>& bytes) {
    TBankStream s(bytes.data(), int64_t(bytes.size()));
    return LoadPixmapPNG(s);
}

std::vector<uint8_t> Pixels(const TPixmap& p) {
    return {p.Pixels(), p.Pixels() + size_t(p.Width()) * size_t(p.Height()) * 4};
}

// A picture with smooth gradients, hard edges, noise and every alpha level.
Ref<TPixmap> TestPicture(int32_t w, int32_t h, uint32_t seed) {
    auto p = MakeRef<TPixmap>(w, h);
    uint32_t s = seed;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            s = s * 1664525u + 1013904223u;
            uint32_t r = uint32_t(x * 255 / w), g = uint32_t(y * 255 / h), b = (x / 8 + y / 8) % 2 ? 200u : 40u;
            uint32_t a = (s >> 24) & 0xFF;
            if (x < w / 2) a = 255;
            p->SetPixel(x, y, (r << 24) | (g << 16) | (b << 8) | a);
        }
    return p;
}

std::vector<uint8_t> Save(const TPixmap& p, int level) {
    TBankStream bank;
    EXPECT_TRUE(SavePixmapPNG(p, bank, level));
    return bank.Bytes();
}

}  // namespace

// ---------------------------------------------------------------------------------------

TEST(PngCodec, RoundTripsAtLevels9And5WithIdenticalPixels) {
    Ref<TPixmap> src = TestPicture(64, 48, 7);
    const std::vector<uint8_t> at9 = Save(*src, 9), at5 = Save(*src, 5);
    EXPECT_LE(at9.size(), at5.size());
    for (const auto* bytes : {&at9, &at5}) {
        Ref<TPixmap> back = Decode(*bytes);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->Width(), 64);
        EXPECT_EQ(back->Height(), 48);
        EXPECT_TRUE(back->HasAlpha());
        EXPECT_EQ(Pixels(*back), Pixels(*src));
    }
    EXPECT_EQ(Save(*src, 9), at9);   // the same pixels give the same bytes
    EXPECT_EQ(Save(*src, 42), at9);  // levels are clamped to 0..9
}

TEST(PngCodec, PicturesBackToBackInOneStreamAreReadInOrder) {
    Ref<TPixmap> a = TestPicture(5, 3, 1), b = TestPicture(17, 9, 2);
    TBankStream bank;
    ASSERT_TRUE(SavePixmapPNG(*a, bank, 9));
    ASSERT_TRUE(SavePixmapPNG(*b, bank, 5));
    const int32_t marker = -123456;
    bank.WriteBytes(&marker, 4);

    bank.Seek(0);
    Ref<TPixmap> first = LoadPixmapPNG(bank), second = LoadPixmapPNG(bank);
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_EQ(Pixels(*first), Pixels(*a));
    EXPECT_EQ(Pixels(*second), Pixels(*b));
    int32_t after = 0;
    bank.ReadBytes(&after, 4);
    EXPECT_EQ(after, marker);
    EXPECT_TRUE(bank.Eof());
}

TEST(PngCodec, TruncatedPicturesGiveNull) {
    const std::vector<uint8_t> whole = Save(*TestPicture(20, 20, 3), 9);
    ASSERT_TRUE(Decode(whole));
    const size_t n = whole.size();
    for (size_t len : {size_t(0), size_t(1), size_t(8), size_t(20), size_t(33), size_t(41), n / 2, n - 13,
                       n - 12, n - 4, n - 1}) {
        SCOPED_TRACE(len);
        std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(len));
        EXPECT_FALSE(Decode(cut));
    }
}

TEST(PngCodec, GarbageAndDamageGiveNull) {
    std::vector<uint8_t> noise(600);
    uint32_t s = 99;
    for (auto& b : noise) s = s * 1103515245u + 12345u, b = uint8_t(s >> 16);
    EXPECT_FALSE(Decode(noise));

    const std::vector<uint8_t> good = Save(*TestPicture(12, 12, 4), 9);
    std::vector<uint8_t> afterSignature(good.begin(), good.begin() + 8);
    afterSignature.insert(afterSignature.end(), noise.begin(), noise.end());
    EXPECT_FALSE(Decode(afterSignature));

    std::vector<uint8_t> badHeaderCrc = good;
    badHeaderCrc[18] ^= 0x01;  // inside IHDR: its CRC no longer matches
    EXPECT_FALSE(Decode(badHeaderCrc));

    // Picture data that is not a deflate stream, in a chunk with a correct CRC.
    std::vector<uint8_t> badData = Header(4, 4, 8, 6, false);
    Chunk(badData, "IDAT", std::vector<uint8_t>(noise.begin(), noise.begin() + 64));
    Chunk(badData, "IEND", {});
    EXPECT_FALSE(Decode(badData));

    // Too few rows in otherwise valid data.
    RawPicture shortRows = Pic(4, 4, 8, 0, std::vector<uint16_t>(16, 9));
    std::vector<uint8_t> tooFew = Header(4, 5, 8, 0, false);
    std::vector<uint8_t> whole = Encode(shortRows);
    tooFew.insert(tooFew.end(), whole.begin() + 33, whole.end());  // shortRows' chunks after its IHDR
    EXPECT_FALSE(Decode(tooFew));
}

TEST(PngCodec, DimensionsAreBounded) {
    auto declared = [](uint32_t w, uint32_t h, bool interlaced) {
        std::vector<uint8_t> png = Header(w, h, 8, 6, interlaced);
        Chunk(png, "IDAT", Zlib(std::vector<uint8_t>(200, 0)));
        Chunk(png, "IEND", {});
        return png;
    };
    EXPECT_FALSE(Decode(declared(100000, 100000, false)));
    EXPECT_FALSE(Decode(declared(PNG_MAX_DIMENSION + 1, 1, false)));
    EXPECT_FALSE(Decode(declared(1, PNG_MAX_DIMENSION + 1, false)));
    EXPECT_FALSE(Decode(declared(0, 1, false)));

    RawPicture wide = Pic(uint32_t(PNG_MAX_DIMENSION), 1, 8, 0, std::vector<uint16_t>(size_t(PNG_MAX_DIMENSION), 77));
    Ref<TPixmap> edge = Decode(Encode(wide));
    ASSERT_TRUE(edge);
    EXPECT_EQ(edge->GetPixel(PNG_MAX_DIMENSION - 1, 0), 0x4D4D4DFFu);
}

// Exits 0 when both pictures are refused with 192 MiB of address space to spare (each
// would need 1 GiB if allocated up front).
[[noreturn]] void DecodeWithinBudget(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    long pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
        std::fclose(f);
    }
    const rlim_t budget = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(192) << 20);
    struct rlimit lim = {budget, budget};
    if (pages == 0 || setrlimit(RLIMIT_AS, &lim) != 0) _exit(3);
    _exit(Decode(a) || Decode(b) ? 1 : 0);
}

// Short files declaring the largest allowed pictures must be refused before anything near
// the declared size is allocated: run them in a child process with little address space.
TEST(PngCodecDeathTest, HugeDeclaredPicturesAreRefusedWithinASmallMemoryBudget) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "address space limits do not mix with the address sanitizer";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto declared = [](bool interlaced, size_t dataBytes) {
        std::vector<uint8_t> png = Header(PNG_MAX_DIMENSION, PNG_MAX_DIMENSION, 8, 6, interlaced);
        Chunk(png, "IDAT", Zlib(std::vector<uint8_t>(dataBytes, 0)));
        Chunk(png, "IEND", {});
        return png;
    };
    // Enough data that the plain one passes the check against the stream's length; both
    // are refused for the heap their pixels would need.
    const std::vector<uint8_t> plain = declared(false, 1200000), interlaced = declared(true, 300000);
    EXPECT_EXIT(DecodeWithinBudget(plain, interlaced), ::testing::ExitedWithCode(0), "");
#endif
}

// ---------------------------------------------------------------------------------------
// Every colour type and depth comes back as 8-bit RGBA.

struct FormatCase {
    const char* what;
    RawPicture picture;
    std::vector<uint32_t> expected;  // 0xRRGGBBAA per pixel
    bool hasAlpha;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.what; }

class PngFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(PngFormats, DecodeToRgba) {
    const FormatCase& c = GetParam();
    for (bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced ? "interlaced" : "progressive");
        RawPicture p = c.picture;
        p.interlaced = interlaced;
        Ref<TPixmap> pix = Decode(Encode(p));
        ASSERT_TRUE(pix);
        ASSERT_EQ(size_t(pix->Width()) * size_t(pix->Height()), c.expected.size());
        EXPECT_EQ(pix->HasAlpha(), c.hasAlpha);
        for (size_t i = 0; i < c.expected.size(); ++i)
            EXPECT_EQ(pix->GetPixel(int32_t(i % p.width), int32_t(i / p.width)), c.expected[i]) << "pixel " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllColourTypes, PngFormats,
    ::testing::Values(
        FormatCase{"gray8", Pic(3, 1, 8, 0, {0, 128, 255}), {0x000000FF, 0x808080FF, 0xFFFFFFFF}, false},
        FormatCase{"gray1", Pic(5, 1, 1, 0, {0, 1, 1, 0, 1}),
                   {0x000000FF, 0xFFFFFFFF, 0xFFFFFFFF, 0x000000FF, 0xFFFFFFFF}, false},
        FormatCase{"gray4", Pic(3, 1, 4, 0, {0, 5, 15}), {0x000000FF, 0x555555FF, 0xFFFFFFFF}, false},
        FormatCase{"gray16", Pic(3, 1, 16, 0, {0x0000, 0x8080, 0xFFFF}), {0x000000FF, 0x808080FF, 0xFFFFFFFF}, false},
        FormatCase{"gray8 with a transparent value", Pic(3, 1, 8, 0, {0, 128, 255}, {}, {0, 128}),
                   {0x000000FF, 0x80808000, 0xFFFFFFFF}, true},
        FormatCase{"gray+alpha8", Pic(2, 1, 8, 4, {10, 20, 200, 255}), {0x0A0A0A14, 0xC8C8C8FF}, true},
        FormatCase{"rgb8", Pic(2, 1, 8, 2, {1, 2, 3, 250, 251, 252}), {0x010203FF, 0xFAFBFCFF}, false},
        FormatCase{"rgb8 with a transparent colour", Pic(2, 1, 8, 2, {1, 2, 3, 250, 251, 252}, {}, {0, 1, 0, 2, 0, 3}),
                   {0x01020300, 0xFAFBFCFF}, true},
        FormatCase{"rgb16", Pic(1, 1, 16, 2, {0xFFFF, 0x0000, 0x8080}), {0xFF0080FF}, false},
        FormatCase{"rgba16", Pic(1, 1, 16, 6, {0x0000, 0x1010, 0xFFFF, 0x4040}), {0x0010FF40}, true},
        FormatCase{"palette8 with transparency",
                   Pic(3, 1, 8, 3, {0, 1, 2}, {255, 0, 0, 0, 255, 0, 0, 0, 255}, {255, 7}),
                   {0xFF0000FF, 0x00FF0007, 0x0000FFFF}, true},
        FormatCase{"palette2", Pic(4, 1, 2, 3, {3, 2, 1, 0}, {10, 10, 10, 20, 20, 20, 30, 30, 30, 40, 40, 40}),
                   {0x282828FF, 0x1E1E1EFF, 0x141414FF, 0x0A0A0AFF}, false}),
    [](const ::testing::TestParamInfo<FormatCase>& info) {
        std::string name;
        for (const char* p = info.param.what; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST(PngCodec, InterlacedAndProgressiveDecodeAlike) {
    // Sizes smaller than the interlace grid leave some passes empty.
    for (uint32_t w : {1u, 3u, 13u})
        for (uint32_t h : {1u, 2u, 11u}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
            RawPicture p = Pic(w, h, 8, 6, {});
            uint32_t s = w * 31 + h;
            for (size_t i = 0; i < size_t(w) * h * 4; ++i) s = s * 69069u + 1u, p.samples.push_back(uint16_t(s >> 24));
            Ref<TPixmap> progressive = Decode(Encode(p));
            p.interlaced = true;
            Ref<TPixmap> interlaced = Decode(Encode(p));
            ASSERT_TRUE(progressive);
            ASSERT_TRUE(interlaced);
            EXPECT_EQ(Pixels(*interlaced), Pixels(*progressive));
        }
}

TEST(PngCodec, WriterRefusesEmptyPicturesAndReportsRefusedBytes) {
    TBankStream bank;
    EXPECT_FALSE(SavePixmapPNG(TPixmap(0, 5), bank, 9));
    EXPECT_EQ(bank.Size(), 0);

    const uint8_t none[1] = {0};
    TBankStream readOnly(none, 1);
    try {
        SavePixmapPNG(*TestPicture(8, 8, 5), readOnly, 9);
        ADD_FAILURE() << "no error raised";
    } catch (const TStreamWriteException& e) {
        EXPECT_STREQ(e.what(), "Error writing to stream");
    }
}
