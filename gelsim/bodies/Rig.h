#pragma once
// TRig: the visual skin of a body. An image pinned to one mass and, optionally, turned
// along one constraint, with its own extra angle, scale, tint, transparency and blend.
// Rigs have no physical effect: they are not counted into the world and the step never
// touches them.
#include <cstdint>
#include <string>

#include "gelsim/core/Constraint.h"
#include "gelsim/core/Mass.h"
#include "platform/Image.h"
#include "platform/Object.h"

namespace kin::gelsim {

class TRig final : public TObject {
public:
    std::string name;
    Ref<TImage> image;       // drawn with frame 0
    Ref<TMass> mass;         // the image's handle is placed at its centre
    Ref<TConstraint> con;    // null: the image is not turned by a constraint
    float angle = 0.0f;      // degrees, added to the constraint's direction
    float scaleX = 1.0f, scaleY = 1.0f;
    float red = 1.0f, green = 1.0f, blue = 1.0f;  // tint factors 0..1
    float alpha = 1.0f;                           // transparency factor 0..1
    int32_t blend = 1;       // blend mode while drawn
    int32_t abID = -1;       // owning body's id in the body registry
    int32_t index = -1;      // entry in the owning body's rig table

    TRig() = default;

    /// New rig named "Rig" with the given image, mass, constraint (null allowed) and angle
    /// in degrees; everything else at its defaults. References are retained.
    static Ref<TRig> Create(TImage* image, TMass* mass, TConstraint* con, float angle);
    virtual int32_t SetName(const std::string& n);
    virtual std::string GetName() const;
    /// Image (retained; null allowed) / the image (borrowed).
    virtual int32_t SetImage(TImage* img);
    virtual TImage* GetImage() const { return image.Get(); }
    /// Mass (retained) / the mass (borrowed).
    virtual int32_t SetMass(TMass* m);
    virtual TMass* GetMass() const { return mass.Get(); }
    /// Constraint (retained; null = none) / the constraint (borrowed) or null.
    virtual int32_t SetConstraint(TConstraint* c);
    virtual TConstraint* GetConstraint() const { return con.Get(); }
    /// Extra rotation in degrees, unclamped.
    virtual int32_t SetAngle(float a);
    virtual float GetAngle() const { return angle; }
    /// Drawing scale along the image's own axes, unclamped; it replaces the caller's scale.
    virtual int32_t SetScale(float x, float y);
    virtual int32_t GetScale(float& x, float& y) const;
    /// Tint 0..255 per channel (clamped), stored as value / 255.
    virtual int32_t SetColor(int32_t r, int32_t g, int32_t b);
    /// Tint factors times 255, truncated.
    virtual int32_t GetColor(int32_t& r, int32_t& g, int32_t& b) const;
    /// Transparency factor clamped to 0..1.
    virtual int32_t SetAlpha(float a);
    virtual float GetAlpha() const { return alpha; }
    /// Blend mode number for the drawing layer, unvalidated.
    virtual int32_t SetBlend(int32_t mode);
    virtual int32_t GetBlend() const { return blend; }
    virtual int32_t GetIndex() const { return index; }
    /// The owning body from the current world's registry (borrowed), or null.
    virtual TObject* GetAdvBody() const;
    /// Draws the image at the mass through the world's view, tinting the caller's colour
    /// and alpha; restores every drawing setting it changes. Nothing without image or mass.
    virtual int32_t Draw();
};

}  // namespace kin::gelsim
