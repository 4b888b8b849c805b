// The picture is drawn with the library's own drawing calls, so it shows what a program
// drawing the world itself would show.
#include "gelsim/picture/WorldPicture.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "gelsim/bodies/AdvBody.h"
#include "gelsim/core/Constraint.h"
#include "gelsim/core/Mass.h"
#include "gelsim/core/Physics.h"
#include "gelsim/zones/Zone.h"
#include "platform/Graphics.h"
#include "platform/Pixmap.h"
#include "platform/Png.h"
#include "platform/Stream.h"

namespace kin::gelsim {
namespace {

// The view fields of a world, saved and put back around a picture.
struct SavedView {
    explicit SavedView(const TPhysics& w)
        : v{w.drawOffsetX, w.drawOffsetY, w.drawScale, w.centerX, w.centerY,
            w.drawRot,     w.drawIX,      w.drawIY,    w.drawJX,  w.drawJY} {}
    void Restore(TPhysics& w) const {
        w.drawOffsetX = v[0], w.drawOffsetY = v[1], w.drawScale = v[2], w.centerX = v[3], w.centerY = v[4];
        w.drawRot = v[5], w.drawIX = v[6], w.drawIY = v[7], w.drawJX = v[8], w.drawJY = v[9];
    }
    float v[10];
};

// Box around what there is to see: active masses (with their radii) and active zones; the
// world's box when there is nothing. Worked out in double: a box of floats spans up to
// twice the largest float, and a margin of 50 units is lost in a float's rounding far from
// the origin (at 1e30 the next float is 1e23 away). A box of no size is widened by 50
// units or a millionth of its distance from the origin, whichever is more, so it always has
// a positive span; false when there is no finite box at all (a world with no size).
bool SceneBox(const TPhysics& w, double& x0, double& y0, double& x1, double& y1) {
    bool any = false;
    auto take = [&](float ax, float ay, float bx, float by) {
        if (!std::isfinite(ax) || !std::isfinite(ay) || !std::isfinite(bx) || !std::isfinite(by)) return;
        if (!any) {
            x0 = ax, y0 = ay, x1 = bx, y1 = by, any = true;
            return;
        }
        x0 = std::min<double>(x0, ax), y0 = std::min<double>(y0, ay);
        x1 = std::max<double>(x1, bx), y1 = std::max<double>(y1, by);
    };
    for (int32_t k = 0; k < w.massCount && k < static_cast<int32_t>(w.massArray.size()); ++k)
        if (const TMass* m = w.massArray[static_cast<size_t>(k)].Get())
            take(m->posX - m->radius, m->posY - m->radius, m->posX + m->radius, m->posY + m->radius);
    for (int32_t k = 0; k < w.zoneCount && k < static_cast<int32_t>(w.zoneArray.size()); ++k)
        if (const auto* z = As<TZone>(w.zoneArray[static_cast<size_t>(k)].Get()))
            for (size_t i = 0; i + 1 < z->area.size(); i += 2)
                take(z->area[i] + z->offsetX, z->area[i + 1] + z->offsetY, z->area[i] + z->offsetX,
                     z->area[i + 1] + z->offsetY);
    if (!any) take(w.boundsMinX, w.boundsMinY, w.boundsMaxX, w.boundsMaxY);
    if (!any) return false;
    auto widen = [](double& a, double& b) {
        if (b - a > 0.0) return;
        const double half = std::max(50.0, std::max(std::fabs(a), std::fabs(b)) * 1e-6);
        a -= half, b += half;
    };
    widen(x0, x1);
    widen(y0, y1);
    return true;
}

void DrawWorld(TPhysics& w) {
    for (int32_t k = 0; k < w.zoneCount && k < static_cast<int32_t>(w.zoneArray.size()); ++k)
        if (auto* z = As<TZone>(w.zoneArray[static_cast<size_t>(k)].Get())) {
            SetColor(150, 150, 165);
            z->Draw();
        }
    SetColor(255, 255, 255);
    for (int32_t k = 0; k < w.bodyCount && k < static_cast<int32_t>(w.bodyArray.size()); ++k)
        if (auto* b = As<TAdvBody>(w.bodyArray[static_cast<size_t>(k)].Get())) b->Draw();
    SetColor(110, 170, 110);
    for (int32_t k = 0; k < w.conCount && k < static_cast<int32_t>(w.conArray.size()); ++k)
        if (TConstraint* c = w.conArray[static_cast<size_t>(k)].Get()) c->Draw();
    for (int32_t k = 0; k < w.massCount && k < static_cast<int32_t>(w.massArray.size()); ++k)
        if (TMass* m = w.massArray[static_cast<size_t>(k)].Get()) {
            if (m->frozen)
                SetColor(215, 130, 90);
            else
                SetColor(90, 205, 130);
            m->Draw();
        }
}

}  // namespace

std::vector<uint8_t> WorldPicturePng(TPhysics& w, const TPictureFrame& frame) {
    const int32_t width = frame.width, height = frame.height;
    if (width < 1 || height < 1 || width > 16384 || height > 16384)
        throw std::invalid_argument("picture size must be within 1..16384 pixels per side");
    Ref<TGraphics> g = CreateHeadlessGraphics(width, height);
    if (!g) throw std::runtime_error("the headless renderer could not make a surface");
    const Ref<TGraphics> previous(CurrentGraphics());
    const SavedView saved(w);
    std::vector<uint8_t> pixels;
    try {
        SetGraphics(g.Get());
        double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        const bool framed = SceneBox(w, x0, y0, x1, y1);
        if (!framed && (!frame.center || !frame.zoom))
            throw std::runtime_error("nothing to frame: the world has no finite box and nothing in it");
        const double margin = 0.05;
        // The smallest normal float at least: a scene of every float's span fits in any size.
        const double fit = std::max<double>(std::numeric_limits<float>::min(),
                                            std::min(width / ((x1 - x0) * (1.0 + 2.0 * margin)),
                                                     height / ((y1 - y0) * (1.0 + 2.0 * margin))));
        TPhysics::SetDrawCoords(frame.center ? frame.center->first : static_cast<float>((x0 + x1) * 0.5),
                                frame.center ? frame.center->second : static_cast<float>((y0 + y1) * 0.5));
        TPhysics::SetDrawZoom(frame.zoom ? *frame.zoom : static_cast<float>(fit));
        TPhysics::SetDrawRotation(frame.rotation);
        SetClsColor(frame.background[0], frame.background[1], frame.background[2]);
        Cls();
        SetBlend(ALPHABLEND);
        DrawWorld(w);
        pixels = g->ReadPixels();
    } catch (...) {
        saved.Restore(w);
        SetGraphics(previous.Get());
        throw;
    }
    saved.Restore(w);
    SetGraphics(previous.Get());
    if (pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 4)
        throw std::runtime_error("the headless renderer could not read its picture back");
    TPixmap pix(width, height, std::move(pixels));
    TBankStream bank;
    if (!SavePixmapPNG(pix, bank, 6)) throw std::runtime_error("PNG encoding failed");
    return bank.Bytes();
}

}  // namespace kin::gelsim
