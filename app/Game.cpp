#include "app/Game.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "app/Scene.h"
#include "gelsim/core/Physics.h"
#include "media/BuiltinMedia.h"
#include "platform/Graphics.h"
#include "platform/Hook.h"

namespace slime {

using namespace kin;
using gelsim::TPhysics;

namespace {

// The help panel's lines, made once: a panel shown for a while allocates nothing per frame.
struct HelpLine {
    std::string keys;
    std::string what;
};
const std::array<HelpLine, 5>& HelpLines() {
    static const std::array<HelpLine, 5> lines = {{
        {"Click a blob", "remove it"},
        {"Click elsewhere", "add a blob where a ghost shows"},
        {"Pointer at an edge", "scroll (top or bottom)"},
        {"H", "show / hide this help"},
        {"Esc", "quit"},
    }};
    return lines;
}

// The keys in the default font on a dark panel near the top of the canvas, over whatever
// the frame drew; narrow windows clip the right-hand column rather than the keys.
void DrawHelp(float w) {
    SetImageFont(nullptr);
    const float lineH = static_cast<float>(std::max(TextHeight("M"), 1)) + 4.0f;
    float keysW = 0.0f, whatW = 0.0f;
    for (const HelpLine& l : HelpLines()) {
        keysW = std::max(keysW, static_cast<float>(TextWidth(l.keys)));
        whatW = std::max(whatW, static_cast<float>(TextWidth(l.what)));
    }
    const float col = keysW + 12.0f, panelW = col + whatW + 20.0f;
    const float px = std::max(10.0f, (w - panelW) * 0.5f + 10.0f), py = 50.0f;
    SetAlpha(0.8f);
    SetColor(10, 10, 30);
    DrawRect(px - 10.0f, py - 8.0f, panelW, lineH * static_cast<float>(HelpLines().size()) + 16.0f);
    SetAlpha(1.0f);
    float y = py;
    for (const HelpLine& l : HelpLines()) {
        SetColor(255, 220, 120);
        DrawText(l.keys, px, y);
        SetColor(255, 255, 255);
        DrawText(l.what, px + col, y);
        y += lineH;
    }
}

}  // namespace

void CloseGame() {
    GameState& g = Game();
    if (g.closed) return;
    // The world goes first, then the graphics; the loop then ends with status 0. The hash
    // and the recording's end are taken from the world as it was last seen.
    g.finalHash = WorldHash();
    if (g.recorder) g.recorder->End(Counters().steps);
    TPhysics::Free();
    g.closed = true;
    EndGraphics();
}

GameState& Game() {
    static GameState state;
    return state;
}

GameCounters& Counters() {
    static GameCounters counters;
    return counters;
}

void ResetGame() {
    ResetScene();
    Game() = GameState{};
    Counters() = GameCounters{};
}

void PlayRemoveSound() {
    ++Counters().removeSounds;
    PlaySound(Game().soundRemove.Get());
}

void PlayAddSound() {
    ++Counters().addSounds;
    PlaySound(Game().soundAdd.Get());
}

bool DataFileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

std::string FindDataFile(const std::string& relative) {
    namespace fs = std::filesystem;
    if (DataFileExists(relative) || fs::path(relative).is_absolute()) return relative;
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return relative;
    // The build folder sits inside the source tree: build/slime-tower finds ../media/.
    for (const fs::path& dir : {exe.parent_path(), exe.parent_path().parent_path()}) {
        const fs::path candidate = dir / relative;
        if (DataFileExists(candidate.string())) return candidate.string();
    }
    return relative;
}

void StartUp() {
    GameState& g = Game();
    g.window = CreateWindow("Slime Tower", 0, 0, 450, 600, nullptr, 0x203);
    g.canvas = CreateCanvas(0, 0, g.window->ClientWidth(), g.window->ClientHeight(), g.window, 0);
    g.canvas->SetLayout(1, 1, 1, 1);
    g.timer = TTimer::Create(60.0f);
    AddHook(EmitEventHook(), OnEvent, nullptr, 0);
    TPhysics::Create(1024.0f, 4096.0f, 0.1f, 0.0f, 1);
    g.soundRemove = TSound::Load("incbin::media/AlienSquidge02.wav", 0);
    g.soundAdd = TSound::Load("incbin::media/AlienSquidge06.wav", 0);
    SetUpScene();
    g.window->Activate(ACTIVATE_FOCUS);
    g.window->Activate(ACTIVATE_MAXIMIZE);
}

void DrawFrame() {
    GameState& g = Game();
    SetGraphics(CanvasGraphics(g.canvas));
    const float w = static_cast<float>(GraphicsWidth());
    const float h = static_cast<float>(GraphicsHeight());
    SetViewport(0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h));
    DrawScene(w, h, g.pointerX, g.pointerY);
    if (g.showHelp) DrawHelp(w);
    Flip(-1);
    ++Counters().frames;
    MoveCeiling();
}

Ref<TObject> OnEvent(int32_t /*hookId*/, TObject* data, TObject* /*context*/) {
    TEvent* ev = As<TEvent>(data);
    if (!ev) return Ref<TObject>(data);
    GameState& g = Game();
    switch (ev->id) {
        case EVENT_MOUSEDOWN:
            // A replay plays the recorded clicks only: the player's would change its world.
            if (!g.replay) HandleClick(static_cast<float>(ev->x), static_cast<float>(ev->y));
            break;
        case EVENT_MOUSEMOVE:
            g.pointerX = static_cast<float>(ev->x);
            g.pointerY = static_cast<float>(ev->y);
            break;
        case EVENT_GADGETPAINT:
            // A frame changes the world (it drops loose blobs and moves the ceiling), so a
            // repaint is recorded; a replay plays the recorded ones instead and leaves the
            // window to the next tick's frame.
            if (g.closed || g.replay) break;
            if (g.recorder) g.recorder->Frame(Counters().steps);
            DrawFrame();
            break;
        case EVENT_WINDOWSIZE:
            if (g.canvas) g.canvas->Activate(ACTIVATE_REDRAW);
            break;
        case EVENT_WINDOWCLOSE:
            CloseGame();
            break;
        case EVENT_KEYDOWN:
            if (ev->data == KEY_ESCAPE)
                CloseGame();
            else if (ev->data == 'h')
                g.showHelp = !g.showHelp;  // drawn from the next frame on
            break;
        default:
            break;  // ticks included: the loop reads the tick count itself
    }
    return Ref<TObject>(data);
}

bool LoopPass() {
    GameState& g = Game();
    if (g.closed) return false;
    WaitEvent();
    if (g.closed) return false;
    const int32_t ticks = g.timer->Ticks();
    if (ticks != g.lastTicks) {
        if (g.replay) {
            if (!ReplayStep()) CloseGame();
        } else {
            TPhysics::Update();
            ++Counters().steps;
            DrawFrame();
        }
        // A tick that arrived while stepping and drawing is absorbed, not made up later.
        g.lastTicks = g.timer->Ticks();
    }
    return !g.closed;
}

bool ReplayStep() {
    GameState& g = Game();
    if (!g.replay || g.closed) return false;
    const int64_t step = Counters().steps;
    const std::vector<ReplayEntry>& entries = g.replay->entries;
    while (g.replayNext < entries.size() && entries[g.replayNext].step <= step) {
        const ReplayEntry& e = entries[g.replayNext++];
        if (e.kind == ReplayEntry::Kind::Click)
            ClickAt(e.x, e.y);
        else
            DrawFrame();
    }
    if (step >= g.replay->endStep) return false;
    TPhysics::Update();
    ++Counters().steps;
    DrawFrame();
    return true;
}

int RunGame(Backend backend) {
    slime::RegisterBuiltinMedia();
    std::string error;
    if (!InitServices(backend, &error)) {
        std::fprintf(stderr, "slime-tower: %s\n", error.c_str());
        return 1;
    }
    StartUp();
    while (LoopPass()) {
    }
    ShutdownServices();
    return 0;
}

int GameMain(int argc, const char* const* argv) {
    GameOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, options, &error)) {
        std::fprintf(stderr, "slime-tower: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    ReplayScript script;
    if (!options.replay.empty() && !ReadReplay(options.replay, script, &error)) {
        std::fprintf(stderr, "slime-tower: %s\n", error.c_str());
        return 2;
    }
    ReplayWriter writer;
    if (!options.record.empty() && !writer.Open(options.record, &error)) {
        std::fprintf(stderr, "slime-tower: %s\n", error.c_str());
        return 2;
    }

    slime::RegisterBuiltinMedia();
    if (!InitServices(options.headless ? Backend::Headless : Backend::Window, &error)) {
        std::fprintf(stderr, "slime-tower: %s\n", error.c_str());
        return 1;
    }
    GameState& g = Game();
    if (!options.record.empty()) g.recorder = &writer;
    if (!options.replay.empty()) g.replay = &script;
    StartUp();
    if (options.headless) {
        // Nothing waits for ticks: the world takes the recorded steps as fast as it can.
        while (ReplayStep()) {
        }
        CloseGame();
    } else {
        while (LoopPass()) {
        }
    }
    ShutdownServices();
    g.recorder = nullptr;
    g.replay = nullptr;
    if (options.hash) std::printf("%s\n", HashLine(g.finalHash).c_str());
    if (!writer.Failed().empty()) {
        std::fprintf(stderr, "slime-tower: %s\n", writer.Failed().c_str());
        return 1;
    }
    return 0;
}

}  // namespace slime
