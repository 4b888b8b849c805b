#pragma once
// TQuadTree: the boxes of a zone's bounding box where a mass needs the exact, per-edge
// contact test. A node is a box (zone-local coordinates) with 0 to 4 quarter boxes as
// children; a node without children is a leaf. Quarters that the outline does not touch
// and that are not solid for the zone's style are absent. A tree is immutable once built;
// zones replace it whole and copies of a zone may share one.
//
// Stored as a node record: posX, posY, sizeX, sizeY (float), the child count (int), then
// each child's record, depth first.
#include <cstdint>
#include <vector>

#include "platform/List.h"
#include "platform/Object.h"
#include "platform/Stream.h"

namespace kin::gelsim {

class TQuadTree final : public TObject {
public:
    /// Deepest level built or read: at most (4^10 - 1) / 3 = 349,525 nodes (~70 MB); the ground uses 7.
    static constexpr int32_t MAX_LEVEL = 10;

    /// level lowered to MAX_LEVEL when above it; other values are kept (1 and below give one leaf).
    static constexpr int32_t ClampLevel(int32_t level) { return level > MAX_LEVEL ? MAX_LEVEL : level; }

    float posX = 0, posY = 0;    // top-left corner, zone-local units
    float sizeX = 0, sizeY = 0;  // width and height
    TList childList;             // the quarters present, in build order; empty for a leaf

    TQuadTree() = default;

    /// Tree for the outline area (x0, y0, x1, y1, ...; borrowed) of a zone style over the
    /// box (x, y, w, h), at most level levels deep (MAX_LEVEL when level is above it);
    /// null when the box is not relevant or the style is not one of the four zone styles.
    static Ref<TQuadTree> Create(const std::vector<float>& area, int32_t style, float x, float y, float w, float h,
                                 int32_t level);
    /// 1 when the world square (x, y)-(x + size, y + size) overlaps a leaf of the tree
    /// placed at (ox, oy), else 0; outside when it misses this node's own box.
    int32_t Collide(float ox, float oy, float x, float y, float size, int32_t outside) const;
    /// Draws every leaf box placed at (ox, oy) in world units with the world's view:
    /// filled rectangles, or outlines with both diagonals. Uses the caller's drawing state.
    int32_t Draw(float ox, float oy, int32_t filled) const;
    /// Writes this node's record and its children's. Raises TStreamWriteException.
    void Write(TStream& s) const;
    /// Reads one node record and its children. Raises TStreamReadException when the data
    /// ends early, TFileFormatException for a child count outside 0..4 or nesting deeper
    /// than MAX_LEVEL.
    static Ref<TQuadTree> Read(TStream& s);

    /// True when the node has no children.
    bool IsLeaf() const { return childList.IsEmpty(); }
    /// Leaves whose boxes, placed at (ox, oy), overlap the world box (x, y, w, h) (boxes
    /// that only touch count), in depth-first order. A new list owned by the caller.
    Ref<TList> Query(float ox, float oy, float x, float y, float w, float h) const;
    /// The same leaves appended to out (borrowed pointers, valid while the tree lives);
    /// returns how many were appended. Nothing is allocated once out has the capacity.
    int32_t QueryInto(float ox, float oy, float x, float y, float w, float h,
                      std::vector<const TQuadTree*>& out) const;
    /// Nodes in the tree, this one included.
    int32_t NodeCount() const;
    /// Levels in the tree (1 for a lone leaf).
    int32_t Depth() const;
    /// True when both trees have the same boxes (bit for bit) in the same order and shape.
    bool SameAs(const TQuadTree& other) const;
};

// --- outline geometry shared by the tree and the contact test (32-bit floats) ---

/// True when segment (x1, y1)-(x2, y2) crosses segment (x3, y3)-(x4, y4). Touching counts;
/// so do two segments on one line, even apart.
bool SegmentsMeet(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4);
/// Winding sum of the closed polygon xy (n vertices, borrowed) around (px, py): +-4 once
/// around, 0 outside, +-8 twice around. Vertices are shifted by (ox, oy) first.
int32_t WindingSum(const float* xy, int32_t n, float px, float py, float ox = 0.0f, float oy = 0.0f);
/// True when the point is inside by the winding rule (|sum| = 4); vertices shifted by (ox, oy).
inline bool InsidePolygon(const float* xy, int32_t n, float px, float py, float ox = 0.0f, float oy = 0.0f) {
    const int32_t s = WindingSum(xy, n, px, py, ox, oy);
    return s == 4 || s == -4;
}
/// Whether the box (x, y, w, h) needs the exact test for this outline and style.
bool BoxRelevant(const std::vector<float>& area, int32_t style, float x, float y, float w, float h);

}  // namespace kin::gelsim
