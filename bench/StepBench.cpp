// Step benchmarks: a falling pile at three sizes, a soft lattice, and a fixed dense pile.
// Every contact runs one hook callback and is queued in MODE_UPDATE, as in the game.
// Counters: ns per mass-step, ns per constraint-step, contacts per step, and for the
// piles the mean neighbourhood of a mass; times are the stepping thread's CPU time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>

#include "scenes/Scenes.h"
#include "gelsim/core/ColEvent.h"
#include "platform/Hook.h"

namespace kin::gelsim {
namespace {

struct ContactCounter : TObject {
    long contacts = 0;
};

Ref<TObject> CountContact(int32_t, TObject* data, TObject* ctx) {
    ++static_cast<ContactCounter*>(ctx)->contacts;
    return data;
}

// Attaches the counting callback for the lifetime of the object.
struct Observed {
    Ref<ContactCounter> counter = MakeRef<ContactCounter>();
    Observed() {
        TColEvent::SetMode(TColEvent::MODE_UPDATE);
        AddHook(TColEvent::EventHook(), CountContact, counter.Get());
    }
    ~Observed() {
        RemoveHook(TColEvent::EventHook(), CountContact, counter.Get());
        TColEvent::Flush();
        TPhysics::Free();
    }
};

// CPU time of the calling thread in ns: on a shared machine it leaves out the time the
// thread waited for a processor, which wall time would count.
double ThreadNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

// Mean number of other masses in the 3 x 3 cells around each mass of the scene: the
// candidates that the pair search looks at. A pile that has not settled is squeezed
// together and gives each mass more of them.
double NeighboursPerMass(const TScene& sc) {
    constexpr int32_t G = TPhysics::MAX_GRID;
    static int32_t count[G][G];
    for (auto& col : count)
        for (int32_t& v : col) v = 0;
    for (const Ref<TMass>& m : sc.masses)
        if (m->IsActive()) ++count[m->gridx][m->gridy];
    const int32_t gs = TPhysics::currentWorld->gridsize;
    double sum = 0;
    int32_t active = 0;
    for (const Ref<TMass>& m : sc.masses) {
        if (!m->IsActive()) continue;
        ++active;
        for (int32_t c = std::max(m->gridx - 1, 0); c <= std::min(m->gridx + 1, gs - 1); ++c)
            for (int32_t r = std::max(m->gridy - 1, 0); r <= std::min(m->gridy + 1, gs - 1); ++r) sum += count[c][r];
        sum -= 1;  // itself
    }
    return active ? sum / active : 0.0;
}

// Runs `total` steps and times the second half (the pile has landed by then). Every
// tenth step the neighbourhoods are counted, outside the timed part.
void TimeSteadyHalf(benchmark::State& state, TScene& scene, int32_t total, double perMass, double perCon) {
    Observed obs;
    for (auto _ : state) {
        for (int32_t s = 0; s < total / 2; ++s) TPhysics::Update();
        obs.counter->contacts = 0;
        double ns = 0, neighbours = 0;
        int32_t samples = 0;
        for (int32_t s = total / 2; s < total;) {
            const int32_t chunk = std::min(10, total - s);
            const double t0 = ThreadNs();
            for (int32_t k = 0; k < chunk; ++k) TPhysics::Update();
            ns += ThreadNs() - t0;
            s += chunk;
            neighbours += NeighboursPerMass(scene);
            ++samples;
        }
        const double steps = total - total / 2;
        state.SetIterationTime(ns * 1e-9);
        state.counters["us_per_step"] = ns / steps * 1e-3;
        if (perMass > 0) state.counters["ns_per_mass_step"] = ns / steps / perMass;
        if (perCon > 0) state.counters["ns_per_con_step"] = ns / steps / perCon;
        state.counters["contacts_per_step"] = static_cast<double>(obs.counter->contacts) / steps;
        if (perCon == 0) state.counters["neighbours_per_mass"] = neighbours / samples;
    }
}

void BM_Pile(benchmark::State& state) {
    const int32_t n = static_cast<int32_t>(state.range(0));
    TScene sc = BuildPile(n);
    FitGridToDiameter(10.0f);  // every overlapping pair is tested, as in the peers
    TimeSteadyHalf(state, sc, 600, n, 0);
}
BENCHMARK(BM_Pile)->Arg(1000)->Arg(4000)->Arg(16000)->Iterations(1)->Repetitions(5)
    ->ReportAggregatesOnly(true)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Lattice(benchmark::State& state) {
    TScene sc = BuildLattice(40, 40);
    TimeSteadyHalf(state, sc, 600, static_cast<double>(sc.masses.size()), static_cast<double>(sc.constraints.size()));
}
BENCHMARK(BM_Lattice)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true)->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A hex-packed pile whose state is put back before every timed step, so the cost does
// not depend on how a pile settles.
void BM_DensePile(benchmark::State& state) {
    const int32_t n = static_cast<int32_t>(state.range(0));
    TScene sc = BuildHexPile(n);
    FitGridToDiameter(10.0f);
    Observed obs;
    sc.SaveState();
    for (int32_t s = 0; s < 3; ++s) {  // pools and maps reach their working size
        sc.RestoreState();
        TPhysics::Update();
    }
    obs.counter->contacts = 0;
    double total = 0;
    for (auto _ : state) {
        sc.RestoreState();
        const double t0 = ThreadNs();
        TPhysics::Update();
        const double ns = ThreadNs() - t0;
        total += ns;
        state.SetIterationTime(ns * 1e-9);
    }
    const double steps = static_cast<double>(state.iterations());
    state.counters["ns_per_mass_step"] = total / steps / n;
    state.counters["contacts_per_step"] = static_cast<double>(obs.counter->contacts) / steps;
    state.counters["neighbours_per_mass"] = NeighboursPerMass(sc);
}
BENCHMARK(BM_DensePile)->Arg(4000)->Arg(16000)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kin::gelsim

BENCHMARK_MAIN();
