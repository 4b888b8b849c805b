#include "platform/Png.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
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
// Ancillary chunks (text, colour profiles) are held in memory while parsed: bound them.
constexpr png_alloc_size_t kMaxChunkBytes = 4u << 20;

[[noreturn]] void OnPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnPngWarning(png_structp, png_const_charp) {}  // damage is reported by the result

// ---------------------------------------------------------------------------------------
// Reading

struct ReadContext {
    TStream* stream;
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

Ref<TPixmap> LoadPixmapPNG(TStream& stream) {
    ReadContext ctx{&stream};
    ReadGuard g;
    g.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (!g.png) return nullptr;
    g.info = png_create_info_struct(g.png);
    if (!g.info) return nullptr;
    png_set_read_fn(g.png, &ctx, ReadFromStream);
    png_set_user_limits(g.png, PNG_MAX_DIMENSION, PNG_MAX_DIMENSION);
    png_set_chunk_malloc_max(g.png, kMaxChunkBytes);

    Header h;
    if (!ReadHeader(g.png, g.info, &h) || h.width == 0 || h.height == 0) return nullptr;

    // Refuse pictures whose data cannot fit in what is left of the stream before
    // allocating for them: a few bytes must not be able to ask for a gigabyte.
    int64_t size = stream.Size();
    int64_t pos = stream.Pos();
    if (size >= 0 && pos >= 0 && size >= pos &&
        h.filteredBytes > static_cast<uint64_t>(size - pos) * kMaxInflateRatio)
        return nullptr;

    const size_t stride = static_cast<size_t>(h.width) * 4u;
    const size_t total = stride * h.height;
    std::vector<uint8_t> pixels;
    if (h.interlaced) {
        // Every pass touches the whole picture, so it needs the full buffer at once.
        pixels.resize(total);
        if (!ReadPasses(g.png, pixels.data(), stride, h.height, h.passes)) return nullptr;
    } else {
        // Grow the buffer as rows arrive, so a damaged stream is refused before the
        // buffer is much larger than the rows it actually held.
        png_uint_32 done = 0;
        png_uint_32 step = static_cast<png_uint_32>(std::max<size_t>(1, (size_t{1} << 20) / stride));
        while (done < h.height) {
            png_uint_32 count = std::min(step, h.height - done);
            size_t need = stride * (done + count);
            if (need > pixels.capacity()) pixels.reserve(std::min(total, std::max(need, pixels.capacity() * 2)));
            pixels.resize(need);
            if (!ReadRows(g.png, pixels.data() + stride * done, stride, count)) return nullptr;
            done += count;
            step = std::max(step, done);
        }
    }
    if (!ReadEnd(g.png)) return nullptr;

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
