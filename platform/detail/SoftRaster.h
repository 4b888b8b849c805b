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

/// The surface drawn on, borrowed for the call.
struct SoftTarget {
    uint8_t* pixels = nullptr;  ///< RGBA32 rows (R first in memory), borrowed, not owned
    int32_t pitch = 0;          ///< bytes from one row to the next
    int32_t width = 0;          ///< pixels per row
    int32_t height = 0;         ///< rows
    PixelRect clip;             ///< nothing outside this rectangle (nor the surface) is drawn
    bool fetchAhead = false;    ///< true: rows further down are prefetched (surfaces beyond a core's cache)
};

/// Where a texture's texels are not fully transparent: per texel row, the first and last
/// such texel (first > last: none). Built with the texture.
struct Coverage {
    std::vector<std::pair<int32_t, int32_t>> rows;  ///< per texel row: first, last covered texel column
    /// Rebuilds the table from w x h RGBA texels (borrowed for the call).
    void Build(const uint8_t* texels, int32_t w, int32_t h);
};

/// Working memory of CopyImage, kept between calls so that copying allocates nothing once grown.
struct CopyScratch {
    std::vector<int32_t> columns;  ///< per destination pixel of a row: its texel column
    std::vector<int32_t> weights;  ///< and that column's two horizontal weights, as 16-bit lanes
    std::vector<int16_t> blended;  ///< one row of vertically interpolated texels, 16 bits per channel
};

/// Fills triangle t (three vertices, pixels; the colour of t[0]) with its colour, replacing
/// the pixels; false (nothing drawn) when its coordinates are beyond the arithmetic's range.
bool FillTriangle(const SoftTarget& target, const TGraphics::Vertex* t);

/// Blends triangle t (three vertices, pixels and texture coordinates 0..1) textured with pm
/// (borrowed) onto the pixels, as in opaque white; false (nothing drawn) when its texels or
/// coordinates are beyond the texture or the arithmetic's range.
bool BlendTriangle(const SoftTarget& target, const TGraphics::Vertex* t, const TPixmap& pm);

/// Copies the whole of pm (borrowed; coverage its table) onto dest (pixels, upright),
/// blended, stretched with the linear filter when dest's size is not pm's. The caller
/// checks that a stretched pm is 2..16384 texels wide and at most 16384 high, and that a
/// stretched dest lying inside the surface lies inside the clip rectangle too.
void CopyImage(const SoftTarget& target, const TPixmap& pm, const Coverage& coverage, PixelRect dest,
               CopyScratch& scratch);

}  // namespace kin::detail
