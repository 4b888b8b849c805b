#pragma once
// Pixel-level drawing on an RGBA32 surface with the software renderer's own arithmetic:
// blended textured triangles, filled one-colour triangles and upright image copies, each
// bit for bit as the renderer would draw it. Which triangles and copies may be drawn here
// at all is the caller's decision (SdlGraphics); these functions only refuse what their
// integer arithmetic cannot hold.
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/Graphics.h"
#include "platform/Pixmap.h"

namespace kin::detail {

/// A rectangle of pixels: corner x, y and size w, h, in pixels.
struct PixelRect {
    int32_t x = 0, y = 0, w = 0, h = 0;
};

/// The surface drawn on: a view of pixels the caller owns.
struct SoftTarget {
    uint8_t* pixels = nullptr;  ///< RGBA32 rows (R first in memory), borrowed, not owned
    int32_t pitch = 0;          ///< bytes from one row to the next
    int32_t width = 0;          ///< pixels per row
    int32_t height = 0;         ///< rows
    PixelRect clip;             ///< nothing outside this rectangle (nor the surface) is drawn
    bool fetchAhead = false;    ///< true: rows further down are prefetched (surfaces beyond a core's cache)
};

/// Where a texture's texels are not fully transparent, per texel row; owned by the texture cache.
struct Coverage {
    std::vector<std::pair<int32_t, int32_t>> rows;  ///< per texel row: first, last non-clear texel (first > last: none)
    /// Rebuilds the table from w x h RGBA texels (texels borrowed for the call).
    void Build(const uint8_t* texels, int32_t w, int32_t h);
};

/// Working memory of CopyImage, kept between calls so that copying allocates nothing once grown.
struct CopyScratch {
    std::vector<int32_t> columns;  ///< per destination pixel of a row: its texel column
    std::vector<int32_t> weights;  ///< and that column's two horizontal weights, as 16-bit lanes
    std::vector<int16_t> blended;  ///< one row of vertically interpolated texels, 16 bits per channel
};

/// Writes t[0]'s colour over triangle t (3 vertices, pixels, borrowed); false: nothing drawn, out of range.
bool FillTriangle(const SoftTarget& target, const TGraphics::Vertex* t);

/// Blends triangle t (3 vertices, pixels, texture 0..1) textured with pm (both borrowed); false: nothing drawn.
bool BlendTriangle(const SoftTarget& target, const TGraphics::Vertex* t, const TPixmap& pm);

/// Blends all of pm (borrowed, with its coverage) onto dest (pixels), stretched linearly if sizes differ.
void CopyImage(const SoftTarget& target, const TPixmap& pm, const Coverage& coverage, PixelRect dest,
               CopyScratch& scratch);

}  // namespace kin::detail
