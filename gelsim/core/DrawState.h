#pragma once
// Colour channels as the library stores them, and the drawing state its drawers change
// (blend, colour, alpha, scale, rotation), saved when a guard is made and put back when it
// goes, so that every drawer leaves the caller's state as it found it.
#include <algorithm>
#include <cstdint>

#include "platform/Graphics.h"

namespace kin::gelsim {

/// A colour channel given as 0..255 (clamped; it is user input) as the stored fraction.
inline float ChannelFraction(int32_t value) { return static_cast<float>(std::clamp(value, 0, 255)) / 255.0f; }

class TDrawStateGuard {
public:
    TDrawStateGuard() {
        blend_ = kin::GetBlend();
        rotation_ = kin::GetRotation();
        kin::GetColor(red_, green_, blue_);
        alpha_ = kin::GetAlpha();
        kin::GetScale(scaleX_, scaleY_);
    }
    ~TDrawStateGuard() {
        kin::SetBlend(blend_);
        kin::SetColor(red_, green_, blue_);
        kin::SetAlpha(alpha_);
        kin::SetScale(scaleX_, scaleY_);
        kin::SetRotation(rotation_);
    }
    TDrawStateGuard(const TDrawStateGuard&) = delete;
    TDrawStateGuard& operator=(const TDrawStateGuard&) = delete;

    // The caller's state, for drawers that tint it.
    int32_t Red() const { return red_; }
    int32_t Green() const { return green_; }
    int32_t Blue() const { return blue_; }
    float Alpha() const { return alpha_; }

private:
    int32_t blend_ = 0;
    float rotation_ = 0.0f;
    int32_t red_ = 0, green_ = 0, blue_ = 0;
    float alpha_ = 1.0f;
    float scaleX_ = 1.0f, scaleY_ = 1.0f;
};

}  // namespace kin::gelsim
