#pragma once
// The built-in default font as a table of 8-bit glyph bitmaps (made by tools/fontgen).
#include <cstdint>

namespace kin::detail {

struct DefaultGlyph {
    uint32_t code;       // character code, ascending through the table
    int32_t left, top;   // bitmap's top-left relative to the pen at the text's top, pixels
    int32_t width, height;
    int32_t advance64;   // pen advance, 1/64 pixel
    uint32_t offset;     // first coverage byte in kDefaultGlyphPixels
};

extern const int32_t kDefaultFontAscent;  // pixels from the text's top to the baseline
extern const int32_t kDefaultFontHeight;  // line height, pixels
extern const int32_t kDefaultGlyphCount;
extern const DefaultGlyph kDefaultGlyphs[];
extern const uint8_t kDefaultGlyphPixels[];

}  // namespace kin::detail
