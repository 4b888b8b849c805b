#pragma once
// PNG decoding and encoding (libpng + zlib), always as 8-bit RGBA.
#include <cstdint>

#include "platform/Pixmap.h"
#include "platform/Stream.h"

namespace kin {

/// Largest width or height accepted when decoding; larger pictures are refused.
constexpr int32_t PNG_MAX_DIMENSION = 16384;
/// Heap one decode may hold, pixels included: 16 bytes per byte left in the stream plus
/// PNG_HEAP_ALLOWANCE; a picture whose RGBA pixels would not fit is refused before they
/// are allocated. The allowance takes any picture up to about 1400 x 1400 however well it
/// compresses (a flat-coloured one saved by the library included); beyond 8 MiB of pixels
/// a picture needs 1/16 of them in the stream.
constexpr int64_t PNG_HEAP_PER_BYTE = 16;
constexpr int64_t PNG_HEAP_ALLOWANCE = int64_t(8) << 20;
/// Heap one decode may hold when the stream cannot tell its size.
constexpr int64_t PNG_HEAP_UNSIZED = int64_t(64) << 20;

/// Decodes one PNG from the stream's current position, consuming exactly through the end
/// of its IEND chunk, so whatever follows in the stream can be read next.
/// Always 8-bit RGBA; HasAlpha tells whether the file had an alpha channel or tRNS.
/// Ancillary chunks (text, colour profiles, ...) are skipped unread; only the palette and
/// tRNS are used. Returns null on bad data, a short stream, a chunk longer than the data
/// left, a picture wider or taller than PNG_MAX_DIMENSION or one that needs more heap
/// than stated above (the stream position is then unspecified).
Ref<TPixmap> LoadPixmapPNG(TStream& stream);
/// Why the calling thread's latest LoadPixmapPNG gave null, as libpng or the checks above
/// put it ("IDAT: CRC error"); "" after a success. Valid until the thread's next decode.
const char* PngLoadFailure() noexcept;
/// Encodes pixmap as an 8-bit RGBA PNG at zlib level 0-9 (clamped); the same pixels and
/// level always give the same bytes. Raises TStreamWriteException when
/// the stream refuses bytes; returns false when encoding itself failed.
bool SavePixmapPNG(const TPixmap& pixmap, TStream& stream, int32_t level);

}  // namespace kin
