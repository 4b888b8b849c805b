#pragma once
// TZone: a static outline that masses collide with: an open polyline (LINE), a closed
// loop (LOOP), a filled polygon (FILL) or a hole whose outside is solid (HOLE).
//
// The zone keeps the vertices as supplied (origArea, local units), a scaled-then-rotated
// copy (area, still local) and a position (offsetX, offsetY) that is added only when the
// zone is collided or drawn, so moving a zone costs nothing. Changing the outline, the
// scale or the rotation rebuilds the quad tree over area. An active zone holds an entry
// in the current world's zone table, which the step walks.
//
// Ownership: the zone owns its arrays; its quad tree and image are shared with copies of
// it until one of them rebuilds or replaces them. The world's zone table holds a
// reference to every active zone.
#include <cstdint>
#include <string>
#include <vector>

#include "gelsim/core/ZoneBase.h"
#include "gelsim/zones/QuadTree.h"
#include "platform/Image.h"
#include "platform/Object.h"

namespace kin::gelsim {

class TMass;
class TZone;

/// Contact response: push the mass (borrowed) along the unit normal (nx, ny) out of the
/// contact of the given depth (world units). The result is ignored.
using TZoneResponse = int32_t (*)(TZone* zone, TMass* mass, float nx, float ny, float depth);

class TZone : public TZoneBase {
public:
    // Styles.
    static constexpr int32_t LINE = 0;
    static constexpr int32_t LOOP = 1;
    static constexpr int32_t FILL = 2;
    static constexpr int32_t HOLE = 3;

    std::string name;
    std::vector<float> origArea;  // x0, y0, x1, y1, ... as supplied, local units
    std::vector<float> area;      // origArea scaled then rotated, local units (change it
                                  // through the methods, which keep the tree in step)
    int32_t style = LINE;
    float friction = 0.0f;        // 0..1 through Create and SetFriction
    float offsetX = 0.0f, offsetY = 0.0f;  // world position of the local origin
    float angle = 0.0f;           // degrees
    float scaleX = 1.0f, scaleY = 1.0f;
    float red = 1.0f, green = 1.0f, blue = 1.0f;  // fractions of 255
    float alpha = 1.0f;
    int32_t blend = 1;            // drawing blend mode (masked)
    // colGroup and aIndex: TZoneBase (colGroup -1 and aIndex -1 after construction).
    TZoneResponse ColResponse = &TZone::ColDefault;
    Ref<TQuadTree> quadTree;      // over area; replaced, never edited
    int32_t qtLevel = 0;
    Ref<TImage> image;            // drawn instead of the outline when set
    float imgScaleX = 1.0f, imgScaleY = 1.0f;

    /// A bare zone: no vertices, style LINE, inactive, no quad tree, name empty.
    TZone() = default;
    ~TZone() override;

    // --- construction, files, registration ---
    /// A new active zone named "Zone" from at least 2 vertices (x0, y0, x1, y1, ...;
    /// copied); friction clamped to 0..1; colGroup -1 takes a fresh automatic group.
    /// Null (nothing registered) for fewer than 4 values or an uneven count.
    static Ref<TZone> Create(const std::vector<float>& vertices, int32_t style, float friction, int32_t colGroup,
                             int32_t qtLevel);
    /// Reads a zone file (.plz) into a new active zone; null when path names no regular
    /// file or the file is not a zone file. Raises TStreamReadException ("Error reading
    /// from stream") when the data ends early or is inconsistent, a quad-tree level above
    /// TQuadTree::MAX_LEVEL included.
    static Ref<TZone> Load(const std::string& path);
    /// Writes the zone to path (".plz" added when it has no extension) atomically; backup
    /// non-zero keeps the previous file as path + ".bak"; embedImage non-zero puts the
    /// picture inside the file, otherwise beside it as (path without extension)_img.png.
    /// Returns 0; raises TStreamWriteException ("Error writing to stream") when the file
    /// cannot be written (a folder, a missing or read-only folder); nothing changes then.
    virtual int32_t Save(const std::string& path, int32_t backup, int32_t embedImage);
    /// A new active zone with the same attributes, sharing this zone's quad tree and image.
    virtual Ref<TZone> Copy();
    /// Takes an entry in the current world's zone table (nothing when already there).
    virtual int32_t Activate();
    /// Gives the entry back; the world no longer collides the zone.
    virtual int32_t DeActivate();
    /// Same as DeActivate.
    virtual int32_t Free();
    /// 1 while the zone holds an entry in the current world's zone table.
    virtual int32_t IsActive() const;

    // --- attributes ---
    virtual int32_t SetName(const std::string& n);
    virtual std::string GetName() const;
    /// Surface friction, clamped to 0..1.
    virtual int32_t SetFriction(float f);
    virtual float GetFriction() const { return friction; }
    /// Stores the style only; the quad tree is rebuilt by CalcQuadTree.
    virtual int32_t SetStyle(int32_t s);
    virtual int32_t GetStyle() const { return style; }
    /// World position of the local origin (constant time; the tree is not rebuilt).
    virtual int32_t Position(float x, float y);
    virtual int32_t Move(float dx, float dy);
    virtual float GetPositionX() const { return offsetX; }
    virtual float GetPositionY() const { return offsetY; }
    virtual float GetX() const { return offsetX; }
    virtual float GetY() const { return offsetY; }
    /// Rotation in degrees (positive turns +x toward +y); rebuilds area and the tree.
    virtual int32_t Rotate(float degrees);
    /// Adds to the rotation; rebuilds area and the tree.
    virtual int32_t Turn(float degrees);
    virtual float GetRotation() const { return angle; }
    /// Scale along the local axes, applied before the rotation; rebuilds area and the tree.
    virtual int32_t SetScale(float sx, float sy);
    virtual int32_t GetScale(float& sx, float& sy) const;
    /// Colour 0..255 per channel (clamped), tinting the current drawing colour.
    virtual int32_t SetColor(int32_t r, int32_t g, int32_t b);
    virtual int32_t GetColor(int32_t& r, int32_t& g, int32_t& b) const;
    /// Opacity factor for drawing, stored unclamped.
    virtual int32_t SetAlpha(float a);
    virtual float GetAlpha() const { return alpha; }
    virtual int32_t SetBlend(int32_t mode);
    virtual int32_t GetBlend() const { return blend; }
    /// -1 takes a fresh automatic group; 0 never collides; masses of the same group pass.
    virtual int32_t SetColGroup(int32_t group);
    virtual int32_t GetColGroup() const { return colGroup; }
    /// Image drawn instead of the outline (retained; null: the outline again).
    virtual int32_t ImageSet(TImage* img);
    /// The image (borrowed), or null.
    virtual TImage* ImageGet() const { return image.Get(); }
    virtual int32_t ImageSetScale(float sx, float sy);
    virtual int32_t ImageGetScale(float& sx, float& sy) const;
    virtual int32_t GetQTLevel() const { return qtLevel; }
    /// A copy of the transformed vertices (local units).
    virtual std::vector<float> GetArea() const;
    /// Response for later contacts; null restores ColDefault.
    virtual int32_t OverrideCollision(TZoneResponse fn);

    // --- vertices (indices count vertices; every change rebuilds the quad tree) ---
    virtual int32_t VertCount() const;
    virtual int32_t VertAddLast(float x, float y);
    virtual int32_t VertAddFirst(float x, float y);
    /// Nothing when index < 0 or index > VertCount(); VertCount() appends.
    virtual int32_t VertInsert(int32_t index, float x, float y);
    /// Nothing when only 2 vertices are left.
    virtual int32_t VertRemoveLast();
    virtual int32_t VertRemoveFirst();
    virtual int32_t VertRemove(int32_t index);
    /// Moves one vertex (local units, before scale and rotation); nothing for a bad index.
    virtual int32_t VertPosition(int32_t index, float x, float y);
    /// The untransformed vertex; outputs untouched for a bad index.
    virtual int32_t VertGetPosition(int32_t index, float& x, float& y) const;
    /// Untransformed coordinate; 0 for a bad index.
    virtual float VertGetX(int32_t index) const;
    virtual float VertGetY(int32_t index) const;

    // --- geometry, drawing, contact ---
    /// Recomputes every area vertex from origArea, the scale and the rotation.
    virtual int32_t UpdateArea();
    /// Stores level as qtLevel (lowered to TQuadTree::MAX_LEVEL when above it) and builds
    /// a new quad tree over area (the box enlarged by 1 unit on every side).
    virtual int32_t CalcQuadTree(int32_t level);
    /// Draws the zone at its position with the world's view, tinting the current colour;
    /// the drawing state is restored afterwards.
    virtual int32_t Draw();
    /// Draws the quad tree's leaves at the zone's position (filled or outlined).
    virtual int32_t DrawQuadTree(int32_t filled);
    /// Contact test against one mass (borrowed): on overlap, runs ColResponse and emits a
    /// MASS_ZONE event at the nearest outline point with the depth as force. Always 0.
    int32_t Collide(TMass* mass) override;
    /// The default response: pushes the mass out by depth along (nx, ny) and brakes its
    /// motion along the surface by up to 0.5 * depth * (zone + mass friction). Returns 0.
    static int32_t ColDefault(TZone* zone, TMass* mass, float nx, float ny, float depth);

    /// One vertex of origArea transformed by this zone's scale and rotation (local units).
    void TransformVertex(float x, float y, float& tx, float& ty) const;

private:
    // Bounding box of area, kept by UpdateArea and CalcQuadTree: lets the contact test
    // turn away discs that are clearly clear of a LOOP or FILL outline.
    void RefreshBounds();
    bool ClearOfOutline(float x, float y, float size) const;
    bool boundsValid_ = false;
    float minX_ = 0, minY_ = 0, maxX_ = 0, maxY_ = 0;
};

}  // namespace kin::gelsim
