#pragma once
// The rows of the flat procedural interface, one per function, in the interface's order.
// Procedural.h generates the declarations and the list of names from these rows,
// Procedural.cpp the definitions, and the tests the call sweep, so a name, a parameter
// list or a forwarded operation is written exactly once.
//
// Row kinds (Type is the type's name without its leading T):
//
//   FN(Type, Op, Ret, Params, Args)         type-level: Ret GelTypeOp Params hands back
//                                           TType::Op Args.
//   FZ(Type, Op, Params, Args)              type-level: int32_t GelTypeOp Params calls
//                                           TType::Op Args and returns 0.
//   GET(Type, Op, Ret, Null, Params, Args)  method: Ret GelTypeOp(TType* obj, Params...)
//                                           hands back obj->Op Args; Null when obj is null.
//   DO(Type, Op, Params, Args)              method: int32_t GelTypeOp(TType* obj, Params...)
//                                           calls obj->Op Args (nothing when obj is null)
//                                           and returns 0.
//   HAND(Type, Op)                          written by hand in Procedural.cpp: creating
//                                           functions, fixed arguments, out-parameters and
//                                           the GelWorld second names.
//
// Params and Args are parenthesised lists, possibly empty. An int32 result is handed back
// (GET) only where it carries information: flags, groups, counts, indices; every other
// int32 status is dropped (DO, FZ). Section index: world, masses, constraints, base
// bodies, bodies (whole body, mass, constraint, rig and image tables), rigs, zones,
// collision events, world second names.
#include <cstdint>

/// ", a, b" from "(a, b)"; nothing from "()".
#define GELSIM_PROC_TAIL(...) __VA_OPT__(, ) __VA_ARGS__

// --- world, TPhysics (25) ---------------------------------------------------------------
#define GELSIM_PROC_PHYSICS(FN, FZ, GET, DO, HAND)                                                        \
    FN(Physics, Create, Ref<TPhysics>, (float maxX, float maxY, float gravityY, float gravityX, int32_t iterations), \
       (maxX, maxY, gravityY, gravityX, iterations))                                                      \
    FZ(Physics, Update, (), ())                                                                           \
    FZ(Physics, Free, (), ())                                                                             \
    FZ(Physics, SetGravity, (float x, float y), (x, y))                                                   \
    FZ(Physics, SetIterations, (int32_t n), (n))                                                          \
    FZ(Physics, SetBounds, (float x1, float y1, float x2, float y2), (x1, y1, x2, y2))                    \
    HAND(Physics, GetBounds)                                                                              \
    FZ(Physics, SetFriction, (float f), (f))                                                              \
    FZ(Physics, UseShiftedGrid, (int32_t flag), (flag))                                                   \
    FZ(Physics, SetGridSize, (int32_t n), (n))                                                            \
    FZ(Physics, SetDrawCoords, (float x, float y), (x, y))                                                \
    FZ(Physics, SetDrawZoom, (float zoom), (zoom))                                                        \
    FZ(Physics, SetDrawRotation, (float degrees), (degrees))                                              \
    FZ(Physics, UpdateTransform, (), ())                                                                  \
    FN(Physics, MouseX, float, (), ())                                                                    \
    FN(Physics, MouseY, float, (), ())                                                                    \
    FN(Physics, SimX, float, (float sx, float sy), (sx, sy))                                              \
    FN(Physics, SimY, float, (float sx, float sy), (sx, sy))                                              \
    FZ(Physics, DrawImage, (TImage * image, float x, float y, int32_t frame), (image, x, y, frame))       \
    FZ(Physics, DrawPoly, (const std::vector<float>& xy, float x, float y), (xy, x, y))                   \
    FZ(Physics, DrawLine, (float x1, float y1, float x2, float y2), (x1, y1, x2, y2))                      \
    FZ(Physics, DrawOval, (float x, float y, float w, float h), (x, y, w, h))                             \
    FZ(Physics, DrawRect, (float x, float y, float w, float h), (x, y, w, h))                             \
    FN(Physics, ScreenX, float, (float x, float y), (x, y))                                               \
    FN(Physics, ScreenY, float, (float x, float y), (x, y))

// --- masses, TMass (34) -----------------------------------------------------------------
#define GELSIM_PROC_MASS(FN, FZ, GET, DO, HAND)                                                           \
    FN(Mass, Create, Ref<TMass>,                                                                          \
       (float x, float y, float mass, float radius, float friction, int32_t colGroup),                    \
       (x, y, mass, radius, friction, colGroup))                                                          \
    GET(Mass, Copy, Ref<TMass>, {}, (), ())                                                               \
    DO(Mass, SetName, (const std::string& name), (name))                                                  \
    GET(Mass, GetName, std::string, {}, (), ())                                                           \
    DO(Mass, Move, (float dx, float dy), (dx, dy))                                                        \
    DO(Mass, Translate, (float dx, float dy), (dx, dy))                                                   \
    DO(Mass, Position, (float x, float y), (x, y))                                                        \
    GET(Mass, GetPositionX, float, {}, (), ())                                                            \
    GET(Mass, GetPositionY, float, {}, (), ())                                                            \
    HAND(Mass, GetPosition)                                                                               \
    GET(Mass, GetX, float, {}, (), ())                                                                    \
    GET(Mass, GetY, float, {}, (), ())                                                                    \
    DO(Mass, SetMass, (float mass), (mass))                                                               \
    GET(Mass, GetMass, float, {}, (), ())                                                                 \
    DO(Mass, SetRadius, (float radius), (radius))                                                         \
    GET(Mass, GetRadius, float, {}, (), ())                                                               \
    DO(Mass, SetFriction, (float friction), (friction))                                                   \
    GET(Mass, GetFriction, float, {}, (), ())                                                             \
    DO(Mass, Freeze, (), ())                                                                              \
    DO(Mass, Thaw, (), ())                                                                                \
    GET(Mass, IsFrozen, int32_t, {}, (), ())                                                              \
    DO(Mass, SetVelocity, (float vx, float vy), (vx, vy))                                                 \
    DO(Mass, AddVelocity, (float vx, float vy), (vx, vy))                                                 \
    GET(Mass, GetVelocityX, float, {}, (), ())                                                            \
    GET(Mass, GetVelocityY, float, {}, (), ())                                                            \
    GET(Mass, GetVX, float, {}, (), ())                                                                   \
    GET(Mass, GetVY, float, {}, (), ())                                                                   \
    GET(Mass, GetVelocity, float, {}, (), ())                                                             \
    GET(Mass, GetColGroup, int32_t, {}, (), ())                                                           \
    DO(Mass, SetColGroup, (int32_t colGroup), (colGroup))                                                 \
    GET(Mass, IsActive, int32_t, {}, (), ())                                                              \
    GET(Mass, GetIndex, int32_t, -1, (), ())                                                              \
    GET(Mass, GetAdvBody, TAdvBody*, {}, (), ())                                                          \
    DO(Mass, Draw, (), ())

// --- constraints, TConstraint (18) ------------------------------------------------------
#define GELSIM_PROC_CONSTRAINT(FN, FZ, GET, DO, HAND)                                                     \
    FN(Constraint, Create, Ref<TConstraint>, (TMass * m1, TMass * m2, float restLength, float stiffness), \
       (m1, m2, restLength, stiffness))                                                                   \
    DO(Constraint, SetName, (const std::string& name), (name))                                            \
    GET(Constraint, GetName, std::string, {}, (), ())                                                     \
    DO(Constraint, Assign, (TBody * body), (body))                                                        \
    DO(Constraint, Free, (TBody * body), (body))                                                          \
    GET(Constraint, GetMass1, TMass*, {}, (), ())                                                         \
    GET(Constraint, GetMass2, TMass*, {}, (), ())                                                         \
    DO(Constraint, SetRestLength, (float restLength), (restLength))                                       \
    GET(Constraint, GetRestLength, float, {}, (), ())                                                     \
    DO(Constraint, SetStiffness, (float stiffness), (stiffness))                                          \
    GET(Constraint, GetStiffness, float, {}, (), ())                                                      \
    GET(Constraint, GetAngle, float, {}, (), ())                                                          \
    GET(Constraint, GetLength, float, {}, (), ())                                                         \
    GET(Constraint, GetStress, float, {}, (), ())                                                         \
    GET(Constraint, IsActive, int32_t, {}, (), ())                                                        \
    GET(Constraint, GetIndex, int32_t, -1, (), ())                                                        \
    GET(Constraint, GetAdvBody, TAdvBody*, {}, (), ())                                                    \
    DO(Constraint, Draw, (), ())

// --- base bodies, TBody (6) -------------------------------------------------------------
#define GELSIM_PROC_BODY(FN, FZ, GET, DO, HAND)                                                           \
    HAND(Body, Create)                                                                                    \
    DO(Body, SetName, (const std::string& name), (name))                                                  \
    GET(Body, GetName, std::string, {}, (), ())                                                           \
    GET(Body, GetConstraints, Ref<TList>, {}, (), ())                                                     \
    DO(Body, Free, (), ())                                                                                \
    DO(Body, Clear, (), ())

// --- bodies, TAdvBody (119): the whole body ---------------------------------------------
#define GELSIM_PROC_ADVBODY_WHOLE(FN, FZ, GET, DO, HAND)                                                  \
    HAND(AdvBody, Create)                                                                                 \
    FN(AdvBody, Load, Ref<TAdvBody>, (const std::string& path, int32_t activate), (path, activate))       \
    HAND(AdvBody, Save)                                                                                   \
    HAND(AdvBody, Copy)                                                                                   \
    DO(AdvBody, CleanIndex, (), ())                                                                       \
    DO(AdvBody, Activate, (), ())                                                                         \
    DO(AdvBody, DeActivate, (), ())                                                                       \
    DO(AdvBody, Free, (), ())                                                                             \
    DO(AdvBody, Draw, (), ())                                                                             \
    DO(AdvBody, Move, (float dx, float dy), (dx, dy))                                                     \
    DO(AdvBody, Translate, (float dx, float dy), (dx, dy))                                                \
    DO(AdvBody, Position, (float x, float y), (x, y))                                                     \
    HAND(AdvBody, GetPosition)                                                                            \
    GET(AdvBody, GetX, float, {}, (), ())                                                                 \
    GET(AdvBody, GetY, float, {}, (), ())                                                                 \
    DO(AdvBody, Rotate, (float angle), (angle))                                                           \
    GET(AdvBody, GetRotation, float, {}, (), ())                                                          \
    DO(AdvBody, Spin, (float angle), (angle))                                                             \
    DO(AdvBody, Turn, (float angle), (angle))                                                             \
    DO(AdvBody, Freeze, (), ())                                                                           \
    DO(AdvBody, Thaw, (), ())                                                                             \
    GET(AdvBody, CollideAdvBody, Ref<TList>, {}, (TAdvBody * other), (other))                             \
    GET(AdvBody, CollideZone, Ref<TList>, {}, (TZone * zone), (zone))                                     \
    GET(AdvBody, CollideBounds, Ref<TList>, {}, (), ())

// --- bodies: the mass table -------------------------------------------------------------
#define GELSIM_PROC_ADVBODY_MASS(FN, FZ, GET, DO, HAND)                                                   \
    GET(AdvBody, MassAdd, int32_t, -1,                                                                    \
        (float x, float y, float mass, float radius, float friction, int32_t colGroup),                   \
        (x, y, mass, radius, friction, colGroup))                                                         \
    DO(AdvBody, MassRemove, (int32_t index), (index))                                                     \
    GET(AdvBody, MassMaxIndex, int32_t, -1, (), ())                                                       \
    DO(AdvBody, MassSwapIndex, (int32_t a, int32_t b), (a, b))                                            \
    DO(AdvBody, MassCleanIndex, (), ())                                                                   \
    GET(AdvBody, MassExists, int32_t, {}, (int32_t index), (index))                                       \
    GET(AdvBody, MassGet, TMass*, {}, (int32_t index), (index))                                           \
    DO(AdvBody, MassSetName, (int32_t index, const std::string& name), (index, name))                     \
    GET(AdvBody, MassGetName, std::string, {}, (int32_t index), (index))                                  \
    DO(AdvBody, MassMove, (int32_t index, float dx, float dy), (index, dx, dy))                           \
    DO(AdvBody, MassTranslate, (int32_t index, float dx, float dy), (index, dx, dy))                      \
    DO(AdvBody, MassPosition, (int32_t index, float x, float y), (index, x, y))                           \
    GET(AdvBody, MassGetPositionX, float, {}, (int32_t index), (index))                                   \
    GET(AdvBody, MassGetPositionY, float, {}, (int32_t index), (index))                                   \
    HAND(AdvBody, MassGetPosition)                                                                        \
    GET(AdvBody, MassGetX, float, {}, (int32_t index), (index))                                           \
    GET(AdvBody, MassGetY, float, {}, (int32_t index), (index))                                           \
    DO(AdvBody, MassSetMass, (int32_t index, float mass), (index, mass))                                  \
    GET(AdvBody, MassGetMass, float, {}, (int32_t index), (index))                                        \
    DO(AdvBody, MassSetRadius, (int32_t index, float radius), (index, radius))                            \
    GET(AdvBody, MassGetRadius, float, {}, (int32_t index), (index))                                      \
    DO(AdvBody, MassSetFriction, (int32_t index, float friction), (index, friction))                      \
    GET(AdvBody, MassGetFriction, float, {}, (int32_t index), (index))                                    \
    DO(AdvBody, MassFreeze, (int32_t index), (index))                                                     \
    DO(AdvBody, MassThaw, (int32_t index), (index))                                                       \
    GET(AdvBody, MassIsFrozen, int32_t, {}, (int32_t index), (index))                                     \
    DO(AdvBody, MassSetVelocity, (int32_t index, float vx, float vy), (index, vx, vy))                    \
    DO(AdvBody, MassAddVelocity, (int32_t index, float vx, float vy), (index, vx, vy))                    \
    GET(AdvBody, MassGetVelocityX, float, {}, (int32_t index), (index))                                   \
    GET(AdvBody, MassGetVelocityY, float, {}, (int32_t index), (index))                                   \
    GET(AdvBody, MassGetVX, float, {}, (int32_t index), (index))                                          \
    GET(AdvBody, MassGetVY, float, {}, (int32_t index), (index))                                          \
    GET(AdvBody, MassGetVelocity, float, {}, (int32_t index), (index))                                    \
    GET(AdvBody, MassGetColGroup, int32_t, {}, (int32_t index), (index))                                  \
    DO(AdvBody, MassSetColGroup, (int32_t index, int32_t colGroup), (index, colGroup))                    \
    GET(AdvBody, MassIsActive, int32_t, {}, (int32_t index), (index))                                     \
    DO(AdvBody, MassDraw, (int32_t index), (index))                                                       \
    DO(AdvBody, MassDrawAll, (), ())

// --- bodies: the constraint table -------------------------------------------------------
#define GELSIM_PROC_ADVBODY_CON(FN, FZ, GET, DO, HAND)                                                    \
    HAND(AdvBody, ConAddAll)                                                                              \
    GET(AdvBody, ConAdd, int32_t, -1, (int32_t mass1, int32_t mass2, float restLength, float stiffness),  \
        (mass1, mass2, restLength, stiffness))                                                            \
    DO(AdvBody, ConRemove, (int32_t index), (index))                                                      \
    GET(AdvBody, ConMaxIndex, int32_t, -1, (), ())                                                        \
    DO(AdvBody, ConSwapIndex, (int32_t a, int32_t b), (a, b))                                             \
    DO(AdvBody, ConCleanIndex, (), ())                                                                    \
    GET(AdvBody, ConExists, int32_t, {}, (int32_t index), (index))                                        \
    GET(AdvBody, ConGet, TConstraint*, {}, (int32_t index), (index))                                      \
    DO(AdvBody, ConSetName, (int32_t index, const std::string& name), (index, name))                      \
    GET(AdvBody, ConGetName, std::string, {}, (int32_t index), (index))                                   \
    DO(AdvBody, ConAssign, (int32_t index), (index))                                                      \
    DO(AdvBody, ConFree, (int32_t index), (index))                                                        \
    GET(AdvBody, ConGetMass1, int32_t, {}, (int32_t index), (index))                                      \
    GET(AdvBody, ConGetMass2, int32_t, {}, (int32_t index), (index))                                      \
    DO(AdvBody, ConSetRestLength, (int32_t index, float restLength), (index, restLength))                 \
    GET(AdvBody, ConGetRestLength, float, {}, (int32_t index), (index))                                   \
    DO(AdvBody, ConSetStiffness, (int32_t index, float stiffness), (index, stiffness))                    \
    GET(AdvBody, ConGetStiffness, float, {}, (int32_t index), (index))                                    \
    GET(AdvBody, ConGetAngle, float, {}, (int32_t index), (index))                                        \
    GET(AdvBody, ConGetLength, float, {}, (int32_t index), (index))                                       \
    GET(AdvBody, ConGetStress, float, {}, (int32_t index), (index))                                       \
    DO(AdvBody, ConDraw, (int32_t index), (index))                                                        \
    DO(AdvBody, ConDrawAll, (), ())

// --- bodies: the rig table --------------------------------------------------------------
#define GELSIM_PROC_ADVBODY_RIG(FN, FZ, GET, DO, HAND)                                                    \
    GET(AdvBody, RigAdd, int32_t, -1, (int32_t image, int32_t mass, int32_t con, float angle),            \
        (image, mass, con, angle))                                                                        \
    DO(AdvBody, RigRemove, (int32_t index), (index))                                                      \
    GET(AdvBody, RigMaxIndex, int32_t, -1, (), ())                                                        \
    DO(AdvBody, RigSwapIndex, (int32_t a, int32_t b), (a, b))                                             \
    DO(AdvBody, RigCleanIndex, (), ())                                                                    \
    GET(AdvBody, RigExists, int32_t, {}, (int32_t index), (index))                                        \
    GET(AdvBody, RigGet, TRig*, {}, (int32_t index), (index))                                             \
    DO(AdvBody, RigSetName, (int32_t index, const std::string& name), (index, name))                      \
    GET(AdvBody, RigGetName, std::string, {}, (int32_t index), (index))                                   \
    DO(AdvBody, RigSetImage, (int32_t index, int32_t image), (index, image))                              \
    GET(AdvBody, RigGetImage, int32_t, {}, (int32_t index), (index))                                      \
    DO(AdvBody, RigSetMass, (int32_t index, int32_t mass), (index, mass))                                 \
    GET(AdvBody, RigGetMass, int32_t, {}, (int32_t index), (index))                                       \
    DO(AdvBody, RigSetConstraint, (int32_t index, int32_t con), (index, con))                             \
    GET(AdvBody, RigGetConstraint, int32_t, {}, (int32_t index), (index))                                 \
    DO(AdvBody, RigSetAngle, (int32_t index, float angle), (index, angle))                                \
    GET(AdvBody, RigGetAngle, float, {}, (int32_t index), (index))                                        \
    DO(AdvBody, RigSetScale, (int32_t index, float scaleX, float scaleY), (index, scaleX, scaleY))        \
    HAND(AdvBody, RigGetScale)                                                                            \
    DO(AdvBody, RigSetColor, (int32_t index, int32_t red, int32_t green, int32_t blue),                   \
       (index, red, green, blue))                                                                         \
    HAND(AdvBody, RigGetColor)                                                                            \
    DO(AdvBody, RigSetAlpha, (int32_t index, float alpha), (index, alpha))                                \
    GET(AdvBody, RigGetAlpha, float, {}, (int32_t index), (index))                                        \
    DO(AdvBody, RigSetBlend, (int32_t index, int32_t blend), (index, blend))                              \
    GET(AdvBody, RigGetBlend, int32_t, {}, (int32_t index), (index))                                      \
    DO(AdvBody, RigDraw, (int32_t index), (index))

// --- bodies: the image table (ImageAdd and ImageReplace also take a media name, by hand) --
#define GELSIM_PROC_ADVBODY_IMAGE(FN, FZ, GET, DO, HAND)                                                  \
    GET(AdvBody, ImageAdd, int32_t, -1, (TObject * image), (image))                                       \
    DO(AdvBody, ImageRemove, (int32_t index), (index))                                                    \
    GET(AdvBody, ImageMaxIndex, int32_t, -1, (), ())                                                      \
    DO(AdvBody, ImageSwapIndex, (int32_t a, int32_t b), (a, b))                                           \
    GET(AdvBody, ImageReplace, int32_t, {}, (int32_t index, TObject * image), (index, image))             \
    DO(AdvBody, ImageCleanIndex, (), ())                                                                  \
    GET(AdvBody, ImageExists, int32_t, {}, (int32_t index), (index))                                      \
    GET(AdvBody, ImageGet, TImage*, {}, (int32_t index), (index))

// --- rigs, TRig (22) --------------------------------------------------------------------
#define GELSIM_PROC_RIG(FN, FZ, GET, DO, HAND)                                                            \
    FN(Rig, Create, Ref<TRig>, (TImage * image, TMass * mass, TConstraint * con, float angle),            \
       (image, mass, con, angle))                                                                         \
    DO(Rig, SetName, (const std::string& name), (name))                                                   \
    GET(Rig, GetName, std::string, {}, (), ())                                                            \
    DO(Rig, SetImage, (TImage * image), (image))                                                          \
    GET(Rig, GetImage, TImage*, {}, (), ())                                                               \
    DO(Rig, SetMass, (TMass * mass), (mass))                                                              \
    GET(Rig, GetMass, TMass*, {}, (), ())                                                                 \
    DO(Rig, SetConstraint, (TConstraint * con), (con))                                                    \
    GET(Rig, GetConstraint, TConstraint*, {}, (), ())                                                     \
    DO(Rig, SetAngle, (float angle), (angle))                                                             \
    GET(Rig, GetAngle, float, {}, (), ())                                                                 \
    DO(Rig, SetScale, (float scaleX, float scaleY), (scaleX, scaleY))                                     \
    HAND(Rig, GetScale)                                                                                   \
    DO(Rig, SetColor, (int32_t red, int32_t green, int32_t blue), (red, green, blue))                     \
    HAND(Rig, GetColor)                                                                                   \
    DO(Rig, SetAlpha, (float alpha), (alpha))                                                             \
    GET(Rig, GetAlpha, float, {}, (), ())                                                                 \
    DO(Rig, SetBlend, (int32_t blend), (blend))                                                           \
    GET(Rig, GetBlend, int32_t, {}, (), ())                                                               \
    GET(Rig, GetIndex, int32_t, -1, (), ())                                                               \
    GET(Rig, GetAdvBody, TAdvBody*, {}, (), ())                                                           \
    DO(Rig, Draw, (), ())

// --- zones, TZone (53) ------------------------------------------------------------------
#define GELSIM_PROC_ZONE(FN, FZ, GET, DO, HAND)                                                           \
    FN(Zone, Create, Ref<TZone>,                                                                          \
       (const std::vector<float>& vertices, int32_t style, float friction, int32_t colGroup, int32_t qtLevel), \
       (vertices, style, friction, colGroup, qtLevel))                                                    \
    FN(Zone, Load, Ref<TZone>, (const std::string& path), (path))                                         \
    DO(Zone, Save, (const std::string& path, int32_t backup, int32_t embedImage), (path, backup, embedImage)) \
    GET(Zone, Copy, Ref<TZone>, {}, (), ())                                                               \
    DO(Zone, Activate, (), ())                                                                            \
    DO(Zone, DeActivate, (), ())                                                                          \
    DO(Zone, Free, (), ())                                                                                \
    DO(Zone, SetName, (const std::string& name), (name))                                                  \
    GET(Zone, GetName, std::string, {}, (), ())                                                           \
    DO(Zone, SetFriction, (float friction), (friction))                                                   \
    GET(Zone, GetFriction, float, {}, (), ())                                                             \
    DO(Zone, SetStyle, (int32_t style), (style))                                                          \
    GET(Zone, GetStyle, int32_t, {}, (), ())                                                              \
    DO(Zone, Position, (float x, float y), (x, y))                                                        \
    DO(Zone, Move, (float dx, float dy), (dx, dy))                                                        \
    GET(Zone, GetPositionX, float, {}, (), ())                                                            \
    GET(Zone, GetPositionY, float, {}, (), ())                                                            \
    GET(Zone, GetX, float, {}, (), ())                                                                    \
    GET(Zone, GetY, float, {}, (), ())                                                                    \
    DO(Zone, Rotate, (float angle), (angle))                                                              \
    DO(Zone, Turn, (float angle), (angle))                                                                \
    GET(Zone, GetRotation, float, {}, (), ())                                                             \
    DO(Zone, SetScale, (float scaleX, float scaleY), (scaleX, scaleY))                                    \
    HAND(Zone, GetScale)                                                                                  \
    DO(Zone, SetColor, (int32_t red, int32_t green, int32_t blue), (red, green, blue))                    \
    HAND(Zone, GetColor)                                                                                  \
    DO(Zone, SetAlpha, (float alpha), (alpha))                                                            \
    GET(Zone, GetAlpha, float, {}, (), ())                                                                \
    DO(Zone, SetBlend, (int32_t blend), (blend))                                                          \
    GET(Zone, GetBlend, int32_t, {}, (), ())                                                              \
    GET(Zone, VertCount, int32_t, {}, (), ())                                                             \
    DO(Zone, VertAddLast, (float x, float y), (x, y))                                                     \
    DO(Zone, VertAddFirst, (float x, float y), (x, y))                                                    \
    DO(Zone, VertInsert, (int32_t index, float x, float y), (index, x, y))                                \
    DO(Zone, VertRemoveLast, (), ())                                                                      \
    DO(Zone, VertRemoveFirst, (), ())                                                                     \
    DO(Zone, VertRemove, (int32_t index), (index))                                                        \
    DO(Zone, VertPosition, (int32_t index, float x, float y), (index, x, y))                              \
    HAND(Zone, VertGetPosition)                                                                           \
    GET(Zone, VertGetX, float, {}, (int32_t index), (index))                                              \
    GET(Zone, VertGetY, float, {}, (int32_t index), (index))                                              \
    DO(Zone, CalcQuadTree, (int32_t level), (level))                                                      \
    GET(Zone, GetQTLevel, int32_t, {}, (), ())                                                            \
    GET(Zone, GetArea, std::vector<float>, {}, (), ())                                                    \
    DO(Zone, SetColGroup, (int32_t colGroup), (colGroup))                                                 \
    GET(Zone, GetColGroup, int32_t, {}, (), ())                                                           \
    DO(Zone, ImageSet, (TImage * image), (image))                                                         \
    GET(Zone, ImageGet, TImage*, {}, (), ())                                                              \
    DO(Zone, ImageSetScale, (float scaleX, float scaleY), (scaleX, scaleY))                               \
    HAND(Zone, ImageGetScale)                                                                             \
    DO(Zone, Draw, (), ())                                                                                \
    HAND(Zone, DrawQuadTree)                                                                              \
    DO(Zone, OverrideCollision, (TZoneResponse fn), (fn))

// --- collision events, TColEvent (16) ---------------------------------------------------
#define GELSIM_PROC_COLEVENT(FN, FZ, GET, DO, HAND)                                                       \
    FN(ColEvent, Create, Ref<TColEvent>, (TMass * mass, TObject * other, float x, float y, float force),  \
       (mass, other, x, y, force))                                                                        \
    FZ(ColEvent, SetMode, (int32_t mode), (mode))                                                         \
    FZ(ColEvent, Emit, (TColEvent * event), (event))                                                      \
    FZ(ColEvent, Post, (TColEvent * event, int32_t mode), (event, mode))                                  \
    FN(ColEvent, Poll, TColEvent*, (), ())                                                                \
    FN(ColEvent, Peek, TColEvent*, (), ())                                                                \
    FN(ColEvent, Seek, TColEvent*, (TObject * a, TObject * b), (a, b))                                    \
    FZ(ColEvent, Flush, (), ())                                                                           \
    FN(ColEvent, GetCurrent, TColEvent*, (), ())                                                          \
    GET(ColEvent, GetID, int32_t, {}, (), ())                                                             \
    GET(ColEvent, GetMass1, TMass*, {}, (), ())                                                           \
    GET(ColEvent, GetMass2, TMass*, {}, (), ())                                                           \
    GET(ColEvent, GetZone, TZone*, {}, (), ())                                                            \
    GET(ColEvent, GetX, float, {}, (), ())                                                                \
    GET(ColEvent, GetY, float, {}, (), ())                                                                \
    GET(ColEvent, GetForce, float, {}, (), ())

// --- world, second names (9): each behaves as the GelPhysics function of the same operation
#define GELSIM_PROC_WORLD(FN, FZ, GET, DO, HAND)                                                          \
    HAND(World, Create)                                                                                   \
    HAND(World, Update)                                                                                   \
    HAND(World, Free)                                                                                     \
    HAND(World, SetGravity)                                                                               \
    HAND(World, SetIterations)                                                                            \
    HAND(World, SetBounds)                                                                                \
    HAND(World, SetFriction)                                                                              \
    HAND(World, UseShiftedGrid)                                                                           \
    HAND(World, SetGridSize)

/// Every row of the interface, in its order.
#define GELSIM_PROC_ROWS(FN, FZ, GET, DO, HAND)          \
    GELSIM_PROC_PHYSICS(FN, FZ, GET, DO, HAND)           \
    GELSIM_PROC_MASS(FN, FZ, GET, DO, HAND)              \
    GELSIM_PROC_CONSTRAINT(FN, FZ, GET, DO, HAND)        \
    GELSIM_PROC_BODY(FN, FZ, GET, DO, HAND)              \
    GELSIM_PROC_ADVBODY_WHOLE(FN, FZ, GET, DO, HAND)     \
    GELSIM_PROC_ADVBODY_MASS(FN, FZ, GET, DO, HAND)      \
    GELSIM_PROC_ADVBODY_CON(FN, FZ, GET, DO, HAND)       \
    GELSIM_PROC_ADVBODY_RIG(FN, FZ, GET, DO, HAND)       \
    GELSIM_PROC_ADVBODY_IMAGE(FN, FZ, GET, DO, HAND)     \
    GELSIM_PROC_RIG(FN, FZ, GET, DO, HAND)               \
    GELSIM_PROC_ZONE(FN, FZ, GET, DO, HAND)              \
    GELSIM_PROC_COLEVENT(FN, FZ, GET, DO, HAND)          \
    GELSIM_PROC_WORLD(FN, FZ, GET, DO, HAND)
