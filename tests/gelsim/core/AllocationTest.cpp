// The steady-state step allocates nothing: grid links are embedded, tables only grow,
// events come from a pool and the pair map keeps its capacity. The program's allocator
// counts (tests/support/CountingAllocator.cpp), and other suites of it measure with it too.
#include <cstdio>

#include "scenes/Scenes.h"
#include "tests/support/CountingAllocator.h"
#include "tests/support/WorldFixture.h"

namespace kin::gelsim::test {

using kin::test::THeapCount;

namespace {

Ref<TObject> Observe(int32_t, TObject* data, TObject*) { return data; }

struct Counted {
    long allocations;
    long events;
};

Counted CountSteadySteps(TScene& sc, int32_t warmup, int32_t steps) {
    ScopedHook hook(Observe);
    TColEvent::SetMode(TColEvent::MODE_UPDATE);
    for (int32_t s = 0; s < warmup; ++s) TPhysics::Update();
    long events = 0;
    THeapCount count;
    for (int32_t s = 0; s < steps; ++s) {
        TPhysics::Update();
        events += TColEvent::QueueCount();
    }
    (void)sc;
    return {count.Use().allocations, events};
}

TEST(Allocation, SteadyPileStepAllocatesNothing) {
    TScene sc = BuildPile(2000);
    const Counted c = CountSteadySteps(sc, 400, 100);
    std::printf("pile 2000: %ld allocations, %ld events in 100 steps\n", c.allocations, c.events);
    EXPECT_GT(c.events, 1000);
    EXPECT_EQ(c.allocations, 0);
    TColEvent::Flush();
    TPhysics::Free();
}

TEST(Allocation, SteadyLatticeStepAllocatesNothing) {
    TScene sc = BuildLattice(40, 40);
    const Counted c = CountSteadySteps(sc, 400, 100);
    std::printf("lattice 40x40 (%zu constraints): %ld allocations, %ld events in 100 steps\n",
                sc.constraints.size(), c.allocations, c.events);
    EXPECT_EQ(c.allocations, 0);
    TColEvent::Flush();
    TPhysics::Free();
}

TEST(Allocation, FixedDensePileAllocatesNothing) {
    TScene sc = BuildHexPile(3000);
    sc.SaveState();
    ScopedHook hook(Observe);
    for (int32_t s = 0; s < 5; ++s) {
        sc.RestoreState();
        TPhysics::Update();
    }
    long events = 0;
    long allocations = 0;
    {
        THeapCount count;
        for (int32_t s = 0; s < 20; ++s) {
            sc.RestoreState();
            TPhysics::Update();
            events += TColEvent::QueueCount();
        }
        allocations = count.Use().allocations;
    }
    std::printf("hex pile 3000: %ld allocations, %ld events in 20 steps\n", allocations, events);
    EXPECT_EQ(allocations, 0);
    TColEvent::Flush();
    TPhysics::Free();
}

}  // namespace
}  // namespace kin::gelsim::test
