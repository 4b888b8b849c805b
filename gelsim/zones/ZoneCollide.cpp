// The contact of one mass (a disc) with one zone, and the default response. Runs inside
// the world's step for every relevant mass and zone once per relaxation pass, so the path
// without contact allocates nothing and the path with one allocates nothing in the steady
// state either (events come from the event pool).
#include <cmath>

#include "gelsim/core/Mass.h"
#include "gelsim/core/MathUtil.h"
#include "gelsim/zones/Zone.h"

namespace kin::gelsim {
namespace {

constexpr float kFarAway = 1e38f;       // initial best squared distance
constexpr float kMinDistance = 0.0001f;  // smallest distance used as a divisor


}  // namespace

int32_t TZone::Collide(TMass* mass) {
    if (!mass || !quadTree) return 0;  // no tree: the style is none of the four, nothing to hit
    const float px = mass->posX, py = mass->posY, r = mass->radius;

    // Broad test on the square around the disc. Missing the root box answers the style
    // code: LINE stops there, the others run the exact test (which keeps HOLE masses out
    // of the solid beyond the box).
    if (quadTree->Collide(offsetX, offsetY, px - r, py - r, 2.0f * r, style & 3) == 0) return 0;
    // A disc whose square keeps more than one unit away from the box of a LOOP or FILL
    // outline is further than its radius from every edge and not inside: the exact test
    // would find nothing. (Taken only where float rounding stays far below that unit.)
    if ((style == LOOP || style == FILL) && ClearOfOutline(px - r, py - r, 2.0f * r)) return 0;

    const int32_t n = static_cast<int32_t>(area.size() / 2);
    if (n == 0) return 0;
    const float* v = area.data();
    const float ox = offsetX, oy = offsetY;
    const bool closed = style != LINE;
    const bool solid = style == FILL || style == HOLE;

    float best = kFarAway, cx = 0.0f, cy = 0.0f;
    bool found = false;
    auto segment = [&](float ax, float ay, float bx, float by) {
        const float dx = bx - ax, dy = by - ay;
        const float len2 = dx * dx + dy * dy;
        // A zero-length segment has no direction: its start is its nearest point.
        float t = len2 != 0.0f ? ((px - ax) * dx + (py - ay) * dy) / len2 : 0.0f;
        if (!(t >= 0.0f)) t = 0.0f;
        if (t > 1.0f) t = 1.0f;
        const float qx = ax * (1.0f - t) + bx * t, qy = ay * (1.0f - t) + by * t;
        const float ex = px - qx, ey = py - qy;
        const float d2 = ex * ex + ey * ey;
        if (d2 < best) {  // ties keep the earlier segment
            best = d2;
            cx = qx;
            cy = qy;
            found = true;
        }
    };

    // Closed styles start with the closing segment; the winding sum walks the same
    // vertices in the same order.
    float prevX = v[0] + ox, prevY = v[1] + oy;
    int32_t first = 1;
    if (closed) {
        prevX = v[2 * (n - 1)] + ox;
        prevY = v[2 * (n - 1) + 1] + oy;
        first = 0;
    }
    for (int32_t i = first; i < n; ++i) {
        const float x = v[2 * i] + ox, y = v[2 * i + 1] + oy;
        segment(prevX, prevY, x, y);
        prevX = x;
        prevY = y;
    }
    // Nothing measurable (every segment has a NaN or infinite end): no contact, rather
    // than a push toward the origin from the initial best distance.
    if (!found) return 0;
    const bool inside = solid && InsidePolygon(v, n, px, py, ox, oy);

    float dist = std::sqrt(best);
    if (!(dist >= kMinDistance)) dist = kMinDistance;
    float nx = 0.0f, ny = 0.0f, depth = 0.0f;
    const bool outward = style == LINE || style == LOOP || (style == FILL && !inside) || (style == HOLE && inside);
    const bool inward = (style == FILL && inside) || (style == HOLE && !inside);
    if (outward) {
        nx = (px - cx) / dist;
        ny = (py - cy) / dist;
        depth = r - dist;
    } else if (inward) {
        // In the solid: cross the nearest edge and clear it by the radius.
        nx = (cx - px) / dist;
        ny = (cy - py) / dist;
        depth = dist + r;
    }
    if (!(depth > 0.0f)) return 0;  // touching is no contact

    const Ref<TZone> self(this);  // a callback may take the zone out of the world
    ColResponse(this, mass, nx, ny, depth);
    ReportContact(mass, cx, cy, depth);
    return 0;
}

bool TZone::ClearOfOutline(float x, float y, float size) const {
    if (!boundsValid_) return false;
    constexpr float kExact = 1 << 20;  // coordinates below this are exact to 1/8 unit
    const float bx = offsetX + minX_ - 1.0f, by = offsetY + minY_ - 1.0f;
    const float bx2 = offsetX + maxX_ + 1.0f, by2 = offsetY + maxY_ + 1.0f;
    for (float c : {x, y, x + size, y + size, bx, by, bx2, by2})
        if (!(std::fabs(c) < kExact)) return false;
    return bx > x + size || bx2 < x || by > y + size || by2 < y;
}

int32_t TZone::ColDefault(TZone* zone, TMass* mass, float nx, float ny, float depth) {
    if (!zone || !mass) return 0;
    float limit = 0.5f * depth * (zone->friction + mass->friction);
    // Frictions read from a file are stored as read; one below 0 or NaN must not speed
    // the mass up along the surface or turn its position into NaN.
    if (!(limit >= 0.0f)) limit = 0.0f;

    mass->posX = mass->posX + nx * depth;
    mass->posY = mass->posY + ny * depth;

    const float vx = mass->posX - mass->oldPosX, vy = mass->posY - mass->oldPosY;
    const float speed = std::sqrt(vx * vx + vy * vy);
    const float vn = speed * DegCos(DegAtan2(vy, vx) - DegAtan2(ny, nx));
    const float tx = vx - nx * vn, ty = vy - ny * vn;
    const float tl = std::sqrt(tx * tx + ty * ty);
    if (limit >= tl) {
        mass->posX -= tx;  // the motion along the surface stops
        mass->posY -= ty;
    } else if (tl > 0.0f && std::isfinite(tl)) {
        mass->posX -= tx / tl * limit;
        mass->posY -= ty / tl * limit;
    }
    return 0;
}

}  // namespace kin::gelsim
