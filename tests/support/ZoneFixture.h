#pragma once
// Shared pieces of the zone tests: a world with a headless canvas and a scratch folder
// (from the body tests), outline builders and a response that records what it was given.
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tests/support/BodyFixture.h"
#include "gelsim/zones/QuadTree.h"
#include "gelsim/zones/Zone.h"
#include "gelsim/zones/ZoneFile.h"

namespace kin::gelsim::test {

using Floats = std::vector<float>;

inline constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
inline constexpr float kInf = std::numeric_limits<float>::infinity();

/// The square (x, y)-(x + s, y + s), clockwise on the y-down screen.
inline Floats Square(float x, float y, float s) { return {x, y, x + s, y, x + s, y + s, x, y + s}; }

/// A random simple-or-not polygon of n vertices around (cx, cy): a star with random radii,
/// sometimes with a zig-zag or a repeated vertex.
inline Floats RandomOutline(std::mt19937& rng, int32_t n, float cx = 0, float cy = 0, float size = 100) {
    std::uniform_real_distribution<float> radius(0.2f * size, size), jitter(-0.4f, 0.4f);
    Floats v;
    for (int32_t i = 0; i < n; ++i) {
        const float a = (static_cast<float>(i) + jitter(rng)) * 6.2831853f / static_cast<float>(n);
        const float r = radius(rng);
        v.push_back(std::round(cx + r * std::cos(a)));  // whole numbers make collinear cases likely
        v.push_back(std::round(cy + r * std::sin(a)));
    }
    return v;
}

/// Records the last response call instead of moving the mass.
struct Recorded {
    int32_t calls = 0;
    TZone* zone = nullptr;
    TMass* mass = nullptr;
    float nx = 0, ny = 0, depth = 0;
};
inline Recorded gRecorded;
inline int32_t RecordResponse(TZone* z, TMass* m, float nx, float ny, float depth) {
    gRecorded = {gRecorded.calls + 1, z, m, nx, ny, depth};
    return 0;
}

class ZoneWorld : public BodyWorld {
protected:
    void SetUp() override {
        BodyWorld::SetUp();
        gRecorded = {};
    }
    /// A mass outside the world's tables (the contact test does not need it active).
    static Ref<TMass> Disc(float x, float y, float r, float friction = 0.0f, int32_t group = 1) {
        return TMass::Create(x, y, 1.0f, r, friction, group);
    }
};

}  // namespace kin::gelsim::test
