#include "scenes/Scenes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "gelsim/bodies/AdvBody.h"
#include "gelsim/core/MathUtil.h"
#include "gelsim/zones/Zone.h"

namespace kin::gelsim {
namespace {

// A small fixed generator so the scenes are the same everywhere.
struct Lcg {
    uint32_t s;
    explicit Lcg(uint32_t seed) : s(seed) {}
    float Next() {  // 0..1
        s = s * 1664525u + 1013904223u;
        return static_cast<float>(s >> 8) / 16777216.0f;
    }
};

TScene NewWorld(int32_t iterations) {
    TScene sc;
    sc.world = TPhysics::Create(1024.0f, 4096.0f, 0.1f, 0.0f, iterations);
    TPhysics::UseShiftedGrid(1);
    TPhysics::SetGridSize(128);
    sc.body = MakeRef<TBody>();
    return sc;
}

Ref<TMass> AddFree(TScene& sc, float x, float y, float mass, float radius, float friction, int32_t group) {
    Ref<TMass> m = TMass::Create(x, y, mass, radius, friction, group);
    m->AddRef();
    sc.masses.push_back(m);
    return m;
}

void Join(TScene& sc, TMass* a, TMass* b, float stiffness) {
    Ref<TConstraint> c = TConstraint::Create(a, b, 0.0f, stiffness);
    c->Assign(sc.body.Get());
    sc.constraints.push_back(c);
}

// Every active mass of the current world, in table order.
void CollectMasses(TScene& sc) {
    sc.masses.clear();
    const TPhysics* w = TPhysics::currentWorld.Get();
    if (!w) return;
    for (int32_t k = 0; k < w->massCount; ++k)
        if (w->massArray[static_cast<size_t>(k)]) sc.masses.push_back(w->massArray[static_cast<size_t>(k)]);
}

// Gives the body's masses fresh collision groups, one for each group they had (0 stays 0),
// so that two copies of one file collide with each other.
void Regroup(const TObject* body) {
    const TPhysics* w = TPhysics::currentWorld.Get();
    if (!w) return;
    std::vector<std::pair<int32_t, int32_t>> fresh;  // old group -> new group
    for (int32_t k = 0; k < w->massCount; ++k) {
        TMass* m = w->massArray[static_cast<size_t>(k)].Get();
        if (!m || m->GetAdvBody() != body || m->GetColGroup() == 0) continue;
        const int32_t old = m->GetColGroup();
        auto it = std::find_if(fresh.begin(), fresh.end(), [old](const auto& p) { return p.first == old; });
        if (it == fresh.end()) it = fresh.insert(fresh.end(), {old, TPhysics::TakeColGroup()});
        m->SetColGroup(it->second);
    }
}

bool EndsWith(const std::string& s, const char* tail) {
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

}  // namespace

void TScene::SaveState() {
    saved.resize(masses.size() * 4);
    for (size_t k = 0; k < masses.size(); ++k) {
        const TMass* m = masses[k].Get();
        saved[k * 4 + 0] = m->posX;
        saved[k * 4 + 1] = m->posY;
        saved[k * 4 + 2] = m->oldPosX;
        saved[k * 4 + 3] = m->oldPosY;
    }
}

void TScene::RestoreState() {
    if (saved.size() != masses.size() * 4) return;
    for (size_t k = 0; k < masses.size(); ++k) {
        TMass* m = masses[k].Get();
        m->posX = saved[k * 4 + 0];
        m->posY = saved[k * 4 + 1];
        m->oldPosX = saved[k * 4 + 2];
        m->oldPosY = saved[k * 4 + 3];
    }
}

uint64_t TScene::Hash() const {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](float f) {
        uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        for (int b = 0; b < 4; ++b) {
            h ^= (bits >> (8 * b)) & 0xFFu;
            h *= 1099511628211ull;
        }
    };
    for (const Ref<TMass>& m : masses) {
        mix(m->posX);
        mix(m->posY);
        mix(m->oldPosX);
        mix(m->oldPosY);
    }
    return h;
}

TScene BuildPile(int32_t n) {
    TScene sc = NewWorld(1);
    Lcg rng(12345u);
    const float spacing = 11.0f;
    const int32_t perRow = 90;  // 90 * 11 = 990 units of the 1024-wide box
    const int32_t rows = (n + perRow - 1) / perRow;
    const float top = 4096.0f - 20.0f - static_cast<float>(rows) * spacing;
    for (int32_t k = 0; k < n; ++k) {
        const float x = 17.0f + static_cast<float>(k % perRow) * spacing + rng.Next() * 0.5f;
        const float y = top + static_cast<float>(k / perRow) * spacing;
        AddFree(sc, x, y, 1.0f, 5.0f, 0.5f, -1);
    }
    return sc;
}

TScene BuildLattice(int32_t cols, int32_t rows) {
    TScene sc = NewWorld(1);
    const int32_t group = TPhysics::TakeColGroup();
    const float spacing = 10.0f;
    const float left = 512.0f - static_cast<float>(cols) * spacing * 0.5f;
    const float top = 3600.0f - static_cast<float>(rows) * spacing;
    std::vector<Ref<TMass>> grid;
    for (int32_t r = 0; r < rows; ++r)
        for (int32_t c = 0; c < cols; ++c)
            grid.push_back(TMass::Create(left + static_cast<float>(c) * spacing, top + static_cast<float>(r) * spacing,
                                         1.0f, 4.0f, 0.5f, group));
    auto at = [&](int32_t c, int32_t r) { return grid[static_cast<size_t>(r * cols + c)].Get(); };
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t c = 0; c < cols; ++c) {
            if (c + 1 < cols) Join(sc, at(c, r), at(c + 1, r), 0.5f);
            if (r + 1 < rows) Join(sc, at(c, r), at(c, r + 1), 0.5f);
            if (c + 1 < cols && r + 1 < rows) {
                Join(sc, at(c, r), at(c + 1, r + 1), 0.5f);
                Join(sc, at(c + 1, r), at(c, r + 1), 0.5f);
            }
        }
    }
    sc.masses = std::move(grid);
    return sc;
}

TScene BuildHexPile(int32_t n) {
    TScene sc = NewWorld(1);
    const float spacing = 9.5f;
    const float rowStep = spacing * 0.8660254f;
    const int32_t perRow = 105;  // 105 * 9.5 + 4.75 < 1014
    for (int32_t k = 0; k < n; ++k) {
        const int32_t row = k / perRow, col = k % perRow;
        const float x = 5.0f + static_cast<float>(col) * spacing + ((row & 1) ? spacing * 0.5f : 0.0f);
        const float y = 4096.0f - 5.0f - static_cast<float>(row) * rowStep;
        AddFree(sc, x, y, 1.0f, 5.0f, 0.5f, -1);
    }
    return sc;
}

TScene BuildMixedScene() {
    TScene sc = NewWorld(2);
    TPhysics::SetFriction(0.5f);
    Lcg rng(777u);
    // Soft rings: a rim of 16 masses joined to its neighbours and to a hub.
    for (int32_t ring = 0; ring < 6; ++ring) {
        const float cx = 120.0f + static_cast<float>(ring) * 150.0f, cy = 3200.0f - static_cast<float>(ring % 3) * 200.0f;
        const int32_t group = TPhysics::TakeColGroup();
        Ref<TMass> hub = TMass::Create(cx, cy, 2.0f, 6.0f, 0.3f, group);
        std::vector<Ref<TMass>> rim;
        for (int32_t k = 0; k < 16; ++k) {
            const float a = static_cast<float>(k) * 22.5f;
            rim.push_back(TMass::Create(cx + 40.0f * DegCos(a), cy + 40.0f * DegSin(a), 1.0f, 5.0f, 0.6f, group));
        }
        for (int32_t k = 0; k < 16; ++k) {
            Join(sc, rim[static_cast<size_t>(k)].Get(), rim[static_cast<size_t>((k + 1) % 16)].Get(), 0.8f);
            Join(sc, rim[static_cast<size_t>(k)].Get(), hub.Get(), 0.3f);
        }
        sc.masses.push_back(hub);
        for (auto& m : rim) sc.masses.push_back(m);
    }
    // Loose discs of several sizes and weights, each in a group of its own.
    for (int32_t k = 0; k < 200; ++k) {
        // One draw per statement: the order of a call's arguments is up to the compiler.
        // The draws keep the order in which the scene was first built (the hashes pinned on
        // it depend on it): friction, radius and weight, then the velocity's y before its x.
        const float x = 20.0f + rng.Next() * 980.0f;
        const float y = 2000.0f + rng.Next() * 1500.0f;
        const float friction = rng.Next();
        const float radius = 3.0f + rng.Next() * 6.0f;
        const float mass = 0.5f + rng.Next() * 3.0f;
        Ref<TMass> m = AddFree(sc, x, y, mass, radius, friction, -1);
        const float vy = rng.Next() * 2.0f;
        const float vx = rng.Next() * 4.0f - 2.0f;
        m->SetVelocity(vx, vy);
    }
    // Frozen pegs that the rest piles against.
    for (int32_t k = 0; k < 12; ++k) {
        Ref<TMass> peg = AddFree(sc, 60.0f + static_cast<float>(k) * 85.0f, 3700.0f, 1.0f, 12.0f, 1.0f, -1);
        peg->Freeze();
    }
    return sc;
}

TScene BuildTerrain(int32_t n) {
    TScene sc = NewWorld(1);
    TPhysics::SetFriction(0.3f);
    // Rolling hills along the floor: one filled outline closed below the box's bottom.
    std::vector<float> hills;
    for (int32_t k = 0; k <= 32; ++k) {
        const float x = static_cast<float>(k) * 32.0f;
        hills.push_back(x);
        hills.push_back(4000.0f - 40.0f * DegSin(static_cast<float>(k) * 40.0f) - 30.0f * DegSin(static_cast<float>(k) * 97.0f));
    }
    hills.insert(hills.end(), {1024.0f, 4200.0f, 0.0f, 4200.0f});
    // A ramp on the left and a bowl hanging on the right.
    const std::vector<float> ramp = {0.0f, 0.0f, 300.0f, 120.0f, 300.0f, 140.0f, 0.0f, 20.0f};
    std::vector<float> bowl;
    for (int32_t k = 0; k <= 12; ++k) {
        const float a = static_cast<float>(k) * 15.0f;
        bowl.push_back(110.0f * DegCos(a));
        bowl.push_back(80.0f * DegSin(a));
    }
    for (int32_t k = 12; k >= 0; --k) {
        const float a = static_cast<float>(k) * 15.0f;
        bowl.push_back(125.0f * DegCos(a));
        bowl.push_back(95.0f * DegSin(a));
    }
    struct Piece {
        const std::vector<float>* outline;
        float x, y;
    };
    for (const Piece& p : {Piece{&hills, 0.0f, 0.0f}, Piece{&ramp, 20.0f, 3500.0f}, Piece{&bowl, 720.0f, 3560.0f}}) {
        Ref<TZone> z = TZone::Create(*p.outline, TZone::FILL, 0.5f, -1, 6);
        z->Position(p.x, p.y);
        z->SetColor(120, 200, 120);
        sc.held.push_back(z);
    }
    Lcg rng(4242u);
    const int32_t perRow = 60;
    for (int32_t k = 0; k < n; ++k) {
        const float x = 30.0f + static_cast<float>(k % perRow) * 16.0f + rng.Next() * 3.0f;
        const float y = 3400.0f - static_cast<float>(k / perRow) * 16.0f;
        AddFree(sc, x, y, 1.0f, 5.0f, 0.5f, -1);
    }
    return sc;
}

std::vector<float> SegmentTerrainProfile(int32_t segments) {
    std::vector<float> line;
    for (int32_t k = 0; k <= segments; ++k) {
        const float x = 1024.0f * static_cast<float>(k) / static_cast<float>(segments);
        line.push_back(x);
        line.push_back(3900.0f - 50.0f * DegSin(x * 0.7f) - 25.0f * DegSin(x * 1.9f));
    }
    return line;
}

TScene BuildSegmentTerrain(int32_t n, int32_t segments) {
    TScene sc = NewWorld(1);
    TPhysics::SetFriction(0.3f);
    std::vector<float> outline = SegmentTerrainProfile(segments);
    outline.insert(outline.end(), {1024.0f, 4200.0f, 0.0f, 4200.0f});
    Ref<TZone> ground = TZone::Create(outline, TZone::FILL, 0.5f, -1, 6);
    ground->Position(0.0f, 0.0f);
    ground->SetColor(120, 200, 120);
    sc.held.push_back(ground);
    Lcg rng(4243u);
    const int32_t perRow = 60;
    for (int32_t k = 0; k < n; ++k) {
        const float jitter = rng.Next() * 3.0f;
        const float x = 30.0f + static_cast<float>(k % perRow) * 16.0f + jitter;
        const float y = 3400.0f - static_cast<float>(k / perRow) * 16.0f;
        AddFree(sc, x, y, 1.0f, 5.0f, 0.5f, -1);
    }
    return sc;
}

TScene BuildFromFiles(const std::vector<std::string>& paths, float spacing) {
    TScene sc = NewWorld(1);
    float y = 4000.0f;
    int32_t bodies = 0;
    for (const std::string& path : paths) {
        try {
            if (EndsWith(path, ".plz")) {
                Ref<TZone> z = TZone::Load(path);
                if (!z) throw std::runtime_error(path + ": missing or not a zone file");
                sc.held.push_back(z);
            } else if (EndsWith(path, ".plb")) {
                Ref<TAdvBody> b = TAdvBody::Load(path, 1);
                if (!b) throw std::runtime_error(path + ": missing or not a body file");
                b->Position(512.0f, y);
                y -= spacing;
                if (++bodies > 1) Regroup(b.Get());
                sc.held.push_back(b);
            } else {
                throw std::runtime_error(path + ": neither a body (.plb) nor a zone (.plz) file");
            }
        } catch (const std::runtime_error& e) {
            // The loaders' read errors do not name the file.
            const std::string why = e.what();
            if (why.rfind(path, 0) == 0) throw;
            throw std::runtime_error(path + ": " + why);
        }
    }
    CollectMasses(sc);
    return sc;
}

TScene BuildSlimeStructure(const std::string& mediaDir) {
    TScene sc = NewWorld(1);
    const std::string dir = mediaDir.empty() || EndsWith(mediaDir, "/") ? mediaDir : mediaDir + "/";
    Ref<TZone> ground = TZone::Load(dir + "ground.plz");
    if (!ground) throw std::runtime_error(dir + "ground.plz: missing or not a zone file");
    ground->Position(512.0f, 4096.0f);
    Ref<TZone> right = ground->Copy();
    right->Position(1024.0f, 2096.0f);
    right->Rotate(-70.0f);
    Ref<TZone> left = ground->Copy();
    left->Position(0.0f, -904.0f);
    left->Rotate(70.0f);
    Ref<TAdvBody> slime = TAdvBody::Load(dir + "slime.plb", 1);
    if (!slime) throw std::runtime_error(dir + "slime.plb: missing or not a body file");
    slime->Position(482.0f, 3906.0f);
    sc.held = {ground, right, left, slime};
    CollectMasses(sc);
    return sc;
}

int32_t FitGridToDiameter(float diameter) {
    float minX = 0, minY = 0, maxX = 0, maxY = 0;
    TPhysics::GetBounds(minX, minY, maxX, maxY);
    const float side = std::min(maxX - minX, maxY - minY);
    const float fit = side / diameter;  // NaN for an empty box or diameter: the coarsest grid
    const int32_t cells = fit >= 128.0f ? 128 : fit >= 8.0f ? static_cast<int32_t>(fit) : 8;
    TPhysics::SetGridSize(cells);
    return cells;
}

}  // namespace kin::gelsim
