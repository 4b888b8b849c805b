#include "gelsim/bodies/Rig.h"

#include <algorithm>
#include <cmath>

#include "gelsim/core/DrawState.h"
#include "gelsim/core/MathUtil.h"
#include "gelsim/core/Physics.h"
#include "platform/Graphics.h"

namespace kin::gelsim {
namespace {

inline float Clamp01(float v) { return std::max(0.0f, std::min(1.0f, v)); }

}  // namespace

Ref<TRig> TRig::Create(TImage* image, TMass* mass, TConstraint* con, float angle) {
    Ref<TRig> r = MakeRef<TRig>();
    r->name = "Rig";
    r->image = image;
    r->mass = mass;
    r->con = con;
    r->angle = angle;
    return r;
}

int32_t TRig::SetName(const std::string& n) {
    name = n;
    return 0;
}

std::string TRig::GetName() const { return name; }

int32_t TRig::SetImage(TImage* img) {
    image = img;
    return 0;
}

int32_t TRig::SetMass(TMass* m) {
    mass = m;
    return 0;
}

int32_t TRig::SetConstraint(TConstraint* c) {
    con = c;
    return 0;
}

int32_t TRig::SetAngle(float a) {
    angle = a;
    return 0;
}

int32_t TRig::SetScale(float x, float y) {
    scaleX = x;
    scaleY = y;
    return 0;
}

int32_t TRig::GetScale(float& x, float& y) const {
    x = scaleX;
    y = scaleY;
    return 0;
}

int32_t TRig::SetColor(int32_t r, int32_t g, int32_t b) {
    red = ChannelFraction(r);
    green = ChannelFraction(g);
    blue = ChannelFraction(b);
    return 0;
}

int32_t TRig::GetColor(int32_t& r, int32_t& g, int32_t& b) const {
    r = TruncToInt(red * 255.0f);
    g = TruncToInt(green * 255.0f);
    b = TruncToInt(blue * 255.0f);
    return 0;
}

int32_t TRig::SetAlpha(float a) {
    alpha = Clamp01(a);
    return 0;
}

int32_t TRig::SetBlend(int32_t mode) {
    blend = mode;
    return 0;
}

TObject* TRig::GetAdvBody() const {
    // A rig's mass, when it has one in a world, names the registry; else the current world.
    TPhysics* w = mass && mass->GetWorld() ? mass->GetWorld() : TPhysics::currentWorld.Get();
    return TPhysics::GetBodyIn(w, abID);
}

int32_t TRig::Draw() {
    if (!image || !mass) return 0;
    const TDrawStateGuard saved;

    kin::SetBlend(blend);
    // The constraint's direction is read now, so the image follows the body as it bends.
    kin::SetRotation(con ? con->GetAngle() + angle : angle);
    kin::SetColor(TruncToInt(static_cast<float>(saved.Red()) * red), TruncToInt(static_cast<float>(saved.Green()) * green),
                  TruncToInt(static_cast<float>(saved.Blue()) * blue));
    kin::SetAlpha(saved.Alpha() * alpha);
    kin::SetScale(scaleX, scaleY);
    TPhysics::DrawImage(image.Get(), mass->posX, mass->posY, 0);
    return 0;
}

}  // namespace kin::gelsim
