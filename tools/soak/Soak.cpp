// slime-soak: plays the game headless for many frames with random clicks and reports
// whether it stays healthy: live heap, frame cost, the structure's table sizes and any
// position that is not a number. Exit 1 when something is wrong.
//
// Usage: slime-soak [FRAMES] [SEED]   (run from the repository root, as ./run does)
#include <malloc.h>

#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "app/Game.h"
#include "app/Scene.h"
#include "app/Undo.h"
#include "gelsim/core/Physics.h"
#include "media/BuiltinMedia.h"
#include "platform/Event.h"
#include "platform/System.h"

namespace {

using kin::gelsim::TAdvBody;
using kin::gelsim::TPhysics;

#if defined(__SANITIZE_ADDRESS__)
}  // namespace
// The sanitizer's allocator keeps its own books; malloc's statistics see nothing. (Its
// header does not come with g++.)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
namespace {
size_t LiveHeap() { return __sanitizer_get_current_allocated_bytes(); }
#else
size_t LiveHeap() { return mallinfo2().uordblks; }
#endif

// CPU time of this thread: on a shared machine, time spent waiting for a processor is left out.
double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Window {
    double seconds = 0;
    int64_t frames = 0;
    double MicrosPerFrame() const { return frames ? 1e6 * seconds / static_cast<double>(frames) : 0.0; }
};

}  // namespace

int main(int argc, char** argv) {
    const int64_t frames = argc > 1 ? std::atoll(argv[1]) : 100000;
    const uint32_t seed = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 1;
    if (frames < 1000) {
        std::fprintf(stderr, "slime-soak: at least 1000 frames, please\n");
        return 2;
    }
    slime::RegisterBuiltinMedia();
    std::string error;
    if (!kin::InitServices(kin::Backend::Headless, &error)) {
        std::fprintf(stderr, "slime-soak: %s\n", error.c_str());
        return 1;
    }
    slime::StartUp();
    kin::FlushEvents();
    slime::GameState& g = slime::Game();
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> px(0.0f, 450.0f), py(0.0f, 600.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_int_distribution<int> gap(2, 12);

    // Warm-up is the first tenth; the heap and frame cost afterwards are compared with the
    // level they had just after it.
    const int64_t warm = frames / 10;
    size_t heapAfterWarm = 0, heapMax = 0, historyMax = 0;
    Window first, last;
    int64_t nextClick = gap(rng);
    bool bad = false;
    double stepSeconds = 0, drawSeconds = 0;  // this tenth of the run
    for (int64_t f = 0; f < frames; ++f) {
        // The pointer wanders, mostly over the lower half where the structure is.
        g.pointerX = px(rng);
        g.pointerY = 100.0f + 0.8f * py(rng);
        if (f == nextClick) {
            // Most clicks land near a random blob: in strand reach while the structure has
            // fewer than 30 blobs (they add one), on it otherwise (they remove it), so blobs
            // come and go all the time; the others land anywhere.
            TAdvBody& b = *slime::Scene().slime->ab;
            const int32_t n = b.MassMaxIndex() + 1;
            int32_t live = 0;
            for (int32_t j = 0; j < n; ++j) live += b.MassExists(j);
            const int32_t i = n > 0 ? static_cast<int32_t>(rng() % static_cast<uint32_t>(n)) : -1;
            if (rng() % 5 && i >= 0 && b.MassExists(i)) {
                const float a = 6.2831853f * unit(rng), r = live < 30 ? 55.0f + 45.0f * unit(rng) : 9.0f * unit(rng);
                const float wx = b.MassGetX(i) + r * std::cos(a), wy = b.MassGetY(i) + r * std::sin(a);
                g.pointerX = TPhysics::ScreenX(wx, wy);
                g.pointerY = TPhysics::ScreenY(wx, wy);
            }
            slime::HandleClick(g.pointerX, g.pointerY);
            nextClick = f + gap(rng);
        }
        const double t0 = ThreadSeconds();
        TPhysics::Update();
        const double t1 = ThreadSeconds();
        slime::DrawFrame();
        const double t2 = ThreadSeconds();
        const double dt = t2 - t0;
        stepSeconds += t1 - t0;
        drawSeconds += t2 - t1;
        if (f >= warm && f < warm + frames / 10) {
            first.seconds += dt;
            ++first.frames;
        }
        if (f >= frames - frames / 10) {
            last.seconds += dt;
            ++last.frames;
        }
        // The undo history fills up to its hundred levels as the game goes on; its states are
        // counted apart (they are bounded by the levels, not by the length of the game).
        const size_t history = slime::History().Bytes();
        historyMax = std::max(historyMax, history);
        if (f == warm) heapAfterWarm = LiveHeap() - history;
        if (f > warm) heapMax = std::max(heapMax, LiveHeap() - history);

        TAdvBody& b = *slime::Scene().slime->ab;
        for (int32_t i = 0; i <= b.MassMaxIndex(); ++i)
            if (b.MassExists(i) && !(std::isfinite(b.MassGetX(i)) && std::isfinite(b.MassGetY(i)))) {
                std::fprintf(stderr, "slime-soak: frame %lld: blob %d is at (%g, %g)\n", static_cast<long long>(f), i,
                             static_cast<double>(b.MassGetX(i)), static_cast<double>(b.MassGetY(i)));
                bad = true;
            }
        if (bad) break;
        if ((f + 1) % (frames / 10) == 0) {
            int32_t live = 0;
            for (int32_t i = 0; i <= b.MassMaxIndex(); ++i) live += b.MassExists(i);
            const double n = static_cast<double>(frames / 10);
            std::printf("frame %7lld: %4d blobs (table %5d), strand table %5d, heap %8zu bytes, step %5.0f us, draw %5.0f us, view %6.0f\n",
                        static_cast<long long>(f + 1), live, b.MassMaxIndex() + 1, b.ConMaxIndex() + 1, LiveHeap(),
                        1e6 * stepSeconds / n, 1e6 * drawSeconds / n, static_cast<double>(slime::Scene().viewY));
            stepSeconds = drawSeconds = 0;
            std::fflush(stdout);
        }
    }
    const long long growth = static_cast<long long>(heapMax) - static_cast<long long>(heapAfterWarm);
    std::printf("heap: %zu bytes after warm-up, at most %zu later (%+lld), besides at most %zu bytes of undo states "
                "(%zu levels kept)\n",
                heapAfterWarm, heapMax, growth, historyMax, slime::History().undo.size() + slime::History().redo.size());
    std::printf("frame cost: %.0f us early, %.0f us late\n", first.MicrosPerFrame(), last.MicrosPerFrame());
    if (growth > 64 * 1024) {
        std::fprintf(stderr, "slime-soak: the heap grew by %lld bytes after warm-up\n", growth);
        bad = true;
    }
    slime::ResetGame();
    TPhysics::Free();
    kin::ShutdownServices();
    return bad ? 1 : 0;
}
