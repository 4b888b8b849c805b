#pragma once
// Ear clipping of simple polygons into triangles.
#include <cstdint>
#include <vector>

namespace kin::detail {

/// Working memory kept between calls so that triangulating allocates nothing once grown.
struct TriangulateScratch {
    std::vector<int32_t> prev, next;
};

/// Splits the polygon of n points (x0,y0,x1,y1,..., borrowed) into triangles written to
/// out as index triples into the points. Either winding; collinear and repeated points are
/// dropped; a polygon without area gives no triangles. Self-intersecting input still ends,
/// with some covering of its outline.
void Triangulate(const float* xy, int32_t n, std::vector<int32_t>& out, TriangulateScratch& scratch);

}  // namespace kin::detail
