// The testbed's frame on the headless backend at 1024 x 768: a settled pile of 4,000 discs
// with every overlay on (grid occupancy, quad trees, contacts, stress, groups, frozen marks,
// the box) and the text and step graph on top. FrameDraw is the drawing alone (paused), with
// all overlays and with none; FrameStepAndDraw adds the step and the collection of its
// contacts. The frame's budget is 16 ms of the drawing thread's time (the CPU column).
#include <benchmark/benchmark.h>

#include "platform/Graphics.h"
#include "scenes/Scenes.h"
#include "tools/testbed/Testbed.h"

namespace kin::testbed {
namespace {

constexpr int32_t W = 1024, H = 768;

struct Bench {
    Ref<TGraphics> g = CreateHeadlessGraphics(W, H);
    Testbed bed;
    explicit Bench(int32_t masses) : bed(Start()) {
        bed.Adopt(gelsim::BuildPile(masses), "pile");
        for (int k = 0; k < 300; ++k) bed.Step();  // settled, with contacts everywhere
        bed.overlays = OVERLAY_ALL;
        bed.running = false;
        bed.Draw(static_cast<float>(W), static_cast<float>(H));
    }
    Testbed::Options Start() {
        SetGraphics(g.Get());
        Testbed::Options o;
        o.inputs = {"scene:lattice"};
        return o;
    }
    ~Bench() { SetGraphics(nullptr); }
};

void FrameDraw(benchmark::State& state) {
    Bench b(static_cast<int32_t>(state.range(0)));
    b.bed.overlays = static_cast<uint32_t>(state.range(1));
    for (auto _ : state) b.bed.Draw(static_cast<float>(W), static_cast<float>(H));
}
// Second argument: the overlays (127 all, 0 none).
BENCHMARK(FrameDraw)->Args({4000, OVERLAY_ALL})->Args({4000, 0})->Unit(benchmark::kMillisecond);

void FrameStepAndDraw(benchmark::State& state) {
    Bench b(static_cast<int32_t>(state.range(0)));
    for (auto _ : state) {
        b.bed.Step();
        b.bed.Draw(static_cast<float>(W), static_cast<float>(H));
    }
}
BENCHMARK(FrameStepAndDraw)->Arg(4000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kin::testbed

BENCHMARK_MAIN();
