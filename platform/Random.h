#pragma once
// The seedable random generator. seed(n) uses n & 0x7FFFFFFF; 0 and 0x7FFFFFFF become
// 4660. The same seed yields the same sequence.
#include <cstdint>

namespace kin {

void SeedRnd(int32_t seed);
int32_t RndSeed();
/// Uniform in [min, max): min + u*(max - min).
double Rnd(double min = 0.0, double max = 1.0);
/// Uniform integer in [min, max] (inclusive).
int32_t Rand(int32_t min, int32_t max);

}  // namespace kin
