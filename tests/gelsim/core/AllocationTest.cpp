// The steady-state step allocates nothing: grid links are embedded, tables only grow,
// events come from a pool and the pair map keeps its capacity.
#include <cstdio>
#include <cstdlib>
#include <new>

#include "Fixture.h"
#include "gelsim/core/Scenes.h"

namespace {
long gAllocations = 0;
bool gCounting = false;
}  // namespace

void* operator new(std::size_t n) {
    if (gCounting) ++gAllocations;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace kin::gelsim::test {
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
    gAllocations = 0;
    long events = 0;
    gCounting = true;
    for (int32_t s = 0; s < steps; ++s) {
        TPhysics::Update();
        events += TColEvent::QueueCount();
    }
    gCounting = false;
    (void)sc;
    return {gAllocations, events};
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
    gAllocations = 0;
    gCounting = true;
    long events = 0;
    for (int32_t s = 0; s < 20; ++s) {
        sc.RestoreState();
        TPhysics::Update();
        events += TColEvent::QueueCount();
    }
    gCounting = false;
    std::printf("hex pile 3000: %ld allocations, %ld events in 20 steps\n", gAllocations, events);
    EXPECT_EQ(gAllocations, 0);
    TColEvent::Flush();
    TPhysics::Free();
}

}  // namespace
}  // namespace kin::gelsim::test
