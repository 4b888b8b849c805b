#include "platform/Pixmap.h"

#include <cstring>

namespace kin {

TPixmap::TPixmap(int32_t w, int32_t h) {
    if (w <= 0 || h <= 0) return;
    width_ = w;
    height_ = h;
    pixels_.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 4u, 0);
}

TPixmap::TPixmap(int32_t w, int32_t h, std::vector<uint8_t>&& pixels) : pixels_(std::move(pixels)) {
    if (w <= 0 || h <= 0) {
        pixels_.clear();
        return;
    }
    width_ = w;
    height_ = h;
    pixels_.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 4u, 0);
}

uint32_t TPixmap::GetPixel(int32_t x, int32_t y) const noexcept {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    const uint8_t* p = pixels_.data() + (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 4u;
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void TPixmap::SetPixel(int32_t x, int32_t y, uint32_t rgba) noexcept {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    uint8_t* p = pixels_.data() + (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 4u;
    p[0] = uint8_t(rgba >> 24);
    p[1] = uint8_t(rgba >> 16);
    p[2] = uint8_t(rgba >> 8);
    p[3] = uint8_t(rgba);
}

Ref<TPixmap> TPixmap::Copy() const {
    auto copy = MakeRef<TPixmap>(width_, height_);
    if (!pixels_.empty()) std::memcpy(copy->Pixels(), pixels_.data(), pixels_.size());
    copy->hasAlpha_ = hasAlpha_;
    return copy;
}

}  // namespace kin
