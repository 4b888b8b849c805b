// The two render backends on SDL_Renderer: a window's renderer and a headless software
// renderer on an in-memory RGBA surface. Both take the same CPU-transformed triangles; on
// the headless surface many are drawn directly by SoftRaster instead of by the renderer.
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

#include "platform/Graphics.h"
#include "platform/detail/RenderBackend.h"
#include "platform/detail/SoftRaster.h"

namespace kin {
namespace detail {
class SdlGraphics;
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
    /// The headless surface as SoftRaster draws on it, with the current clip rectangle.
    SoftTarget Target() const {
        return {static_cast<uint8_t*>(surface_->pixels), surface_->pitch, width_, height_,
                {clip_.x, clip_.y, clip_.w, clip_.h}, fetchAhead_};
    }
    /// Triangles on the headless surface: draw(t, false) tells whether triangle t may be
    /// drawn here, draw(t, true) draws it straight onto the surface or returns false to
    /// leave it to the renderer; triangles the renderer may treat as rectangles always go
    /// to the renderer (see below).
    template <class Draw>
    void SubmitDirect(SDL_Texture* tex, const Vertex* v, int32_t count, bool oneByOne, Draw draw);
    /// Hands triangles to the renderer, one per call when oneByOne (see Geometry).
    void SubmitKept(SDL_Texture* tex, const Vertex* v, int32_t count, bool oneByOne);
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
    CopyScratch copyScratch_;             // reused by CopyRect
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
        const SoftTarget target = Target();
        SubmitDirect(tex, p, count, false,
                     [&](const Vertex* t, bool now) { return now ? BlendTriangle(target, t, pm) : OpaqueWhite(t); });
    } else if (!tex && direct_ && surface_ && (blend == SDL_BLENDMODE_BLEND || blend == SDL_BLENDMODE_NONE)) {
        const bool replace = blend == SDL_BLENDMODE_NONE;
        const SoftTarget target = Target();
        SubmitDirect(nullptr, p, count, replace, [&](const Vertex* t, bool now) {
            // Replacing pixels takes the colour with its alpha; blending, only opaque ones.
            return now ? FillTriangle(target, t) : SameColour(t) && (replace || t[0].a == 255);
        });
    } else if (!tex && software_ && blend != SDL_BLENDMODE_BLEND) {
        // The software path turns two triangles forming an axis-aligned rectangle into a
        // rectangle fill that always blends; one triangle per call keeps the chosen mode.
        for (int32_t i = 0; i + 3 <= count; i += 3) Submit(nullptr, p + i, 3);
    } else {
        Submit(tex, p, count);
    }
}

// ---------------------------------------------------------------- direct triangles
// The software renderer draws a slanted triangle pixel by pixel over its bounding box, a
// textured one with two 64-bit divisions and a generic pixel format round trip per pixel,
// an untextured blended one through an intermediate surface. On the headless surface,
// whose format is the textures' own, SoftRaster runs the same integer arithmetic on the
// runs of pixels inside instead. Triangles the renderer would merge into an axis-aligned
// rectangle (it copies or fills those with other rules), and any whose colour is not one
// opaque colour, still go to the renderer, in order.

namespace {

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

// ---------------------------------------------------------------- rectangle copies
// Two triangles forming an upright rectangle with the whole texture on it go to the
// software renderer's copy, which SoftRaster's CopyImage reproduces for blended copies of
// the texture's own size and for scaled ones with the linear filter.

bool SdlGraphics::CopyRect(const Vertex* v, const TPixmap& pm, SDL_Texture* tex, const Coverage& coverage) {
#if !defined(__SSE2__)
    // CopyImage's stretch and blend are what the renderer runs on SSE2 and MMX processors;
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
    CopyImage(Target(), pm, coverage, {dx, dy, dw, dh}, copyScratch_);
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
