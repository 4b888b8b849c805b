#pragma once
// PNG decoding and encoding (libpng + zlib), always as 8-bit RGBA.
#include <cstdint>

#include "platform/Pixmap.h"
#include "platform/Stream.h"

namespace kin {

/// Largest width or height accepted when decoding; larger pictures are refused.
constexpr int32_t PNG_MAX_DIMENSION = 16384;

/// Decodes one PNG from the stream's current position, consuming exactly through the end
/// of its IEND chunk, so whatever follows in the stream can be read next.
/// Always 8-bit RGBA; HasAlpha tells whether the file had an alpha channel or tRNS.
/// Returns null on bad data, a short stream or a picture wider or taller than
/// PNG_MAX_DIMENSION (the stream position is then unspecified).
Ref<TPixmap> LoadPixmapPNG(TStream& stream);
/// Encodes pixmap as an 8-bit RGBA PNG at zlib level 0-9 (clamped); the same pixels and
/// level always give the same bytes. Raises TStreamWriteException when
/// the stream refuses bytes; returns false when encoding itself failed.
bool SavePixmapPNG(const TPixmap& pixmap, TStream& stream, int32_t level);

}  // namespace kin
