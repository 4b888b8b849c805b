// Zones: construction and registration in the world's zone table, attributes, vertex
// editing, the transform of local vertices, quad-tree rebuilding, drawing, copying.
// The contact test is in ZoneCollide.cpp, the zone file in ZoneFile.cpp.
#include "gelsim/zones/Zone.h"

#include <algorithm>
#include <cmath>

#include "gelsim/core/DrawState.h"
#include "gelsim/core/Assert.h"
#include "gelsim/core/MathUtil.h"
#include "gelsim/core/Physics.h"
#include "platform/Graphics.h"

namespace kin::gelsim {
namespace {

float Clamp01(float f) {
    if (!(f > 0.0f)) return 0.0f;  // NaN too
    return f > 1.0f ? 1.0f : f;
}

}  // namespace

TZone::~TZone() = default;

// ---------------------------------------------------------------------------------------
// Construction and registration

Ref<TZone> TZone::Create(const std::vector<float>& vertices, int32_t style, float friction, int32_t colGroup,
                         int32_t qtLevel) {
    if (vertices.size() < 4 || vertices.size() % 2 != 0) return nullptr;
    // The vertices are copied: a caller changing its array afterwards must not change the
    // outline behind the zone's back, where area and the tree would no longer match.
    Ref<TZone> z = MakeRef<TZone>();
    z->name = "Zone";
    z->origArea = vertices;
    z->area = vertices;  // the transform is still the identity
    z->style = style;
    z->friction = Clamp01(friction);
    z->SetColGroup(colGroup);
    z->Activate();
    z->CalcQuadTree(qtLevel);
    return z;
}

int32_t TZone::IsActive() const {
    const TPhysics* w = GetWorld();
    if (!w || aIndex < 0 || aIndex >= static_cast<int32_t>(w->zoneArray.size())) return 0;
    return w->zoneArray[static_cast<size_t>(aIndex)].Get() == this ? 1 : 0;
}

int32_t TZone::Activate() {
    if (aIndex != -1) {
        if (IsActive()) return GetWorld() == TPhysics::currentWorld.Get() ? 0 : -1;  // one world at a time
        // The entry was handed out by a world that has been freed since: the zone is in no
        // table now and takes an entry in the current one.
        aIndex = -1;
    }
    aIndex = TPhysics::TakeZoneEntry(this);
    GELSIM_ASSERT(aIndex < 0 || IsActive());  // the entry taken names this zone
    return 0;
}

int32_t TZone::DeActivate() {
    if (aIndex < 0) return 0;
    const Ref<TZone> self(this);  // the world's reference, dropped below, may be the last
    TPhysics::GiveZoneEntry(aIndex, this);
    aIndex = -1;
    return 0;
}

int32_t TZone::Free() { return DeActivate(); }

Ref<TZone> TZone::Copy() {
    Ref<TZone> z = MakeRef<TZone>();
    z->name = name;
    z->origArea = origArea;
    z->area = area;
    z->style = style;
    z->friction = friction;
    z->offsetX = offsetX;
    z->offsetY = offsetY;
    z->angle = angle;
    z->scaleX = scaleX;
    z->scaleY = scaleY;
    z->red = red;
    z->green = green;
    z->blue = blue;
    z->alpha = alpha;
    z->blend = blend;
    z->colGroup = colGroup;  // same group: the copy lets the same masses through
    z->qtLevel = qtLevel;
    z->imgScaleX = imgScaleX;
    z->imgScaleY = imgScaleY;
    z->ColResponse = ColResponse;
    z->quadTree = quadTree;  // shared until one of the two rebuilds
    z->image = image;
    z->RefreshBounds();
    z->Activate();
    return z;
}

// ---------------------------------------------------------------------------------------
// Attributes

int32_t TZone::SetName(const std::string& n) {
    name = n;
    return 0;
}

std::string TZone::GetName() const { return name; }

int32_t TZone::SetFriction(float f) {
    friction = Clamp01(f);
    return 0;
}

int32_t TZone::SetStyle(int32_t s) {
    style = s;
    return 0;
}

int32_t TZone::Position(float x, float y) {
    offsetX = x;
    offsetY = y;
    return 0;
}

int32_t TZone::Move(float dx, float dy) {
    offsetX += dx;
    offsetY += dy;
    return 0;
}

int32_t TZone::Rotate(float degrees) {
    angle = degrees;
    UpdateArea();
    CalcQuadTree(qtLevel);
    return 0;
}

int32_t TZone::Turn(float degrees) {
    angle += degrees;
    UpdateArea();
    CalcQuadTree(qtLevel);
    return 0;
}

int32_t TZone::SetScale(float sx, float sy) {
    scaleX = sx;
    scaleY = sy;
    UpdateArea();
    CalcQuadTree(qtLevel);
    return 0;
}

int32_t TZone::GetScale(float& sx, float& sy) const {
    sx = scaleX;
    sy = scaleY;
    return 0;
}

int32_t TZone::SetColor(int32_t r, int32_t g, int32_t b) {
    red = ChannelFraction(r);
    green = ChannelFraction(g);
    blue = ChannelFraction(b);
    return 0;
}

int32_t TZone::GetColor(int32_t& r, int32_t& g, int32_t& b) const {
    r = TruncToInt(red * 255.0f);
    g = TruncToInt(green * 255.0f);
    b = TruncToInt(blue * 255.0f);
    return 0;
}

int32_t TZone::SetAlpha(float a) {
    alpha = a;
    return 0;
}

int32_t TZone::SetBlend(int32_t mode) {
    blend = mode;
    return 0;
}

int32_t TZone::SetColGroup(int32_t group) {
    colGroup = group == -1 ? TPhysics::TakeColGroup() : group;
    return 0;
}

int32_t TZone::ImageSet(TImage* img) {
    image = img;
    return 0;
}

int32_t TZone::ImageSetScale(float sx, float sy) {
    imgScaleX = sx;
    imgScaleY = sy;
    return 0;
}

int32_t TZone::ImageGetScale(float& sx, float& sy) const {
    sx = imgScaleX;
    sy = imgScaleY;
    return 0;
}

std::vector<float> TZone::GetArea() const { return area; }

int32_t TZone::OverrideCollision(TZoneResponse fn) {
    ColResponse = fn ? fn : &TZone::ColDefault;
    return 0;
}

// ---------------------------------------------------------------------------------------
// Vertices

int32_t TZone::VertCount() const { return static_cast<int32_t>((origArea.size() + 1) / 2); }

int32_t TZone::VertInsert(int32_t index, float x, float y) {
    if (index < 0 || index > VertCount()) return 0;
    // Both arrays keep one entry per vertex even if a loaded file left them uneven.
    const size_t at = std::min(static_cast<size_t>(index) * 2, origArea.size());
    float tx = 0.0f, ty = 0.0f;
    TransformVertex(x, y, tx, ty);
    origArea.insert(origArea.begin() + static_cast<std::ptrdiff_t>(at), {x, y});
    area.insert(area.begin() + static_cast<std::ptrdiff_t>(std::min(at, area.size())), {tx, ty});
    CalcQuadTree(qtLevel);
    return 0;
}

int32_t TZone::VertAddLast(float x, float y) { return VertInsert(VertCount(), x, y); }

int32_t TZone::VertAddFirst(float x, float y) { return VertInsert(0, x, y); }

int32_t TZone::VertRemove(int32_t index) {
    if (VertCount() < 3 || index < 0 || index >= VertCount()) return 0;
    const size_t at = static_cast<size_t>(index) * 2;
    auto drop = [at](std::vector<float>& v) {
        const size_t end = std::min(at + 2, v.size());
        if (at < end) v.erase(v.begin() + static_cast<std::ptrdiff_t>(at), v.begin() + static_cast<std::ptrdiff_t>(end));
    };
    drop(origArea);
    drop(area);
    CalcQuadTree(qtLevel);
    return 0;
}

int32_t TZone::VertRemoveLast() {
    if (VertCount() <= 2) return 0;
    return VertRemove(VertCount() - 1);
}

int32_t TZone::VertRemoveFirst() {
    if (VertCount() <= 2) return 0;
    return VertRemove(0);
}

int32_t TZone::VertPosition(int32_t index, float x, float y) {
    if (index < 0 || index >= VertCount()) return 0;
    const size_t at = static_cast<size_t>(index) * 2;
    if (at + 1 >= origArea.size() || at + 1 >= area.size()) return 0;
    origArea[at] = x;
    origArea[at + 1] = y;
    TransformVertex(x, y, area[at], area[at + 1]);
    CalcQuadTree(qtLevel);
    return 0;
}

int32_t TZone::VertGetPosition(int32_t index, float& x, float& y) const {
    if (index < 0 || static_cast<size_t>(index) * 2 + 1 >= origArea.size()) return 0;
    x = origArea[static_cast<size_t>(index) * 2];
    y = origArea[static_cast<size_t>(index) * 2 + 1];
    return 0;
}

float TZone::VertGetX(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) * 2 >= origArea.size()) return 0.0f;
    return origArea[static_cast<size_t>(index) * 2];
}

float TZone::VertGetY(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) * 2 + 1 >= origArea.size()) return 0.0f;
    return origArea[static_cast<size_t>(index) * 2 + 1];
}

// ---------------------------------------------------------------------------------------
// Geometry

void TZone::TransformVertex(float x, float y, float& tx, float& ty) const {
    // Scale along the local axes first, then turn about the local origin.
    const float sx = x * scaleX, sy = y * scaleY;
    const float r = std::sqrt(sx * sx + sy * sy);
    const float a = DegAtan2(sy, sx) + angle;
    tx = DegCos(a) * r;
    ty = DegSin(a) * r;
}

int32_t TZone::UpdateArea() {
    area.resize(origArea.size());
    for (size_t i = 0; i + 1 < origArea.size(); i += 2) TransformVertex(origArea[i], origArea[i + 1], area[i], area[i + 1]);
    RefreshBounds();
    return 0;
}

void TZone::RefreshBounds() {
    const size_t n = area.size() / 2;
    boundsValid_ = n > 0;
    if (n == 0) return;
    minX_ = maxX_ = area[0];
    minY_ = maxY_ = area[1];
    for (size_t i = 1; i < n; ++i) {
        const float x = area[2 * i], y = area[2 * i + 1];
        if (x < minX_) minX_ = x;
        if (x > maxX_) maxX_ = x;
        if (y < minY_) minY_ = y;
        if (y > maxY_) maxY_ = y;
    }
}

int32_t TZone::CalcQuadTree(int32_t level) {
    qtLevel = TQuadTree::ClampLevel(level);  // what is stored is what is built
    RefreshBounds();
    if (!boundsValid_) {
        quadTree = nullptr;
        return 0;
    }
    // The root covers the outline's box enlarged by one unit on every side.
    quadTree = TQuadTree::Create(area, style, minX_ - 1.0f, minY_ - 1.0f, (maxX_ - minX_) + 2.0f,
                                 (maxY_ - minY_) + 2.0f, qtLevel);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Drawing

int32_t TZone::Draw() {
    const TDrawStateGuard saved;

    kin::SetBlend(blend);
    kin::SetColor(TruncToInt(static_cast<float>(saved.Red()) * red), TruncToInt(static_cast<float>(saved.Green()) * green),
                  TruncToInt(static_cast<float>(saved.Blue()) * blue));
    kin::SetAlpha(saved.Alpha() * alpha);
    if (image) {
        kin::SetRotation(angle);
        kin::SetScale(scaleX * imgScaleX, scaleY * imgScaleY);
        TPhysics::DrawImage(image.Get(), offsetX, offsetY, 0);
    } else {
        kin::SetRotation(0.0f);
        kin::SetScale(1.0f, 1.0f);
        const int32_t n = static_cast<int32_t>(area.size() / 2);
        auto line = [&](int32_t i, int32_t j) {
            TPhysics::DrawLine(area[2 * i] + offsetX, area[2 * i + 1] + offsetY, area[2 * j] + offsetX,
                               area[2 * j + 1] + offsetY);
        };
        switch (style) {
            case LINE:
            case LOOP:
            case HOLE:
                for (int32_t i = 0; i + 1 < n; ++i) line(i, i + 1);
                if (style != LINE && n > 0) line(n - 1, 0);
                break;
            case FILL:
                TPhysics::DrawPoly(area, offsetX, offsetY);
                break;
            default:
                break;
        }
    }

    return 0;
}

int32_t TZone::DrawQuadTree(int32_t filled) {
    if (quadTree) quadTree->Draw(offsetX, offsetY, filled);
    return 0;
}

}  // namespace kin::gelsim
