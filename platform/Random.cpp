#include "platform/Random.h"

#include <cmath>

namespace kin {
namespace {

// Multiplicative congruential generator modulo the prime 2^31 - 1. Its state must lie in
// 1 .. 2^31 - 2, which is why the seeds 0 and 2^31 - 1 are replaced.
constexpr uint32_t MODULUS = 0x7FFFFFFF;
constexpr uint32_t MULTIPLIER = 48271;
constexpr int32_t DEFAULT_SEED = 4660;

uint32_t g_state = DEFAULT_SEED;

// The next state mapped onto [0, 1): (state - 1) / (2^31 - 2) never reaches 1.
double NextUnit() {
    g_state = static_cast<uint32_t>(static_cast<uint64_t>(g_state) * MULTIPLIER % MODULUS);
    return static_cast<double>(g_state - 1) / static_cast<double>(MODULUS - 1);
}

}  // namespace

void SeedRnd(int32_t seed) {
    uint32_t s = static_cast<uint32_t>(seed) & MODULUS;
    if (s == 0 || s == MODULUS) s = DEFAULT_SEED;
    g_state = s;
}

int32_t RndSeed() { return static_cast<int32_t>(g_state); }

double Rnd(double min, double max) {
    const double r = min + NextUnit() * (max - min);
    // Rounding can land on max itself when the range is tiny next to min; the range is
    // half-open, so step back to the value just below it.
    if (max > min && r >= max) return std::nextafter(max, min);
    return r;
}

int32_t Rand(int32_t min, int32_t max) {
    if (min > max) {
        const int32_t t = min;
        min = max;
        max = t;
    }
    const int64_t span = static_cast<int64_t>(max) - min + 1;
    int64_t v = min + static_cast<int64_t>(NextUnit() * static_cast<double>(span));
    if (v > max) v = max;
    return static_cast<int32_t>(v);
}

}  // namespace kin
