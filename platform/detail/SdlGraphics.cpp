// The two render backends on SDL_Renderer: a window's renderer and a headless software
// renderer on an in-memory RGBA surface. Both take the same CPU-transformed triangles.
//
// Sections:
//   texture cache on images   - which context owns which textures of an image
//   SdlGraphics               - the backend: blend, clip, geometry, clear, read back
//   guard-band clipping       - keeps huge or non-finite coordinates away from SDL
//   factories                 - headless and window contexts
#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_set>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/Graphics.h"
#include "platform/detail/RenderBackend.h"

namespace kin {
namespace detail {
class SdlGraphics;

/// Where a texture's texels are not fully transparent: per texel row, the first and last
/// such texel (first > last: none). Built with the texture.
struct Coverage {
    std::vector<std::pair<int32_t, int32_t>> rows;
    void Build(const uint8_t* texels, int32_t w, int32_t h) {
        rows.assign(static_cast<size_t>(h), {w, -1});
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                if (texels[(static_cast<ptrdiff_t>(y) * w + x) * 4 + 3] != 0) {
                    auto& r = rows[static_cast<size_t>(y)];
                    r = {std::min(r.first, x), x};
                }
    }
};
}  // namespace detail

// ---------------------------------------------------------------- texture cache on images
// An image may be drawn on several contexts; each keeps its own textures, one per frame and
// a second set with thresholded alpha for mask blending. The context also remembers which
// images carry its textures, so whichever of the two goes first can clean up the other.
struct TImage::CacheSlot {
    struct Entry {
        detail::SdlGraphics* owner = nullptr;
        std::vector<SDL_Texture*> plain;
        std::vector<SDL_Texture*> mask;
        std::vector<detail::Coverage> coverage;  // of the plain textures
    };
    std::vector<Entry> entries;
};

namespace detail {

namespace {

void DestroyTextures(TImage::CacheSlot::Entry& e) {
    for (SDL_Texture* t : e.plain)
        if (t) SDL_DestroyTexture(t);
    for (SDL_Texture* t : e.mask)
        if (t) SDL_DestroyTexture(t);
    e.plain.clear();
    e.mask.clear();
    e.coverage.clear();
}

constexpr int32_t MAX_SURFACE = 16384;
// Triangles reaching further than this outside the surface are clipped on the CPU: SDL's
// software rasteriser converts coordinates to fixed-point integers.
constexpr double GUARD_BAND = 256.0;

}  // namespace

class SdlGraphics final : public TGraphics {
public:
    ~SdlGraphics() override {
        DropTextures();
        DestroyRenderer();
    }

    static Ref<TGraphics> MakeHeadless(int32_t w, int32_t h) {
        SetImageCacheRelease(&ReleaseImageCache);
        Ref<SdlGraphics> g(new SdlGraphics());
        if (!g->OpenHeadless(w, h)) return nullptr;
        g->FullViewport();
        return g;
    }

    static Ref<TGraphics> MakeWindowed(SDL_Window* window) {
        if (!window) return nullptr;
        SetImageCacheRelease(&ReleaseImageCache);
        Ref<SdlGraphics> g(new SdlGraphics());
        g->window_ = window;
        // Without this hint a chosen render driver would draw every call on its own.
        SDL_SetHint(SDL_HINT_RENDER_BATCHING, "1");
        g->renderer_ =
            SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
        if (!g->renderer_) g->renderer_ = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
        if (!g->renderer_) return nullptr;
        SDL_RendererInfo info{};
        if (SDL_GetRendererInfo(g->renderer_, &info) == 0)
            g->software_ = (info.flags & SDL_RENDERER_SOFTWARE) != 0;
        g->vsync_ = !g->software_;
        g->ReadOutputSize();
        g->FullViewport();
        return g;
    }

    int32_t Width() const override { return width_; }
    int32_t Height() const override { return height_; }
    bool IsSoftware() const override { return software_; }
    int64_t TextureUploads() const override { return uploads_; }
    int32_t CachedImageCount() const override { return static_cast<int32_t>(images_.size()); }

    std::vector<uint8_t> ReadPixels() override {
        std::vector<uint8_t> out;
        if (!renderer_ || width_ <= 0 || height_ <= 0) return out;
        out.resize(static_cast<size_t>(width_) * height_ * 4);
        if (SDL_RenderReadPixels(renderer_, nullptr, SDL_PIXELFORMAT_RGBA32, out.data(), width_ * 4) != 0)
            out.clear();
        return out;
    }

    void Geometry(const Vertex* v, int32_t count, TImage* image, int32_t frame) override;

    void Clear() override {
        if (!renderer_) return;
        SDL_Rect r;
        if (!ViewportRect(r)) return;
        ApplyClip();
        auto c = [](int32_t x) { return static_cast<Uint8>(std::clamp(x, 0, 255)); };
        if (surface_ && direct_) {
            // The renderer would fill the rectangle, clipped, with the colour's pixel value.
            SDL_RenderFlush(renderer_);
            const uint8_t rgba[4] = {c(state_.clscolor_red), c(state_.clscolor_green), c(state_.clscolor_blue), 255};
            uint32_t colour;
            std::memcpy(&colour, rgba, 4);
            const int32_t x0 = std::max({r.x, clip_.x, 0}), x1 = std::min({r.x + r.w, clip_.x + clip_.w, width_});
            const int32_t y0 = std::max({r.y, clip_.y, 0}), y1 = std::min({r.y + r.h, clip_.y + clip_.h, height_});
            for (int32_t y = y0; y < y1 && x0 < x1; ++y) {
                auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(surface_->pixels) + static_cast<ptrdiff_t>(y) * surface_->pitch);
                std::fill(row + x0, row + x1, colour);
            }
            return;
        }
        SDL_SetRenderDrawBlendMode(renderer_, SDL_BLENDMODE_NONE);
        SDL_SetRenderDrawColor(renderer_, c(state_.clscolor_red), c(state_.clscolor_green),
                               c(state_.clscolor_blue), 255);
        SDL_RenderFillRect(renderer_, &r);
    }

    void Present(int32_t sync) override {
        if (!renderer_ || !window_) return;
        if (!software_) {
            const bool want = sync != 0;  // -1, the default, is vertical sync
            if (want != vsync_ && SDL_RenderSetVSync(renderer_, want ? 1 : 0) == 0) vsync_ = want;
        }
        SDL_RenderPresent(renderer_);
    }

    void Resize(int32_t w, int32_t h) override {
        const int32_t oldW = width_, oldH = height_;
        if (window_) {
            ReadOutputSize();
        } else {
            if (w < 1 || h < 1 || w > MAX_SURFACE || h > MAX_SURFACE) return;
            if (w == width_ && h == height_) return;
            // A new renderer: the textures of the old one must not be used with it.
            DropTextures();
            DestroyRenderer();
            if (!OpenHeadless(w, h)) {
                width_ = height_ = 0;
                return;
            }
        }
        if (state_.viewport_x == 0 && state_.viewport_y == 0 && state_.viewport_w == oldW &&
            state_.viewport_h == oldH)
            FullViewport();
        clipKnown_ = false;
    }

    bool direct_ = true;  // see SetDirectTriangles

    /// Forgets image (its cache entry for this context is being removed by the caller).
    void ForgetImage(TImage* image) { images_.erase(image); }

private:
    SdlGraphics() = default;

    bool OpenHeadless(int32_t w, int32_t h) {
        if (w < 1 || h < 1 || w > MAX_SURFACE || h > MAX_SURFACE) return false;
        surface_ = SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_RGBA32);
        if (!surface_) return false;
        renderer_ = SDL_CreateSoftwareRenderer(surface_);
        if (!renderer_) {
            SDL_FreeSurface(surface_);
            surface_ = nullptr;
            return false;
        }
        software_ = true;
        // A surface larger than a core's cache is fetched ahead of the rows being drawn.
        fetchAhead_ = static_cast<int64_t>(surface_->pitch) * h > (int64_t(2) << 20);
        width_ = w;
        height_ = h;
        clipKnown_ = false;
        return true;
    }

    void DestroyRenderer() {
        if (renderer_) SDL_DestroyRenderer(renderer_);
        renderer_ = nullptr;
        if (surface_) SDL_FreeSurface(surface_);
        surface_ = nullptr;
    }

    void ReadOutputSize() {
        int w = 0, h = 0;
        if (renderer_ && SDL_GetRendererOutputSize(renderer_, &w, &h) == 0) {
            width_ = w;
            height_ = h;
        }
    }

    void FullViewport() {
        state_.viewport_x = 0;
        state_.viewport_y = 0;
        state_.viewport_w = width_;
        state_.viewport_h = height_;
        clipKnown_ = false;
    }

    /// The viewport as a rectangle; false when it is empty.
    bool ViewportRect(SDL_Rect& r) const {
        r = {state_.viewport_x, state_.viewport_y, state_.viewport_w, state_.viewport_h};
        return r.w > 0 && r.h > 0;
    }

    void ApplyClip() {
        SDL_Rect r;
        if (!ViewportRect(r)) r = {0, 0, 0, 0};  // clips everything
        if (clipKnown_ && r.x == clip_.x && r.y == clip_.y && r.w == clip_.w && r.h == clip_.h) return;
        SDL_RenderSetClipRect(renderer_, &r);
        clip_ = r;
        clipKnown_ = true;
    }

    /// The texture of an image frame, made on first use; *coverage (when asked, and for a
    /// plain texture) then tells where its texels are not fully transparent.
    SDL_Texture* TextureFor(TImage* image, int32_t frame, bool mask, const Coverage** coverage = nullptr);
    SDL_Texture* Upload(const TPixmap& pm, bool mask, bool filtered);
    void DropTextures();
    /// Points at v, or at a clipped copy when some vertex lies far outside the surface;
    /// updates count.
    const Vertex* GuardBand(const Vertex* v, int32_t& count);
    /// Triangles on the headless surface: draw(t, false) tells whether triangle t may be
    /// drawn here, draw(t, true) draws it straight onto the surface or returns false to
    /// leave it to the renderer; triangles the renderer may treat as rectangles always go
    /// to the renderer (see below).
    template <class Draw>
    void SubmitDirect(SDL_Texture* tex, const Vertex* v, int32_t count, bool oneByOne, Draw draw);
    /// Hands triangles to the renderer, one per call when oneByOne (see Geometry).
    void SubmitKept(SDL_Texture* tex, const Vertex* v, int32_t count, bool oneByOne);
    /// One opaque white textured triangle blended, or one one-colour untextured triangle
    /// (opaque when blended) filled, with exactly the software renderer's arithmetic;
    /// false (nothing drawn) when it must go to the renderer.
    bool BlendTriangle(const Vertex* t, const TPixmap& pm);
    bool FillTriangle(const Vertex* t);
    /// An image drawn upright and unflipped in opaque white (six vertices as the drawing
    /// front end lays out a quad): the renderer copies such a pair of triangles as a
    /// rectangle, scaled with its texture's filter; drawn here with its arithmetic. False
    /// (nothing drawn) when it must go to the renderer.
    bool CopyRect(const Vertex* v, const TPixmap& pm, SDL_Texture* tex, const Coverage& coverage);
    void Submit(SDL_Texture* tex, const Vertex* v, int32_t count) {
        SDL_RenderGeometryRaw(renderer_, tex, &v->x, sizeof(Vertex),
                              reinterpret_cast<const SDL_Color*>(&v->r), sizeof(Vertex), &v->u,
                              sizeof(Vertex), count, nullptr, 0, 0);
    }

    SDL_Renderer* renderer_ = nullptr;
    SDL_Surface* surface_ = nullptr;  // headless only
    SDL_Window* window_ = nullptr;    // window only, borrowed
    bool software_ = false;
    bool fetchAhead_ = false;
    bool vsync_ = false;
    int32_t width_ = 0, height_ = 0;
    SDL_Rect clip_{};
    bool clipKnown_ = false;
    int64_t uploads_ = 0;
    std::unordered_set<TImage*> images_;  // images carrying textures of this context
    std::vector<Vertex> clipped_;         // reused scratch for guard-band clipping
    std::vector<uint8_t> maskScratch_;    // reused scratch for thresholded uploads
    std::vector<int32_t> columns_;        // reused by CopyRect: texel column of each pixel
    std::vector<int32_t> weights_;        // and its two horizontal weights
    std::vector<int16_t> blended_;        // a row of vertically interpolated texels
};

static_assert(sizeof(SDL_Color) == 4, "vertex colours are passed to SDL as SDL_Color");

namespace {
/// The three vertices carry one colour.
bool SameColour(const TGraphics::Vertex* t);
/// The three vertices are opaque white.
bool OpaqueWhite(const TGraphics::Vertex* t);
}  // namespace

void SdlGraphics::Geometry(const Vertex* v, int32_t count, TImage* image, int32_t frame) {
    if (!renderer_ || !v || count < 3) return;
    count -= count % 3;
    if (state_.viewport_w <= 0 || state_.viewport_h <= 0) return;

    const int32_t mode = state_.blend_mode;
    SDL_BlendMode blend = SDL_BLENDMODE_NONE;
    switch (mode) {
        case MASKBLEND: blend = image ? SDL_BLENDMODE_BLEND : SDL_BLENDMODE_NONE; break;
        case ALPHABLEND: blend = SDL_BLENDMODE_BLEND; break;
        case LIGHTBLEND: blend = SDL_BLENDMODE_ADD; break;
        case SHADEBLEND: blend = SDL_BLENDMODE_MOD; break;
        default: blend = SDL_BLENDMODE_NONE; break;
    }

    SDL_Texture* tex = nullptr;
    const Coverage* coverage = nullptr;
    if (image) {
        tex = TextureFor(image, frame, mode == MASKBLEND, &coverage);
        if (!tex) return;
        SDL_SetTextureBlendMode(tex, blend);
    } else {
        SDL_SetRenderDrawBlendMode(renderer_, blend);
    }
    ApplyClip();

    const Vertex* p = GuardBand(v, count);
    if (count < 3) return;
    if (tex && direct_ && surface_ && blend == SDL_BLENDMODE_BLEND && mode != MASKBLEND) {
        const TPixmap& pm = *image->frames[static_cast<size_t>(frame)];
        if (count == 6 && CopyRect(p, pm, tex, *coverage)) return;
        SubmitDirect(tex, p, count, false,
                     [&](const Vertex* t, bool now) { return now ? BlendTriangle(t, pm) : OpaqueWhite(t); });
    } else if (!tex && direct_ && surface_ && (blend == SDL_BLENDMODE_BLEND || blend == SDL_BLENDMODE_NONE)) {
        const bool replace = blend == SDL_BLENDMODE_NONE;
        SubmitDirect(nullptr, p, count, replace, [&](const Vertex* t, bool now) {
            // Replacing pixels takes the colour with its alpha; blending, only opaque ones.
            return now ? FillTriangle(t) : SameColour(t) && (replace || t[0].a == 255);
        });
    } else if (!tex && software_ && blend != SDL_BLENDMODE_BLEND) {
        // The software path turns two triangles forming an axis-aligned rectangle into a
        // rectangle fill that always blends; one triangle per call keeps the chosen mode.
        for (int32_t i = 0; i + 3 <= count; i += 3) Submit(nullptr, p + i, 3);
    } else {
        Submit(tex, p, count);
    }
}

// ---------------------------------------------------------------- blended triangles
// The software renderer draws a slanted triangle pixel by pixel over its bounding box, a
// textured one with two 64-bit divisions and a generic pixel format round trip per pixel,
// an untextured blended one through an intermediate surface. On the headless surface,
// whose format is the textures' own, the same integer arithmetic runs here on the runs of
// pixels inside, so the pixels are the renderer's to the bit. Triangles the renderer would
// merge into an axis-aligned rectangle (it copies or fills those with other rules), and
// any whose colour is not one opaque colour, still go to the renderer, in order.

namespace {

struct FixedPoint {
    int32_t x, y;
};

int64_t Cross(FixedPoint a, FixedPoint b, int32_t cx, int32_t cy) {
    return int64_t(b.x - a.x) * int64_t(cy - a.y) - int64_t(b.y - a.y) * int64_t(cx - a.x);
}

// Top-left fill rule: pixel centres on such an edge belong to the triangle.
bool IsTopLeft(FixedPoint a, FixedPoint b, bool clockwise) {
    if (clockwise) return (a.y == b.y && a.x < b.x) || b.y < a.y;
    return (a.y == b.y && b.x < a.x) || a.y < b.y;
}

// Two of the three vertices share x and two share y: half of an axis-aligned rectangle,
// which the renderer may pair with its neighbour.
bool AxisAlignedCorner(const TGraphics::Vertex* t) {
    const bool sameX = t[0].x == t[1].x || t[1].x == t[2].x || t[0].x == t[2].x;
    const bool sameY = t[0].y == t[1].y || t[1].y == t[2].y || t[0].y == t[2].y;
    return sameX && sameY;
}

bool SameColour(const TGraphics::Vertex* t) {
    auto same = [](const TGraphics::Vertex& a, const TGraphics::Vertex& b) {
        return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
    };
    return same(t[0], t[1]) && same(t[0], t[2]);
}

bool OpaqueWhite(const TGraphics::Vertex* t) {
    return SameColour(t) && t[0].a == 255 && t[0].r == 255 && t[0].g == 255 && t[0].b == 255;
}

/// a / b rounded down for b > 0, from an estimate through 1 / b, corrected to be exact.
/// The callers keep a and b within 31 bits (see Raster::Set).
struct Divisor {
    int32_t b = 1;
    double inverse = 1.0;
    Divisor() = default;
    explicit Divisor(int32_t d) : b(d), inverse(1.0 / d) {}
    int32_t Floor(int32_t a) const {
        int64_t q = static_cast<int64_t>(static_cast<double>(a) * inverse);
        while (q * b > a) --q;
        while ((q + 1) * b <= a) ++q;
        return static_cast<int32_t>(q);
    }
};

/// n / d rounded down, kept as quotient and remainder while n grows by a constant step
/// (itself split into whole steps of the quotient and a remainder).
struct Quotient {
    int32_t q = 0, r = 0;
    Quotient() = default;
    Quotient(int32_t n, const Divisor& d) : q(d.Floor(n)), r(n - q * d.b) {}
    void Step(const Quotient& s, int32_t d) {
        r += s.r;
        const int32_t carry = r >= d;
        q += s.q + carry;
        r -= carry * d;
    }
};

// The bytes R, G, B, A of a pixel as one word, R lowest, whatever the machine's byte order.
uint32_t Word(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// The four bytes of such a word in 16-bit lanes of one word, and back.
uint64_t Spread(uint32_t v) {
    uint64_t x = v;
    x = (x | (x << 16)) & 0x0000FFFF0000FFFFull;
    return (x | (x << 8)) & 0x00FF00FF00FF00FFull;
}
uint32_t Gather(uint64_t x) {
    x = (x | (x >> 8)) & 0x0000FFFF0000FFFFull;
    return static_cast<uint32_t>(x | (x >> 16));
}
// Every lane (at most 255 * 255) divided by 255 and truncated: (x + 1 + x / 256) / 256
// is exact up to 65534.
uint64_t Div255(uint64_t x) {
    return ((x + 0x0001000100010001ull + ((x >> 8) & 0x00FF00FF00FF00FFull)) >> 8) & 0x00FF00FF00FF00FFull;
}

/// The software renderer's alpha blending of an RGBA texel onto an RGBA pixel: the source
/// premultiplied by its alpha, then source + (1 - alpha) * destination, each product
/// divided by 255 and truncated (it premultiplies only below alpha 255, where that changes
/// nothing); the alpha channel becomes alpha + (1 - alpha) * destination alpha.
uint32_t BlendPixel(uint32_t texel, uint32_t pixel) {
    const uint32_t a = texel >> 24, keep = 255 - a;
    return Gather(Div255(Spread(texel | 0xFF000000u) * a) + Div255(Spread(pixel) * keep));
}

/// BlendPixel on four pixels at once: texels four[0..3] onto the 16 bytes at out. A texel
/// of alpha 0 leaves its pixel as it is here too (its products are 0 and the pixel times
/// 255 / 255).
void BlendFour(const uint32_t* four, uint8_t* out) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i s = _mm_setr_epi32(static_cast<int>(four[0]), static_cast<int>(four[1]), static_cast<int>(four[2]),
                                     static_cast<int>(four[3]));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
    const __m128i alphaLanes = _mm_setr_epi16(0, 0, 0, 255, 0, 0, 0, 255);
    const __m128i full = _mm_set1_epi16(255);
    // x / 255 truncated is (x * 0x8081) >> 23 for every 16-bit x.
    const __m128i by255 = _mm_set1_epi16(static_cast<short>(0x8081));
    auto two = [&](__m128i texel, __m128i pixel) {
        const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(texel, 0xFF), 0xFF);
        const __m128i src = _mm_or_si128(texel, alphaLanes);
        const __m128i keep = _mm_xor_si128(a, full);
        const __m128i p = _mm_srli_epi16(_mm_mulhi_epu16(_mm_mullo_epi16(src, a), by255), 7);
        const __m128i q = _mm_srli_epi16(_mm_mulhi_epu16(_mm_mullo_epi16(pixel, keep), by255), 7);
        return _mm_add_epi16(p, q);
    };
    const __m128i lo = two(_mm_unpacklo_epi8(s, zero), _mm_unpacklo_epi8(d, zero));
    const __m128i hi = two(_mm_unpackhi_epi8(s, zero), _mm_unpackhi_epi8(d, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(lo, hi));
#else
    for (int k = 0; k < 4; ++k, out += 4) {
        const uint32_t pixel = BlendPixel(four[k], Word(out));
        for (int c = 0; c < 4; ++c) out[c] = static_cast<uint8_t>(pixel >> (8 * c));
    }
#endif
}

/// a / b rounded up, for b > 0.
int64_t CeilDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return q + (a % b > 0 ? 1 : 0);
}

/// One triangle as the software renderer rasterises it: vertices truncated to whole
/// pixels and doubled (one bit of sub-pixel precision), edge functions at pixel centres
/// with the top-left rule, over the bounding box clipped by surface and clip rectangle.
struct Raster {
    FixedPoint d[3];
    int32_t area = 0;                            // twice the doubled triangle's area, > 0
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;      // clipped box, pixels, end exclusive
    int32_t stepX[3]{}, stepY[3]{}, row[3]{}, least[3]{};
    Divisor byStep[3], byArea;

    /// False when the triangle must go to the renderer (values beyond 32 bits); empty()
    /// tells whether it covers no pixel.
    bool Set(const TGraphics::Vertex* t, int32_t w, int32_t h, const SDL_Rect& clip, int64_t texMax) {
        for (int k = 0; k < 3; ++k) d[k] = {static_cast<int32_t>(t[k].x) * 2, static_cast<int32_t>(t[k].y) * 2};
        const int32_t minX = std::min({d[0].x, d[1].x, d[2].x}), maxX = std::max({d[0].x, d[1].x, d[2].x});
        const int32_t minY = std::min({d[0].y, d[1].y, d[2].y}), maxY = std::max({d[0].y, d[1].y, d[2].y});
        // Edge functions stay below 2^29; texel numerators and their steps below 2^30.
        const int64_t extent = int64_t(maxX) - minX + maxY - minY;
        if (extent >= (1 << 14)) return false;
        const int64_t signedArea = Cross(d[0], d[1], d[2].x, d[2].y);
        const int64_t absArea = signedArea < 0 ? -signedArea : signedArea;
        if (absArea * texMax >= (int64_t(1) << 30) || 4 * extent * texMax >= (int64_t(1) << 30)) return false;
        area = static_cast<int32_t>(absArea);
        if (area == 0) return true;  // flat: nothing drawn
        x0 = std::max({minX >> 1, 0, clip.x});
        y0 = std::max({minY >> 1, 0, clip.y});
        x1 = std::min({(minX >> 1) + ((maxX - minX) >> 1), w, clip.x + clip.w});
        y1 = std::min({(minY >> 1) + ((maxY - minY) >> 1), h, clip.y + clip.h});
        if (empty()) return true;
        const bool clockwise = signedArea > 0;
        const int32_t sign = clockwise ? 1 : -1;
        const int32_t px = x0 * 2 + 1, py = y0 * 2 + 1;  // the first pixel centre
        for (int k = 0; k < 3; ++k) {
            const FixedPoint a = d[(k + 1) % 3], b = d[(k + 2) % 3];
            stepX[k] = sign * (a.y - b.y) * 2;
            stepY[k] = sign * (b.x - a.x) * 2;
            row[k] = sign * static_cast<int32_t>(Cross(a, b, px, py));
            least[k] = IsTopLeft(a, b, clockwise) ? 0 : 1;
            if (stepX[k] != 0) byStep[k] = Divisor(stepX[k] < 0 ? -stepX[k] : stepX[k]);
        }
        byArea = Divisor(area);
        return true;
    }
    bool empty() const { return area == 0 || x1 <= x0 || y1 <= y0; }

    /// Calls run(y, lo, hi, w0, w1) for every row's run of pixels x0 + lo .. x0 + hi
    /// inside, with the first two edge functions at its first pixel.
    template <class Run>
    void Runs(Run run) const {
        // Each slanted edge bounds the run on one side at floor((value - least) / |stepX|)
        // pixels; value grows by stepY with every row, so the bound is stepped, not divided.
        Quotient bound[3], boundStep[3];
        int32_t r[3] = {row[0], row[1], row[2]};
        for (int k = 0; k < 3; ++k)
            if (stepX[k] != 0) {
                bound[k] = Quotient(row[k] - least[k], byStep[k]);
                boundStep[k] = Quotient(stepY[k], byStep[k]);
            }
        const int32_t last = x1 - x0 - 1;
        for (int32_t y = y0; y < y1; ++y) {
            int32_t lo = 0, hi = last;
            bool inside = true;
            for (int k = 0; k < 3; ++k) {
                if (stepX[k] > 0)
                    lo = std::max(lo, -bound[k].q);
                else if (stepX[k] < 0)
                    hi = std::min(hi, bound[k].q);
                else
                    inside = inside && r[k] >= least[k];
            }
            if (inside && lo <= hi) run(y, lo, hi, r[0] + stepX[0] * lo, r[1] + stepX[1] * lo);
            for (int k = 0; k < 3; ++k) {
                r[k] += stepY[k];
                if (stepX[k] != 0) bound[k].Step(boundStep[k], byStep[k].b);
            }
        }
    }
};

}  // namespace

template <class Draw>
void SdlGraphics::SubmitDirect(SDL_Texture* tex, const Vertex* v, int32_t count, bool oneByOne, Draw draw) {
    int32_t run = 0;       // first triangle not yet drawn or handed to the renderer
    bool mayQueue = true;  // the renderer may hold commands not yet drawn on the surface
    for (int32_t i = 0; i + 3 <= count; i += 3) {
        const Vertex* t = v + i;
        if (AxisAlignedCorner(t) || !draw(t, false)) continue;
        if (run < i) {
            SubmitKept(tex, v + run, i - run, oneByOne);
            mayQueue = true;
        }
        if (mayQueue) {
            SDL_RenderFlush(renderer_);  // what came before lands first
            mayQueue = false;
        }
        run = draw(t, true) ? i + 3 : i;  // else left to the renderer with what follows
    }
    if (run < count) SubmitKept(tex, v + run, count - run, oneByOne);
}

void SdlGraphics::SubmitKept(SDL_Texture* tex, const Vertex* v, int32_t count, bool oneByOne) {
    if (oneByOne) {
        // See Geometry: untextured rectangles would be blended.
        for (int32_t i = 0; i + 3 <= count; i += 3) Submit(nullptr, v + i, 3);
    } else {
        Submit(tex, v, count);
    }
}

bool SdlGraphics::FillTriangle(const Vertex* t) {
    Raster ras;
    if (!ras.Set(t, width_, height_, clip_, 1)) return false;
    if (ras.empty()) return true;
    const uint8_t rgba[4] = {t[0].r, t[0].g, t[0].b, t[0].a};
    uint32_t colour;
    std::memcpy(&colour, rgba, 4);
    auto* pixels = static_cast<uint8_t*>(surface_->pixels);
    const int32_t pitch = surface_->pitch;
    ras.Runs([&](int32_t y, int32_t lo, int32_t hi, int32_t, int32_t) {
        auto* out = reinterpret_cast<uint32_t*>(pixels + static_cast<ptrdiff_t>(y) * pitch) + ras.x0;
        std::fill(out + lo, out + hi + 1, colour);
    });
    return true;
}

bool SdlGraphics::BlendTriangle(const Vertex* t, const TPixmap& pm) {
    const int32_t texW = pm.Width(), texH = pm.Height();
    // Texels truncated; the largest coordinate is reduced by one, since interpolation
    // reaches it.
    FixedPoint sp[3];
    for (int k = 0; k < 3; ++k) {
        sp[k] = {static_cast<int32_t>(t[k].u * static_cast<float>(texW)),
                 static_cast<int32_t>(t[k].v * static_cast<float>(texH))};
        if (sp[k].x < 0 || sp[k].y < 0 || sp[k].x > texW || sp[k].y > texH) return false;
    }
    {
        const int32_t maxX = std::max({sp[0].x, sp[1].x, sp[2].x}), minX = std::min({sp[0].x, sp[1].x, sp[2].x});
        const int32_t maxY = std::max({sp[0].y, sp[1].y, sp[2].y}), minY = std::min({sp[0].y, sp[1].y, sp[2].y});
        for (FixedPoint& q : sp) {
            if (maxX > minX && q.x == maxX) --q.x;
            if (maxY > minY && q.y == maxY) --q.y;
            if (q.x >= texW || q.y >= texH) return false;  // would read past the texture
        }
    }
    Raster ras;
    if (!ras.Set(t, width_, height_, clip_, std::max(texW, texH))) return false;
    if (ras.empty()) return true;

    // Texel = (w0 * (s0 - s2) + w1 * (s1 - s2) + s2 * area) / area, truncated; inside the
    // triangle the numerator is never negative, so truncating is rounding down, and along
    // a row the numerators grow by constant steps: quotient and remainder are stepped.
    const int32_t area = ras.area;
    const int32_t su0 = sp[0].x - sp[2].x, su1 = sp[1].x - sp[2].x, sv0 = sp[0].y - sp[2].y, sv1 = sp[1].y - sp[2].y;
    const int32_t baseU = sp[2].x * area, baseV = sp[2].y * area;
    const int32_t stepNu = ras.stepX[0] * su0 + ras.stepX[1] * su1, stepNv = ras.stepX[0] * sv0 + ras.stepX[1] * sv1;
    const Quotient du(stepNu, ras.byArea), dv(stepNv, ras.byArea);
    // Or, for triangles small enough, in 32.32 fixed point rounded up, from the corner of
    // the box by whole steps along x and y: after n steps in all a value exceeds the exact
    // quotient by less than (n + 1) / 2^32, and the exact one's fraction is at most
    // 1 - 1 / area, so the integer parts agree while (n + 1) * area stays within 2^32.
    const int64_t one = int64_t(1) << 32;
    const int64_t cornerU = int64_t(ras.row[0]) * su0 + int64_t(ras.row[1]) * su1 + baseU,
                  cornerV = int64_t(ras.row[0]) * sv0 + int64_t(ras.row[1]) * sv1 + baseV;
    const int64_t downU = int64_t(ras.stepY[0]) * su0 + int64_t(ras.stepY[1]) * su1,
                  downV = int64_t(ras.stepY[0]) * sv0 + int64_t(ras.stepY[1]) * sv1;
    auto small = [](int64_t x) { return x > -(int64_t(1) << 30) && x < (int64_t(1) << 30); };
    const bool fixedPoint = (int64_t(ras.x1 - ras.x0) + (ras.y1 - ras.y0) + 1) * area <= one && small(cornerU) &&
                            small(cornerV) && small(downU) && small(downV);
    const int64_t fixedStepU = CeilDiv(int64_t(stepNu) * one, area), fixedStepV = CeilDiv(int64_t(stepNv) * one, area);
    const int64_t fixedDownU = fixedPoint ? CeilDiv(downU * one, area) : 0,
                  fixedDownV = fixedPoint ? CeilDiv(downV * one, area) : 0;
    const int64_t fixedCornerU = fixedPoint ? CeilDiv(cornerU * one, area) : 0,
                  fixedCornerV = fixedPoint ? CeilDiv(cornerV * one, area) : 0;
    const uint8_t* texels = pm.Pixels();
    auto* pixels = static_cast<uint8_t*>(surface_->pixels);
    const int32_t pitch = surface_->pitch;
    const int32_t x0 = ras.x0;
    ras.Runs([&](int32_t y, int32_t lo, int32_t hi, int32_t w0, int32_t w1) {
        const int32_t nu = w0 * su0 + w1 * su1 + baseU, nv = w0 * sv0 + w1 * sv1 + baseV;
        uint8_t* out = pixels + static_cast<ptrdiff_t>(y) * pitch + static_cast<ptrdiff_t>(x0 + lo) * 4;
        // Plain locals: stores through the byte pointer may alias anything else.
        const uint8_t* const tex = texels;
        const ptrdiff_t tw = texW;
#if defined(__SSE2__)
        // About the same run two rows further down is fetched while this one is drawn.
        if (fetchAhead_ && y + 2 < ras.y1) {
            const uint8_t* ahead = pixels + static_cast<ptrdiff_t>(y + 2) * pitch;
            const int32_t from = std::max(x0 + lo - 8, 0) * 4, to = std::min(x0 + hi + 8, width_ - 1) * 4;
            for (int32_t b = from; b <= to; b += 64) _mm_prefetch(reinterpret_cast<const char*>(ahead + b), _MM_HINT_T0);
        }
#endif
        if (fixedPoint) {
            const int64_t stepU = fixedStepU, stepV = fixedStepV, rows = y - ras.y0;
            const int64_t fuLo = fixedCornerU + lo * stepU + rows * fixedDownU, fvLo = fixedCornerV + lo * stepV + rows * fixedDownV;
            int64_t fu = fuLo, fv = fvLo;
            auto next = [&] {
                const uint32_t w = Word(tex + ((fv >> 32) * tw + (fu >> 32)) * 4);
                fu += stepU;
                fv += stepV;
                return w;
            };
            int32_t n = lo;
            for (; n + 3 <= hi; n += 4, out += 16) {
                const uint32_t four[4] = {next(), next(), next(), next()};
                if (((four[0] | four[1] | four[2] | four[3]) >> 24) == 0) continue;  // all transparent
                BlendFour(four, out);
            }
            if (n <= hi && x0 + hi + 3 < width_) {
                // The last one to three pixels as four, with fully transparent texels for the
                // pixels after the run, which thus stay as they are.
                uint32_t four[4] = {};
                for (int32_t k = 0; n + k <= hi; ++k) four[k] = next();
                if (((four[0] | four[1] | four[2] | four[3]) >> 24) != 0) BlendFour(four, out);
                return;
            }
            for (; n <= hi; ++n, out += 4) {
                const uint32_t w = next();
                if ((w >> 24) == 0) continue;
                const uint32_t pixel = BlendPixel(w, Word(out));
                for (int c = 0; c < 4; ++c) out[c] = static_cast<uint8_t>(pixel >> (8 * c));
            }
            return;
        }
        const Quotient u(nu, ras.byArea), v(nv, ras.byArea);
        const int32_t d = area, stepUr = du.r, stepVr = dv.r;
        const ptrdiff_t stepOffset = du.q + static_cast<ptrdiff_t>(dv.q) * tw;
        int32_t ur = u.r, vr = v.r;
        ptrdiff_t offset = (static_cast<ptrdiff_t>(v.q) * tw + u.q) * 4;  // of the texel, bytes
        for (int32_t n = lo; n <= hi; ++n, out += 4) {
            const uint8_t* src = tex + offset;
            // Next texel: both quotients step, each with its carry.
            ur += stepUr;
            vr += stepVr;
            const int32_t carryU = ur >= d, carryV = vr >= d;
            ur -= carryU * d;
            vr -= carryV * d;
            offset += (stepOffset + carryU + (carryV ? tw : 0)) * 4;

            const uint32_t a = src[3];
            if (a == 0) continue;  // leaves the pixel as it is
            const uint32_t pixel = BlendPixel(Word(src), Word(out));
            for (int c = 0; c < 4; ++c) out[c] = static_cast<uint8_t>(pixel >> (8 * c));
        }
    });
    return true;
}

// ---------------------------------------------------------------- rectangle copies
// Two triangles forming an upright rectangle with the whole texture on it go to the
// software renderer's copy: the destination rectangle is the top-left corner and the
// size, each truncated to whole pixels; a copy of the texture's own size is blended as it
// is, a scaled one with a linear filter is first stretched (bilinear with 7-bit weights,
// vertical then horizontal, rounded down once at the end; the edge columns and rows held)
// into a rectangle of the destination's size, which is then blended. That blending differs from the triangles': alpha 0 leaves the pixel, 255
// copies the texel, else each channel is (texel * alpha >> 8) + (pixel * (255 - alpha)
// >> 8), alpha's own with 255 for the texel's factor, clamped at 255.

namespace {

/// The stretch's sampling along one axis: a 16.16 position per destination pixel, the
/// first `left` pixels held at the first texel, the last `right` at the last.
struct Sampling {
    int32_t start = 0, step = 0, left = 0, right = 0;
    Sampling(int32_t src, int32_t dst) {
        step = static_cast<int32_t>((static_cast<uint32_t>(src) << 16) / static_cast<uint32_t>(dst));
        start = static_cast<int32_t>((static_cast<int64_t>(step) * 32768 + 0x8000) >> 16) - 32768;
        int32_t at = start;
        for (int32_t i = 0; i < dst; ++i, at += step) {
            if (at < 0)
                ++left;
            else if ((at >> 16) > src - 2)
                ++right;
        }
    }
    /// Texel and weight (0..128) of the next texel for destination pixel i of dst.
    void At(int32_t i, int32_t dst, int32_t src, int32_t& texel, int32_t& weight) const {
        if (i < left) {
            texel = 0;
            weight = 0;
        } else if (i >= dst - right) {
            texel = src - 2;
            weight = 128;
        } else {
            const int32_t at = start + i * step;
            texel = at >> 16;
            weight = (at >> 9) & 127;
        }
    }
};

/// The copy's blending of one RGBA value onto a pixel (see above).
uint32_t CopyPixel(uint32_t value, uint32_t pixel) {
    const uint32_t a = value >> 24;
    if (a == 0) return pixel;
    if (a == 255) return value;
    uint32_t out = 0;
    for (int c = 0; c < 4; ++c) {
        const uint32_t s = (value >> (8 * c)) & 255, d = (pixel >> (8 * c)) & 255;
        const uint32_t v = ((s * (c == 3 ? 255 : a)) >> 8) + ((d * (255 - a)) >> 8);
        out |= std::min(v, 255u) << (8 * c);
    }
    return out;
}

void StoreWord(uint8_t* out, uint32_t w) {
    for (int c = 0; c < 4; ++c) out[c] = static_cast<uint8_t>(w >> (8 * c));
}

#if defined(__SSE2__)
/// CopyPixel on two values and two pixels, all in 16-bit lanes.
__m128i CopyTwo(__m128i value, __m128i pixel) {
    const __m128i zero = _mm_setzero_si128(), full = _mm_set1_epi16(255);
    const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(value, 0xFF), 0xFF);
    const __m128i factor = _mm_or_si128(a, _mm_setr_epi16(0, 0, 0, 255, 0, 0, 0, 255));
    __m128i r = _mm_add_epi16(_mm_srli_epi16(_mm_mullo_epi16(value, factor), 8),
                              _mm_srli_epi16(_mm_mullo_epi16(pixel, _mm_xor_si128(a, full)), 8));
    const __m128i opaque = _mm_cmpeq_epi16(a, full), clear = _mm_cmpeq_epi16(a, zero);
    r = _mm_or_si128(_mm_and_si128(opaque, value), _mm_andnot_si128(opaque, r));
    return _mm_or_si128(_mm_and_si128(clear, pixel), _mm_andnot_si128(clear, r));
}
#endif

}  // namespace

bool SdlGraphics::CopyRect(const Vertex* v, const TPixmap& pm, SDL_Texture* tex, const Coverage& coverage) {
#if !defined(__SSE2__)
    // The stretch and blend above are what the renderer runs on SSE2 and MMX processors;
    // elsewhere it uses other arithmetic.
    return false;
#endif
    auto at = [](const Vertex& p, float x, float y, float u, float w) {
        return p.x == x && p.y == y && p.u == u && p.v == w;
    };
    const float x0 = v[0].x, y0 = v[0].y, x1 = v[2].x, y1 = v[2].y;
    if (!(at(v[0], x0, y0, 0, 0) && at(v[1], x1, y0, 1, 0) && at(v[2], x1, y1, 1, 1) && at(v[3], x0, y0, 0, 0) &&
          at(v[4], x1, y1, 1, 1) && at(v[5], x0, y1, 0, 1) && OpaqueWhite(v) && OpaqueWhite(v + 3) && x1 > x0 &&
          y1 > y0))
        return false;
    const int32_t texW = pm.Width(), texH = pm.Height();
    const int32_t dx = static_cast<int32_t>(x0), dy = static_cast<int32_t>(y0);
    const int32_t dw = static_cast<int32_t>(x1 - x0), dh = static_cast<int32_t>(y1 - y0);
    if (dw < 1 || dh < 1) return false;
    const bool scaled = dw != texW || dh != texH;
    if (scaled) {
        SDL_ScaleMode mode = SDL_ScaleModeNearest;
        if (SDL_GetTextureScaleMode(tex, &mode) != 0 || mode != SDL_ScaleModeLinear) return false;
        if (texW < 2 || texW > MAX_SURFACE || texH > MAX_SURFACE) return false;
    }
    const int32_t cx0 = std::max(clip_.x, 0), cy0 = std::max(clip_.y, 0);
    const int32_t cx1 = std::min(clip_.x + clip_.w, width_), cy1 = std::min(clip_.y + clip_.h, height_);
    // A scaled copy inside the surface but crossing the clip rectangle is clipped before
    // stretching, with other sampling: the renderer's.
    const bool inSurface = dx >= 0 && dy >= 0 && dx + dw <= width_ && dy + dh <= height_;
    if (scaled && inSurface && (dx < cx0 || dy < cy0 || dx + dw > cx1 || dy + dh > cy1)) return false;
    const int32_t px0 = std::max(dx, cx0), py0 = std::max(dy, cy0);
    const int32_t px1 = std::min(dx + dw, cx1), py1 = std::min(dy + dh, cy1);
    if (px1 <= px0 || py1 <= py0) return true;
    SDL_RenderFlush(renderer_);  // what came before lands first

    const uint8_t* texels = pm.Pixels();
    auto* pixels = static_cast<uint8_t*>(surface_->pixels);
    const int32_t pitch = surface_->pitch;
    if (!scaled) {
        for (int32_t y = py0; y < py1; ++y) {
            // Fully transparent texels leave their pixels as they are.
            const auto [first, last] = coverage.rows[static_cast<size_t>(y - dy)];
            const int32_t from = std::max(px0, dx + first), to = std::min(px1, dx + last + 1);
            const uint8_t* src = texels + (static_cast<ptrdiff_t>(y - dy) * texW + (from - dx)) * 4;
            uint8_t* out = pixels + static_cast<ptrdiff_t>(y) * pitch + static_cast<ptrdiff_t>(from) * 4;
            for (int32_t x = from; x < to; ++x, src += 4, out += 4) StoreWord(out, CopyPixel(Word(src), Word(out)));
        }
        return true;
    }

    const Sampling across(texW, dw), down(texH, dh);
    const int32_t n = px1 - px0;
    columns_.resize(static_cast<size_t>(n));
    weights_.resize(static_cast<size_t>(n));
    for (int32_t j = 0; j < n; ++j) {
        int32_t texel = 0, weight = 0;
        across.At(px0 - dx + j, dw, texW, texel, weight);
        columns_[static_cast<size_t>(j)] = texel;
        // The pair of weights for the texel and the next, as two 16-bit lanes.
        weights_[static_cast<size_t>(j)] = (128 - weight) | (weight << 16);
    }
    blended_.resize(static_cast<size_t>(texW) * 4 + 8);
    const ptrdiff_t rowBytes = static_cast<ptrdiff_t>(texW) * 4;
    for (int32_t y = py0; y < py1; ++y) {
        const int32_t i = y - dy;
        int32_t row = 0, below = 0;
        down.At(i, dh, texH, row, below);
        // Held rows read one texel row twice (the renderer's rule; 'below' is then 0).
        const bool held = i < down.left || i >= dh - down.right;
        if (held) row = i < down.left ? 0 : texH - 1, below = 0;
        // A pixel whose four texels are all fully transparent comes out transparent and
        // leaves its pixel as it is: only the pixels reading covered texels are drawn.
        const auto& r0 = coverage.rows[static_cast<size_t>(row)];
        const auto& r1 = coverage.rows[static_cast<size_t>(held ? row : row + 1)];
        const int32_t covered0 = std::min(r0.first, r1.first), covered1 = std::max(r0.second, r1.second);
        if (covered1 < covered0) continue;
        const auto begin = std::lower_bound(columns_.begin(), columns_.end(), covered0 - 1);
        const auto end = std::upper_bound(begin, columns_.end(), covered1);
        if (begin == end) continue;
        const int32_t j0 = static_cast<int32_t>(begin - columns_.begin()), j1 = static_cast<int32_t>(end - columns_.begin());
        const int32_t firstTexel = *begin, lastTexel = *(end - 1) + 1;
        const uint8_t* top = texels + row * rowBytes;
        const uint8_t* bottom = held ? top : top + rowBytes;
        const int32_t above = 128 - below;
        // Vertical first: every texel this row needs, its channels weighted, in 16 bits.
        int16_t* mixed = blended_.data();
        int32_t c = firstTexel;
#if defined(__SSE2__)
        {
            const __m128i zero = _mm_setzero_si128(), wa = _mm_set1_epi16(static_cast<short>(above)),
                          wb = _mm_set1_epi16(static_cast<short>(below));
            for (; c + 1 <= lastTexel; c += 2) {
                const __m128i t = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(top + c * 4)), zero);
                const __m128i b = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bottom + c * 4)), zero);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(mixed + c * 4),
                                 _mm_add_epi16(_mm_mullo_epi16(t, wa), _mm_mullo_epi16(b, wb)));
            }
        }
#endif
        for (; c <= lastTexel; ++c)
            for (int k = 0; k < 4; ++k)
                mixed[c * 4 + k] = static_cast<int16_t>(above * top[c * 4 + k] + below * bottom[c * 4 + k]);
        uint8_t* out = pixels + static_cast<ptrdiff_t>(y) * pitch + static_cast<ptrdiff_t>(px0 + j0) * 4;
        int32_t j = j0;
#if defined(__SSE2__)
        // The pixels of a later row, a surface row apart, are fetched while this one is drawn.
        if (fetchAhead_ && y + 2 < py1)
            for (int32_t b = 0; b < (j1 - j0) * 4; b += 64)
                _mm_prefetch(reinterpret_cast<const char*>(out + 2 * pitch + b), _MM_HINT_T0);
        auto one = [&](int32_t k) {
            const __m128i pair = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mixed + columns_[static_cast<size_t>(k)] * 4));
            const __m128i sum = _mm_madd_epi16(_mm_unpacklo_epi16(pair, _mm_srli_si128(pair, 8)),
                                               _mm_set1_epi32(weights_[static_cast<size_t>(k)]));
            return _mm_srli_epi32(sum, 14);
        };
        const __m128i zero = _mm_setzero_si128();
        for (; j + 4 <= j1; j += 4, out += 16) {
            const __m128i pixels4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
            const __m128i lo = CopyTwo(_mm_packs_epi32(one(j), one(j + 1)), _mm_unpacklo_epi8(pixels4, zero));
            const __m128i hi = CopyTwo(_mm_packs_epi32(one(j + 2), one(j + 3)), _mm_unpackhi_epi8(pixels4, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(lo, hi));
        }
        for (; j + 2 <= j1; j += 2, out += 8) {
            const __m128i pixels2 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(out)), zero);
            const __m128i r = CopyTwo(_mm_packs_epi32(one(j), one(j + 1)), pixels2);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(r, r));
        }
#endif
        for (; j < j1; ++j, out += 4) {
            const int16_t* l = mixed + columns_[static_cast<size_t>(j)] * 4;
            const int32_t w = weights_[static_cast<size_t>(j)], wl = w & 0xFFFF, wr = w >> 16;
            uint32_t value = 0;
            for (int k = 0; k < 4; ++k)
                value |= std::min<uint32_t>(static_cast<uint32_t>(wl * l[k] + wr * l[k + 4]) >> 14, 255u) << (8 * k);
            StoreWord(out, CopyPixel(value, Word(out)));
        }
    }
    return true;
}

SDL_Texture* SdlGraphics::TextureFor(TImage* image, int32_t frame, bool mask, const Coverage** coverage) {
    if (frame < 0 || static_cast<size_t>(frame) >= image->frames.size()) return nullptr;
    const TPixmap* pm = image->frames[static_cast<size_t>(frame)].Get();
    if (!pm || pm->Width() <= 0 || pm->Height() <= 0) return nullptr;

    TImage::CacheSlot::Entry* entry = nullptr;
    if (image->cache) {
        for (auto& e : image->cache->entries)
            if (e.owner == this) {
                entry = &e;
                break;
            }
    }
    if (!entry) {
        if (!image->cache) image->cache = new TImage::CacheSlot();
        image->cache->entries.emplace_back();
        entry = &image->cache->entries.back();
        entry->owner = this;
        images_.insert(image);
    }
    std::vector<SDL_Texture*>& set = mask ? entry->mask : entry->plain;
    if (set.size() < image->frames.size()) set.resize(image->frames.size(), nullptr);
    SDL_Texture*& t = set[static_cast<size_t>(frame)];
    if (!mask && entry->coverage.size() < image->frames.size()) entry->coverage.resize(image->frames.size());
    if (!t) {
        t = Upload(*pm, mask, (image->flags & FILTEREDIMAGE) != 0);
        if (t && !mask && surface_) entry->coverage[static_cast<size_t>(frame)].Build(pm->Pixels(), pm->Width(), pm->Height());
    }
    if (coverage) *coverage = mask ? nullptr : &entry->coverage[static_cast<size_t>(frame)];
    return t;
}

SDL_Texture* SdlGraphics::Upload(const TPixmap& pm, bool mask, bool filtered) {
    const int32_t w = pm.Width(), h = pm.Height();
    SDL_Texture* t = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGBA32, SDL_TEXTUREACCESS_STATIC, w, h);
    if (!t) return nullptr;
    const uint8_t* src = pm.Pixels();
    if (mask) {
        // Mask blending draws only texels with alpha above one half, without blending:
        // a copy whose alpha is 0 or 255 drawn with alpha blending does exactly that.
        maskScratch_.assign(src, src + static_cast<size_t>(w) * h * 4);
        for (size_t i = 3; i < maskScratch_.size(); i += 4) maskScratch_[i] = maskScratch_[i] > 127 ? 255 : 0;
        src = maskScratch_.data();
    }
    SDL_UpdateTexture(t, nullptr, src, w * 4);
    // Mipmapped images are drawn like filtered ones: SDL_Renderer has no mipmaps.
    SDL_SetTextureScaleMode(t, filtered ? SDL_ScaleModeLinear : SDL_ScaleModeNearest);
    ++uploads_;
    return t;
}

void SdlGraphics::DropTextures() {
    for (TImage* image : images_) {
        TImage::CacheSlot* slot = image->cache;
        if (!slot) continue;
        auto& es = slot->entries;
        for (auto it = es.begin(); it != es.end();) {
            if (it->owner == this) {
                DestroyTextures(*it);
                it = es.erase(it);
            } else {
                ++it;
            }
        }
        if (es.empty()) {
            delete slot;
            image->cache = nullptr;
        }
    }
    images_.clear();
}

// ---------------------------------------------------------------- guard-band clipping

namespace {

struct ClipVertex {
    double x, y, u, v, r, g, b, a;
};

ClipVertex Lerp(const ClipVertex& p, const ClipVertex& q, double t) {
    return {p.x + (q.x - p.x) * t, p.y + (q.y - p.y) * t, p.u + (q.u - p.u) * t, p.v + (q.v - p.v) * t,
            p.r + (q.r - p.r) * t, p.g + (q.g - p.g) * t, p.b + (q.b - p.b) * t, p.a + (q.a - p.a) * t};
}

/// Sutherland-Hodgman against one axis-aligned boundary; keeps points where
/// sign * (coord - limit) <= 0.
int ClipAgainst(const ClipVertex* in, int n, ClipVertex* out, bool useX, double limit, double sign) {
    int m = 0;
    for (int i = 0; i < n; ++i) {
        const ClipVertex& p = in[i];
        const ClipVertex& q = in[(i + 1) % n];
        const double dp = sign * ((useX ? p.x : p.y) - limit);
        const double dq = sign * ((useX ? q.x : q.y) - limit);
        if (dp <= 0) out[m++] = p;
        if ((dp < 0 && dq > 0) || (dp > 0 && dq < 0)) out[m++] = Lerp(p, q, dp / (dp - dq));
    }
    return m;
}

// An interpolated channel, rounded, under the rule of every stored colour channel: clamped
// to 0..255, and NaN (a vertex far beyond the band) counts as 0 rather than reaching the
// conversion, where it would be undefined.
uint8_t ToByte(double c) {
    if (!(c > 0.0)) return 0;
    return static_cast<uint8_t>(std::min(c, 255.0) + 0.5);
}

}  // namespace

const TGraphics::Vertex* SdlGraphics::GuardBand(const Vertex* v, int32_t& count) {
    const double lo = -GUARD_BAND, hiX = width_ + GUARD_BAND, hiY = height_ + GUARD_BAND;
    auto inside = [&](const Vertex& p) { return p.x >= lo && p.x <= hiX && p.y >= lo && p.y <= hiY; };
    int32_t first = 0;
    while (first < count && inside(v[first])) ++first;
    if (first == count) return v;  // the usual case: nothing to do, nothing copied

    clipped_.clear();
    for (int32_t t = 0; t + 3 <= count; t += 3) {
        const Vertex* tri = v + t;
        if (inside(tri[0]) && inside(tri[1]) && inside(tri[2])) {
            clipped_.insert(clipped_.end(), tri, tri + 3);
            continue;
        }
        bool finite = true;
        for (int k = 0; k < 3; ++k) finite = finite && std::isfinite(tri[k].x) && std::isfinite(tri[k].y);
        if (!finite) continue;  // nothing sensible to draw
        ClipVertex a[9], b[9];
        for (int k = 0; k < 3; ++k)
            a[k] = {tri[k].x, tri[k].y, tri[k].u, tri[k].v, double(tri[k].r), double(tri[k].g), double(tri[k].b),
                    double(tri[k].a)};
        int n = 3;
        n = ClipAgainst(a, n, b, true, lo, -1.0);
        n = ClipAgainst(b, n, a, true, hiX, 1.0);
        n = ClipAgainst(a, n, b, false, lo, -1.0);
        n = ClipAgainst(b, n, a, false, hiY, 1.0);
        for (int k = 1; k + 1 < n; ++k) {
            for (const ClipVertex* c : {&a[0], &a[k], &a[k + 1]})
                clipped_.push_back({static_cast<float>(c->x), static_cast<float>(c->y), ToByte(c->r), ToByte(c->g),
                                    ToByte(c->b), ToByte(c->a), static_cast<float>(c->u), static_cast<float>(c->v)});
        }
    }
    count = static_cast<int32_t>(clipped_.size());
    return clipped_.data();
}

// ---------------------------------------------------------------- factories and image hooks

Ref<TGraphics> CreateWindowGraphics(SDL_Window* window) { return SdlGraphics::MakeWindowed(window); }

void SetDirectTriangles(TGraphics* g, bool on) {
    if (auto* sdl = dynamic_cast<SdlGraphics*>(g)) sdl->direct_ = on;
}

void ReleaseImageCache(TImage* image) {
    if (!image || !image->cache) return;
    for (auto& e : image->cache->entries) {
        DestroyTextures(e);
        if (e.owner) e.owner->ForgetImage(image);
    }
    delete image->cache;
    image->cache = nullptr;
}

}  // namespace detail

Ref<TGraphics> CreateHeadlessGraphics(int32_t w, int32_t h) { return detail::SdlGraphics::MakeHeadless(w, h); }

}  // namespace kin
