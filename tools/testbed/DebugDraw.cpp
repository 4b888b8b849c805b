#include "tools/testbed/DebugDraw.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "gelsim/bodies/AdvBody.h"
#include "gelsim/core/ColEvent.h"
#include "gelsim/core/Constraint.h"
#include "gelsim/core/Mass.h"
#include "gelsim/core/Physics.h"
#include "gelsim/zones/Zone.h"
#include "platform/Pixmap.h"
#include "platform/Png.h"
#include "platform/Stream.h"

namespace kin::testbed {

using gelsim::TAdvBody;
using gelsim::TColEvent;
using gelsim::TConstraint;
using gelsim::TMass;
using gelsim::TPhysics;
using gelsim::TZone;

uint32_t OverlayByName(const std::string& name) {
    const auto& names = OverlayNames();
    for (size_t k = 0; k < names.size(); ++k)
        if (names[k] == name) return 1u << k;
    return name == "all" ? OVERLAY_ALL : 0u;
}

const std::vector<std::string>& OverlayNames() {
    static const std::vector<std::string> names = {"grid", "quadtree", "contacts", "stress", "groups", "frozen", "box"};
    return names;
}

void StepAndCollect(std::vector<Contact>& contacts) {
    contacts.clear();
    TPhysics::Update();
    while (TColEvent* e = TColEvent::Poll()) {
        const TMass* m = e->GetMass1();
        if (!m) continue;
        const int32_t kind = e->GetID();
        if (kind == TColEvent::MASS_MASS) {
            if (const TMass* o = e->GetMass2()) contacts.push_back({kind, m->posX, m->posY, o->posX, o->posY});
        } else if (kind == TColEvent::MASS_ZONE || kind == TColEvent::MASS_BOUNDS) {
            float nx = m->posX - e->x, ny = m->posY - e->y;
            const float len = std::sqrt(nx * nx + ny * ny);
            if (len > 1e-6f && std::isfinite(len)) {
                nx /= len;
                ny /= len;
            } else {
                nx = ny = 0.0f;
            }
            contacts.push_back({kind, e->x, e->y, e->x + nx, e->y + ny});
        }
    }
}

void FitView(float w, float h) {
    const TPhysics* world = TPhysics::currentWorld.Get();
    if (!world || w <= 0.0f || h <= 0.0f) return;
    const float left = world->boundsMinX, right = world->boundsMaxX, bottom = world->boundsMaxY;
    float top = bottom;
    for (int32_t k = 0; k < world->massCount; ++k)
        if (const TMass* m = world->massArray[static_cast<size_t>(k)].Get())
            if (std::isfinite(m->posY)) top = std::min(top, m->posY - m->radius);
    top = std::max(top - 60.0f, world->boundsMinY);
    const float margin = 10.0f;
    const float rw = right - left + 2.0f * margin, rh = bottom - top + 2.0f * margin;
    const float zoom = std::min(w / std::max(rw, 1.0f), h / std::max(rh, 1.0f));
    TPhysics::SetDrawZoom(zoom);
    // Bottom of the box at the bottom of the picture.
    TPhysics::SetDrawCoords((left + right) * 0.5f, bottom + margin - h * 0.5f / zoom);
}

namespace {

// Above this many masses, discs and contact lines go to the drawing context as one batch of
// triangles each (a few thousand separate primitives cost more than a frame's time);
// smaller worlds are drawn primitive by primitive through the library's drawers.
constexpr int32_t BATCH_ABOVE = 1000;

// Triangles gathered in screen pixels and handed over in one call.
struct Batch {
    std::vector<TGraphics::Vertex> v;
    uint8_t r = 255, g = 255, b = 255, a = 255;
    void Colour(int32_t red, int32_t green, int32_t blue) {
        r = static_cast<uint8_t>(std::clamp(red, 0, 255));
        g = static_cast<uint8_t>(std::clamp(green, 0, 255));
        b = static_cast<uint8_t>(std::clamp(blue, 0, 255));
    }
    void Point(float x, float y) { v.push_back({x, y, r, g, b, a, 0.0f, 0.0f}); }
    void Triangle(float x0, float y0, float x1, float y1, float x2, float y2) {
        Point(x0, y0);
        Point(x1, y1);
        Point(x2, y2);
    }
    // A filled disc as a fan; a handful of sides is enough for a few pixels of radius.
    void Disc(float cx, float cy, float radius) {
        if (!(radius > 0.0f) || !std::isfinite(cx) || !std::isfinite(cy)) return;
        const int32_t n = std::clamp(static_cast<int32_t>(radius * 1.2f), 6, 32);
        float px = cx + radius, py = cy;
        for (int32_t k = 1; k <= n; ++k) {
            const float t = 6.2831853f * static_cast<float>(k) / static_cast<float>(n);
            const float nx = cx + radius * std::cos(t), ny = cy + radius * std::sin(t);
            Triangle(cx, cy, px, py, nx, ny);
            px = nx;
            py = ny;
        }
    }
    // A segment as a quad of the given width in pixels.
    void Line(float x0, float y0, float x1, float y1, float width) {
        float dx = x1 - x0, dy = y1 - y0;
        const float len = std::sqrt(dx * dx + dy * dy);
        if (!(len > 1e-6f) || !std::isfinite(len)) return;
        dx *= 0.5f * width / len;
        dy *= 0.5f * width / len;
        Triangle(x0 - dy, y0 + dx, x0 + dy, y0 - dx, x1 + dy, y1 - dx);
        Triangle(x0 - dy, y0 + dx, x1 + dy, y1 - dx, x1 - dy, y1 + dx);
    }
    void Flush() {
        if (TGraphics* gfx = CurrentGraphics(); gfx && !v.empty())
            gfx->Geometry(v.data(), static_cast<int32_t>(v.size()), nullptr, 0);
        v.clear();
    }
};

Batch& SharedBatch() {
    static Batch batch;
    return batch;
}

// A steady colour per collision group, far enough apart to tell neighbours.
void GroupColour(int32_t group, int32_t& r, int32_t& g, int32_t& b) {
    if (group == 0) {
        r = g = b = 110;
        return;
    }
    const uint32_t hsh = static_cast<uint32_t>(group) * 2654435761u;
    const float hue = static_cast<float>(hsh >> 8) / 16777216.0f * 6.0f;
    const int32_t sector = static_cast<int32_t>(hue) % 6;
    const float f = hue - std::floor(hue);
    const int32_t up = 80 + static_cast<int32_t>(175.0f * f), down = 255 - static_cast<int32_t>(175.0f * f);
    switch (sector) {
        case 0: r = 255, g = up, b = 80; break;
        case 1: r = down, g = 255, b = 80; break;
        case 2: r = 80, g = 255, b = up; break;
        case 3: r = 80, g = down, b = 255; break;
        case 4: r = up, g = 80, b = 255; break;
        default: r = 255, g = 80, b = down; break;
    }
}

void DrawGridOccupancy(const TPhysics& world, bool batched) {
    Batch& batch = SharedBatch();
    if (world.gridsize <= 0 || world.ratiox <= 0.0f || world.ratioy <= 0.0f) return;
    const int32_t n = world.gridsize;
    static std::vector<uint16_t> counts;
    counts.assign(static_cast<size_t>(n) * static_cast<size_t>(n), 0);
    for (int32_t k = 0; k < world.massCount; ++k) {
        const TMass* m = world.massArray[static_cast<size_t>(k)].Get();
        if (!m || m->gridx < 0 || m->gridy < 0 || m->gridx >= n || m->gridy >= n) continue;
        uint16_t& c = counts[static_cast<size_t>(m->gridy) * static_cast<size_t>(n) + static_cast<size_t>(m->gridx)];
        if (c < 0xFFFF) ++c;
    }
    const float cw = 1.0f / world.ratiox, ch = 1.0f / world.ratioy;
    SetBlend(ALPHABLEND);
    for (int32_t r = 0; r < n; ++r) {
        for (int32_t c = 0; c < n; ++c) {
            const uint16_t count = counts[static_cast<size_t>(r) * static_cast<size_t>(n) + static_cast<size_t>(c)];
            if (!count) continue;
            // Green for a few, through yellow to red for a crowded cell.
            const float t = std::min(1.0f, static_cast<float>(count) / 12.0f);
            const int32_t red = static_cast<int32_t>(255.0f * t), green = static_cast<int32_t>(255.0f * (1.0f - 0.6f * t));
            const float alpha = 0.25f + 0.35f * t;
            const float x = static_cast<float>(c) * cw, y = static_cast<float>(r) * ch;
            if (batched) {
                batch.Colour(red, green, 40);
                batch.a = static_cast<uint8_t>(alpha * 255.0f);
                const float x0 = TPhysics::ScreenX(x, y), y0 = TPhysics::ScreenY(x, y);
                const float x1 = TPhysics::ScreenX(x + cw, y + ch), y1 = TPhysics::ScreenY(x + cw, y + ch);
                batch.Triangle(x0, y0, x1, y0, x1, y1);
                batch.Triangle(x0, y0, x1, y1, x0, y1);
            } else {
                SetColor(red, green, 40);
                SetAlpha(alpha);
                TPhysics::DrawRect(x, y, cw, ch);
            }
        }
    }
    batch.Flush();
    batch.a = 255;
    SetAlpha(1.0f);
}

void DrawBox(const TPhysics& w) {
    SetColor(0, 220, 255);
    SetLineWidth(2.0f);
    TPhysics::DrawLine(w.boundsMinX, w.boundsMinY, w.boundsMaxX, w.boundsMinY);
    TPhysics::DrawLine(w.boundsMaxX, w.boundsMinY, w.boundsMaxX, w.boundsMaxY);
    TPhysics::DrawLine(w.boundsMaxX, w.boundsMaxY, w.boundsMinX, w.boundsMaxY);
    TPhysics::DrawLine(w.boundsMinX, w.boundsMaxY, w.boundsMinX, w.boundsMinY);
    SetLineWidth(1.0f);
}

void DrawContactsBatched(const std::vector<Contact>& contacts) {
    Batch& batch = SharedBatch();
    for (const Contact& c : contacts) {
        const float sx = TPhysics::ScreenX(c.x1, c.y1), sy = TPhysics::ScreenY(c.x1, c.y1);
        const float ex = TPhysics::ScreenX(c.x2, c.y2), ey = TPhysics::ScreenY(c.x2, c.y2);
        if (c.kind == TColEvent::MASS_MASS) {
            batch.Colour(255, 255, 0);
            batch.Line(sx, sy, ex, ey, 1.0f);
        } else {
            batch.Colour(255, 60, 60);
            batch.Triangle(sx - 2.0f, sy - 2.0f, sx + 2.0f, sy - 2.0f, sx + 2.0f, sy + 2.0f);
            batch.Triangle(sx - 2.0f, sy - 2.0f, sx + 2.0f, sy + 2.0f, sx - 2.0f, sy + 2.0f);
            const float nx = ex - sx, ny = ey - sy, len = std::sqrt(nx * nx + ny * ny);
            if (len > 1e-6f && std::isfinite(len)) {
                batch.Colour(255, 160, 160);
                batch.Line(sx, sy, sx + nx * 12.0f / len, sy + ny * 12.0f / len, 1.0f);
            }
        }
    }
    SetBlend(SOLIDBLEND);
    batch.Flush();
    SetBlend(ALPHABLEND);
}

void DrawContacts(const std::vector<Contact>& contacts) {
    for (const Contact& c : contacts) {
        const float sx = TPhysics::ScreenX(c.x1, c.y1), sy = TPhysics::ScreenY(c.x1, c.y1);
        if (c.kind == TColEvent::MASS_MASS) {
            SetColor(255, 255, 0);
            DrawLine(sx, sy, TPhysics::ScreenX(c.x2, c.y2), TPhysics::ScreenY(c.x2, c.y2));
        } else {
            // The normal, 12 pixels long whatever the zoom, from the contact point.
            float nx = TPhysics::ScreenX(c.x2, c.y2) - sx, ny = TPhysics::ScreenY(c.x2, c.y2) - sy;
            const float len = std::sqrt(nx * nx + ny * ny);
            SetColor(255, 60, 60);
            DrawRect(sx - 2.0f, sy - 2.0f, 4.0f, 4.0f);
            if (len > 1e-6f && std::isfinite(len)) {
                nx *= 12.0f / len;
                ny *= 12.0f / len;
                SetColor(255, 160, 160);
                DrawLine(sx, sy, sx + nx, sy + ny);
            }
        }
    }
}

}  // namespace

void DrawWorld(uint32_t overlays, const std::vector<Contact>& contacts) {
    SetBlend(SOLIDBLEND);
    SetAlpha(1.0f);
    SetClsColor(24, 26, 34);
    Cls();
    const TPhysics* world = TPhysics::currentWorld.Get();
    if (!world) return;

    const bool batched = world->massCount > BATCH_ABOVE;
    if ((overlays & OVERLAY_GRID) && world->gridon) DrawGridOccupancy(*world, batched);
    SetBlend(ALPHABLEND);
    SetAlpha(1.0f);

    for (int32_t k = 0; k < world->zoneCount; ++k) {
        TZone* z = As<TZone>(world->zoneArray[static_cast<size_t>(k)].Get());
        if (!z) continue;
        SetColor(255, 255, 255);
        z->Draw();
        if (overlays & OVERLAY_QUADTREE) {
            SetColor(255, 190, 0);
            SetAlpha(0.8f);
            z->DrawQuadTree(0);
            SetAlpha(1.0f);
        }
    }
    SetColor(255, 255, 255);
    for (int32_t k = 0; k < world->bodyCount; ++k)
        if (TAdvBody* b = As<TAdvBody>(world->bodyArray[static_cast<size_t>(k)].Get())) b->Draw();

    const bool stress = overlays & OVERLAY_STRESS;
    if (!stress) SetColor(140, 140, 150);
    for (int32_t k = 0; k < world->conCount; ++k) {
        TConstraint* c = world->conArray[static_cast<size_t>(k)].Get();
        if (!c) continue;
        if (stress) {
            // Blue at 90 % of the rest length or less, red at 110 % or more.
            const float s = c->GetStress();
            float t = std::isfinite(s) ? (s - 0.9f) / 0.2f : 1.0f;
            t = std::clamp(t, 0.0f, 1.0f);
            SetColor(static_cast<int32_t>(255.0f * t), 40, static_cast<int32_t>(255.0f * (1.0f - t)));
        }
        c->Draw();
    }

    const bool groups = overlays & OVERLAY_GROUPS;
    Batch& batch = SharedBatch();
    if (!groups) SetColor(215, 215, 225);
    batch.Colour(215, 215, 225);
    for (int32_t k = 0; k < world->massCount; ++k) {
        TMass* m = world->massArray[static_cast<size_t>(k)].Get();
        if (!m) continue;
        if (groups) {
            int32_t r, g, b;
            GroupColour(m->GetColGroup(), r, g, b);
            SetColor(r, g, b);
            batch.Colour(r, g, b);
        }
        if (batched)
            batch.Disc(TPhysics::ScreenX(m->posX, m->posY), TPhysics::ScreenY(m->posX, m->posY), m->radius * world->drawScale);
        else
            m->Draw();
    }
    if (batched) {
        SetBlend(SOLIDBLEND);
        batch.Flush();
        SetBlend(ALPHABLEND);
    }
    if (overlays & OVERLAY_FROZEN) {
        // A cross over every frozen mass, in pixels so that it shows at any zoom.
        SetColor(255, 0, 255);
        SetLineWidth(2.0f);
        for (int32_t k = 0; k < world->massCount; ++k) {
            const TMass* m = world->massArray[static_cast<size_t>(k)].Get();
            if (!m || !m->frozen) continue;
            const float sx = TPhysics::ScreenX(m->posX, m->posY), sy = TPhysics::ScreenY(m->posX, m->posY);
            const float d = std::max(3.0f, m->radius * world->drawScale);
            DrawLine(sx - d, sy - d, sx + d, sy + d);
            DrawLine(sx - d, sy + d, sx + d, sy - d);
        }
        SetLineWidth(1.0f);
    }
    if (overlays & OVERLAY_CONTACTS) {
        if (batched)
            DrawContactsBatched(contacts);
        else
            DrawContacts(contacts);
    }
    if (overlays & OVERLAY_BOX) DrawBox(*world);
    SetColor(255, 255, 255);
    SetAlpha(1.0f);
}

bool SaveScreenshot(const std::string& path, std::string* why) {
    TGraphics* g = CurrentGraphics();
    auto fail = [why](const std::string& reason) {
        if (why) *why = reason;
        return false;
    };
    if (!g) return fail("no drawing context");
    std::vector<uint8_t> px = g->ReadPixels();
    if (px.empty()) return fail("the picture cannot be read back");
    // Opaque: the window's alpha says nothing.
    for (size_t k = 3; k < px.size(); k += 4) px[k] = 255;
    const TPixmap pm(g->Width(), g->Height(), std::move(px));
    Ref<TFileStream> s = TFileStream::Open(path, TFileStream::WRITE);
    if (!s) return fail(path + ": cannot be written");
    try {
        if (!SavePixmapPNG(pm, *s, 6)) return fail(path + ": PNG encoding failed");
        if (!s->Flush()) return fail(path + ": write failed");
    } catch (const std::exception& e) {
        return fail(path + ": " + e.what());
    }
    s->Close();
    return true;
}

const std::vector<SampleScene>& SampleScenes() {
    static const std::vector<SampleScene> scenes = {
        {"pile", "falling pile (1500 discs)"},
        {"lattice", "soft lattice (30 x 20)"},
        {"terrain", "terrain of zones, 800 discs"},
        {"slime", "slime structure on its ground"},
        {"stack", "stack of bodies (slime.plb x 6)"},
        {"mixed", "rings, discs and frozen pegs"},
    };
    return scenes;
}

gelsim::TScene BuildSample(const std::string& name, const std::string& mediaDir) {
    using namespace gelsim;
    if (name == "pile") return BuildPile(1500);
    if (name == "lattice") return BuildLattice(30, 20);
    if (name == "terrain") return BuildTerrain(800);
    if (name == "slime") return BuildSlimeStructure(mediaDir);
    if (name == "stack") return BuildFromFiles(std::vector<std::string>(6, mediaDir + "/slime.plb"));
    if (name == "mixed") return BuildMixedScene();
    throw std::runtime_error("unknown scene \"" + name + "\"");
}

gelsim::TScene BuildFromArgs(const std::vector<std::string>& names, const std::string& mediaDir) {
    if (names.size() == 1 && names[0].rfind("scene:", 0) == 0) return BuildSample(names[0].substr(6), mediaDir);
    for (const std::string& n : names)
        if (n.rfind("scene:", 0) == 0) throw std::runtime_error("a scene name cannot be mixed with files: " + n);
    return gelsim::BuildFromFiles(names);
}

std::string FindMediaDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_regular_file("media/slime.plb", ec)) return "media";
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        for (fs::path dir = exe.parent_path(); !dir.empty(); dir = dir.parent_path()) {
            if (fs::is_regular_file(dir / "media" / "slime.plb", ec)) return (dir / "media").string();
            if (dir == dir.parent_path()) break;
        }
    }
    return "media";
}

}  // namespace kin::testbed
