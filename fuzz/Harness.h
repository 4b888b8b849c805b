#pragma once
// What every fuzz target shares: the entry point libFuzzer calls, and a check that stops
// the run with a message when a property of the code under test does not hold.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace kin::fuzz {

/// Aborts (a finding, for libFuzzer and for the replay alike) when ok is false.
inline void Require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}

}  // namespace kin::fuzz
