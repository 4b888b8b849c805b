#pragma once
// Fonts: TrueType faces rasterised at a pixel size into one image per glyph.
#include <cstdint>
#include <string>

#include "platform/Image.h"

namespace kin {

enum : int32_t { BOLDFONT = 1, ITALICFONT = 2, SMOOTHFONT = 4 };

class TImageFont : public TObject {
public:
    /// The glyph image for a character code, or null when the font has none.
    virtual TImage* Glyph(uint32_t code) = 0;
    /// Horizontal advance of a character in pixels (may be fractional); 0 when absent.
    virtual float Advance(uint32_t code) = 0;
    /// Offset of the glyph image's top-left from the pen position (y from the text top).
    virtual void GlyphOffset(uint32_t code, float& dx, float& dy) = 0;
    /// Line height in pixels.
    virtual float Height() = 0;
};

/// Loads a TrueType font from a media name at a pixel size with style bits; null on failure.
Ref<TImageFont> LoadImageFont(const std::string& name, int32_t size, int32_t style = SMOOTHFONT);
/// The font used when none is selected.
TImageFont* DefaultFont();

}  // namespace kin
