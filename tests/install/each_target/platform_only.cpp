// Uses the platform library alone: the headless backend clears a small canvas.
#include <cstdio>

#include "platform/Graphics.h"
#include "platform/System.h"

int main() {
    using namespace kin;
    if (!InitServices(Backend::Headless)) return 1;
    Ref<TGraphics> g = CreateHeadlessGraphics(8, 8);
    if (!g) return 1;
    SetGraphics(g.Get());
    SetClsColor(10, 20, 30);
    Cls();
    const bool ok = g->PixelAt(4, 4) == 0x0a141eff;
    SetGraphics(nullptr);
    ShutdownServices();
    std::printf("platform: %s\n", ok ? "ok" : "WRONG");
    return ok ? 0 : 1;
}
