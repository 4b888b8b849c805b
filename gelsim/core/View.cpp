// The view: which world point is shown at the centre of the drawing context, at what
// zoom and rotation; conversions both ways; world-space drawing.
#include <vector>

#include "gelsim/core/MathUtil.h"
#include "gelsim/core/Physics.h"
#include "platform/Graphics.h"
#include "platform/Input.h"

namespace kin::gelsim {

void TPhysics::ResetView() {
    drawOffsetX = drawOffsetY = 0.0f;
    drawScale = 1.0f;
    centerX = static_cast<float>(GraphicsWidth()) * 0.5f;
    centerY = static_cast<float>(GraphicsHeight()) * 0.5f;
    drawRot = 0.0f;
    drawIX = DegCos(0.0f) * 1.0f;
    drawIY = -DegSin(0.0f) * 1.0f;
    drawJX = DegSin(0.0f) * 1.0f;
    drawJY = DegCos(0.0f) * 1.0f;
}

int32_t TPhysics::SetDrawCoords(float x, float y) {
    if (TPhysics* w = currentWorld.Get()) {
        w->centerX = x;
        w->centerY = y;
        UpdateTransform();
    }
    return 0;
}

int32_t TPhysics::SetDrawZoom(float zoom) {
    if (TPhysics* w = currentWorld.Get()) {
        w->drawScale = zoom;
        UpdateTransform();
    }
    return 0;
}

int32_t TPhysics::SetDrawRotation(float degrees) {
    if (TPhysics* w = currentWorld.Get()) {
        w->drawRot = degrees;
        UpdateTransform();
    }
    return 0;
}

int32_t TPhysics::UpdateTransform() {
    TPhysics* w = currentWorld.Get();
    if (!w) return 0;
    const float c = DegCos(w->drawRot), s = DegSin(w->drawRot);
    w->drawIX = c * w->drawScale;
    w->drawIY = -s * w->drawScale;
    w->drawJX = s * w->drawScale;
    w->drawJY = c * w->drawScale;
    const float W = static_cast<float>(GraphicsWidth()), H = static_cast<float>(GraphicsHeight());
    w->drawOffsetX = W * 0.5f - w->centerX * w->drawIX - w->centerY * w->drawIY;
    w->drawOffsetY = H * 0.5f - w->centerX * w->drawJX - w->centerY * w->drawJY;
    return 0;
}

float TPhysics::MouseX() {
    return SimX(static_cast<float>(kin::MouseX()), static_cast<float>(kin::MouseY()));
}

float TPhysics::MouseY() {
    return SimY(static_cast<float>(kin::MouseX()), static_cast<float>(kin::MouseY()));
}

// The inverse of the view matrix is its transpose over zoom squared. At zoom 0 every world
// point is drawn at the same pixel and there is no inverse: the view centre is answered.
float TPhysics::SimX(float sx, float sy) {
    const TPhysics* w = currentWorld.Get();
    if (!w) return 0.0f;
    const float d = w->drawScale * w->drawScale;
    if (d == 0.0f) return w->centerX;
    return ((sx - w->drawOffsetX) * w->drawIX - (sy - w->drawOffsetY) * w->drawIY) / d;
}

float TPhysics::SimY(float sx, float sy) {
    const TPhysics* w = currentWorld.Get();
    if (!w) return 0.0f;
    const float d = w->drawScale * w->drawScale;
    if (d == 0.0f) return w->centerY;
    return (-(sx - w->drawOffsetX) * w->drawJX + (sy - w->drawOffsetY) * w->drawJY) / d;
}

float TPhysics::ScreenX(float x, float y) {
    const TPhysics* w = currentWorld.Get();
    if (!w) return 0.0f;
    return w->drawOffsetX + x * w->drawIX + y * w->drawIY;
}

float TPhysics::ScreenY(float x, float y) {
    const TPhysics* w = currentWorld.Get();
    if (!w) return 0.0f;
    return w->drawOffsetY + x * w->drawJX + y * w->drawJY;
}

int32_t TPhysics::DrawImage(TImage* image, float x, float y, int32_t frame) {
    const TPhysics* w = currentWorld.Get();
    if (!w) return 0;
    float sx = 1.0f, sy = 1.0f;
    kin::GetScale(sx, sy);
    const float r = kin::GetRotation();
    // The view multiplies the caller's scale and adds to the caller's rotation.
    kin::SetScale(w->drawScale * sx, w->drawScale * sy);
    kin::SetRotation(r + w->drawRot);
    kin::DrawImage(image, ScreenX(x, y), ScreenY(x, y), frame);
    kin::SetScale(sx, sy);
    kin::SetRotation(r);
    return 0;
}

int32_t TPhysics::DrawPoly(const std::vector<float>& xy, float x, float y) {
    const TPhysics* w = currentWorld.Get();
    if (!w) return 0;
    float sx = 1.0f, sy = 1.0f, ox = 0.0f, oy = 0.0f;
    kin::GetScale(sx, sy);
    kin::GetOrigin(ox, oy);
    const float r = kin::GetRotation();
    // The zoom replaces the caller's scale; the caller's origin and rotation still add.
    kin::SetScale(w->drawScale, w->drawScale);
    kin::SetOrigin(ScreenX(x, y) + ox, ScreenY(x, y) + oy);
    kin::SetRotation(w->drawRot + r);
    kin::DrawPoly(xy);
    kin::SetOrigin(ox, oy);
    kin::SetRotation(r);
    kin::SetScale(sx, sy);
    return 0;
}

int32_t TPhysics::DrawLine(float x1, float y1, float x2, float y2) {
    if (!currentWorld) return 0;
    kin::DrawLine(ScreenX(x1, y1), ScreenY(x1, y1), ScreenX(x2, y2), ScreenY(x2, y2), 1);
    return 0;
}

int32_t TPhysics::DrawOval(float x, float y, float w, float h) {
    const TPhysics* wd = currentWorld.Get();
    if (!wd) return 0;
    const float r = kin::GetRotation();
    kin::SetRotation(wd->drawRot + r);
    kin::DrawOval(ScreenX(x, y), ScreenY(x, y), w * wd->drawScale, h * wd->drawScale);
    kin::SetRotation(r);
    return 0;
}

int32_t TPhysics::DrawRect(float x, float y, float w, float h) {
    const TPhysics* wd = currentWorld.Get();
    if (!wd) return 0;
    const float r = kin::GetRotation();
    kin::SetRotation(wd->drawRot + r);
    kin::DrawRect(ScreenX(x, y), ScreenY(x, y), w * wd->drawScale, h * wd->drawScale);
    kin::SetRotation(r);
    return 0;
}

}  // namespace kin::gelsim
