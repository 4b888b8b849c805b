#include "platform/Image.h"

#include <algorithm>
#include <exception>

#include "platform/Png.h"
#include "platform/detail/RenderBackend.h"

namespace kin {

namespace {

uint8_t gMaskR = 0, gMaskG = 0, gMaskB = 0;
int32_t gAutoFlags = MASKEDIMAGE | FILTEREDIMAGE;
detail::ImageCacheRelease gReleaseCache = nullptr;

void ReleaseCache(TImage* image) {
    if (image->cache && gReleaseCache) gReleaseCache(image);
}

// Largest side and total pixel count of a blank image: beyond this no renderer could
// hold it and the allocation alone would be the failure.
constexpr int32_t MAX_SIDE = 16384;
constexpr int64_t MAX_PIXELS = int64_t(1) << 28;

uint8_t Channel(int32_t c) { return static_cast<uint8_t>(std::clamp(c, 0, 255)); }

int32_t ResolveFlags(int32_t flags) { return flags == -1 ? gAutoFlags : flags; }

/// The frame to keep for pm: pixels of the mask colour become transparent black when the
/// picture has no alpha of its own. A pixmap that is the caller's own (shared) is copied
/// only when that changes something; one that nobody else holds is changed in place, so
/// a loaded picture is never held twice.
Ref<TPixmap> MaskedFrame(TPixmap* pm, uint8_t r, uint8_t g, uint8_t b, bool shared) {
    if (pm->HasAlpha()) return pm;
    const size_t count = static_cast<size_t>(pm->Width()) * pm->Height();
    const uint8_t* src = pm->Pixels();
    size_t first = 0;
    while (first < count && !(src[first * 4] == r && src[first * 4 + 1] == g && src[first * 4 + 2] == b)) ++first;
    if (first == count) return pm;
    Ref<TPixmap> out = shared ? pm->Copy() : Ref<TPixmap>(pm);
    uint8_t* px = out->Pixels();
    for (size_t i = first; i < count; ++i) {
        uint8_t* p = px + i * 4;
        if (p[0] == r && p[1] == g && p[2] == b) p[0] = p[1] = p[2] = p[3] = 0;
    }
    out->SetHasAlpha(true);
    return out;
}

Ref<TImage> MakeImage(TPixmap* pixmap, int32_t flags, bool shared) {
    if (!pixmap || pixmap->Width() <= 0 || pixmap->Height() <= 0) return nullptr;
    Ref<TImage> image = MakeRef<TImage>();
    image->width = pixmap->Width();
    image->height = pixmap->Height();
    image->flags = ResolveFlags(flags);
    image->maskR = gMaskR;
    image->maskG = gMaskG;
    image->maskB = gMaskB;
    if (image->flags & MASKEDIMAGE)
        image->frames.push_back(MaskedFrame(pixmap, gMaskR, gMaskG, gMaskB, shared));
    else
        image->frames.emplace_back(pixmap);
    return image;
}

}  // namespace

namespace detail {
void SetImageCacheRelease(ImageCacheRelease release) { gReleaseCache = release; }
}  // namespace detail

TImage::~TImage() { ReleaseCache(this); }

void TImage::Invalidate() { ReleaseCache(this); }

Ref<TImage> TImage::Create(TPixmap* pixmap, int32_t flags) { return MakeImage(pixmap, flags, true); }

Ref<TImage> TImage::CreateBlank(int32_t w, int32_t h, int32_t frameCount, int32_t flags) {
    if (w <= 0 || h <= 0 || w > MAX_SIDE || h > MAX_SIDE || frameCount < 1) return nullptr;
    if (int64_t(w) * h * frameCount > MAX_PIXELS) return nullptr;
    Ref<TImage> image = MakeRef<TImage>();
    image->width = w;
    image->height = h;
    image->flags = ResolveFlags(flags);
    image->maskR = gMaskR;
    image->maskG = gMaskG;
    image->maskB = gMaskB;
    image->frames.reserve(static_cast<size_t>(frameCount));
    for (int32_t i = 0; i < frameCount; ++i) image->frames.push_back(MakeRef<TPixmap>(w, h));
    return image;
}

Ref<TImage> LoadImage(TPixmap* pixmap, int32_t flags) { return TImage::Create(pixmap, flags); }

Ref<TImage> LoadImage(TStream& stream, int32_t flags) {
    Ref<TPixmap> pm;
    try {
        pm = LoadPixmapPNG(stream);
    } catch (const std::exception&) {
        return nullptr;  // a short or failing stream is bad data like any other
    }
    return MakeImage(pm.Get(), flags, false);  // the decoded pixmap is nobody else's
}

Ref<TImage> LoadImage(const std::string& name, int32_t flags) {
    Ref<TStream> stream = OpenMedia(name);
    if (!stream) return nullptr;
    return LoadImage(*stream, flags);
}

void SetMaskColor(int32_t r, int32_t g, int32_t b) {
    gMaskR = Channel(r);
    gMaskG = Channel(g);
    gMaskB = Channel(b);
}

void GetMaskColor(int32_t& r, int32_t& g, int32_t& b) {
    r = gMaskR;
    g = gMaskG;
    b = gMaskB;
}

void AutoImageFlags(int32_t flags) { gAutoFlags = flags == -1 ? (MASKEDIMAGE | FILTEREDIMAGE) : flags; }

void SetImageHandle(TImage* image, float x, float y) {
    if (!image) return;
    image->handle_x = x;
    image->handle_y = y;
}

void MidHandleImage(TImage* image) {
    if (!image) return;
    image->handle_x = float(image->width) * 0.5f;
    image->handle_y = float(image->height) * 0.5f;
}

}  // namespace kin
