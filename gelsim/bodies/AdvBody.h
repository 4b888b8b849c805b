#pragma once
// TAdvBody: a body whose masses, constraints, images and rigs sit in four index tables.
// Callers address elements by small integer indices handed out in rising order; removal
// leaves a hole (the count keeps counting it) until a compaction, storages double when
// full and never shrink. A body read from a file may have counts far above the entries it
// holds; its storage then holds only those entries (see Slots.h) and behaves otherwise
// exactly like the storage of the body that wrote the file. Elements carry back-references
// (abID = the body's id in the world's body registry, index = their table entry).
//
// A body is simulated through its constraints: Activate assigns each to the body, which
// counts it and its two masses into the current world. Every per-element operation on an
// empty entry, or on an index outside the storage, does nothing and returns 0 (0.0, "",
// outputs untouched); nothing outside a table is ever read or written.
//
// The per-element operations are generated from the rows in BodyOps.h.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "gelsim/bodies/BodyOps.h"
#include "gelsim/bodies/Rig.h"
#include "gelsim/bodies/Slots.h"
#include "gelsim/core/Body.h"
#include "gelsim/core/Constraint.h"
#include "gelsim/core/Mass.h"
#include "platform/Image.h"
#include "platform/List.h"
#include "platform/Stream.h"

namespace kin::gelsim {

class TZoneBase;

class TAdvBody : public TBody {
public:
    /// Most indices a table hands out before a compaction: beyond it the doubled storage
    /// could not be addressed with int32 indices any more, and adding is refused.
    static constexpr int32_t MAX_ENTRIES = std::numeric_limits<int32_t>::max() / 2;

    int32_t mIndex = 0;           // mass indices handed out since the last compaction
    TSlots<TMass> mArray;         // mass storage; empty entries are null
    int32_t cIndex = 0;
    TSlots<TConstraint> cArray;
    int32_t iIndex = 0;
    TSlots<TImage> iArray;
    int32_t rIndex = 0;
    TSlots<TRig> rArray;
    int32_t aIndex = -1;          // id in the body registry; -1 once freed or unregistered

    /// An empty body named "Body" with an id from the current world's registry, which holds
    /// it until its Free (-1 without a world: then only its handles hold it). Bodies are
    /// made through Create (or MakeRef), like every shared object.
    TAdvBody();
    /// Counts out what is still assigned and clears the elements' back-references to this
    /// body. A registered body only ends once the registry has let go of it.
    ~TAdvBody() override;
    /// A new empty body (the same as constructing one).
    static Ref<TAdvBody> Create();

    // --- whole body ---
    /// Removes every rig, image, constraint and mass (counts kept), deactivates and gives
    /// the id back, and with it the registry's reference: the body ends here unless the
    /// caller holds it. A second call gives nothing back again.
    int32_t Free() override;
    /// The registry ended while the body lives on: id -1, and its elements name no body.
    void LeaveRegistry() override;
    /// Reads a body file (.plb); null when the path is not a regular file or not a body
    /// file. activate != 0 activates the new body. Raises TStreamReadException when the
    /// file ends early and TFileFormatException (a read error) when it is inconsistent.
    static Ref<TAdvBody> Load(const std::string& path, int32_t activate);
    /// Writes the body to path (".plb" added when the path has no extension) through a
    /// temporary file renamed over the target once complete; backup != 0 first keeps the
    /// old file as path + ".bak"; embedImages != 0 puts the pictures inside the file,
    /// otherwise beside it. Raises TStreamWriteException when anything cannot be written.
    virtual int32_t Save(const std::string& path, int32_t backup, int32_t embedImages);
    /// A new, activated body that looks the same: copies of the masses and constraints,
    /// the same image objects, new rigs. The argument has no effect.
    virtual Ref<TAdvBody> Copy(int32_t flag = 0);
    /// Compacts masses, constraints, rigs and images, in that order.
    virtual int32_t CleanIndex();
    /// Assigns (counts in) / frees (counts out) every constraint; both idempotent. Activate
    /// gives -1 when the body, or one of its constraints or masses, belongs to another world
    /// than the current one (what belongs nowhere else still goes in).
    virtual int32_t Activate();
    virtual int32_t DeActivate();
    /// Draws every live rig in index order.
    virtual int32_t Draw();
    /// Every live mass: shift current position only (adds velocity; frozen ones stay).
    virtual int32_t Move(float dx, float dy);
    /// Every live mass: shift current and old position (keeps velocity).
    virtual int32_t Translate(float dx, float dy);
    /// Moves the body so its reference mass (lowest live index) is at (x, y), at rest.
    virtual int32_t Position(float x, float y);
    /// Position of the reference mass; outputs untouched without a live mass.
    virtual int32_t GetPosition(float& x, float& y) const;
    /// Reference mass's x / y, 0.0 without a live mass.
    virtual float GetX() const;
    virtual float GetY() const;
    /// Turns the body rigidly about its reference mass until its first constraint points
    /// at angle degrees; the masses come to rest.
    virtual int32_t Rotate(float angle);
    /// Direction of the first live constraint in degrees, 0.0 without one.
    virtual float GetRotation() const;
    /// Turns by angle degrees about the reference mass as velocity (frozen masses stay).
    virtual int32_t Spin(float angle);
    /// Turns by angle degrees about the reference mass keeping velocities.
    virtual int32_t Turn(float angle);
    /// Freezes / thaws every live mass.
    virtual int32_t Freeze();
    virtual int32_t Thaw();
    /// Pending events between this body's masses and other's (a new list, or null when
    /// there is none).
    virtual Ref<TList> CollideAdvBody(TAdvBody* other) const;
    /// Pending events between this body's masses and zone, or null.
    virtual Ref<TList> CollideZone(TZoneBase* zone) const;
    /// Pending events between this body's masses and the world's box, or null.
    virtual Ref<TList> CollideBounds() const;

    // --- index tables (rows in BodyOps.h) ---
    /// @name Index tables
    /// Masses, constraints, rigs and images by index (world units, degrees). An operation
    /// named after an element's method (MassSetRadius, ConGetStress, RigSetAngle) calls it
    /// on the entry at index; adders return the new index or -1 when refused; elements
    /// come back borrowed.
    ///@{
    GELSIM_MASS_OPS(GELSIM_DECLARE_FORWARD, GELSIM_DECLARE_HAND)
    GELSIM_CON_OPS(GELSIM_DECLARE_FORWARD, GELSIM_DECLARE_HAND)
    GELSIM_RIG_OPS(GELSIM_DECLARE_FORWARD, GELSIM_DECLARE_HAND)
    GELSIM_IMAGE_OPS(GELSIM_DECLARE_FORWARD, GELSIM_DECLARE_HAND)
    /// ImageAdd / ImageReplace with a media name ("incbin::..." or a path), default flags.
    virtual int32_t ImageAdd(const std::string& path);
    virtual int32_t ImageReplace(int32_t index, const std::string& path);
    ///@}

    /// The element at index (borrowed), or null for an empty entry or an index outside the
    /// storage. Never reads outside a table.
    TMass* MassAt(int32_t index) const;
    TConstraint* ConAt(int32_t index) const;
    TImage* ImageAt(int32_t index) const;
    TRig* RigAt(int32_t index) const;
    /// Index of m / c in this body's table when it is an entry of it, else -1.
    int32_t IndexOfMass(const TMass* m) const;
    int32_t IndexOfCon(const TConstraint* c) const;
    /// Lowest index whose entry is img, or -1 (also for null).
    int32_t IndexOfImage(const TImage* img) const;

private:
    /// Sets abID -1 on every element that names this body's id.
    void DropBackReferences();
    int32_t StoreImage(Ref<TImage> image);
    int32_t ReplaceImage(int32_t index, Ref<TImage> image);
    /// Shared turning step of Rotate (mode 0), Spin (1) and Turn (2).
    void TurnMasses(float angle, int mode);
};

}  // namespace kin::gelsim
