#include "platform/detail/Triangulate.h"

#include <cstddef>

namespace kin::detail {

namespace {

struct P {
    double x, y;
};

/// Twice the signed area of triangle a b c (positive when counter-clockwise in y-up terms).
double Cross(P a, P b, P c) { return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x); }

}  // namespace

void Triangulate(const float* xy, int32_t n, std::vector<int32_t>& out, TriangulateScratch& scratch) {
    out.clear();
    if (!xy || n < 3) return;
    auto pt = [xy](int32_t i) { return P{xy[2 * i], xy[2 * i + 1]}; };
    auto same = [&](int32_t a, int32_t b) { return xy[2 * a] == xy[2 * b] && xy[2 * a + 1] == xy[2 * b + 1]; };

    // A ring over the points, without repeats of the previous point.
    std::vector<int32_t>& prev = scratch.prev;
    std::vector<int32_t>& next = scratch.next;
    prev.assign(static_cast<std::size_t>(n), -1);
    next.assign(static_cast<std::size_t>(n), -1);
    int32_t first = -1, last = -1, remaining = 0;
    for (int32_t i = 0; i < n; ++i) {
        const P p = pt(i);
        if (!(p.x == p.x) || !(p.y == p.y)) return;  // NaN: nothing sensible to fill
        if (last >= 0 && same(i, last)) continue;
        if (first < 0) first = i;
        else {
            next[last] = i;
            prev[i] = last;
        }
        last = i;
        ++remaining;
    }
    if (remaining > 1 && same(first, last)) {
        const int32_t p = prev[last];
        last = p;
        --remaining;
    }
    if (remaining < 3) return;
    next[last] = first;
    prev[first] = last;

    double area = 0;
    {
        int32_t i = first;
        do {
            const P a = pt(i), b = pt(next[i]);
            area += a.x * b.y - b.x * a.y;
            i = next[i];
        } while (i != first);
    }
    if (area == 0 || area != area) return;
    const double sign = area > 0 ? 1.0 : -1.0;

    auto unlink = [&](int32_t i) {
        next[prev[i]] = next[i];
        prev[next[i]] = prev[i];
        --remaining;
    };
    // An ear: a convex corner whose triangle holds no other point of the ring, boundary
    // included (points coinciding with a corner do not count).
    auto isEar = [&](int32_t a, int32_t b, int32_t c) {
        const P pa = pt(a), pb = pt(b), pc = pt(c);
        for (int32_t k = next[c]; k != a; k = next[k]) {
            if (same(k, a) || same(k, b) || same(k, c)) continue;
            const P q = pt(k);
            if (sign * Cross(pa, pb, q) >= 0 && sign * Cross(pb, pc, q) >= 0 && sign * Cross(pc, pa, q) >= 0)
                return false;
        }
        return true;
    };

    int32_t cur = first, stall = 0;
    while (remaining > 3) {
        const int32_t a = prev[cur], c = next[cur];
        const double turn = sign * Cross(pt(a), pt(cur), pt(c));
        if (turn == 0) {
            // Straight or doubling back: removing the corner changes no area.
            unlink(cur);
            cur = a;
            stall = 0;
        } else if (turn > 0 && isEar(a, cur, c)) {
            out.insert(out.end(), {a, cur, c});
            unlink(cur);
            cur = a;
            stall = 0;
        } else if (++stall > remaining) {
            // No ear anywhere: the outline crosses itself. Cut the first convex corner so
            // that the loop still ends; with no convex corner left, stop.
            int32_t k = cur;
            bool found = false;
            for (int32_t m = 0; m < remaining && !found; ++m, k = next[k])
                found = sign * Cross(pt(prev[k]), pt(k), pt(next[k])) > 0;
            if (!found) return;
            k = prev[k];
            out.insert(out.end(), {prev[k], k, next[k]});
            cur = prev[k];
            unlink(k);
            stall = 0;
        } else {
            cur = c;
        }
    }
    const int32_t a = prev[cur], c = next[cur];
    if (Cross(pt(a), pt(cur), pt(c)) != 0) out.insert(out.end(), {a, cur, c});
}

}  // namespace kin::detail
