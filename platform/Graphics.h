#pragma once
// 2-D drawing on the current drawing context.
//
// Every context carries its own drawing state (colour, alpha, blend, clear colour, line
// width, rotation, scale and the derived matrix, viewport, origin, handle, font). The
// functions below act on the context chosen with SetGraphics. A local point (u, v) of a
// primitive is drawn at (u*ix + v*iy + ax + origin_x, u*jx + v*jy + ay + origin_y) with
// (ax, ay) the primitive's anchor and ix = cos(rot)*sx, iy = -sin(rot)*sy,
// jx = sin(rot)*sx, jy = cos(rot)*sy.
//
// Two backends: a window's accelerated renderer, and a headless software renderer on an
// in-memory RGBA surface whose pixels tests read back.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Font.h"
#include "platform/Image.h"
#include "platform/Object.h"

namespace kin {

/// Blend modes.
enum : int32_t { MASKBLEND = 1, SOLIDBLEND = 2, ALPHABLEND = 3, LIGHTBLEND = 4, SHADEBLEND = 5 };

/// The drawing state of one context, exactly as the drawing functions keep it.
struct DrawState {
    int32_t color_red = 255, color_green = 255, color_blue = 255;
    float color_alpha = 1.0f;
    int32_t clscolor_red = 0, clscolor_green = 0, clscolor_blue = 0;
    float line_width = 1.0f;
    float tform_rot = 0.0f, tform_scale_x = 1.0f, tform_scale_y = 1.0f;
    float tform_ix = 1.0f, tform_iy = 0.0f, tform_jx = 0.0f, tform_jy = 1.0f;
    int32_t viewport_x = 0, viewport_y = 0, viewport_w = 0, viewport_h = 0;
    float origin_x = 0.0f, origin_y = 0.0f;
    float handle_x = 0.0f, handle_y = 0.0f;  // stored negated
    Ref<TImageFont> image_font;
    int32_t blend_mode = SOLIDBLEND;
};

class TGraphics : public TObject {
public:
    /// Width and height of the drawing surface in pixels.
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    /// The context's drawing state (read-only view for tests).
    const DrawState& State() const { return state_; }
    /// Reads the current picture as RGBA rows (before Flip on window backends).
    virtual std::vector<uint8_t> ReadPixels() = 0;
    /// Pixel as 0xRRGGBBAA read back from the surface (tests).
    uint32_t PixelAt(int32_t x, int32_t y);

    // Backend-facing; the free functions below call these.
    struct Vertex {
        float x, y;        // pixels
        uint8_t r, g, b, a;
        float u, v;        // texture coordinates 0..1
    };
    /// Draws triangles (3 vertices each) with the state's blend and viewport; texture may be
    /// null. frame selects the image frame.
    virtual void Geometry(const Vertex* v, int32_t count, TImage* image, int32_t frame) = 0;
    /// Fills the viewport with the clear colour.
    virtual void Clear() = 0;
    /// Presents the frame; sync -1 = default synchronisation.
    virtual void Present(int32_t sync) = 0;
    /// Follows a new surface size (headless: reallocates; window: re-reads the output size).
    virtual void Resize(int32_t w, int32_t h) = 0;

    DrawState state_;
};

/// A headless context on an in-memory RGBA surface (no display needed).
Ref<TGraphics> CreateHeadlessGraphics(int32_t w, int32_t h);

/// Selects the context that later drawing goes to (retained while current).
void SetGraphics(TGraphics* g);
/// The current context, or null.
TGraphics* CurrentGraphics();
/// Size of the current context (0 without one).
int32_t GraphicsWidth();
int32_t GraphicsHeight();

// --- drawing state ---
void SetColor(int32_t r, int32_t g, int32_t b);
void GetColor(int32_t& r, int32_t& g, int32_t& b);
void SetAlpha(float a);
float GetAlpha();
void SetBlend(int32_t mode);
int32_t GetBlend();
void SetClsColor(int32_t r, int32_t g, int32_t b);
void GetClsColor(int32_t& r, int32_t& g, int32_t& b);
void SetViewport(int32_t x, int32_t y, int32_t w, int32_t h);
void GetViewport(int32_t& x, int32_t& y, int32_t& w, int32_t& h);
void SetLineWidth(float w);
float GetLineWidth();
void SetRotation(float degrees);
float GetRotation();
void SetScale(float sx, float sy);
void GetScale(float& sx, float& sy);
void SetTransform(float degrees, float sx, float sy);
void SetOrigin(float x, float y);
void GetOrigin(float& x, float& y);
/// Sets the handle subtracted from local points of lines, rectangles, ovals and polygons.
void SetHandle(float x, float y);
void GetHandle(float& x, float& y);
/// Selects a font for text; null selects the built-in default font.
void SetImageFont(TImageFont* font);
TImageFont* GetImageFont();

// --- primitives (pixels of the current context) ---
void Cls();
/// Segment; the transform pivots at (x1, y1); drawLastPixel 1 plots the end pixel too.
void DrawLine(float x1, float y1, float x2, float y2, int32_t drawLastPixel = 1);
/// Filled box with top-left (x, y) before the transform.
void DrawRect(float x, float y, float w, float h);
/// Filled oval inscribed in the box.
void DrawOval(float x, float y, float w, float h);
/// Filled polygon from a flat x0,y0,x1,y1,... array (concave allowed); anchor = origin.
void DrawPoly(const float* xy, int32_t count);
inline void DrawPoly(const std::vector<float>& xy) { DrawPoly(xy.data(), static_cast<int32_t>(xy.size())); }
/// The image frame placed with its handle at (x, y); an absent frame draws nothing.
void DrawImage(TImage* image, float x, float y, int32_t frame = 0);
/// Text with its top-left at (x, y) in the current font.
void DrawText(const std::string& text, float x, float y);
/// Width of text: glyph advances summed, truncated to an integer after each glyph.
int32_t TextWidth(const std::string& text);
/// Height of a line of text in the current font.
int32_t TextHeight(const std::string& text);
/// Presents the frame (sync -1 = default).
void Flip(int32_t sync = -1);

}  // namespace kin
