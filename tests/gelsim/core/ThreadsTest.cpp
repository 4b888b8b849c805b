// Worlds in threads: several worlds stepped from two threads at once, each with collision
// callbacks that take masses out and put new ones in, end exactly as each world stepped
// alone. Built a second time with ThreadSanitizer by ./test, which must report nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "gelsim/core/ColEvent.h"
#include "gelsim/core/Mass.h"
#include "gelsim/core/Physics.h"
#include "platform/Hook.h"
#include "scenes/Scenes.h"

namespace kin::gelsim::test {
namespace {

// FNV-1a over both positions of every mass in table order.
uint64_t TableHash(const TPhysics& w) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](float f) {
        uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        for (int k = 0; k < 4; ++k) {
            h ^= (bits >> (8 * k)) & 0xffu;
            h *= 1099511628211ull;
        }
    };
    for (int32_t k = 0; k < w.massCount && k < static_cast<int32_t>(w.massArray.size()); ++k)
        if (const TMass* m = w.massArray[static_cast<size_t>(k)].Get()) {
            mix(m->posX);
            mix(m->posY);
            mix(m->oldPosX);
            mix(m->oldPosY);
        }
    return h;
}

// One world's callback state: every 40th contact with the box takes that mass out, and
// every 25th contact of any kind drops a new disc in; both happen inside the step.
struct Churn final : TObject {
    int64_t contacts = 0, bounds = 0, added = 0, removed = 0;
    std::vector<Ref<TMass>> fresh;  // keeps the added discs
};

Ref<TObject> OnContact(int32_t, TObject* data, TObject* context) {
    auto* churn = static_cast<Churn*>(context);
    auto* e = As<TColEvent>(data);
    if (!e) return Ref<TObject>(data);
    // A callback runs in the thread stepping its world, which is current there.
    EXPECT_EQ(e->GetMass1()->GetWorld(), TPhysics::currentWorld.Get());
    ++churn->contacts;
    if (e->id == TColEvent::MASS_BOUNDS && ++churn->bounds % 40 == 0 && e->GetMass1()->IsActive()) {
        e->GetMass1()->SubRef();
        ++churn->removed;
    }
    if (churn->contacts % 25 == 0 && churn->added < 200) {
        const float x = 100.0f + static_cast<float>((churn->added * 37) % 800);
        Ref<TMass> m = TMass::Create(x, 50.0f, 1.0f, 5.0f, 0.5f, -1);
        m->AddRef();
        churn->fresh.push_back(m);
        ++churn->added;
    }
    return Ref<TObject>(data);
}

struct Subject {
    TScene scene;
    Ref<Churn> churn;
};

// World k of the test: piles and terrains of a few hundred discs; the callback is
// registered on the world's own hook while it is current.
Subject Build(int32_t k) {
    Subject s{k % 2 == 0 ? BuildPile(250 + 50 * k) : BuildTerrain(150 + 50 * k), MakeRef<Churn>()};
    AddHook(TColEvent::EventHook(), OnContact, s.churn.Get());
    TPhysics::SetCurrent(nullptr);
    return s;
}

constexpr int32_t kWorlds = 4;
constexpr int32_t kSteps = 1000;

TEST(WorldsInThreads, TwoThreadsSteppingFourWorldsMatchEachWorldSteppedAlone) {
    std::vector<uint64_t> alone;
    std::vector<int64_t> churned;
    for (int32_t k = 0; k < kWorlds; ++k) {
        Subject s = Build(k);
        s.scene.world->Step(kSteps);
        alone.push_back(TableHash(*s.scene.world));
        churned.push_back(s.churn->added + s.churn->removed);
        EXPECT_GT(s.churn->added, 0);
        EXPECT_GT(s.churn->removed, 0);
    }

    std::vector<Subject> subjects;
    for (int32_t k = 0; k < kWorlds; ++k) subjects.push_back(Build(k));
    // Each thread steps its two worlds in turn, one tick at a time, so both threads are
    // inside a step most of the time.
    auto run = [&subjects](int32_t first) {
        for (int32_t step = 0; step < kSteps; ++step)
            for (int32_t k = first; k < kWorlds; k += 2) subjects[static_cast<size_t>(k)].scene.world->Step(1);
    };
    std::thread a(run, 0), b(run, 1);
    a.join();
    b.join();
    for (int32_t k = 0; k < kWorlds; ++k) {
        const Subject& s = subjects[static_cast<size_t>(k)];
        EXPECT_EQ(TableHash(*s.scene.world), alone[static_cast<size_t>(k)]) << "world " << k;
        EXPECT_EQ(s.churn->added + s.churn->removed, churned[static_cast<size_t>(k)]) << "world " << k;
    }
    EXPECT_EQ(TPhysics::currentWorld.Get(), nullptr);  // stepping left the main thread's choice alone
}

TEST(WorldsInThreads, EachThreadHasItsOwnCurrentWorld) {
    const Ref<TPhysics> mine = TPhysics::Create(100, 100, 0.1f, 0, 1);
    TPhysics* seen = mine.Get();
    std::thread other([&seen] {
        seen = TPhysics::currentWorld.Get();
        const Ref<TPhysics> theirs = TPhysics::Create(50, 50, 0.1f, 0, 1);
        // A mass active in this thread's world is refused by another world.
        Ref<TMass> m = TMass::Create(10, 10, 1, 1, 0, -1);
        EXPECT_EQ(m->AddRef(), 0);
        {
            const Ref<TPhysics> third = TPhysics::Create(50, 50, 0.1f, 0, 1);
            EXPECT_EQ(m->AddRef(), -1);
            EXPECT_EQ(third->massCount, 0);
        }
        TPhysics::SetCurrent(theirs.Get());
        m->SubRef();
        EXPECT_EQ(theirs->massArray[0].Get(), nullptr);
        TPhysics::SetCurrent(nullptr);
    });
    other.join();
    EXPECT_EQ(seen, nullptr);
    EXPECT_EQ(TPhysics::currentWorld.Get(), mine.Get());
    TPhysics::SetCurrent(nullptr);
}

}  // namespace
}  // namespace kin::gelsim::test
