// World states: a world saved at any step and put back (in place, or as a new world) goes
// on bit for bit as the world that was never saved; damaged states are refused with the
// stream's read error and change nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "gelsim/bodies/AdvBody.h"
#include "gelsim/core/ColEvent.h"
#include "gelsim/state/WorldState.h"
#include "scenes/Scenes.h"
#include "tests/support/CountingAllocator.h"

namespace kin::gelsim {
namespace {

using Bytes = std::vector<uint8_t>;

// FNV-1a over the world's mass table in table order: the entry, then both positions.
uint64_t TableHash(const TPhysics& w) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](uint64_t v) { h = (h ^ v) * 1099511628211ull; };
    auto bits = [](float f) {
        uint32_t u;
        std::memcpy(&u, &f, 4);
        return static_cast<uint64_t>(u);
    };
    for (int32_t e = 0; e < w.massCount; ++e) {
        const TMass* m = w.massArray[static_cast<size_t>(e)].Get();
        if (!m) continue;
        mix(static_cast<uint64_t>(e));
        for (float f : {m->posX, m->posY, m->oldPosX, m->oldPosY}) mix(bits(f));
    }
    return h;
}

// "" when equal, else where two states first differ (a byte dump would say nothing).
std::string Diff(const Bytes& a, const Bytes& b) {
    const size_t n = std::min(a.size(), b.size());
    size_t k = 0;
    while (k < n && a[k] == b[k]) ++k;
    if (k == n && a.size() == b.size()) return "";
    return "differ from byte " + std::to_string(k) + " (sizes " + std::to_string(a.size()) + " and " +
           std::to_string(b.size()) + ")";
}

std::string MediaDir() { return std::string(SOURCE_ROOT) + "/media"; }

// A scene and what its steps do besides stepping: the game's structure gains and loses
// blobs through its body, found again by id in the registry after every restore.
struct Case {
    std::string name;
    std::function<TScene()> build;
    bool scripted = false;
};

void Script(int32_t step, int32_t bodyId) {
    auto* body = As<TAdvBody>(TPhysics::GetBody(bodyId));
    ASSERT_NE(body, nullptr);
    if (step % 61 == 7) {
        const int32_t m = body->MassAdd(440.0f + static_cast<float>(step % 5) * 16.0f, 3700.0f, 1.0f, 8.0f, 0.5f, -1);
        if (step % 3 != 0) {  // some stay inactive in the body's table
            const int32_t c = body->ConAdd(m, 0, 0.0f, 0.3f);
            body->ConAssign(c);
        }
    }
    if (step % 89 == 40) body->MassRemove(body->mIndex - 1);
}

void Steps(const Case& c, int32_t from, int32_t to, int32_t bodyId) {
    for (int32_t s = from; s < to; ++s) {
        if (c.scripted) Script(s, bodyId);
        TPhysics::Update();
    }
}

TEST(WorldState, RestoredAndLoadedWorldsStepBitForBitAsTheWorldNeverSaved) {
    constexpr int32_t kSteps = 1000;
    const std::vector<Case> cases = {
        {"pile", [] { return BuildPile(600); }},
        {"lattice", [] { return BuildLattice(16, 16); }},
        {"mixed", [] { return BuildMixedScene(); }},
        {"terrain", [] { return BuildTerrain(400); }},
        {"slime", [] { return BuildSlimeStructure(MediaDir()); }, true},
    };
    std::mt19937 rng(20261208u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The world never saved.
        uint64_t clean = 0;
        {
            TScene sc = c.build();
            const int32_t id = c.scripted ? As<TAdvBody>(sc.held.back().Get())->aIndex : -1;
            Steps(c, 0, kSteps, id);
            clean = TableHash(*sc.world);
            TColEvent::Flush();
        }
        std::vector<int32_t> at(10);
        for (int32_t& s : at) s = static_cast<int32_t>(rng() % kSteps);
        std::sort(at.begin(), at.end());

        TScene sc = c.build();
        const int32_t id = c.scripted ? As<TAdvBody>(sc.held.back().Get())->aIndex : -1;
        std::vector<Bytes> saved;
        int32_t step = 0;
        for (int32_t s : at) {
            Steps(c, step, s, id);
            step = s;
            saved.push_back(SaveState(*sc.world));
        }
        Steps(c, step, kSteps, id);
        ASSERT_EQ(TableHash(*sc.world), clean) << "saving changed the world";
        const Bytes final = SaveState(*sc.world);

        // In place (the undo path): back to each save point, then on to the end.
        for (size_t k = 0; k < at.size(); ++k) {
            SCOPED_TRACE("restored at step " + std::to_string(at[k]));
            const kin::test::THeapUse use = kin::test::MeasureHeap([&] { RestoreState(*sc.world, saved[k].data(), saved[k].size()); });
            // The same objects as at the save point: an undo reuses them all.
            if (!c.scripted) {
                EXPECT_LT(use.allocations, 100) << "an undo allocated per object";
            }
            ASSERT_EQ(Diff(SaveState(*sc.world), saved[k]), "") << "the restored world saves differently";
            Steps(c, at[k], kSteps, id);
            EXPECT_EQ(TableHash(*sc.world), clean);
            EXPECT_EQ(Diff(SaveState(*sc.world), final), "");
        }
        // As new worlds while the original still lives.
        for (size_t k : {size_t{0}, at.size() / 2, at.size() - 1}) {
            SCOPED_TRACE("loaded at step " + std::to_string(at[k]));
            Ref<TPhysics> w;
            const kin::test::THeapUse use = kin::test::MeasureHeap([&] { w = LoadState(saved[k].data(), saved[k].size()); });
            // A world of its own (grid and tables, about 2.3 MB here) and 16 bytes per byte.
            EXPECT_LE(use.peak, static_cast<long long>(16 * saved[k].size()) + (4ll << 20));
            ASSERT_EQ(TPhysics::currentWorld.Get(), w.Get());
            ASSERT_EQ(Diff(SaveState(*w), saved[k]), "");
            Steps(c, at[k], kSteps, id);
            EXPECT_EQ(TableHash(*w), clean);
            EXPECT_EQ(Diff(SaveState(*w), final), "");
        }
        TColEvent::Flush();
        TPhysics::Free();
    }
}

// A real state cut short anywhere, or with any byte changed, is refused with the stream's
// read error (a changed byte may also still describe a world: then it loads and steps),
// and a refused restore leaves the world as it was.
TEST(WorldState, DamagedStatesAreRefusedWithTheReadErrorAndChangeNothing) {
    TScene sc = BuildSlimeStructure(MediaDir());
    auto* body = As<TAdvBody>(sc.held.back().Get());
    body->MassAdd(500.0f, 3600.0f, 1.0f, 8.0f, 0.5f, -1);  // an inactive mass in the body
    for (int32_t s = 0; s < 30; ++s) TPhysics::Update();
    const Bytes good = SaveState(*sc.world);
    const Bytes noZones = SaveState(*sc.world, false);
    EXPECT_LT(noZones.size(), good.size());

    auto refused = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const TStreamReadException& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Error reading from stream", 0), 0u) << e.what();
            return true;
        }
        return false;
    };
    const size_t stride = std::max<size_t>(1, good.size() / 1500);
    for (size_t n = 0; n < good.size(); n += stride) {
        EXPECT_TRUE(refused([&] { RestoreState(*sc.world, good.data(), n); })) << "cut at " << n;
        ASSERT_EQ(Diff(SaveState(*sc.world), good), "") << "a refused restore changed the world (cut at " << n << ")";
    }
    std::mt19937 rng(7u);
    for (size_t at = 0; at < good.size(); at += stride) {
        Bytes bad = good;
        bad[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        if (refused([&] { RestoreState(*sc.world, bad.data(), bad.size()); })) {
            ASSERT_EQ(Diff(SaveState(*sc.world), good), "") << "a refused restore changed the world (byte " << at << ")";
            continue;
        }
        // It loaded: it steps (unless it now asks for more passes than a test can wait for).
        if (sc.world->i <= 8)
            for (int32_t s = 0; s < 3; ++s) TPhysics::Update();
        RestoreState(*sc.world, good.data(), good.size());
    }
    // Without zones: taken from a world that has them, refused from one that does not.
    Ref<TPhysics> original = sc.world;
    Ref<TPhysics> loaded = LoadState(noZones.data(), noZones.size(), original.Get());
    EXPECT_EQ(loaded->zoneCount, original->zoneCount);
    Ref<TPhysics> empty = TPhysics::Create(1024.0f, 4096.0f, 0.1f, 0.0f, 1);
    EXPECT_TRUE(refused([&] { LoadState(noZones.data(), noZones.size(), empty.Get()); }));
    EXPECT_TRUE(refused([&] { LoadState(noZones.data(), noZones.size()); }));
    TColEvent::Flush();
    TPhysics::Free();
}

}  // namespace
}  // namespace kin::gelsim
