#pragma once
// Images: pictures with frames, load flags, a mask colour and a handle (pivot).
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Object.h"
#include "platform/Pixmap.h"
#include "platform/Stream.h"

namespace kin {

/// Load flags of images. Mipmapped images are accepted and drawn like filtered ones (the
/// renderer has no mipmaps).
enum : int32_t { MASKEDIMAGE = 1, FILTEREDIMAGE = 2, MIPMAPPEDIMAGE = 4 };

class TImage : public TObject {
public:
    ~TImage() override;

    int32_t width = 0;
    int32_t height = 0;
    int32_t flags = 0;
    uint8_t maskR = 0, maskG = 0, maskB = 0;  // mask colour used when the image was made
    float handle_x = 0.0f;                    // the image's own pivot, pixels from its top-left
    float handle_y = 0.0f;
    std::vector<Ref<TPixmap>> frames;         // RGBA pictures, all width x height

    /// An image of one frame from a pixmap (flags -1 = default flags). The pixmap is copied
    /// when masking changes it, shared otherwise.
    static Ref<TImage> Create(TPixmap* pixmap, int32_t flags = -1);
    /// An image with frameCount transparent frames of w x h pixels; null for sizes outside
    /// 1..16384 or a frame count below 1.
    static Ref<TImage> CreateBlank(int32_t w, int32_t h, int32_t frameCount = 1, int32_t flags = -1);

    /// Renderer-side cache, owned by the drawing backend (textures per context and frame,
    /// created on first draw); opaque here. Freed with the image or its context.
    struct CacheSlot;
    CacheSlot* cache = nullptr;
    /// Forgets cached textures after a frame's pixels changed; the next draw uploads again.
    void Invalidate();
};

/// Loads an image from a media name ("incbin::..." or a path); flags -1 = default flags.
/// Uses the current mask colour. Null when the name or data is bad.
Ref<TImage> LoadImage(const std::string& name, int32_t flags = -1);
/// Loads an image from a stream at its current position.
Ref<TImage> LoadImage(TStream& stream, int32_t flags = -1);
/// Makes an image of a pixmap (borrowed; shared by the image unless masking changes it).
Ref<TImage> LoadImage(TPixmap* pixmap, int32_t flags = -1);
/// Sets the colour (0..255 per channel, clamped) that later masked loads turn transparent
/// in pictures without alpha.
void SetMaskColor(int32_t r, int32_t g, int32_t b);
void GetMaskColor(int32_t& r, int32_t& g, int32_t& b);
/// Sets the default flags used when a load passes -1 (initially MASKEDIMAGE|FILTEREDIMAGE;
/// -1 restores that).
void AutoImageFlags(int32_t flags);
/// Sets the image's handle (pivot), in pixels from its top-left; null is ignored.
void SetImageHandle(TImage* image, float x, float y);
/// Centres the handle: (width*0.5, height*0.5).
void MidHandleImage(TImage* image);

}  // namespace kin
