// Frame benchmarks of the game on the headless backend: a structure of 1,000 blobs on a
// triangular lattice (about 2,870 strands) standing on the ground, drawn on a 450 x 600
// and a 1920 x 1080 canvas. A frame is one world step and one drawn, presented picture,
// as the game loop does them. Counters: the step's and the drawing's share in ms per
// frame; times are the thread's CPU time.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "app/Game.h"
#include "app/Scene.h"
#include "gelsim/core/Physics.h"
#include "media/BuiltinMedia.h"
#include "platform/Graphics.h"
#include "platform/Event.h"
#include "platform/Hook.h"
#include "platform/System.h"
#include "platform/Window.h"

namespace {

using kin::gelsim::TAdvBody;
using kin::gelsim::TPhysics;

// With GELSIM_FRAME_WINDOW set the game opens a real window with the accelerated renderer
// (on this machine's software OpenGL, which draws on threads of its own): frames are then
// timed on the wall clock, vertical sync should be off (SDL_RENDER_VSYNC=0), and the window
// is resized to the arguments' size (the screen must hold it; the canvas reports its size).
const bool gWindowed = std::getenv("GELSIM_FRAME_WINDOW") != nullptr;

double ThreadMs() {
    timespec t{};
    clock_gettime(gWindowed ? CLOCK_MONOTONIC : CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + 1e-6 * static_cast<double>(t.tv_nsec);
}

// The game started headless with its structure replaced by rows x cols blobs 38 apart in
// rows 35 apart, each row shifted by half a blob, tied to the blob on its left and the two
// below it; the bottom row rests on the ground.
struct Game {
    explicit Game(int32_t w, int32_t h, int32_t rows = 40, int32_t cols = 25) {
        std::filesystem::current_path(SOURCE_ROOT);
        slime::RegisterBuiltinMedia();
        std::string error;
        ok = kin::InitServices(gWindowed ? kin::Backend::Window : kin::Backend::Headless, &error);
        if (!ok) return;
        slime::ResetGame();
        slime::wobblePhase = 0;  // every run draws the same frames
        slime::StartUp();
        kin::FlushEvents();
        if (!gWindowed) kin::CanvasGraphics(slime::Game().canvas)->Resize(w, h);
        slime::Scene().slime->ab = TAdvBody::Create();
        TAdvBody& b = *slime::Scene().slime->ab;
        for (int32_t r = 0; r < rows; ++r)
            for (int32_t c = 0; c < cols; ++c) {
                const float x = 40.0f + 38.0f * static_cast<float>(c) + (r % 2 ? 19.0f : 0.0f);
                const int32_t i = b.MassAdd(x, 4060.0f - 35.0f * static_cast<float>(r), 10.0f, 10.0f, 1.0f, 1);
                if (c > 0) b.ConAssign(b.ConAdd(i, i - 1, -1.0f, 0.5f));
                if (r > 0) {
                    // Odd rows sit to the right of the row below: their neighbours below are
                    // c and c + 1; even rows' are c - 1 and c.
                    const int32_t below = i - cols;
                    const bool odd = r % 2 != 0;
                    if (odd || c > 0) b.ConAssign(b.ConAdd(i, odd ? below : below - 1, -1.0f, 0.5f));
                    if (!odd || c + 1 < cols) b.ConAssign(b.ConAdd(i, odd ? below + 1 : below, -1.0f, 0.5f));
                }
            }
        if (gWindowed) {
            // The game's one window; the canvas follows its size once the change arrives (and
            // is drawn meanwhile, with this structure, as the headless frames are).
            for (Uint32 id = 1; id < 64; ++id)
                if (SDL_Window* window = SDL_GetWindowFromID(id)) SDL_SetWindowSize(window, w, h);
            for (int i = 0; i < 200 && kin::CanvasGraphics(slime::Game().canvas)->Width() != w; ++i) {
                while (kin::PollEvent()) {
                }
                SDL_Delay(5);
            }
        }
        // The pointer in the middle of the canvas, away from the scrolling edges.
        slime::Game().pointerX = 0.5f * static_cast<float>(w);
        slime::Game().pointerY = 0.5f * static_cast<float>(h);
    }
    ~Game() {
        if (!ok) return;
        kin::RemoveHook(kin::EmitEventHook(), slime::OnEvent, nullptr);
        TPhysics::Free();
        slime::ResetGame();
        kin::ShutdownServices();
    }
    bool ok = false;
};

void Frame(benchmark::State& state) {
    const int32_t w = static_cast<int32_t>(state.range(0)), h = static_cast<int32_t>(state.range(1));
    Game game(w, h);
    if (!game.ok) {
        state.SkipWithError("no headless services");
        return;
    }
    // Let the structure settle onto the ground first.
    for (int32_t i = 0; i < 60; ++i) {
        TPhysics::Update();
        slime::DrawFrame();
    }
    // With GELSIM_FRAME_DUMP set to a folder, the last settling frame's pixels go to
    // frame_WxH.rgba there (raw RGBA rows), for comparing the drawing of two builds.
    if (const char* dir = std::getenv("GELSIM_FRAME_DUMP")) {
        const std::vector<uint8_t> px = kin::CanvasGraphics(slime::Game().canvas)->ReadPixels();
        const std::string path = std::string(dir) + "/frame_" + std::to_string(w) + "x" + std::to_string(h) + ".rgba";
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(px.data(), 1, px.size(), f);
            std::fclose(f);
        }
    }
    double step = 0, draw = 0;
    for (auto _ : state) {
        const double t0 = ThreadMs();
        TPhysics::Update();
        const double t1 = ThreadMs();
        slime::DrawFrame();
        const double t2 = ThreadMs();
        step += t1 - t0;
        draw += t2 - t1;
    }
    TAdvBody& b = *slime::Scene().slime->ab;
    int32_t blobs = 0, strands = 0;
    for (int32_t i = 0; i <= b.MassMaxIndex(); ++i) blobs += b.MassExists(i);
    for (int32_t k = 0; k <= b.ConMaxIndex(); ++k) strands += b.ConExists(k);
    const double n = static_cast<double>(state.iterations());
    state.counters["step_ms"] = step / n;
    state.counters["draw_ms"] = draw / n;
    state.counters["frame_ms"] = (step + draw) / n;
    state.counters["blobs"] = blobs;
    state.counters["canvas_w"] = kin::CanvasGraphics(slime::Game().canvas)->Width();
    state.counters["canvas_h"] = kin::CanvasGraphics(slime::Game().canvas)->Height();
    state.counters["software"] = kin::CanvasGraphics(slime::Game().canvas)->IsSoftware() ? 1 : 0;
    state.counters["strands"] = strands;
}
BENCHMARK(Frame)->Args({450, 600})->Args({1920, 1080})->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
