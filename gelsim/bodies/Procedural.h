#pragma once
// The flat procedural interface: one free function per type-level function and public
// method of the world, masses, constraints, bodies, rigs, zones and collision events, for
// programs that drive the simulation in a procedural style.
//
// Naming: "Gel" + the type's name without its T + the operation (GelPhysicsUpdate,
// GelAdvBodyMassMove). Type-level functions take the same arguments and give the same
// result as the type's own. Methods take the object first; the call is an ordinary
// virtual call, so GelBodyFree on an indexed body runs the indexed body's Free.
//
// Results: every float, string, object and array result is handed back; an int32 result
// only where it carries information (flags, groups, counts, indices, adders); every other
// function returns 0. Objects come back as Ref<T> when the operation makes a new one (the
// caller owns it) and as a raw T* when it is borrowed from a table or another object.
// Out-parameters are the caller's own variables.
//
// A null object passed to a method function: nothing happens and the function returns
// its "nothing" answer: 0, 0.0, an empty string or array, null, and -1 from the adders
// (MassAdd, ConAdd, RigAdd, ImageAdd), the MaxIndex functions and GetIndex; out-parameters
// are left untouched. Arguments other than the object reach the operation unchanged, and
// so does whatever the operation raises (a body or zone file that cannot be written).
//
// The layer has no state and allocates nothing of its own. The rows live in
// ProceduralTable.h; the hand-written functions are declared below.
#include <iterator>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "gelsim/bodies/AdvBody.h"
#include "gelsim/bodies/ProceduralTable.h"
#include "gelsim/bodies/Rig.h"
#include "gelsim/core/Body.h"
#include "gelsim/core/Constraint.h"
#include "gelsim/core/Mass.h"
#include "gelsim/core/Physics.h"
#include "gelsim/core/ColEvent.h"
#include "gelsim/zones/Zone.h"
#include "platform/Image.h"
#include "platform/List.h"

namespace kin::gelsim {

// --- generated declarations ---------------------------------------------------------------
#define GELSIM_PROC_DECL_FN(Type, Op, Ret, Params, Args) Ret Gel##Type##Op Params;
#define GELSIM_PROC_DECL_FZ(Type, Op, Params, Args) int32_t Gel##Type##Op Params;
#define GELSIM_PROC_DECL_GET(Type, Op, Ret, Null, Params, Args) \
    Ret Gel##Type##Op(T##Type* obj GELSIM_PROC_TAIL Params);
#define GELSIM_PROC_DECL_DO(Type, Op, Params, Args) int32_t Gel##Type##Op(T##Type* obj GELSIM_PROC_TAIL Params);
#define GELSIM_PROC_DECL_HAND(Type, Op)

GELSIM_PROC_ROWS(GELSIM_PROC_DECL_FN, GELSIM_PROC_DECL_FZ, GELSIM_PROC_DECL_GET, GELSIM_PROC_DECL_DO,
                 GELSIM_PROC_DECL_HAND)

// --- hand-written functions -----------------------------------------------------------------
// World.
/// Writes the current world's box (world units) into the caller's variables; untouched
/// without a world.
int32_t GelPhysicsGetBounds(float& minX, float& minY, float& maxX, float& maxY);

// Masses.
/// Writes the mass's centre (world units) into x and y.
int32_t GelMassGetPosition(TMass* mass, float& x, float& y);

// Base bodies.
/// A new, empty base body named "Body" (the caller owns it).
Ref<TBody> GelBodyCreate();

// Indexed bodies.
/// A new, empty body with an id from the current world's body registry (the caller owns it).
Ref<TAdvBody> GelAdvBodyCreate();
/// Saves to path (".plb" added without an extension), keeping the old file as path + ".bak"
/// and embedding the images. Raises what the body's Save raises when writing fails.
int32_t GelAdvBodySave(TAdvBody* body, const std::string& path);
/// A new, activated copy of the body (the caller owns it); null for a null body.
Ref<TAdvBody> GelAdvBodyCopy(TAdvBody* body);
/// Writes the reference mass's position (world units); untouched without a live mass.
int32_t GelAdvBodyGetPosition(TAdvBody* body, float& x, float& y);
/// Writes the position of mass entry index; untouched for an empty entry.
int32_t GelAdvBodyMassGetPosition(TAdvBody* body, int32_t index, float& x, float& y);
/// Joins every pair of live masses with a new constraint of stiffness 1.0 at its present
/// distance.
int32_t GelAdvBodyConAddAll(TAdvBody* body);
/// Writes rig entry index's scale; untouched for an empty entry.
int32_t GelAdvBodyRigGetScale(TAdvBody* body, int32_t index, float& scaleX, float& scaleY);
/// Writes rig entry index's tint, 0..255 per channel; untouched for an empty entry.
int32_t GelAdvBodyRigGetColor(TAdvBody* body, int32_t index, int32_t& red, int32_t& green, int32_t& blue);
/// ImageAdd with a media name ("incbin::..." or a file path), default flags; the new index
/// or -1.
int32_t GelAdvBodyImageAdd(TAdvBody* body, const std::string& path);
/// ImageReplace with a media name; 1, or 0 when nothing could be loaded.
int32_t GelAdvBodyImageReplace(TAdvBody* body, int32_t index, const std::string& path);

// Rigs.
/// Writes the rig's drawing scale.
int32_t GelRigGetScale(TRig* rig, float& scaleX, float& scaleY);
/// Writes the rig's tint, 0..255 per channel.
int32_t GelRigGetColor(TRig* rig, int32_t& red, int32_t& green, int32_t& blue);

// Zones.
/// Writes the zone's scale along its local axes.
int32_t GelZoneGetScale(TZone* zone, float& scaleX, float& scaleY);
/// Writes the zone's colour, 0..255 per channel.
int32_t GelZoneGetColor(TZone* zone, int32_t& red, int32_t& green, int32_t& blue);
/// Writes vertex index as supplied (local units, untransformed); untouched for a bad index.
int32_t GelZoneVertGetPosition(TZone* zone, int32_t index, float& x, float& y);
/// Writes the extra image scale.
int32_t GelZoneImageGetScale(TZone* zone, float& scaleX, float& scaleY);
/// Draws the quad tree's leaves as filled rectangles at the zone's position.
int32_t GelZoneDrawQuadTree(TZone* zone);

// World, second names: each is the GelPhysics function of the same operation.
/// As GelPhysicsCreate: a new current world (the caller gets a reference).
Ref<TPhysics> GelWorldCreate(float maxX, float maxY, float gravityY, float gravityX, int32_t iterations);
/// As GelPhysicsUpdate: one tick.
int32_t GelWorldUpdate();
/// As GelPhysicsFree: leaves no current world.
int32_t GelWorldFree();
/// As GelPhysicsSetGravity, world units per tick per tick.
int32_t GelWorldSetGravity(float x, float y);
/// As GelPhysicsSetIterations.
int32_t GelWorldSetIterations(int32_t n);
/// As GelPhysicsSetBounds, two corners in any order.
int32_t GelWorldSetBounds(float x1, float y1, float x2, float y2);
/// As GelPhysicsSetFriction.
int32_t GelWorldSetFriction(float f);
/// As GelPhysicsUseShiftedGrid.
int32_t GelWorldUseShiftedGrid(int32_t flag);
/// As GelPhysicsSetGridSize, cells per side 8..128.
int32_t GelWorldSetGridSize(int32_t n);

// --- the names, in the interface's order -----------------------------------------------------
#define GELSIM_PROC_NAME(Type, Op, ...) "Gel" #Type #Op,

/// Every function's name, in the interface's order (generated from the rows).
inline constexpr std::string_view kGelFunctionNames[] = {
    GELSIM_PROC_ROWS(GELSIM_PROC_NAME, GELSIM_PROC_NAME, GELSIM_PROC_NAME, GELSIM_PROC_NAME, GELSIM_PROC_NAME)};
/// Number of functions in the interface.
inline constexpr size_t kGelFunctionCount = std::size(kGelFunctionNames);

}  // namespace kin::gelsim
