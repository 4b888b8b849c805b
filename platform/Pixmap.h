#pragma once
// A picture in memory: 8-bit RGBA rows, top row first, no padding.
#include <cstdint>
#include <vector>

#include "platform/Object.h"

namespace kin {

class TPixmap : public TObject {
public:
    /// A w x h pixmap of transparent black; non-positive sizes give an empty pixmap.
    TPixmap(int32_t w, int32_t h);
    /// A w x h pixmap that takes over pixels (RGBA rows), cut or zero-padded to size.
    TPixmap(int32_t w, int32_t h, std::vector<uint8_t>&& pixels);

    /// Width and height in pixels (0 for an empty pixmap).
    int32_t Width() const noexcept { return width_; }
    int32_t Height() const noexcept { return height_; }
    /// RGBA bytes, Width()*Height()*4 of them.
    uint8_t* Pixels() noexcept { return pixels_.data(); }
    const uint8_t* Pixels() const noexcept { return pixels_.data(); }
    /// Pixel as 0xRRGGBBAA; (0,0) is the top-left; 0 outside the pixmap.
    uint32_t GetPixel(int32_t x, int32_t y) const noexcept;
    /// Sets a pixel from 0xRRGGBBAA; ignored outside the pixmap.
    void SetPixel(int32_t x, int32_t y, uint32_t rgba) noexcept;
    /// True when the picture came with an alpha channel (PNG colour types with alpha or tRNS).
    bool HasAlpha() const noexcept { return hasAlpha_; }
    /// Marks whether the pixels carry meaningful alpha.
    void SetHasAlpha(bool a) noexcept { hasAlpha_ = a; }
    /// A deep copy.
    Ref<TPixmap> Copy() const;

private:
    int32_t width_ = 0;
    int32_t height_ = 0;
    bool hasAlpha_ = true;
    std::vector<uint8_t> pixels_;
};

}  // namespace kin
