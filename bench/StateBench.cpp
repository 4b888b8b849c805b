// World states: how many bytes a state takes and how long saving and restoring take next to
// one step, on a pile of 4,000 discs and a 4,000-mass lattice (40 x 100, about 15,600
// constraints), each after 300 steps. Counters: bytes of the full state (zones and the
// pending contacts of the last step included), without zones, and of the stepping-back
// state (neither zones nor pending contacts), per mass too; the mass and constraint
// sections' bytes per mass and per constraint; ns per call and the call's time as a share
// of one step's, for saving the full and the stepping-back state, for restoring one step
// back (undo, with either) and for restoring the state the world is in. Times are the
// thread's CPU time.
#include <benchmark/benchmark.h>

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "gelsim/core/ColEvent.h"
#include "gelsim/state/WorldState.h"
#include "scenes/Scenes.h"

namespace kin::gelsim {
namespace {

double ThreadNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

// Mean time of f over enough calls to take about 0.2 s.
double MeanNs(const std::function<void()>& f) {
    int32_t n = 1;
    for (;;) {
        const double t0 = ThreadNs();
        for (int32_t k = 0; k < n; ++k) f();
        const double t = ThreadNs() - t0;
        if (t > 2e8 || n >= (1 << 20)) return t / n;
        n *= 2;
    }
}

void Measure(benchmark::State& state, TScene (*build)(), int32_t settle) {
    for (auto _ : state) {
        TScene sc = build();
        for (int32_t s = 0; s < settle; ++s) TPhysics::Update();
        TPhysics& w = *sc.world;
        const std::vector<uint8_t> full = SaveState(w);
        const std::vector<uint8_t> bare = SaveState(w, false);
        const std::vector<uint8_t> back = SaveState(w, false, false);
        // Steps go on from the saved state (a fifth of a second of them).
        const double stepOnly = MeanNs([] { TPhysics::Update(); });
        // Undo of one step: a step (not timed), then the restore (timed).
        double undo = 0;
        constexpr int32_t kUndos = 100;
        for (int32_t k = 0; k < kUndos; ++k) {
            TPhysics::Update();
            const double t0 = ThreadNs();
            RestoreState(w, full.data(), full.size());
            undo += ThreadNs() - t0;
        }
        undo /= kUndos;
        double undoBack = 0;
        for (int32_t k = 0; k < kUndos; ++k) {
            TPhysics::Update();
            const double t0 = ThreadNs();
            RestoreState(w, back.data(), back.size());
            undoBack += ThreadNs() - t0;
        }
        undoBack /= kUndos;
        const double saveBack = MeanNs([&] { benchmark::DoNotOptimize(SaveState(w, false, false).data()); });
        // Restoring the state the world is in already (nothing to move).
        const double restore = MeanNs([&] { RestoreState(w, full.data(), full.size()); });
        const double save = MeanNs([&] { benchmark::DoNotOptimize(SaveState(w).data()); });
        int32_t masses = 0, cons = 0;
        for (int32_t e = 0; e < w.massCount; ++e) masses += w.massArray[static_cast<size_t>(e)] ? 1 : 0;
        for (int32_t e = 0; e < w.conCount; ++e) cons += w.conArray[static_cast<size_t>(e)] ? 1 : 0;
        state.counters["masses"] = masses;
        state.counters["constraints"] = cons;
        state.counters["bytes"] = static_cast<double>(full.size());
        state.counters["bytes_no_zones"] = static_cast<double>(bare.size());
        state.counters["step_ns"] = stepOnly;
        state.counters["save_ns"] = save;
        state.counters["restore_ns"] = restore;
        state.counters["save_per_step"] = save / stepOnly;
        state.counters["restore_per_step"] = restore / stepOnly;
        state.counters["undo_ns"] = undo;
        state.counters["undo_per_step"] = undo / stepOnly;
        state.counters["bytes_per_mass"] = static_cast<double>(full.size()) / masses;
        state.counters["bytes_back"] = static_cast<double>(back.size());
        state.counters["bytes_back_per_mass"] = static_cast<double>(back.size()) / masses;
        state.counters["save_back_per_step"] = saveBack / stepOnly;
        state.counters["undo_back_per_step"] = undoBack / stepOnly;
        // The format's sections are a tag and a length each, after a 12-byte header.
        for (size_t p = 12; p + 8 <= full.size();) {
            const std::string tag(reinterpret_cast<const char*>(&full[p]), 4);
            const uint32_t len = uint32_t(full[p + 4]) | uint32_t(full[p + 5]) << 8 | uint32_t(full[p + 6]) << 16 |
                                 uint32_t(full[p + 7]) << 24;
            if (tag == "MASS") state.counters["mass_section_per_mass"] = static_cast<double>(len) / masses;
            if (tag == "CONS" && cons > 0) state.counters["con_section_per_con"] = static_cast<double>(len) / cons;
            p += 8 + len;
        }
        TColEvent::Flush();
        TPhysics::Free();
    }
}

TScene Pile() { return BuildPile(4000); }
TScene Lattice() { return BuildLattice(40, 100); }

void BM_StatePile4000(benchmark::State& s) { Measure(s, Pile, 300); }
void BM_StateLattice4000(benchmark::State& s) { Measure(s, Lattice, 300); }
BENCHMARK(BM_StatePile4000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StateLattice4000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kin::gelsim

BENCHMARK_MAIN();
