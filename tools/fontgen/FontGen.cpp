// Rasterises a TrueType font at one pixel size into the C++ table of the platform's
// built-in default font.
//
//   fontgen FONT.ttf PIXELS OUTPUT.cpp
//
// The table covers printable ASCII and Latin-1 (32..126, 160..255); each glyph keeps its
// 8-bit coverage, its placement relative to the text's top-left and its hinted advance.
// The committed platform/detail/DefaultFontData.cpp was made with
//   fontgen /usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf 13 platform/detail/DefaultFontData.cpp
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Licence of the font the committed table was made from; it travels with the table.
const char* kLicence = R"(Glyph shapes: DejaVu Sans Mono.
Copyright (c) 2003 by Bitstream, Inc. All Rights Reserved.
Bitstream Vera is a trademark of Bitstream, Inc. DejaVu changes are in public domain.

Permission is hereby granted, free of charge, to any person obtaining a copy
of the fonts accompanying this license ("Fonts") and associated
documentation files (the "Font Software"), to reproduce and distribute the
Font Software, including without limitation the rights to use, copy, merge,
publish, distribute, and/or sell copies of the Font Software, and to permit
persons to whom the Font Software is furnished to do so, subject to the
following conditions:

The above copyright and trademark notices and this permission notice shall
be included in all copies of one or more of the Font Software typefaces.

The Font Software may be modified, altered, or added to, and in particular
the designs of glyphs or characters in the Fonts may be modified and
additional glyphs or characters may be added to the Fonts, only if the fonts
are renamed to names not containing either the words "Bitstream" or the word
"Vera".

This License becomes null and void to the extent applicable to Fonts or Font
Software that has been modified and is distributed under the "Bitstream
Vera" names.

The Font Software may be sold as part of a larger software package but no
copy of one or more of the Font Software typefaces may be sold by itself.

THE FONT SOFTWARE IS PROVIDED "AS IS", WITHOUT WARRANTY OF ANY KIND, EXPRESS
OR IMPLIED, INCLUDING BUT NOT LIMITED TO ANY WARRANTIES OF MERCHANTABILITY,
FITNESS FOR A PARTICULAR PURPOSE AND NONINFRINGEMENT OF COPYRIGHT, PATENT,
TRADEMARK, OR OTHER RIGHT. IN NO EVENT SHALL BITSTREAM OR THE GNOME
FOUNDATION BE LIABLE FOR ANY CLAIM, DAMAGES OR OTHER LIABILITY, INCLUDING
ANY GENERAL, SPECIAL, INDIRECT, INCIDENTAL, OR CONSEQUENTIAL DAMAGES,
WHETHER IN AN ACTION OF CONTRACT, TORT OR OTHERWISE, ARISING FROM, OUT OF
THE USE OR INABILITY TO USE THE FONT SOFTWARE OR FROM OTHER DEALINGS IN THE
FONT SOFTWARE.

Except as contained in this notice, the names of Gnome, the Gnome
Foundation, and Bitstream Inc., shall not be used in advertising or
otherwise to promote the sale, use or other dealings in this Font Software
without prior written authorization from the Gnome Foundation or Bitstream
Inc., respectively.)";

struct Glyph {
    unsigned code;
    int left, top, width, height, advance64;
    size_t offset;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: fontgen FONT.ttf PIXELS OUTPUT.cpp\n");
        return 2;
    }
    const int pixels = std::atoi(argv[2]);
    if (pixels < 4 || pixels > 200) {
        std::fprintf(stderr, "fontgen: pixel size must be 4..200\n");
        return 2;
    }
    FT_Library lib;
    FT_Face face;
    if (FT_Init_FreeType(&lib) || FT_New_Face(lib, argv[1], 0, &face) || FT_Set_Pixel_Sizes(face, 0, pixels)) {
        std::fprintf(stderr, "fontgen: cannot open %s\n", argv[1]);
        return 1;
    }
    const int ascent = static_cast<int>(face->size->metrics.ascender >> 6);
    const int height = static_cast<int>(face->size->metrics.height >> 6);

    std::vector<unsigned> codes;
    for (unsigned c = 32; c <= 126; ++c) codes.push_back(c);
    for (unsigned c = 160; c <= 255; ++c) codes.push_back(c);

    std::vector<Glyph> glyphs;
    std::vector<unsigned char> pixelsOut;
    for (unsigned code : codes) {
        if (FT_Get_Char_Index(face, code) == 0) continue;
        if (FT_Load_Char(face, code, FT_LOAD_RENDER)) continue;
        const FT_GlyphSlot g = face->glyph;
        const FT_Bitmap& bm = g->bitmap;
        if (bm.pixel_mode != FT_PIXEL_MODE_GRAY && bm.width > 0) continue;
        Glyph out{code, g->bitmap_left, ascent - g->bitmap_top, static_cast<int>(bm.width),
                  static_cast<int>(bm.rows), static_cast<int>(g->advance.x), pixelsOut.size()};
        for (unsigned y = 0; y < bm.rows; ++y)
            for (unsigned x = 0; x < bm.width; ++x) pixelsOut.push_back(bm.buffer[y * bm.pitch + x]);
        glyphs.push_back(out);
    }

    FILE* f = std::fopen(argv[3], "w");
    if (!f) {
        std::fprintf(stderr, "fontgen: cannot write %s\n", argv[3]);
        return 1;
    }
    std::fprintf(f, "// Generated by tools/fontgen at %d pixels: the built-in default font. Do not edit.\n//\n", pixels);
    std::string lic = kLicence;
    size_t start = 0;
    while (start <= lic.size()) {
        size_t end = lic.find('\n', start);
        if (end == std::string::npos) end = lic.size();
        const std::string line = lic.substr(start, end - start);
        std::fprintf(f, line.empty() ? "//\n" : "// %s\n", line.c_str());
        start = end + 1;
    }
    std::fprintf(f, "#include \"platform/detail/DefaultFontData.h\"\n\nnamespace kin::detail {\n\n");
    std::fprintf(f, "const int32_t kDefaultFontAscent = %d;\nconst int32_t kDefaultFontHeight = %d;\n", ascent, height);
    std::fprintf(f, "const int32_t kDefaultGlyphCount = %zu;\n\n", glyphs.size());
    std::fprintf(f, "// code, left, top, width, height, advance (1/64 pixel), offset into the pixels\n");
    std::fprintf(f, "const DefaultGlyph kDefaultGlyphs[] = {\n");
    for (const Glyph& g : glyphs)
        std::fprintf(f, "    {%u, %d, %d, %d, %d, %d, %zu},\n", g.code, g.left, g.top, g.width, g.height, g.advance64,
                     g.offset);
    std::fprintf(f, "};\n\n// 8-bit coverage, rows top to bottom.\nconst uint8_t kDefaultGlyphPixels[] = {");
    for (size_t i = 0; i < pixelsOut.size(); ++i)
        std::fprintf(f, "%s%u,", i % 24 == 0 ? "\n    " : "", pixelsOut[i]);
    std::fprintf(f, "\n    0};\n\n}  // namespace kin::detail\n");
    std::fclose(f);
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    return 0;
}
