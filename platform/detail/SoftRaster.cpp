// The pixels of the headless backend's direct path (see SoftRaster.h). The hot loops and
// every helper they call live together in this file so that they inline into one another;
// the callers pay one call per triangle or copy.
#include "platform/detail/SoftRaster.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kin::detail {

void Coverage::Build(const uint8_t* texels, int32_t w, int32_t h) {
    rows.assign(static_cast<size_t>(h), {w, -1});
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            if (texels[(static_cast<ptrdiff_t>(y) * w + x) * 4 + 3] != 0) {
                auto& r = rows[static_cast<size_t>(y)];
                r = {std::min(r.first, x), x};
            }
}

// ---------------------------------------------------------------- blended triangles
// The software renderer draws a slanted triangle pixel by pixel over its bounding box, a
// textured one with two 64-bit divisions and a generic pixel format round trip per pixel,
// an untextured blended one through an intermediate surface. On the headless surface,
// whose format is the textures' own, the same integer arithmetic runs here on the runs of
// pixels inside, so the pixels are the renderer's to the bit. (Triangles the renderer would
// merge into an axis-aligned rectangle, and any whose colour is not one opaque colour, the
// caller leaves to the renderer.)

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
    bool Set(const TGraphics::Vertex* t, int32_t w, int32_t h, const PixelRect& clip, int64_t texMax) {
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

// Filled with one colour, replacing the pixels: for a blended triangle the caller passes
// only opaque colours, where blending is replacing. Refused (false) only when the edge
// functions would leave 32 bits (see Raster::Set); the renderer then draws it.
bool FillTriangle(const SoftTarget& target, const TGraphics::Vertex* t) {
    Raster ras;
    if (!ras.Set(t, target.width, target.height, target.clip, 1)) return false;
    if (ras.empty()) return true;
    const uint8_t rgba[4] = {t[0].r, t[0].g, t[0].b, t[0].a};
    uint32_t colour;
    std::memcpy(&colour, rgba, 4);
    uint8_t* const pixels = target.pixels;
    const int32_t pitch = target.pitch;
    ras.Runs([&](int32_t y, int32_t lo, int32_t hi, int32_t, int32_t) {
        auto* out = reinterpret_cast<uint32_t*>(pixels + static_cast<ptrdiff_t>(y) * pitch) + ras.x0;
        std::fill(out + lo, out + hi + 1, colour);
    });
    return true;
}

// Refused (false) when a texel coordinate lies outside the texture or the texel
// arithmetic would leave 32 bits: the renderer draws those.
bool BlendTriangle(const SoftTarget& target, const TGraphics::Vertex* t, const TPixmap& pm) {
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
    if (!ras.Set(t, target.width, target.height, target.clip, std::max(texW, texH))) return false;
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
    uint8_t* const pixels = target.pixels;
    const int32_t pitch = target.pitch;
    const int32_t x0 = ras.x0, width = target.width;
    [[maybe_unused]] const bool fetchAhead = target.fetchAhead;  // used where SSE2 prefetches
    ras.Runs([&](int32_t y, int32_t lo, int32_t hi, int32_t w0, int32_t w1) {
        const int32_t nu = w0 * su0 + w1 * su1 + baseU, nv = w0 * sv0 + w1 * sv1 + baseV;
        uint8_t* out = pixels + static_cast<ptrdiff_t>(y) * pitch + static_cast<ptrdiff_t>(x0 + lo) * 4;
        // Plain locals: stores through the byte pointer may alias anything else.
        const uint8_t* const tex = texels;
        const ptrdiff_t tw = texW;
#if defined(__SSE2__)
        // About the same run two rows further down is fetched while this one is drawn.
        if (fetchAhead && y + 2 < ras.y1) {
            const uint8_t* ahead = pixels + static_cast<ptrdiff_t>(y + 2) * pitch;
            const int32_t from = std::max(x0 + lo - 8, 0) * 4, to = std::min(x0 + hi + 8, width - 1) * 4;
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
            if (n <= hi && x0 + hi + 3 < width) {
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
// into a rectangle of the destination's size, which is then blended. That blending
// differs from the triangles': alpha 0 leaves the pixel, 255 copies the texel, else each
// channel is (texel * alpha >> 8) + (pixel * (255 - alpha) >> 8), alpha's own with 255
// for the texel's factor, clamped at 255.

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

// The caller has checked that a stretched image is 2..16384 texels wide and at most 16384
// high, which keeps the 16.16 positions and the row buffer in range, and that a stretched
// copy lying inside the surface does not cross the clip rectangle (the renderer clips
// those before stretching, with other sampling).
void CopyImage(const SoftTarget& target, const TPixmap& pm, const Coverage& coverage, PixelRect dest,
               CopyScratch& scratch) {
    const int32_t texW = pm.Width(), texH = pm.Height();
    const int32_t dx = dest.x, dy = dest.y, dw = dest.w, dh = dest.h;
    const bool scaled = dw != texW || dh != texH;
    const PixelRect& clip = target.clip;
    const int32_t cx0 = std::max(clip.x, 0), cy0 = std::max(clip.y, 0);
    const int32_t cx1 = std::min(clip.x + clip.w, target.width), cy1 = std::min(clip.y + clip.h, target.height);
    const int32_t px0 = std::max(dx, cx0), py0 = std::max(dy, cy0);
    const int32_t px1 = std::min(dx + dw, cx1), py1 = std::min(dy + dh, cy1);
    if (px1 <= px0 || py1 <= py0) return;
    [[maybe_unused]] const bool fetchAhead = target.fetchAhead;  // used where SSE2 prefetches
    std::vector<int32_t>& columns = scratch.columns;
    std::vector<int32_t>& weights = scratch.weights;

    const uint8_t* texels = pm.Pixels();
    uint8_t* const pixels = target.pixels;
    const int32_t pitch = target.pitch;
    if (!scaled) {
        for (int32_t y = py0; y < py1; ++y) {
            // Fully transparent texels leave their pixels as they are.
            const auto [first, last] = coverage.rows[static_cast<size_t>(y - dy)];
            const int32_t from = std::max(px0, dx + first), to = std::min(px1, dx + last + 1);
            const uint8_t* src = texels + (static_cast<ptrdiff_t>(y - dy) * texW + (from - dx)) * 4;
            uint8_t* out = pixels + static_cast<ptrdiff_t>(y) * pitch + static_cast<ptrdiff_t>(from) * 4;
            for (int32_t x = from; x < to; ++x, src += 4, out += 4) StoreWord(out, CopyPixel(Word(src), Word(out)));
        }
        return;
    }

    const Sampling across(texW, dw), down(texH, dh);
    const int32_t n = px1 - px0;
    columns.resize(static_cast<size_t>(n));
    weights.resize(static_cast<size_t>(n));
    for (int32_t j = 0; j < n; ++j) {
        int32_t texel = 0, weight = 0;
        across.At(px0 - dx + j, dw, texW, texel, weight);
        columns[static_cast<size_t>(j)] = texel;
        // The pair of weights for the texel and the next, as two 16-bit lanes.
        weights[static_cast<size_t>(j)] = (128 - weight) | (weight << 16);
    }
    scratch.blended.resize(static_cast<size_t>(texW) * 4 + 8);
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
        const auto begin = std::lower_bound(columns.begin(), columns.end(), covered0 - 1);
        const auto end = std::upper_bound(begin, columns.end(), covered1);
        if (begin == end) continue;
        const int32_t j0 = static_cast<int32_t>(begin - columns.begin()), j1 = static_cast<int32_t>(end - columns.begin());
        const int32_t firstTexel = *begin, lastTexel = *(end - 1) + 1;
        const uint8_t* top = texels + row * rowBytes;
        const uint8_t* bottom = held ? top : top + rowBytes;
        const int32_t above = 128 - below;
        // Vertical first: every texel this row needs, its channels weighted, in 16 bits.
        int16_t* mixed = scratch.blended.data();
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
        if (fetchAhead && y + 2 < py1)
            for (int32_t b = 0; b < (j1 - j0) * 4; b += 64)
                _mm_prefetch(reinterpret_cast<const char*>(out + 2 * pitch + b), _MM_HINT_T0);
        auto one = [&](int32_t k) {
            const __m128i pair = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mixed + columns[static_cast<size_t>(k)] * 4));
            const __m128i sum = _mm_madd_epi16(_mm_unpacklo_epi16(pair, _mm_srli_si128(pair, 8)),
                                               _mm_set1_epi32(weights[static_cast<size_t>(k)]));
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
            const int16_t* l = mixed + columns[static_cast<size_t>(j)] * 4;
            const int32_t w = weights[static_cast<size_t>(j)], wl = w & 0xFFFF, wr = w >> 16;
            uint32_t value = 0;
            for (int k = 0; k < 4; ++k)
                value |= std::min<uint32_t>(static_cast<uint32_t>(wl * l[k] + wr * l[k + 4]) >> 14, 255u) << (8 * k);
            StoreWord(out, CopyPixel(value, Word(out)));
        }
    }
}

}  // namespace kin::detail
