// The steady-state step allocates nothing: grid links are embedded, tables only grow,
// events come from a pool and the pair map keeps its capacity. The allocator of this
// program counts, which other suites of the program use through Heap.h.
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "Fixture.h"
#include "Heap.h"
#include "scenes/Scenes.h"

namespace {
long gAllocations = 0;
long long gBytes = 0, gPeak = 0;
bool gCounting = false;
}  // namespace

void* operator new(std::size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    if (gCounting) {
        ++gAllocations;
        gBytes += static_cast<long long>(malloc_usable_size(p));
        gPeak = std::max(gPeak, gBytes);
    }
    return p;
}
// The nothrow form too: the library's PNG reader allocates with it and frees with the
// plain delete above, and a sanitizer's own nothrow form would not pair with that.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return operator new(n);
    } catch (...) {
        return nullptr;
    }
}
namespace {
void Release(void* p) {
    if (gCounting && p) gBytes -= static_cast<long long>(malloc_usable_size(p));
    std::free(p);
}
}  // namespace
void operator delete(void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }

namespace kin::gelsim::test {

THeapUse MeasureHeap(const std::function<void()>& f) {
    const long allocations = gAllocations;
    const bool counting = gCounting;
    gBytes = gPeak = 0;
    gCounting = true;
    try {
        f();
    } catch (...) {
        gCounting = counting;
        throw;
    }
    gCounting = counting;
    return {gPeak, gBytes, gAllocations - allocations};
}

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
