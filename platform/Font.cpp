// Fonts: TrueType faces through FreeType, and the built-in default font from a compiled-in
// bitmap table. Both turn each glyph into an image of white pixels whose alpha is the
// glyph's coverage, made on first use and kept.
#include "platform/Font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <array>
#include <exception>
#include <unordered_map>
#include <vector>

#include "platform/detail/DefaultFontData.h"

namespace kin {

namespace {

// ---------------------------------------------------------------- FreeType library
// One library handle shared by all faces, released with the last of them.
FT_Library gLibrary = nullptr;
int32_t gLibraryUsers = 0;

bool AcquireLibrary() {
    if (gLibraryUsers == 0 && FT_Init_FreeType(&gLibrary) != 0) {
        gLibrary = nullptr;
        return false;
    }
    ++gLibraryUsers;
    return true;
}

void ReleaseLibrary() {
    if (--gLibraryUsers == 0) {
        FT_Done_FreeType(gLibrary);
        gLibrary = nullptr;
    }
}

// Font files larger than this are refused rather than read into memory.
constexpr int64_t MAX_FONT_BYTES = int64_t(64) << 20;
constexpr int32_t MAX_FONT_PIXELS = 1000;

struct GlyphRecord {
    bool loaded = false;  // looked up already (present or not)
    bool present = false; // the font has this character
    Ref<TImage> image;    // null for glyphs without pixels (space)
    float dx = 0, dy = 0, advance = 0;
};

/// A glyph image of white pixels with alpha = coverage; null when the bitmap is empty.
Ref<TImage> GlyphImage(const uint8_t* coverage, int32_t w, int32_t h, int32_t pitch, bool mono, int32_t flags) {
    if (w <= 0 || h <= 0) return nullptr;
    Ref<TPixmap> pm = MakeRef<TPixmap>(w, h);
    uint8_t* px = pm->Pixels();
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = coverage + static_cast<ptrdiff_t>(y) * pitch;
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t a = mono ? ((row[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0) : row[x];
            uint8_t* p = px + (static_cast<size_t>(y) * w + x) * 4;
            p[0] = p[1] = p[2] = 255;
            p[3] = a;
        }
    }
    pm->SetHasAlpha(true);
    return TImage::Create(pm.Get(), flags);
}

/// Per-character records: a direct table for Latin-1, a map beyond that holds only
/// characters the font has, so text full of unknown characters cannot grow it.
class GlyphTable {
public:
    /// The record of code, or null when code is beyond Latin-1 and not recorded yet.
    GlyphRecord* Find(uint32_t code) {
        if (code < low_.size()) return &low_[code];
        auto it = high_.find(code);
        return it == high_.end() ? nullptr : &it->second;
    }
    GlyphRecord& Add(uint32_t code) { return code < low_.size() ? low_[code] : high_[code]; }
    static const GlyphRecord& Absent() {
        static const GlyphRecord none{true, false, nullptr, 0, 0, 0};
        return none;
    }

private:
    std::array<GlyphRecord, 256> low_;
    std::unordered_map<uint32_t, GlyphRecord> high_;
};

// ---------------------------------------------------------------- TrueType fonts

class TFreeTypeFont final : public TImageFont {
public:
    TFreeTypeFont(std::vector<uint8_t> bytes, int32_t style) : bytes_(std::move(bytes)), style_(style) {}
    ~TFreeTypeFont() override {
        if (face_) FT_Done_Face(face_);
        if (ownsLibrary_) ReleaseLibrary();
    }

    bool Open(int32_t pixels) {
        if (!AcquireLibrary()) return false;
        ownsLibrary_ = true;
        // The face reads from bytes_ for as long as it lives.
        if (FT_New_Memory_Face(gLibrary, bytes_.data(), static_cast<FT_Long>(bytes_.size()), 0, &face_) != 0) {
            face_ = nullptr;
            return false;
        }
        if (FT_Set_Pixel_Sizes(face_, 0, static_cast<FT_UInt>(pixels)) != 0) return false;
        ascent_ = static_cast<float>(face_->size->metrics.ascender >> 6);
        height_ = static_cast<float>(face_->size->metrics.height >> 6);
        return true;
    }

    TImage* Glyph(uint32_t code) override { return Load(code).image.Get(); }
    float Advance(uint32_t code) override { return Load(code).advance; }
    void GlyphOffset(uint32_t code, float& dx, float& dy) override {
        const GlyphRecord& g = Load(code);
        dx = g.dx;
        dy = g.dy;
    }
    float Height() override { return height_; }

private:
    const GlyphRecord& Load(uint32_t code) {
        if (GlyphRecord* known = glyphs_.Find(code); known && known->loaded) return *known;
        if (FT_Get_Char_Index(face_, code) == 0) return GlyphTable::Absent();
        GlyphRecord& g = glyphs_.Add(code);
        g.loaded = true;
        const bool smooth = (style_ & SMOOTHFONT) != 0;
        if (FT_Load_Char(face_, code, smooth ? FT_LOAD_DEFAULT : FT_LOAD_TARGET_MONO) != 0) return g;
        FT_GlyphSlot slot = face_->glyph;
        if (style_ & BOLDFONT) FT_GlyphSlot_Embolden(slot);
        if (style_ & ITALICFONT) FT_GlyphSlot_Oblique(slot);
        if (FT_Render_Glyph(slot, smooth ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) != 0) return g;
        const FT_Bitmap& bm = slot->bitmap;
        const bool mono = bm.pixel_mode == FT_PIXEL_MODE_MONO;
        if (bm.width > 0 && bm.rows > 0 && (mono || bm.pixel_mode == FT_PIXEL_MODE_GRAY) && bm.pitch > 0)
            g.image = GlyphImage(bm.buffer, static_cast<int32_t>(bm.width), static_cast<int32_t>(bm.rows), bm.pitch,
                                 mono, smooth ? (FILTEREDIMAGE | MIPMAPPEDIMAGE) : 0);
        g.present = true;
        g.dx = static_cast<float>(slot->bitmap_left);
        g.dy = ascent_ - static_cast<float>(slot->bitmap_top);
        g.advance = static_cast<float>(slot->advance.x) / 64.0f;
        return g;
    }

    std::vector<uint8_t> bytes_;
    int32_t style_;
    bool ownsLibrary_ = false;
    FT_Face face_ = nullptr;
    float ascent_ = 0, height_ = 0;
    GlyphTable glyphs_;
};

// ---------------------------------------------------------------- the built-in font

class TDefaultFont final : public TImageFont {
public:
    TImage* Glyph(uint32_t code) override { return Load(code).image.Get(); }
    float Advance(uint32_t code) override { return Load(code).advance; }
    void GlyphOffset(uint32_t code, float& dx, float& dy) override {
        const GlyphRecord& g = Load(code);
        dx = g.dx;
        dy = g.dy;
    }
    float Height() override { return static_cast<float>(detail::kDefaultFontHeight); }

private:
    const GlyphRecord& Load(uint32_t code) {
        if (GlyphRecord* known = glyphs_.Find(code); known && known->loaded) return *known;
        const detail::DefaultGlyph* begin = detail::kDefaultGlyphs;
        const detail::DefaultGlyph* end = begin + detail::kDefaultGlyphCount;
        const detail::DefaultGlyph* it =
            std::lower_bound(begin, end, code, [](const detail::DefaultGlyph& d, uint32_t c) { return d.code < c; });
        if (it == end || it->code != code) return GlyphTable::Absent();
        GlyphRecord& g = glyphs_.Add(code);
        g.loaded = true;
        g.present = true;
        g.image = GlyphImage(detail::kDefaultGlyphPixels + it->offset, it->width, it->height, it->width, false,
                             FILTEREDIMAGE | MIPMAPPEDIMAGE);
        g.dx = static_cast<float>(it->left);
        g.dy = static_cast<float>(it->top);
        g.advance = static_cast<float>(it->advance64) / 64.0f;
        return g;
    }

    GlyphTable glyphs_;
};

}  // namespace

Ref<TImageFont> LoadImageFont(const std::string& name, int32_t size, int32_t style) {
    if (size < 1 || size > MAX_FONT_PIXELS) return nullptr;
    Ref<TStream> stream = OpenMedia(name);
    if (!stream) return nullptr;
    std::vector<uint8_t> bytes;
    try {
        const int64_t known = stream->Size() >= 0 && stream->Pos() >= 0 ? stream->Size() - stream->Pos() : -1;
        if (known > MAX_FONT_BYTES) return nullptr;
        if (known > 0) bytes.reserve(static_cast<size_t>(known));
        uint8_t chunk[65536];
        for (;;) {
            const int64_t got = stream->Read(chunk, sizeof chunk);
            if (got <= 0) break;
            if (static_cast<int64_t>(bytes.size()) + got > MAX_FONT_BYTES) return nullptr;
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
    } catch (const std::exception&) {
        return nullptr;
    }
    if (bytes.empty()) return nullptr;
    Ref<TFreeTypeFont> font(new TFreeTypeFont(std::move(bytes), style));
    if (!font->Open(size)) return nullptr;
    return font;
}

TImageFont* DefaultFont() {
    static Ref<TDefaultFont> font(new TDefaultFont());
    return font.Get();
}

}  // namespace kin
