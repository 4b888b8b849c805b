// gelsim-testbed: watch, drive and debug gelsim scenes in a window.
//
//   gelsim-testbed [FILE.plb|FILE.plz ...|scene:NAME] [--size WxH] [--dump FILE] [--shots PREFIX]
//
// Without names it opens the menu of sample scenes. --dump writes a few lines of state
// after every frame (for scripted checks); H in the window lists the keys.
#include <cstdio>
#include <string>
#include <vector>

#include "gelsim/core/Physics.h"
#include "platform/Event.h"
#include "platform/Graphics.h"
#include "platform/Hook.h"
#include "platform/System.h"
#include "platform/Timer.h"
#include "platform/Window.h"
#include "tools/testbed/Testbed.h"

namespace {

using namespace kin;
using kin::testbed::Testbed;

struct App {
    Testbed* bed = nullptr;
    Ref<TGadget> window;
    Ref<TGadget> canvas;
    bool closed = false;
};
App app;

void DrawFrame() {
    if (app.closed || !app.canvas) return;
    SetGraphics(CanvasGraphics(app.canvas.Get()));
    app.bed->Draw(static_cast<float>(GraphicsWidth()), static_cast<float>(GraphicsHeight()));
    Flip(0);
}

Ref<TObject> OnEvent(int32_t, TObject* data, TObject*) {
    TEvent* ev = As<TEvent>(data);
    if (!ev || !app.bed) return Ref<TObject>(data);
    const float x = static_cast<float>(ev->x), y = static_cast<float>(ev->y);
    switch (ev->id) {
        case EVENT_MOUSEDOWN: app.bed->MouseDown(ev->data, x, y); break;
        case EVENT_MOUSEUP: app.bed->MouseUp(ev->data, x, y); break;
        case EVENT_MOUSEMOVE: app.bed->MouseMove(x, y); break;
        case EVENT_MOUSEWHEEL: app.bed->Wheel(static_cast<float>(ev->data), x, y); break;
        case EVENT_KEYDOWN: app.bed->KeyDown(ev->data); break;
        case EVENT_GADGETPAINT: DrawFrame(); break;
        case EVENT_WINDOWSIZE:
            if (app.canvas) app.canvas->Activate(ACTIVATE_REDRAW);
            break;
        case EVENT_WINDOWCLOSE: app.bed->quit = true; break;
        default: break;
    }
    return Ref<TObject>(data);
}

int Usage() {
    std::fputs("usage: gelsim-testbed [FILE.plb|FILE.plz ...|scene:NAME] [--size WxH] [--dump FILE] [--shots PREFIX]\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Testbed::Options options;
    int w = 1024, h = 768;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--dump" && i + 1 < argc) {
            options.dumpPath = argv[++i];
        } else if (a == "--shots" && i + 1 < argc) {
            options.shotPrefix = argv[++i];
        } else if (a == "--size" && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%dx%d", &w, &h) != 2 || w < 64 || h < 64 || w > 8192 || h > 8192) return Usage();
        } else if (!a.empty() && a[0] == '-') {
            return Usage();
        } else {
            options.inputs.push_back(a);
        }
    }
    std::string error;
    if (!InitServices(Backend::Window, &error)) {
        std::fprintf(stderr, "gelsim-testbed: %s\n", error.c_str());
        return 1;
    }
    app.window = CreateWindow("gelsim testbed", 0, 0, w, h, nullptr,
                              WINDOW_TITLEBAR | WINDOW_RESIZABLE | WINDOW_CLIENTCOORDS | WINDOW_CENTER);
    if (!app.window) {
        std::fputs("gelsim-testbed: the window could not be opened\n", stderr);
        ShutdownServices();
        return 1;
    }
    app.canvas = CreateCanvas(0, 0, app.window->ClientWidth(), app.window->ClientHeight(), app.window.Get(), 0);
    app.canvas->SetLayout(1, 1, 1, 1);
    SetGraphics(CanvasGraphics(app.canvas.Get()));  // the world's view measures the canvas
    AddHook(EmitEventHook(), OnEvent, nullptr, 0);
    int status = 0;
    {
        Testbed bed(options);
        app.bed = &bed;
        Ref<TTimer> timer = TTimer::Create(60.0f);
        int32_t lastTicks = timer->Ticks();
        while (!bed.quit) {
            WaitEvent();
            if (bed.quit) break;
            const int32_t ticks = timer->Ticks();
            if (ticks != lastTicks) {
                bed.Tick();  // ticks missed while stepping and drawing are not made up
                DrawFrame();
                lastTicks = timer->Ticks();
            }
        }
        timer->Stop();
        app.bed = nullptr;
    }
    RemoveHook(EmitEventHook(), OnEvent, nullptr);
    gelsim::TPhysics::Free();
    app.canvas = nullptr;
    app.window = nullptr;
    ShutdownServices();
    return status;
}
