// Memory of PNG reading, measured by counting every heap block of this program (libpng's
// and zlib's included): reading a picture never holds more than 16 times the bytes it was
// given plus a fixed allowance, whether the picture is accepted or refused.
#include <gtest/gtest.h>
#include <malloc.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/Image.h"
#include "platform/Png.h"
#include "platform/Stream.h"

// ---------------------------------------------------------------------------------------
// Counting. Under the address sanitizer its allocator reports every block through hooks;
// otherwise this program supplies malloc and friends itself, on top of the C library's.

namespace {
bool gCounting = false;
long long gBytes = 0, gPeak = 0;

void Held(long long n) {
    if (!gCounting) return;
    gBytes += n;
    if (gBytes > gPeak) gPeak = gBytes;
}
}  // namespace

#if defined(__SANITIZE_ADDRESS__)
#define COUNT_WITH_SANITIZER_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define COUNT_WITH_SANITIZER_HOOKS 1
#endif
#endif

#ifdef COUNT_WITH_SANITIZER_HOOKS
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));
extern "C" size_t __sanitizer_get_allocated_size(const volatile void*);
namespace {
void OnMalloc(const volatile void*, size_t n) { Held(static_cast<long long>(n)); }
void OnFree(const volatile void* p) {
    if (p) Held(-static_cast<long long>(__sanitizer_get_allocated_size(p)));
}
[[maybe_unused]] const int kHooked = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
}  // namespace
#else
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

namespace {
void* Counted(void* p) {
    if (p) Held(static_cast<long long>(malloc_usable_size(p)));
    return p;
}
void Uncount(void* p) {
    if (p) Held(-static_cast<long long>(malloc_usable_size(p)));
}
}  // namespace

void* malloc(size_t n) { return Counted(__libc_malloc(n)); }
void* calloc(size_t n, size_t size) { return Counted(__libc_calloc(n, size)); }
void* realloc(void* p, size_t n) {
    Uncount(p);
    void* q = __libc_realloc(p, n);
    if (!q && p && n) Counted(p);  // refused: the old block is still held
    return Counted(q);
}
void free(void* p) {
    Uncount(p);
    __libc_free(p);
}
void* memalign(size_t align, size_t n) { return Counted(__libc_memalign(align, n)); }
void* aligned_alloc(size_t align, size_t n) { return memalign(align, n); }
int posix_memalign(void** out, size_t align, size_t n) {
    void* p = memalign(align, n);
    if (!p) return 12;  // ENOMEM
    *out = p;
    return 0;
}
}
#endif

namespace {

// The peak of bytes held while fn runs, above what was held when it started.
template <class Fn>
long long PeakOf(Fn fn) {
    gBytes = gPeak = 0;
    gCounting = true;
    fn();
    gCounting = false;
    return gPeak;
}

// ---------------------------------------------------------------------------------------
// Pictures

uint32_t Crc(const std::vector<uint8_t>& b, size_t from) {
    return static_cast<uint32_t>(crc32(0, b.data() + from, static_cast<uInt>(b.size() - from)));
}

void Be32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    Be32(out, static_cast<uint32_t>(data.size()));
    const size_t at = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    Be32(out, Crc(out, at));
}

std::vector<uint8_t> Head(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType, bool interlaced) {
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, ihdr;
    Be32(ihdr, w);
    Be32(ihdr, h);
    ihdr.insert(ihdr.end(), {depth, colorType, 0, 0, static_cast<uint8_t>(interlaced ? 1 : 0)});
    Chunk(png, "IHDR", ihdr);
    return png;
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& raw, int level = 9) {
    uLongf n = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> z(n);
    if (compress2(z.data(), &n, raw.data(), static_cast<uLong>(raw.size()), level) != Z_OK) return {};
    z.resize(n);
    return z;
}

// 50 bytes: a 1 x 1 picture, then a text chunk that declares almost 2 GiB and ends at once.
std::vector<uint8_t> ChunkBomb() {
    std::vector<uint8_t> png = Head(1, 1, 8, 6, false);
    Be32(png, 0x7FFFFFF0u);
    for (const char* p = "tEXtComment"; *p; ++p) png.push_back(static_cast<uint8_t>(*p));
    png.insert(png.end(), {0, 'x'});
    return png;
}

// A complete, valid 16384 x 16384 black-and-white picture of about 32 KB: 1 GiB as RGBA.
std::vector<uint8_t> SizeBomb() {
    const uint32_t side = static_cast<uint32_t>(kin::PNG_MAX_DIMENSION);
    std::vector<uint8_t> png = Head(side, side, 1, 0, false);
    Chunk(png, "IDAT", Deflate(std::vector<uint8_t>(size_t(side) * (side / 8 + 1), 0)));
    Chunk(png, "IEND", {});
    return png;
}

// The same size interlaced, with only the first rows' worth of data.
std::vector<uint8_t> InterlacedBomb() {
    const uint32_t side = static_cast<uint32_t>(kin::PNG_MAX_DIMENSION);
    std::vector<uint8_t> png = Head(side, side, 1, 0, true);
    Chunk(png, "IDAT", Deflate(std::vector<uint8_t>(size_t(32) << 20, 0)));
    Chunk(png, "IEND", {});
    return png;
}

// 1400 x 1400 in black and white stripes, stored uncompressed: its pixels fit the budget
// once, but not twice.
std::vector<uint8_t> Stripes() {
    const uint32_t side = 1400;
    std::vector<uint8_t> png = Head(side, side, 1, 0, false), raw;
    for (uint32_t y = 0; y < side; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), side / 8, 0x0F);
    }
    Chunk(png, "IDAT", Deflate(raw, 0));
    Chunk(png, "IEND", {});
    return png;
}

// An ordinary picture with noise in it (or of one colour), as the library saves it.
std::vector<uint8_t> Ordinary(int32_t w, int32_t h, bool flat = false) {
    auto pm = kin::MakeRef<kin::TPixmap>(w, h);
    uint32_t s = 12345;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            s = flat ? 0x5080C0FFu : s * 1664525u + 1013904223u;
            pm->SetPixel(x, y, (s & 0xFFFFFF00u) | 0xFF);
        }
    kin::TBankStream bank;
    EXPECT_TRUE(kin::SavePixmapPNG(*pm, bank, 9));
    return bank.Bytes();
}

TEST(PngMemory, ReadingHoldsAtMostSixteenTimesTheInputPlusAFixedAllowance) {
    struct Row {
        const char* name;
        std::vector<uint8_t> png;
        bool accepted;
    };
    const Row rows[] = {
        {"chunk declaring 2 GiB", ChunkBomb(), false},
        {"16384 x 16384 in 32 KB", SizeBomb(), false},
        {"interlaced 16384 x 16384", InterlacedBomb(), false},
        {"ordinary 300 x 200", Ordinary(300, 200), true},
        {"flat 1024 x 1024", Ordinary(1024, 1024, true), true},
        {"black-and-white 1400 x 1400, masked", Stripes(), true},
    };
    // Black is the mask colour: a masked load of the black-and-white pictures would copy them.
    kin::SetMaskColor(0, 0, 0);
    kin::Ref<kin::TImage> image;
    for (const Row& row : rows) {
        image = nullptr;
        const long long peak = PeakOf([&] {
            kin::TBankStream bank(row.png.data(), static_cast<int64_t>(row.png.size()));
            image = kin::LoadImage(bank, kin::MASKEDIMAGE);
        });
        const long long size = static_cast<long long>(row.png.size());
        std::printf("%s: %lld bytes of PNG, peak %lld bytes held\n", row.name, size, peak);
        EXPECT_EQ(image != nullptr, row.accepted) << row.name;
        EXPECT_LE(peak, kin::PNG_HEAP_PER_BYTE * size + kin::PNG_HEAP_ALLOWANCE) << row.name;
    }
    EXPECT_EQ(ChunkBomb().size(), 50u);
    // The stripes were masked all the same: black became transparent, white stayed.
    ASSERT_TRUE(image);
    EXPECT_EQ(image->frames[0]->GetPixel(0, 0), 0u);
    EXPECT_EQ(image->frames[0]->GetPixel(4, 1399), 0xFFFFFFFFu);
}

}  // namespace
