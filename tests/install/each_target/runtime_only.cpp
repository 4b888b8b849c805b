// Uses the runtime library alone: a small pixmap through the PNG encoder and decoder.
#include <cstdio>

#include "platform/Pixmap.h"
#include "platform/Png.h"
#include "platform/Stream.h"

int main() {
    using namespace kin;
    TPixmap pixmap(3, 2);
    pixmap.SetPixel(1, 1, 0x11223344u);
    TBankStream out;
    if (!SavePixmapPNG(pixmap, out, 5)) return 1;
    TBankStream in(out.Bytes());
    Ref<TPixmap> back = LoadPixmapPNG(in);
    const bool ok = back && back->Width() == 3 && back->Height() == 2 && back->GetPixel(1, 1) == 0x11223344u;
    std::printf("runtime: %s\n", ok ? "ok" : "WRONG");
    return ok ? 0 : 1;
}
