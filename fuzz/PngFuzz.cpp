// PNG from a stream: any bytes either give a picture or are refused, and a picture that
// was read comes back pixel for pixel after saving it.
#include <cstring>

#include "Harness.h"
#include "platform/Image.h"
#include "platform/Png.h"
#include "platform/Stream.h"

using namespace kin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first three bytes choose the mask colour, so masking meets every colour.
    if (size >= 3) SetMaskColor(data[0], data[1], data[2]);
    TBankStream in(data, static_cast<int64_t>(size));
    Ref<TImage> image = LoadImage(in, MASKEDIMAGE | FILTEREDIMAGE);
    if (!image) return 0;
    fuzz::Require(in.Pos() <= in.Size(), "read past the end of the stream");
    const TPixmap& frame = *image->frames[0];
    TBankStream saved;
    fuzz::Require(SavePixmapPNG(frame, saved, 1), "a decoded picture cannot be saved");
    TBankStream again(saved.Bytes());
    Ref<TPixmap> back = LoadPixmapPNG(again);
    fuzz::Require(back && back->Width() == frame.Width() && back->Height() == frame.Height(),
                  "a saved picture does not read back");
    fuzz::Require(std::memcmp(back->Pixels(), frame.Pixels(), size_t(frame.Width()) * size_t(frame.Height()) * 4) == 0,
                  "a saved picture reads back with other pixels");
    return 0;
}
