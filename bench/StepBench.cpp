// Step benchmarks: a falling pile at three sizes, a soft lattice, and a fixed dense pile.
// Every contact runs one hook callback and is queued in MODE_UPDATE, as in the game.
// Counters: ns per mass-step, ns per constraint-step, contacts per step.
#include <benchmark/benchmark.h>

#include <chrono>

#include "gelsim/core/Scenes.h"
#include "gelsim/zones/ColEvent.h"
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

// Runs `total` steps and times the second half (the pile has landed by then).
void TimeSteadyHalf(benchmark::State& state, TScene& /*scene, kept alive by the caller*/, int32_t total,
                    double perMass, double perCon) {
    Observed obs;
    for (auto _ : state) {
        for (int32_t s = 0; s < total / 2; ++s) TPhysics::Update();
        obs.counter->contacts = 0;
        const auto t0 = std::chrono::steady_clock::now();
        for (int32_t s = total / 2; s < total; ++s) TPhysics::Update();
        const auto t1 = std::chrono::steady_clock::now();
        const double ns = std::chrono::duration<double, std::nano>(t1 - t0).count();
        const double steps = total - total / 2;
        state.SetIterationTime(ns * 1e-9);
        state.counters["us_per_step"] = ns / steps * 1e-3;
        if (perMass > 0) state.counters["ns_per_mass_step"] = ns / steps / perMass;
        if (perCon > 0) state.counters["ns_per_con_step"] = ns / steps / perCon;
        state.counters["contacts_per_step"] = static_cast<double>(obs.counter->contacts) / steps;
    }
}

void BM_Pile(benchmark::State& state) {
    const int32_t n = static_cast<int32_t>(state.range(0));
    TScene sc = BuildPile(n);
    TimeSteadyHalf(state, sc, 600, n, 0);
}
BENCHMARK(BM_Pile)->Arg(1000)->Arg(4000)->Arg(16000)->Iterations(1)->Repetitions(3)
    ->ReportAggregatesOnly(true)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Lattice(benchmark::State& state) {
    TScene sc = BuildLattice(40, 40);
    TimeSteadyHalf(state, sc, 600, static_cast<double>(sc.masses.size()), static_cast<double>(sc.constraints.size()));
}
BENCHMARK(BM_Lattice)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true)->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A hex-packed pile whose state is put back before every timed step, so the cost does
// not depend on how a pile settles.
void BM_DensePile(benchmark::State& state) {
    const int32_t n = static_cast<int32_t>(state.range(0));
    TScene sc = BuildHexPile(n);
    Observed obs;
    sc.SaveState();
    for (int32_t s = 0; s < 3; ++s) {  // pools and maps reach their working size
        sc.RestoreState();
        TPhysics::Update();
    }
    obs.counter->contacts = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sc.RestoreState();
        state.ResumeTiming();
        TPhysics::Update();
    }
    const double steps = static_cast<double>(state.iterations());
    state.counters["ns_per_mass_step"] =
        benchmark::Counter(steps * n, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["contacts_per_step"] = static_cast<double>(obs.counter->contacts) / steps;
}
BENCHMARK(BM_DensePile)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kin::gelsim

BENCHMARK_MAIN();
