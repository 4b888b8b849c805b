#pragma once
// Degree-based trigonometry shared by the library (angles are degrees everywhere).
#include <cmath>
#include <numbers>

namespace kin::gelsim {

inline float DegToRad(float deg) { return static_cast<float>(static_cast<double>(deg) * (std::numbers::pi / 180.0)); }
inline float RadToDeg(float rad) { return static_cast<float>(static_cast<double>(rad) * (180.0 / std::numbers::pi)); }
inline float DegSin(float deg) { return std::sin(DegToRad(deg)); }
inline float DegCos(float deg) { return std::cos(DegToRad(deg)); }
/// Direction of (x, y) in degrees, -180..180; y first like atan2.
inline float DegAtan2(float y, float x) { return RadToDeg(std::atan2(y, x)); }

}  // namespace kin::gelsim
