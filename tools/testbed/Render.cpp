#include "tools/testbed/Render.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>

#include "gelsim/core/Mass.h"
#include "gelsim/core/Physics.h"
#include "gelsim/zones/Zone.h"
#include "platform/Graphics.h"
#include "tools/testbed/DebugDraw.h"

namespace kin::testbed {
namespace {

constexpr const char* USAGE =
    "usage: gelsim render FILE...|scene:NAME -o OUT.png [--steps N] [--size WxH] [--overlay NAME...]\n"
    "  FILE...        body (.plb) and zone (.plz) files: bodies stacked from the floor of a\n"
    "                 1024 x 4096 box up, zones where their file puts them\n"
    "  scene:NAME     a sample scene: pile lattice terrain slime stack mixed\n"
    "  --steps N      steps taken before drawing (default 0)\n"
    "  --size WxH     picture size in pixels, 1 to 8192 each (default 800x600)\n"
    "  --overlay ...  grid quadtree contacts stress groups frozen box all\n"
    "The picture is framed on what is drawn: the box, down to the part of it that holds\n"
    "masses, when every mass and zone lies inside it; otherwise the smallest area that\n"
    "holds every mass and every zone's outline.\n";

int Usage() {
    std::fputs(USAGE, stderr);
    return 2;
}

// A wrong value for an option: what was given and what is wanted, then the usage.
int BadValue(const std::string& option, const std::string& value, const char* wanted) {
    std::fprintf(stderr, "render: %s %s: %s\n", option.c_str(), value.c_str(), wanted);
    return Usage();
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

// Smallest rectangle holding every mass's disc and every zone's outline, in world units;
// false when there is nothing finite to hold.
struct Extent {
    float minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    void Add(float x, float y, float r) {
        if (!std::isfinite(x) || !std::isfinite(y)) return;
        r = std::isfinite(r) ? std::max(r, 0.0f) : 0.0f;
        minX = std::min(minX, x - r);
        minY = std::min(minY, y - r);
        maxX = std::max(maxX, x + r);
        maxY = std::max(maxY, y + r);
    }
    bool Empty() const { return !(minX <= maxX && minY <= maxY); }
};

Extent DrawnExtent(const gelsim::TPhysics& world) {
    Extent e;
    for (int32_t k = 0; k < world.massCount; ++k)
        if (const gelsim::TMass* m = world.massArray[static_cast<size_t>(k)].Get()) e.Add(m->posX, m->posY, m->radius);
    for (int32_t k = 0; k < world.zoneCount; ++k)
        if (const gelsim::TZone* z = As<gelsim::TZone>(world.zoneArray[static_cast<size_t>(k)].Get()))
            for (size_t i = 0; i + 1 < z->area.size(); i += 2) e.Add(z->area[i] + z->offsetX, z->area[i + 1] + z->offsetY, 0.0f);
    return e;
}

// Frames the picture on what it shows. Files may keep zones (and the step may leave masses)
// outside the box, where the testbed's view of the box would leave them out of the
// picture: then the picture holds all of them.
void FrameView(float w, float h) {
    const gelsim::TPhysics& world = *gelsim::TPhysics::currentWorld;
    Extent e = DrawnExtent(world);
    if (e.Empty() || (e.minX >= world.boundsMinX && e.maxX <= world.boundsMaxX && e.minY >= world.boundsMinY &&
                      e.maxY <= world.boundsMaxY)) {
        FitView(w, h);
        return;
    }
    const float margin = std::max(10.0f, 0.02f * std::max(e.maxX - e.minX, e.maxY - e.minY));
    const float rw = e.maxX - e.minX + 2.0f * margin, rh = e.maxY - e.minY + 2.0f * margin;
    gelsim::TPhysics::SetDrawZoom(std::min(w / rw, h / rh));
    gelsim::TPhysics::SetDrawCoords((e.minX + e.maxX) * 0.5f, (e.minY + e.maxY) * 0.5f);
}

}  // namespace

int RenderCommand(const std::vector<std::string>& args) {
    std::vector<std::string> inputs;
    std::string out;
    int32_t steps = 0, w = 800, h = 600;
    uint32_t overlays = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (a == "-o" && i + 1 < args.size()) {
            out = args[++i];
        } else if (a == "--steps" && i + 1 < args.size()) {
            if (!ParseInt(args[i + 1], 0, 1000000, steps))
                return BadValue(a, args[i + 1], "the number of steps must be a whole number from 0 to 1000000");
            ++i;
        } else if (a == "--size" && i + 1 < args.size()) {
            const std::string& s = args[++i];
            const size_t x = s.find('x');
            if (x == std::string::npos || !ParseInt(s.substr(0, x), 1, 8192, w) || !ParseInt(s.substr(x + 1), 1, 8192, h))
                return BadValue(a, s, "give the width and height in pixels as WxH, each a whole number from 1 to 8192");
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
        FrameView(static_cast<float>(w), static_cast<float>(h));
        DrawWorld(overlays, contacts);
        std::string why;
        if (!SaveScreenshot(out, &why)) {
            std::fprintf(stderr, "render: %s\n", why.c_str());
            status = 1;
        } else {
            using gelsim::TPhysics;
            const float fw = static_cast<float>(w), fh = static_cast<float>(h);
            std::printf("wrote %s (%dx%d pixels: world x %.0f to %.0f, y %.0f to %.0f)\n", out.c_str(), w, h,
                        static_cast<double>(TPhysics::SimX(0, 0)), static_cast<double>(TPhysics::SimX(fw, fh)),
                        static_cast<double>(TPhysics::SimY(0, 0)), static_cast<double>(TPhysics::SimY(fw, fh)));
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
