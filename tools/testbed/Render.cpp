#include "tools/testbed/Render.h"

#include <cstdio>
#include <exception>

#include "gelsim/core/Physics.h"
#include "platform/Graphics.h"
#include "tools/testbed/DebugDraw.h"

namespace kin::testbed {
namespace {

int Usage() {
    std::fputs("usage: gelsim render FILE...|scene:NAME -o OUT.png [--steps N] [--size WxH] [--overlay NAME...]\n"
               "       overlays: grid quadtree contacts stress groups frozen box all\n",
               stderr);
    return 2;
}

bool ParseInt(const std::string& s, int32_t lo, int32_t hi, int32_t& out) {
    if (s.empty() || s.size() > 9) return false;
    int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi) return false;
    out = static_cast<int32_t>(v);
    return true;
}

}  // namespace

int RenderCommand(const std::vector<std::string>& args) {
    std::vector<std::string> inputs;
    std::string out;
    int32_t steps = 0, w = 800, h = 600;
    uint32_t overlays = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-o" && i + 1 < args.size()) {
            out = args[++i];
        } else if (a == "--steps" && i + 1 < args.size()) {
            if (!ParseInt(args[++i], 0, 1000000, steps)) return Usage();
        } else if (a == "--size" && i + 1 < args.size()) {
            const std::string& s = args[++i];
            const size_t x = s.find('x');
            if (x == std::string::npos || !ParseInt(s.substr(0, x), 1, 8192, w) || !ParseInt(s.substr(x + 1), 1, 8192, h))
                return Usage();
        } else if (a == "--overlay") {
            bool any = false;
            while (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') {
                const uint32_t bit = OverlayByName(args[i + 1]);
                if (!bit) {
                    // A name that is not an overlay ends the list (an input file may follow).
                    if (any) break;
                    std::fprintf(stderr, "render: unknown overlay \"%s\"\n", args[i + 1].c_str());
                    return 2;
                }
                overlays |= bit;
                any = true;
                ++i;
            }
            if (!any) return Usage();
        } else if (!a.empty() && a[0] != '-') {
            inputs.push_back(a);
        } else {
            return Usage();
        }
    }
    if (inputs.empty() || out.empty()) return Usage();

    Ref<TGraphics> g = CreateHeadlessGraphics(w, h);
    if (!g) {
        std::fprintf(stderr, "render: cannot make a %dx%d picture\n", w, h);
        return 1;
    }
    SetGraphics(g.Get());
    int status = 0;
    try {
        gelsim::TScene scene = BuildFromArgs(inputs, FindMediaDir());
        std::vector<Contact> contacts;
        for (int32_t k = 0; k < steps; ++k) StepAndCollect(contacts);
        FitView(static_cast<float>(w), static_cast<float>(h));
        DrawWorld(overlays, contacts);
        std::string why;
        if (!SaveScreenshot(out, &why)) {
            std::fprintf(stderr, "render: %s\n", why.c_str());
            status = 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "render: %s\n", e.what());
        status = 1;
    }
    gelsim::TPhysics::Free();
    SetGraphics(nullptr);
    return status;
}

}  // namespace kin::testbed
