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
    /// Reads the current picture as RGBA rows, Width()*Height()*4 bytes (before Flip on
    /// window backends); empty when the backend cannot read back.
    virtual std::vector<uint8_t> ReadPixels() = 0;
    /// Pixel as 0xRRGGBBAA read back from the surface (tests); 0 outside the surface.
    uint32_t PixelAt(int32_t x, int32_t y);

    // Backend-facing; the free functions below call these.
    struct Vertex {
        float x, y;        // pixels
        uint8_t r, g, b, a;
        float u, v;        // texture coordinates 0..1
    };
    /// Draws triangles (3 vertices each, borrowed for the call) with the state's blend mode
    /// and viewport. image may be null (untextured); frame selects the image frame and an
    /// absent frame draws nothing. Vertex colours carry colour and alpha; in mask mode the
    /// caller has already decided visibility and passes alpha 255.
    virtual void Geometry(const Vertex* v, int32_t count, TImage* image, int32_t frame) = 0;
    /// Fills the viewport with the clear colour.
    virtual void Clear() = 0;
    /// Presents the frame; sync -1 = default synchronisation, 0 = none, 1 = vertical sync.
    virtual void Present(int32_t sync) = 0;
    /// Follows a new surface size in pixels (headless: reallocates surface and renderer;
    /// window: re-reads the output size). A viewport that covered the whole old surface
    /// grows or shrinks with it.
    virtual void Resize(int32_t w, int32_t h) = 0;
    /// True when drawing goes through the software rasteriser.
    virtual bool IsSoftware() const = 0;
    /// Number of textures this context has created so far (diagnostics and tests).
    virtual int64_t TextureUploads() const = 0;
    /// Number of images currently holding textures of this context (diagnostics and tests).
    virtual int32_t CachedImageCount() const = 0;

    DrawState state_;
};

/// A headless context on an in-memory w x h RGBA surface (no display, no SDL_Init needed).
/// Null when the size is not within 1..16384 or the surface cannot be made.
Ref<TGraphics> CreateHeadlessGraphics(int32_t w, int32_t h);

/// Selects the context that later drawing goes to (retained while current; null = none).
void SetGraphics(TGraphics* g);
/// The current context (borrowed), or null.
TGraphics* CurrentGraphics();
/// Size of the current context in pixels (0 without one).
int32_t GraphicsWidth();
int32_t GraphicsHeight();

// --- drawing state (of the current context; setters do nothing without one, getters then
// --- report the defaults). Getters return the values as stored, before any clamping.
/// Drawing colour, 0..255 per channel (clamped when applied).
void SetColor(int32_t r, int32_t g, int32_t b);
void GetColor(int32_t& r, int32_t& g, int32_t& b);
/// Opacity 0..1 (clamped when applied, as the 8-bit value alpha*255 truncated).
void SetAlpha(float a);
float GetAlpha();
/// Blend mode: MASKBLEND..SHADEBLEND; any other value draws as SOLIDBLEND.
void SetBlend(int32_t mode);
int32_t GetBlend();
/// Colour that Cls fills the viewport with, 0..255 per channel.
void SetClsColor(int32_t r, int32_t g, int32_t b);
void GetClsColor(int32_t& r, int32_t& g, int32_t& b);
/// Clipping rectangle in absolute pixels; coordinates are not moved by it.
void SetViewport(int32_t x, int32_t y, int32_t w, int32_t h);
void GetViewport(int32_t& x, int32_t& y, int32_t& w, int32_t& h);
/// Line thickness in pixels (not scaled by the transform).
void SetLineWidth(float w);
float GetLineWidth();
/// Rotation in degrees, positive turning clockwise on the y-down screen.
void SetRotation(float degrees);
float GetRotation();
/// Scale factors along the local x and y axes.
void SetScale(float sx, float sy);
void GetScale(float& sx, float& sy);
/// Sets rotation (degrees) and scale together.
void SetTransform(float degrees, float sx, float sy);
/// Pixels added to the anchor of every primitive.
void SetOrigin(float x, float y);
void GetOrigin(float& x, float& y);
/// Sets the handle (pixels) subtracted from local points of lines, rectangles, ovals and
/// polygons; images use their own handle instead.
void SetHandle(float x, float y);
/// The handle as last set (the state keeps it negated).
void GetHandle(float& x, float& y);
/// Selects a font for text (retained by the context); null selects the built-in default font.
void SetImageFont(TImageFont* font);
/// The selected font (borrowed), or null when the default font is in use.
TImageFont* GetImageFont();

// --- primitives (pixels of the current context; nothing happens without one) ---
/// Fills the viewport with the clear colour, ignoring blend mode and alpha.
void Cls();
/// Segment; the transform pivots at (x1, y1); drawLastPixel 1 plots the end pixel too.
void DrawLine(float x1, float y1, float x2, float y2, int32_t drawLastPixel = 1);
/// Filled box with top-left (x, y) before the transform.
void DrawRect(float x, float y, float w, float h);
/// Filled oval inscribed in the box.
void DrawOval(float x, float y, float w, float h);
/// Filled polygon from count floats x0,y0,x1,y1,... (borrowed; concave allowed, either
/// winding); anchor = origin. Fewer than three points draw nothing.
void DrawPoly(const float* xy, int32_t count);
inline void DrawPoly(const std::vector<float>& xy) { DrawPoly(xy.data(), static_cast<int32_t>(xy.size())); }
/// The image frame placed with its handle at (x, y); an absent frame draws nothing.
void DrawImage(TImage* image, float x, float y, int32_t frame = 0);
/// Text with its top-left at (x, y) in the current font.
void DrawText(const std::string& text, float x, float y);
/// Width of text: glyph advances summed, truncated to an integer after each glyph.
int32_t TextWidth(const std::string& text);
/// Height of a line of text in the current font, pixels.
int32_t TextHeight(const std::string& text);
/// Presents the frame (sync -1 = default, 0 = none, 1 = vertical sync).
void Flip(int32_t sync = -1);

}  // namespace kin
