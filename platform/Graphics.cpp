// Drawing state and primitives. Every primitive becomes triangles transformed on the CPU
// (matrix, handle, anchor, origin) and goes to the current context's Geometry.
//
// Sections:
//   current context and state   - SetGraphics, setters and getters
//   colour and transform        - what a primitive's vertices are made of
//   primitives                  - Cls, lines, rectangles, ovals, polygons, images, text
#include "platform/Graphics.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

#include "platform/detail/Triangulate.h"

namespace kin {

namespace {

Ref<TGraphics> gCurrent;
const DrawState kDefaultState{};

// Scratch reused by every primitive: once grown, drawing allocates nothing.
std::vector<TGraphics::Vertex> gVerts;
std::vector<float> gPoints;
std::vector<int32_t> gTriangles;
detail::TriangulateScratch gTriScratch;

DrawState* State() { return gCurrent ? &gCurrent->state_ : nullptr; }
const DrawState& ReadState() { return gCurrent ? gCurrent->state_ : kDefaultState; }

void UpdateMatrix(DrawState& s) {
    // Scale changes and the save-and-restore pairs around a drawing keep the angle: its
    // cosine and sine are kept for the last angle (bit for bit) this thread turned by.
    struct Turn {
        uint32_t bits = 0;  // of 0.0f
        double c = 1.0, sn = 0.0;
    };
    thread_local Turn last;
    const uint32_t bits = std::bit_cast<uint32_t>(s.tform_rot);
    if (bits != last.bits) {
        const double rad = static_cast<double>(s.tform_rot) * (std::numbers::pi / 180.0);
        last = {bits, std::cos(rad), std::sin(rad)};
    }
    const double c = last.c, sn = last.sn;
    s.tform_ix = static_cast<float>(c * s.tform_scale_x);
    s.tform_iy = static_cast<float>(-sn * s.tform_scale_y);
    s.tform_jx = static_cast<float>(sn * s.tform_scale_x);
    s.tform_jy = static_cast<float>(c * s.tform_scale_y);
}

}  // namespace

uint32_t TGraphics::PixelAt(int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= Width() || y >= Height()) return 0;
    const std::vector<uint8_t> px = ReadPixels();
    const size_t i = (static_cast<size_t>(y) * Width() + x) * 4;
    if (i + 3 >= px.size()) return 0;
    return (uint32_t(px[i]) << 24) | (uint32_t(px[i + 1]) << 16) | (uint32_t(px[i + 2]) << 8) | px[i + 3];
}

// ---------------------------------------------------------------- current context and state

void SetGraphics(TGraphics* g) { gCurrent = g; }
TGraphics* CurrentGraphics() { return gCurrent.Get(); }
int32_t GraphicsWidth() { return gCurrent ? gCurrent->Width() : 0; }
int32_t GraphicsHeight() { return gCurrent ? gCurrent->Height() : 0; }

void SetColor(int32_t r, int32_t g, int32_t b) {
    if (DrawState* s = State()) {
        s->color_red = r;
        s->color_green = g;
        s->color_blue = b;
    }
}
void GetColor(int32_t& r, int32_t& g, int32_t& b) {
    const DrawState& s = ReadState();
    r = s.color_red;
    g = s.color_green;
    b = s.color_blue;
}
void SetAlpha(float a) {
    if (DrawState* s = State()) s->color_alpha = a;
}
float GetAlpha() { return ReadState().color_alpha; }
void SetBlend(int32_t mode) {
    if (DrawState* s = State()) s->blend_mode = mode;
}
int32_t GetBlend() { return ReadState().blend_mode; }
void SetClsColor(int32_t r, int32_t g, int32_t b) {
    if (DrawState* s = State()) {
        s->clscolor_red = r;
        s->clscolor_green = g;
        s->clscolor_blue = b;
    }
}
void GetClsColor(int32_t& r, int32_t& g, int32_t& b) {
    const DrawState& s = ReadState();
    r = s.clscolor_red;
    g = s.clscolor_green;
    b = s.clscolor_blue;
}
void SetViewport(int32_t x, int32_t y, int32_t w, int32_t h) {
    if (DrawState* s = State()) {
        s->viewport_x = x;
        s->viewport_y = y;
        s->viewport_w = w;
        s->viewport_h = h;
    }
}
void GetViewport(int32_t& x, int32_t& y, int32_t& w, int32_t& h) {
    const DrawState& s = ReadState();
    x = s.viewport_x;
    y = s.viewport_y;
    w = s.viewport_w;
    h = s.viewport_h;
}
void SetLineWidth(float w) {
    if (DrawState* s = State()) s->line_width = w;
}
float GetLineWidth() { return ReadState().line_width; }
void SetRotation(float degrees) {
    if (DrawState* s = State()) {
        s->tform_rot = degrees;
        UpdateMatrix(*s);
    }
}
float GetRotation() { return ReadState().tform_rot; }
void SetScale(float sx, float sy) {
    if (DrawState* s = State()) {
        s->tform_scale_x = sx;
        s->tform_scale_y = sy;
        UpdateMatrix(*s);
    }
}
void GetScale(float& sx, float& sy) {
    const DrawState& s = ReadState();
    sx = s.tform_scale_x;
    sy = s.tform_scale_y;
}
void SetTransform(float degrees, float sx, float sy) {
    if (DrawState* s = State()) {
        s->tform_rot = degrees;
        s->tform_scale_x = sx;
        s->tform_scale_y = sy;
        UpdateMatrix(*s);
    }
}
void SetOrigin(float x, float y) {
    if (DrawState* s = State()) {
        s->origin_x = x;
        s->origin_y = y;
    }
}
void GetOrigin(float& x, float& y) {
    const DrawState& s = ReadState();
    x = s.origin_x;
    y = s.origin_y;
}
void SetHandle(float x, float y) {
    if (DrawState* s = State()) {
        s->handle_x = -x;
        s->handle_y = -y;
    }
}
void GetHandle(float& x, float& y) {
    const DrawState& s = ReadState();
    x = -s.handle_x;
    y = -s.handle_y;
}
void SetImageFont(TImageFont* font) {
    if (DrawState* s = State()) s->image_font = font;
}
TImageFont* GetImageFont() { return ReadState().image_font.Get(); }

// ---------------------------------------------------------------- colour and transform

namespace {

struct Rgba {
    uint8_t r, g, b, a;
};

/// The vertex colour of the state; false when mask blending makes the primitive invisible.
bool VertexColor(const DrawState& s, Rgba& out) {
    auto channel = [](int32_t c) { return static_cast<uint8_t>(std::clamp(c, 0, 255)); };
    // Written so that NaN ends up as 0 before any conversion to an integer.
    const float a = s.color_alpha > 0.0f ? std::min(s.color_alpha, 1.0f) : 0.0f;
    out = {channel(s.color_red), channel(s.color_green), channel(s.color_blue), static_cast<uint8_t>(a * 255.0f)};
    if (s.blend_mode == MASKBLEND) {
        // No blending: the primitive is either fully drawn or not at all.
        if (!(a > 0.5f)) return false;
        out.a = 255;
    }
    return true;
}

/// Maps local points to pixels: (u*ix + v*iy + ax + origin_x, u*jx + v*jy + ay + origin_y).
struct Mapper {
    float ix, iy, jx, jy, ax, ay, ox, oy;
    Mapper(const DrawState& s, float anchorX, float anchorY)
        : ix(s.tform_ix), iy(s.tform_iy), jx(s.tform_jx), jy(s.tform_jy), ax(anchorX), ay(anchorY),
          ox(s.origin_x), oy(s.origin_y) {}
    void Put(TGraphics::Vertex& v, float u, float w) const {
        v.x = u * ix + w * iy + ax + ox;
        v.y = u * jx + w * jy + ay + oy;
    }
};

void Fill(TGraphics::Vertex& v, float x, float y, Rgba c, float u = 0.0f, float w = 0.0f) {
    v = {x, y, c.r, c.g, c.b, c.a, u, w};
}

/// Six vertices of the quad p0 p1 p2 p3 (in order around it).
void Quad(TGraphics::Vertex* out, const TGraphics::Vertex& p0, const TGraphics::Vertex& p1,
          const TGraphics::Vertex& p2, const TGraphics::Vertex& p3) {
    out[0] = p0;
    out[1] = p1;
    out[2] = p2;
    out[3] = p0;
    out[4] = p2;
    out[5] = p3;
}

/// Largest stretch of the matrix along either local axis.
float MatrixStretch(const DrawState& s) {
    const float a = std::hypot(s.tform_ix, s.tform_jx), b = std::hypot(s.tform_iy, s.tform_jy);
    return std::max(a, b);
}

}  // namespace

// ---------------------------------------------------------------- primitives

void Cls() {
    if (gCurrent) gCurrent->Clear();
}

void DrawLine(float x1, float y1, float x2, float y2, int32_t drawLastPixel) {
    TGraphics* g = gCurrent.Get();
    if (!g) return;
    const DrawState& s = g->state_;
    Rgba c;
    if (!VertexColor(s, c)) return;

    // The transform pivots at the first point; the handle shifts both local points.
    const Mapper m(s, x1, y1);
    TGraphics::Vertex a, b;
    m.Put(a, s.handle_x, s.handle_y);
    m.Put(b, x2 - x1 + s.handle_x, y2 - y1 + s.handle_y);
    // Endpoints sit on pixel centres; the quad starts half a pixel behind the first point
    // and, with the last pixel, ends half a pixel past the second, so runs are exact.
    const double ax = double(a.x) + 0.5, ay = double(a.y) + 0.5, bx = double(b.x) + 0.5, by = double(b.y) + 0.5;
    double dx = bx - ax, dy = by - ay;
    const double len = std::hypot(dx, dy);
    if (!std::isfinite(len)) return;
    if (len > 0.0) {
        dx /= len;
        dy /= len;
    } else {
        if (!drawLastPixel) return;
        dx = 1.0;
        dy = 0.0;
    }
    double half = s.line_width > 0.0f ? double(s.line_width) * 0.5 : 0.5;
    if (!std::isfinite(half)) half = 0.5;
    const double back = 0.5, past = drawLastPixel ? 0.5 : 0.0;
    const double nx = -dy * half, ny = dx * half;
    const double sx = ax - dx * back, sy = ay - dy * back, ex = bx + dx * past, ey = by + dy * past;

    TGraphics::Vertex p[4];
    Fill(p[0], float(sx + nx), float(sy + ny), c);
    Fill(p[1], float(ex + nx), float(ey + ny), c);
    Fill(p[2], float(ex - nx), float(ey - ny), c);
    Fill(p[3], float(sx - nx), float(sy - ny), c);
    TGraphics::Vertex v[6];
    Quad(v, p[0], p[1], p[2], p[3]);
    g->Geometry(v, 6, nullptr, 0);
}

void DrawRect(float x, float y, float w, float h) {
    TGraphics* g = gCurrent.Get();
    if (!g) return;
    const DrawState& s = g->state_;
    Rgba c;
    if (!VertexColor(s, c)) return;
    const Mapper m(s, x, y);
    const float hx = s.handle_x, hy = s.handle_y;
    TGraphics::Vertex p[4];
    Fill(p[0], 0, 0, c);
    Fill(p[1], 0, 0, c);
    Fill(p[2], 0, 0, c);
    Fill(p[3], 0, 0, c);
    m.Put(p[0], hx, hy);
    m.Put(p[1], w + hx, hy);
    m.Put(p[2], w + hx, h + hy);
    m.Put(p[3], hx, h + hy);
    TGraphics::Vertex v[6];
    Quad(v, p[0], p[1], p[2], p[3]);
    g->Geometry(v, 6, nullptr, 0);
}

void DrawOval(float x, float y, float w, float h) {
    TGraphics* g = gCurrent.Get();
    if (!g) return;
    const DrawState& s = g->state_;
    Rgba c;
    if (!VertexColor(s, c)) return;
    const float rx = w * 0.5f, ry = h * 0.5f;
    const float cx = rx + s.handle_x, cy = ry + s.handle_y;
    // Segments so that no chord strays more than a quarter pixel from the true edge.
    const double radius = double(std::max(std::fabs(rx), std::fabs(ry))) * MatrixStretch(s);
    if (!std::isfinite(radius)) return;
    int32_t n = 8;
    if (radius > 0.25) {
        // For huge radii the angle per chord underflows to 0: cap in floating point before
        // converting, so neither the division nor the conversion leaves the finite range.
        const double angle = std::acos(1.0 - 0.25 / radius);
        n = angle > std::numbers::pi / 2048.0 ? static_cast<int32_t>(std::ceil(std::numbers::pi / angle)) : 2048;
    }
    n = std::clamp(n, 8, 2048);

    const Mapper m(s, x, y);
    TGraphics::Vertex centre;
    Fill(centre, 0, 0, c);
    m.Put(centre, cx, cy);
    gVerts.resize(static_cast<size_t>(n) * 3);
    TGraphics::Vertex prev;
    Fill(prev, 0, 0, c);
    m.Put(prev, cx + rx, cy);
    const double step = 2.0 * std::numbers::pi / n;
    for (int32_t i = 0; i < n; ++i) {
        TGraphics::Vertex next;
        Fill(next, 0, 0, c);
        if (i + 1 == n) {
            next = gVerts[1];  // close exactly on the first rim point
        } else {
            const double t = step * (i + 1);
            m.Put(next, cx + float(rx * std::cos(t)), cy + float(ry * std::sin(t)));
        }
        TGraphics::Vertex* tri = &gVerts[static_cast<size_t>(i) * 3];
        tri[0] = centre;
        tri[1] = prev;
        tri[2] = next;
        prev = next;
    }
    g->Geometry(gVerts.data(), n * 3, nullptr, 0);
}

void DrawPoly(const float* xy, int32_t count) {
    TGraphics* g = gCurrent.Get();
    if (!g || !xy || count < 6) return;
    const DrawState& s = g->state_;
    Rgba c;
    if (!VertexColor(s, c)) return;
    const int32_t n = count / 2;
    // Triangulate the local points with the handle applied: the transform is affine, so
    // the triangles stay valid after it.
    gPoints.resize(static_cast<size_t>(n) * 2);
    for (int32_t i = 0; i < n; ++i) {
        gPoints[2 * i] = xy[2 * i] + s.handle_x;
        gPoints[2 * i + 1] = xy[2 * i + 1] + s.handle_y;
    }
    detail::Triangulate(gPoints.data(), n, gTriangles, gTriScratch);
    if (gTriangles.empty()) return;
    const Mapper m(s, 0.0f, 0.0f);
    gVerts.resize(gTriangles.size());
    for (size_t i = 0; i < gTriangles.size(); ++i) {
        const int32_t k = gTriangles[i];
        Fill(gVerts[i], 0, 0, c);
        m.Put(gVerts[i], gPoints[2 * k], gPoints[2 * k + 1]);
    }
    g->Geometry(gVerts.data(), static_cast<int32_t>(gVerts.size()), nullptr, 0);
}

void DrawImage(TImage* image, float x, float y, int32_t frame) {
    TGraphics* g = gCurrent.Get();
    if (!g || !image || frame < 0 || static_cast<size_t>(frame) >= image->frames.size() ||
        !image->frames[static_cast<size_t>(frame)])
        return;
    const DrawState& s = g->state_;
    Rgba c;
    if (!VertexColor(s, c)) return;
    const Mapper m(s, x, y);
    const float x0 = -image->handle_x, y0 = -image->handle_y;
    const float x1 = float(image->width) - image->handle_x, y1 = float(image->height) - image->handle_y;
    TGraphics::Vertex p[4];
    Fill(p[0], 0, 0, c, 0.0f, 0.0f);
    Fill(p[1], 0, 0, c, 1.0f, 0.0f);
    Fill(p[2], 0, 0, c, 1.0f, 1.0f);
    Fill(p[3], 0, 0, c, 0.0f, 1.0f);
    m.Put(p[0], x0, y0);
    m.Put(p[1], x1, y0);
    m.Put(p[2], x1, y1);
    m.Put(p[3], x0, y1);
    TGraphics::Vertex v[6];
    Quad(v, p[0], p[1], p[2], p[3]);
    g->Geometry(v, 6, image, frame);
}

namespace {

/// Next code point of UTF-8 text; a byte that starts no valid sequence stands for itself.
uint32_t NextCode(const std::string& t, size_t& i) {
    const auto b0 = static_cast<uint8_t>(t[i]);
    const size_t extra = (b0 >= 0xC2 && b0 < 0xE0) ? 1 : (b0 >= 0xE0 && b0 < 0xF0) ? 2 : (b0 >= 0xF0 && b0 < 0xF5) ? 3 : 0;
    if (extra == 0 || t.size() - i <= extra) {
        ++i;
        return b0;
    }
    uint32_t code = b0 & (0x3Fu >> extra);
    for (size_t k = 1; k <= extra; ++k) {
        const auto b = static_cast<uint8_t>(t[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return b0;
        }
        code = (code << 6) | (b & 0x3Fu);
    }
    i += extra + 1;
    return code;
}

/// Adds an advance to a pen position and truncates, guarding the float-to-int conversion.
int32_t Advance(int32_t pen, float advance) {
    const float next = float(pen) + (std::isfinite(advance) ? advance : 0.0f);
    return static_cast<int32_t>(std::clamp(next, -2.0e9f, 2.0e9f));
}

TImageFont* ActiveFont(const DrawState& s) { return s.image_font ? s.image_font.Get() : DefaultFont(); }

}  // namespace

void DrawText(const std::string& text, float x, float y) {
    TGraphics* g = gCurrent.Get();
    if (!g) return;
    const DrawState& s = g->state_;
    TImageFont* font = ActiveFont(s);
    if (!font) return;
    int32_t pen = 0;
    for (size_t i = 0; i < text.size();) {
        const uint32_t code = NextCode(text, i);
        if (TImage* glyph = font->Glyph(code)) {
            float dx = 0, dy = 0;
            font->GlyphOffset(code, dx, dy);
            // The glyph's place in the text, carried through the transform like any local point.
            const float u = float(pen) + dx, v = dy;
            DrawImage(glyph, x + u * s.tform_ix + v * s.tform_iy, y + u * s.tform_jx + v * s.tform_jy, 0);
        }
        pen = Advance(pen, font->Advance(code));
    }
}

int32_t TextWidth(const std::string& text) {
    TImageFont* font = ActiveFont(ReadState());
    if (!font) return 0;
    int32_t width = 0;
    for (size_t i = 0; i < text.size();) width = Advance(width, font->Advance(NextCode(text, i)));
    return width;
}

int32_t TextHeight(const std::string& text) {
    (void)text;
    TImageFont* font = ActiveFont(ReadState());
    if (!font) return 0;
    const float h = font->Height();
    return std::isfinite(h) ? static_cast<int32_t>(std::clamp(h, 0.0f, 1.0e6f)) : 0;
}

void Flip(int32_t sync) {
    if (gCurrent) gCurrent->Present(sync);
}

}  // namespace kin
