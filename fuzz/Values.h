#pragma once
// Values the fuzz targets draw from their input: floats that favour the edges of the number
// line (signed zeros, huge, tiny, infinite, NaN, raw bit patterns) over ordinary coordinates.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <limits>

namespace kin::fuzz {

/// A float: a special value, any bit pattern, or a coordinate in an ordinary box.
inline float AnyFloat(FuzzedDataProvider& in) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    static const float kSpecial[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 1e30f, -1e30f, 1e-30f,
                                     std::numeric_limits<float>::max(), std::numeric_limits<float>::lowest(),
                                     std::numeric_limits<float>::denorm_min(), kInf, -kInf,
                                     std::numeric_limits<float>::quiet_NaN()};
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
        case 0: return in.PickValueInArray(kSpecial);
        case 1: {
            const uint32_t bits = in.ConsumeIntegral<uint32_t>();
            float f;
            std::memcpy(&f, &bits, sizeof f);
            return f;
        }
        default: return in.ConsumeFloatingPointInRange<float>(-64.0f, 1100.0f);
    }
}

}  // namespace kin::fuzz
