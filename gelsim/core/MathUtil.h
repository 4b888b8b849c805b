#pragma once
// Degree-based trigonometry shared by the library (angles are degrees everywhere), and
// the one float-to-integer truncation for values that may be anything.
#include <cmath>
#include <cstdint>
#include <numbers>

namespace kin::gelsim {

inline float DegToRad(float deg) { return static_cast<float>(static_cast<double>(deg) * (std::numbers::pi / 180.0)); }
inline float RadToDeg(float rad) { return static_cast<float>(static_cast<double>(rad) * (180.0 / std::numbers::pi)); }
inline float DegSin(float deg) { return std::sin(DegToRad(deg)); }
inline float DegCos(float deg) { return std::cos(DegToRad(deg)); }
/// Direction of (x, y) in degrees, -180..180; y first like atan2.
inline float DegAtan2(float y, float x) { return RadToDeg(std::atan2(y, x)); }

/// v truncated toward zero, exact for every value an int32 holds; beyond that range the
/// nearest limit, and 0 for NaN (a plain conversion would be undefined for both).
inline int32_t TruncToInt(float v) {
    if (!(v == v)) return 0;
    if (v >= 2147483648.0f) return INT32_MAX;
    if (v < -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(v);
}

}  // namespace kin::gelsim
