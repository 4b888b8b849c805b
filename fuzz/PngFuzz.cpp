// PNG from a stream: any bytes either give a picture or are refused; a picture that was
// read comes back pixel for pixel after saving it, and masking it in place clears exactly
// the pixels of the mask colour.
#include <zlib.h>

#include <cstring>
#include <vector>

#include "Harness.h"
#include "platform/Image.h"
#include "platform/Png.h"
#include "platform/Stream.h"

using namespace kin;

namespace {

// The reader refuses a chunk whose CRC does not match, so a mutated input would rarely get
// past its first changed chunk: the CRCs of complete chunks are put right first, unless
// the input's last byte is odd (then the checks themselves are what is fuzzed).
std::vector<uint8_t> WithCrcs(const uint8_t* data, size_t size) {
    std::vector<uint8_t> b(data, data + size);
    if (size == 0 || (data[size - 1] & 1)) return b;
    for (size_t at = 8; at + 12 <= b.size();) {
        const uint64_t len = uint64_t(b[at]) << 24 | uint64_t(b[at + 1]) << 16 | uint64_t(b[at + 2]) << 8 | b[at + 3];
        if (len > b.size() - at - 12) break;
        const uint32_t crc = static_cast<uint32_t>(crc32(0, b.data() + at + 4, static_cast<uInt>(len + 4)));
        const size_t c = at + 8 + static_cast<size_t>(len);
        for (int k = 0; k < 4; ++k) b[c + size_t(k)] = static_cast<uint8_t>(crc >> (24 - 8 * k));
        at = c + 4;
    }
    return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> png = WithCrcs(data, size);
    TBankStream in(png.data(), static_cast<int64_t>(png.size()));
    Ref<TPixmap> frame = LoadPixmapPNG(in);
    if (!frame) return 0;
    fuzz::Require(in.Pos() <= in.Size(), "read past the end of the stream");
    const size_t bytes = size_t(frame->Width()) * size_t(frame->Height()) * 4;

    TBankStream saved;
    fuzz::Require(SavePixmapPNG(*frame, saved, 1), "a decoded picture cannot be saved");
    TBankStream again(saved.Bytes());
    Ref<TPixmap> back = LoadPixmapPNG(again);
    fuzz::Require(back && back->Width() == frame->Width() && back->Height() == frame->Height(),
                  "a saved picture does not read back");
    fuzz::Require(std::memcmp(back->Pixels(), frame->Pixels(), bytes) == 0, "a saved picture reads back with other pixels");

    // The first pixel's colour as the mask: a masked load clears exactly the pixels of that
    // colour when the picture has no alpha of its own, and changes nothing otherwise.
    const uint8_t* px = frame->Pixels();
    SetMaskColor(px[0], px[1], px[2]);
    TBankStream masked(png.data(), static_cast<int64_t>(png.size()));
    Ref<TImage> image = LoadImage(masked, MASKEDIMAGE);
    fuzz::Require(image != nullptr, "a picture reads once but not twice");
    const uint8_t* out = image->frames[0]->Pixels();
    for (size_t i = 0; i < bytes; i += 4) {
        const bool cleared = !frame->HasAlpha() && std::memcmp(px + i, px, 3) == 0;
        if (cleared)
            fuzz::Require(out[i] == 0 && out[i + 1] == 0 && out[i + 2] == 0 && out[i + 3] == 0, "a masked pixel kept");
        else
            fuzz::Require(std::memcmp(out + i, px + i, 4) == 0, "masking changed a pixel of another colour");
    }
    return 0;
}
