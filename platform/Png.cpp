#include "platform/Png.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

// libpng reports errors by longjmp. Every function below that calls into libpng and may
// fail sets its own jump point and holds nothing with a destructor, so the jump never
// skips a C++ destructor; the objects that own memory (the pixel buffer, the libpng
// structs' guard) live in the callers, which the jump never crosses.

namespace kin {

namespace {

// Deflate cannot expand data by more than about 1032:1, so a picture whose filtered rows
// exceed this multiple of the bytes left in the stream cannot be complete.
constexpr uint64_t kMaxInflateRatio = 1100;
// Ancillary chunks are skipped without being held, but libpng still takes this limit into
// its own checks.
constexpr png_alloc_size_t kMaxChunkBytes = 4u << 20;
// Kept free for what libpng allocates once the rows start (the inflate state and window).
constexpr uint64_t kInflateReserve = 64u << 10;
// Kept free for what the caller holds around the pixels (the pixmap and image objects).
constexpr uint64_t kCallerReserve = 16u << 10;

// Why the thread's latest decode failed. A fixed buffer: it is written on the way to a
// longjmp, where nothing may need destroying.
thread_local char tFailure[160] = "";
void Fail(const char* why) {
    std::strncpy(tFailure, why ? why : "", sizeof tFailure - 1);
    tFailure[sizeof tFailure - 1] = '\0';
}
// A decode that fails without a libpng message says so in its own words.
std::nullptr_t Refuse(const char* why) {
    if (tFailure[0] == '\0') Fail(why);
    return nullptr;
}

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
    Fail(message);
    png_longjmp(png, 1);
}
void OnPngWarning(png_structp, png_const_charp) {}  // damage is reported by the result

// ---------------------------------------------------------------------------------------
// Reading

// The heap one decode holds: every block libpng and zlib ask for, and the pixels.
struct Budget {
    uint64_t limit = 0;
    uint64_t held = 0;
    bool Take(uint64_t n) {
        if (n > limit || held > limit - n) return false;
        held += n;
        return true;
    }
    void Give(uint64_t n) { held -= n; }
};

// Follows the chunk framing of the bytes libpng reads. libpng asks for exactly what it
// needs and never reads ahead, so a chunk header is complete here before libpng looks at
// it: a chunk that declares more bytes than the stream has left is refused at that point,
// before anything is allocated for it.
class Framing {
public:
    explicit Framing(int64_t left) : left_(left) {}
    /// False when the bytes complete a chunk header that cannot be satisfied.
    bool Feed(const uint8_t* p, size_t n) {
        while (n > 0) {
            if (skip_ > 0) {
                const uint64_t t = std::min<uint64_t>(skip_, n);
                skip_ -= t;
                p += t;
                n -= static_cast<size_t>(t);
                seen_ += static_cast<int64_t>(t);
                continue;
            }
            head_[got_++] = *p++;
            --n;
            ++seen_;
            if (got_ < 8) continue;
            got_ = 0;
            const uint32_t len = uint32_t(head_[0]) << 24 | uint32_t(head_[1]) << 16 | uint32_t(head_[2]) << 8 |
                                 uint32_t(head_[3]);
            if (len > 0x7FFFFFFFu) return false;
            skip_ = uint64_t(len) + 4;  // data and CRC
            if (left_ >= 0 && skip_ > static_cast<uint64_t>(left_ - std::min(left_, seen_))) return false;
        }
        return true;
    }

private:
    int64_t left_;       // bytes the stream held when reading began, -1 unknown
    int64_t seen_ = 0;   // bytes read since
    uint64_t skip_ = 8;  // bytes before the next chunk header (the signature first)
    uint8_t head_[8] = {};
    int got_ = 0;
};

struct ReadContext {
    TStream* stream;
    Framing framing;
    Budget budget;
};

void ReadFromStream(png_structp png, png_bytep data, size_t n) {
    auto* ctx = static_cast<ReadContext*>(png_get_io_ptr(png));
    bool ok = true;
    try {
        size_t done = 0;
        while (done < n) {
            int64_t got = ctx->stream->Read(data + done, static_cast<int64_t>(n - done));
            if (got <= 0) {
                ok = false;
                break;
            }
            done += static_cast<size_t>(got);
        }
    } catch (...) {
        ok = false;
    }
    if (!ok) png_error(png, "stream ended early");
    if (!ctx->framing.Feed(data, n)) png_error(png, "chunk longer than the data left");
}

// libpng's and zlib's blocks, counted against the budget. Each block carries its size in
// front of it. They come from malloc, as libpng's own would: programs that replace only
// some forms of operator new must not see them.
constexpr size_t kBlockHead = alignof(std::max_align_t);

png_voidp TakeBlock(png_structp png, png_alloc_size_t n) {
    auto* ctx = static_cast<ReadContext*>(png_get_mem_ptr(png));
    if (n > SIZE_MAX - kBlockHead || !ctx->budget.Take(n + kBlockHead)) return nullptr;
    auto* p = static_cast<uint8_t*>(std::malloc(n + kBlockHead));
    if (!p) {
        ctx->budget.Give(n + kBlockHead);
        return nullptr;
    }
    std::memcpy(p, &n, sizeof n);
    return p + kBlockHead;
}

void GiveBlock(png_structp png, png_voidp block) {
    if (!block) return;
    auto* ctx = static_cast<ReadContext*>(png_get_mem_ptr(png));
    uint8_t* p = static_cast<uint8_t*>(block) - kBlockHead;
    png_alloc_size_t n = 0;
    std::memcpy(&n, p, sizeof n);
    ctx->budget.Give(n + kBlockHead);
    std::free(p);
}

struct Header {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    bool interlaced = false;
    bool hasAlpha = false;
    int passes = 1;
    uint64_t filteredBytes = 0;  // size of the decompressed, filtered rows
};

// Reads the chunks up to the first IDAT and sets the transformations to 8-bit RGBA.
bool ReadHeader(png_structp png, png_infop info, Header* h) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    int bitDepth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &h->width, &h->height, &bitDepth, &colorType, &interlace, nullptr, nullptr);
    h->interlaced = interlace != PNG_INTERLACE_NONE;
    h->hasAlpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    h->filteredBytes = static_cast<uint64_t>(h->height) * (png_get_rowbytes(png, info) + 1);

    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    h->passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<size_t>(h->width) * 4u) png_error(png, "not RGBA");
    return true;
}

// Decodes count rows of a non-interlaced picture into consecutive rows at dst.
bool ReadRows(png_structp png, png_bytep dst, size_t stride, png_uint_32 count) {
    if (setjmp(png_jmpbuf(png))) return false;
    for (png_uint_32 i = 0; i < count; ++i) png_read_row(png, dst + i * stride, nullptr);
    return true;
}

// Decodes every pass of an interlaced picture into the whole buffer.
bool ReadPasses(png_structp png, png_bytep dst, size_t stride, png_uint_32 height, int passes) {
    if (setjmp(png_jmpbuf(png))) return false;
    for (int p = 0; p < passes; ++p)
        for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, dst + y * stride, nullptr);
    return true;
}

// Consumes the chunks after the picture data up to and including IEND.
bool ReadEnd(png_structp png) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_end(png, nullptr);
    return true;
}

struct ReadGuard {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~ReadGuard() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

// ---------------------------------------------------------------------------------------
// Writing

struct WriteContext {
    TStream* stream;
    bool streamRefused;
};

void WriteToStream(png_structp png, png_bytep data, size_t n) {
    auto* ctx = static_cast<WriteContext*>(png_get_io_ptr(png));
    try {
        size_t done = 0;
        while (done < n) {
            int64_t put = ctx->stream->Write(data + done, static_cast<int64_t>(n - done));
            if (put <= 0) break;
            done += static_cast<size_t>(put);
        }
        if (done == n) return;
    } catch (...) {
    }
    ctx->streamRefused = true;
    png_error(png, "stream refused bytes");
}

void FlushStream(png_structp) {}  // the stream's owner decides when to flush

bool WriteImage(png_structp png, png_infop info, const uint8_t* pixels, png_uint_32 w, png_uint_32 h,
                int level) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_compression_level(png, level);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const size_t stride = static_cast<size_t>(w) * 4u;
    for (png_uint_32 y = 0; y < h; ++y) png_write_row(png, pixels + y * stride);
    png_write_end(png, nullptr);
    return true;
}

struct WriteGuard {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~WriteGuard() {
        if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
    }
};

}  // namespace

// ---------------------------------------------------------------------------------------

const char* PngLoadFailure() noexcept { return tFailure; }

Ref<TPixmap> LoadPixmapPNG(TStream& stream) {
    // What the stream has left bounds everything: the chunks' lengths, the heap, the rows.
    const int64_t size = stream.Size(), pos = stream.Pos();
    const int64_t left = size >= 0 && pos >= 0 && size >= pos ? size - pos : -1;
    const uint64_t allowed = left >= 0 && static_cast<uint64_t>(left) <= (UINT64_MAX >> 5)
                                 ? static_cast<uint64_t>(left) * PNG_HEAP_PER_BYTE + PNG_HEAP_ALLOWANCE
                                 : static_cast<uint64_t>(PNG_HEAP_UNSIZED);
    ReadContext ctx{&stream, Framing(left), Budget{allowed - kCallerReserve, 0}};

    Fail("");
    ReadGuard g;
    g.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning, &ctx, TakeBlock,
                                     GiveBlock);
    if (!g.png) return Refuse("out of memory");
    g.info = png_create_info_struct(g.png);
    if (!g.info) return Refuse("out of memory");
    png_set_read_fn(g.png, &ctx, ReadFromStream);
    png_set_user_limits(g.png, PNG_MAX_DIMENSION, PNG_MAX_DIMENSION);
    png_set_chunk_malloc_max(g.png, kMaxChunkBytes);
    // Text, colour profiles and the other ancillary chunks change nothing in 8-bit RGBA
    // without gamma handling: skip them unread instead of holding them. tRNS stays.
    png_set_keep_unknown_chunks(g.png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);

    Header h;
    if (!ReadHeader(g.png, g.info, &h) || h.width == 0 || h.height == 0) return Refuse("not a PNG header");

    // Refuse pictures whose data cannot fit in what is left of the stream, or whose pixels
    // would not fit in the heap allowed, before allocating for them: a few bytes must not
    // be able to ask for a gigabyte.
    const int64_t rest = left >= 0 ? size - stream.Pos() : -1;
    if (rest >= 0 && h.filteredBytes > static_cast<uint64_t>(rest) * kMaxInflateRatio)
        return Refuse("the picture's data is too short for its size");
    const size_t stride = static_cast<size_t>(h.width) * 4u;
    const size_t total = stride * h.height;
    if (!ctx.budget.Take(total) || ctx.budget.limit - ctx.budget.held < kInflateReserve)
        return Refuse("the picture is too large for the data that holds it");

    // Every pass of an interlaced picture touches the whole of it, and a progressive one
    // fills it row by row: either way the buffer is taken at its full size, once.
    std::vector<uint8_t> pixels(total);
    const bool read = h.interlaced ? ReadPasses(g.png, pixels.data(), stride, h.height, h.passes)
                                   : ReadRows(g.png, pixels.data(), stride, h.height);
    if (!read || !ReadEnd(g.png)) return Refuse("damaged picture data");

    auto pixmap = MakeRef<TPixmap>(static_cast<int32_t>(h.width), static_cast<int32_t>(h.height), std::move(pixels));
    pixmap->SetHasAlpha(h.hasAlpha);
    return pixmap;
}

bool SavePixmapPNG(const TPixmap& pixmap, TStream& stream, int32_t level) {
    if (pixmap.Width() <= 0 || pixmap.Height() <= 0) return false;
    level = std::clamp(level, 0, 9);
    WriteContext ctx{&stream, false};
    bool ok = false;
    {
        WriteGuard g;
        g.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
        if (!g.png) return false;
        g.info = png_create_info_struct(g.png);
        if (!g.info) return false;
        png_set_write_fn(g.png, &ctx, WriteToStream, FlushStream);
        ok = WriteImage(g.png, g.info, pixmap.Pixels(), static_cast<png_uint_32>(pixmap.Width()),
                        static_cast<png_uint_32>(pixmap.Height()), level);
    }
    if (!ok && ctx.streamRefused) throw TStreamWriteException();
    return ok;
}

}  // namespace kin
