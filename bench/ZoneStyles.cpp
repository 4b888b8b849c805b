// How zone styles hold discs: the figures behind the README's notes on choosing zone
// styles. Prints, for the peers' terrain scene (4,000 discs of radius 5 raining onto 200
// ground segments) built with other zone styles, passes, step sizes and radii, how many
// discs end off the ground; then lone discs thrown at a flat zone at fixed speeds.
//
// "In the walls": centre outside the box. "Under the surface": centre below the ground line.
// Usage: zone_styles (no arguments; about two minutes on one core), or ./benchmark zones
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "gelsim/core/Physics.h"
#include "gelsim/zones/Zone.h"
#include "scenes/Scenes.h"

namespace kin::gelsim {
namespace {

constexpr int32_t kSegments = 200;
constexpr int32_t kDiscs = 4000;
constexpr float kBottom = 4200.0f;  // the filled ground closes below the box's floor

float GroundAt(const std::vector<float>& g, float x) {
    const size_t n = g.size() / 2;
    if (x <= g[0]) return g[1];
    for (size_t k = 1; k < n; ++k)
        if (x <= g[2 * k]) {
            const float x0 = g[2 * k - 2], y0 = g[2 * k - 1], x1 = g[2 * k], y1 = g[2 * k + 1];
            return y0 + (y1 - y0) * (x - x0) / (x1 - x0);
        }
    return g[2 * n - 1];
}

enum class Ground { Fill, FillWide, LinePerSegment, LineOne, Band };

struct Case {
    std::string name;
    Ground ground;
    float thickness = 0;  // Band: the filled strip's thickness below the ground line
    int32_t passes = 1;
    float stepScale = 1;  // 0.5: half steps (speeds per step halved, gravity per step quartered)
    float radius = 5;
};

void AddZone(const std::vector<float>& outline, int32_t style, TScene& sc) {
    Ref<TZone> z = TZone::Create(outline, style, 0.5f, -1, 6);
    sc.held.push_back(Ref<TObject>(z.Get()));
}

void RunCase(const Case& c) {
    // The benchmark scene itself, then its ground swapped and its parameters changed, so
    // every case drops the same discs from the same places.
    TScene sc = BuildSegmentTerrain(kDiscs, kSegments);
    const std::vector<float> profile = SegmentTerrainProfile(kSegments);
    if (c.ground != Ground::Fill) {
        for (Ref<TObject>& o : sc.held)
            if (auto* z = dynamic_cast<TZone*>(o.Get())) z->DeActivate();
        sc.held.clear();
        const size_t last = profile.size() - 2;
        switch (c.ground) {
            case Ground::FillWide: {  // the same ground reaching 20 units past both walls
                std::vector<float> o = {-20.0f, profile[1]};
                o.insert(o.end(), profile.begin(), profile.end());
                o.insert(o.end(), {1044.0f, profile[last + 1], 1044.0f, kBottom, -20.0f, kBottom});
                AddZone(o, TZone::FILL, sc);
                break;
            }
            case Ground::LinePerSegment:
                for (size_t k = 0; k < last; k += 2)
                    AddZone({profile[k], profile[k + 1], profile[k + 2], profile[k + 3]}, TZone::LINE, sc);
                break;
            case Ground::LineOne:
                AddZone(profile, TZone::LINE, sc);
                break;
            case Ground::Band: {
                std::vector<float> o = profile;
                for (size_t k = last + 2; k >= 2; k -= 2) {
                    o.push_back(profile[k - 2]);
                    o.push_back(profile[k - 1] + c.thickness);
                }
                AddZone(o, TZone::FILL, sc);
                break;
            }
            case Ground::Fill:
                break;
        }
    }
    // Cells at least one disc across, as in the peers' run of this scene, so that every
    // overlapping pair of discs is tested.
    FitGridToDiameter(2.0f * c.radius);
    TPhysics::SetIterations(c.passes);
    TPhysics::SetGravity(0.0f, 0.1f * c.stepScale * c.stepScale);
    for (Ref<TMass>& m : sc.masses) m->SetRadius(c.radius);
    const int32_t steps = static_cast<int32_t>(std::lround(600.0f / c.stepScale));
    int32_t peak = -1, peakStep = 0;
    for (int32_t s = 0; s < steps; ++s) {
        TPhysics::Update();
        int32_t n = 0;
        for (const Ref<TMass>& m : sc.masses) n += m->posY > GroundAt(profile, m->posX);
        if (n > peak) {
            peak = n;
            peakStep = s + 1;
        }
    }
    int32_t walls = 0, below = 0;
    for (const Ref<TMass>& m : sc.masses) {
        if (!(m->posX >= 0.0f && m->posX <= 1024.0f && m->posY >= 0.0f && m->posY <= 4096.0f))
            ++walls;
        else if (m->posY > GroundAt(profile, m->posX))
            ++below;
    }
    std::printf("%-44s %6d %6d %6d %8d (step %d)\n", c.name.c_str(), walls + below, walls, below, peak, peakStep);
    std::fflush(stdout);
    sc = TScene{};
    TPhysics::Free();
}

// Lone discs of radius 5 (in one group, so they ignore one another) thrown straight down
// at a flat zone at one speed from 1,000 evenly spread distances; how many end beyond it.
int32_t Through(const char* kind, float v) {
    Ref<TPhysics> w = TPhysics::Create(1024.0f, 4096.0f, 0.0f, 0.0f, 1);
    TPhysics::UseShiftedGrid(1);
    FitGridToDiameter(10.0f);
    const float top = 3000.0f, r = 5.0f;
    std::vector<float> o = {0.0f, top, 1024.0f, top};
    int32_t style = TZone::LINE;
    if (kind[0] != 'l') {
        const float depth = kind[0] == 'b' ? 10.0f : 1000.0f;
        o.insert(o.end(), {1024.0f, top + depth, 0.0f, top + depth});
        style = TZone::FILL;
    }
    Ref<TZone> z = TZone::Create(o, style, 0.0f, -1, 6);
    std::vector<Ref<TMass>> discs;
    for (int32_t k = 0; k < 1000; ++k) {
        const float y = top - r - 10.0f * v - v * (static_cast<float>(k) + 0.5f) / 1000.0f;
        Ref<TMass> m = TMass::Create(20.0f + static_cast<float>(k % 100) * 9.8f, y, 1.0f, r, 0.0f, 7);
        m->SetVelocity(0.0f, v);
        m->AddRef();
        discs.push_back(m);
    }
    for (int32_t s = 0; s < 40; ++s) TPhysics::Update();
    int32_t n = 0;
    for (Ref<TMass>& m : discs) {
        n += m->posY > top;
        m->SubRef();
    }
    z->DeActivate();
    TPhysics::Free();
    return n;
}

int Main() {
    std::printf("4,000 discs of radius 5 on 200 ground segments, after 600 steps (or the same time in smaller steps)\n");
    std::printf("%-44s %6s %6s %6s %8s\n", "ground", "off", "walls", "under", "most under");
    const std::vector<Case> cases = {
        {"FILL to the walls (the benchmark scene)", Ground::Fill},
        {"FILL 20 units past the walls", Ground::FillWide},
        {"LINE, one zone per segment", Ground::LinePerSegment},
        {"LINE, one zone of 201 vertices", Ground::LineOne},
        {"FILL band 10 thick", Ground::Band, 10},
        {"FILL band 20 thick", Ground::Band, 20},
        {"FILL band 40 thick", Ground::Band, 40},
        {"FILL, 2 passes", Ground::Fill, 0, 2},
        {"FILL, 4 passes", Ground::Fill, 0, 4},
        {"FILL, 8 passes", Ground::Fill, 0, 8},
        {"LINE per segment, 2 passes", Ground::LinePerSegment, 0, 2},
        {"LINE per segment, 4 passes", Ground::LinePerSegment, 0, 4},
        {"LINE per segment, 8 passes", Ground::LinePerSegment, 0, 8},
        {"FILL, half steps", Ground::Fill, 0, 1, 0.5f},
        {"LINE per segment, half steps", Ground::LinePerSegment, 0, 1, 0.5f},
        {"LINE per segment, quarter steps", Ground::LinePerSegment, 0, 1, 0.25f},
        {"LINE per segment, radius 3", Ground::LinePerSegment, 0, 1, 1, 3},
        {"LINE per segment, radius 7.5", Ground::LinePerSegment, 0, 1, 1, 7.5f},
    };
    for (const Case& c : cases) RunCase(c);
    std::printf("\nLone discs of radius 5 at a fixed speed (units per step) onto a flat zone: of 1,000, how many pass\n");
    std::printf("%-8s", "speed");
    const float speeds[] = {4, 5, 6, 8, 10, 12.5f, 15, 20, 25};
    for (float v : speeds) std::printf(" %6.1f", v);
    std::printf("\n");
    for (const char* kind : {"line", "band 10", "fill"}) {
        std::printf("%-8s", kind);
        for (float v : speeds) std::printf(" %6d", Through(kind, v));
        std::printf("\n");
    }
    return 0;
}

}  // namespace
}  // namespace kin::gelsim

int main() { return kin::gelsim::Main(); }
