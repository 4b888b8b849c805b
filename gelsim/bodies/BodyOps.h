#pragma once
// The operation tables of TAdvBody's index tables, one row per operation, in the order of
// the body's method table. Two kinds of row:
//
//   F(Name, Method, Ret, Params, Args)  Name(int32_t index, Params...) -> Ret forwards to
//                                       the element's Method(Args...). An empty entry (or
//                                       an index outside the storage) does nothing and
//                                       returns Ret{}: 0, 0.0 or "".
//   H(Name, Ret, Params)                Name(Params...) -> Ret is written by hand: table
//                                       management and the rows that translate between
//                                       element objects and indices.
//
// Params and Args are parenthesised lists (possibly empty). The body's declarations and
// its forwarding definitions are generated from these rows, and tests enumerate them, so
// a name, argument list or forwarded method cannot drift between the three.
#include <cstdint>
#include <string>

#define GELSIM_MASS_OPS(F, H)                                                                       \
    H(MassAdd, int32_t, (float x, float y, float mass, float radius, float friction, int32_t colGroup)) \
    H(MassRemove, int32_t, (int32_t index))                                                         \
    H(MassMaxIndex, int32_t, ())                                                                    \
    H(MassSwapIndex, int32_t, (int32_t a, int32_t b))                                               \
    H(MassCleanIndex, int32_t, ())                                                                  \
    H(MassExists, int32_t, (int32_t index))                                                         \
    H(MassGet, TMass*, (int32_t index))                                                             \
    F(MassSetName, SetName, int32_t, (const std::string& name), (name))                             \
    F(MassGetName, GetName, std::string, (), ())                                                    \
    F(MassMove, Move, int32_t, (float dx, float dy), (dx, dy))                                      \
    F(MassTranslate, Translate, int32_t, (float dx, float dy), (dx, dy))                            \
    F(MassPosition, Position, int32_t, (float x, float y), (x, y))                                  \
    F(MassGetPositionX, GetPositionX, float, (), ())                                                \
    F(MassGetPositionY, GetPositionY, float, (), ())                                                \
    F(MassGetPosition, GetPosition, int32_t, (float& outX, float& outY), (outX, outY))              \
    F(MassGetX, GetX, float, (), ())                                                                \
    F(MassGetY, GetY, float, (), ())                                                                \
    F(MassSetMass, SetMass, int32_t, (float mass), (mass))                                          \
    F(MassGetMass, GetMass, float, (), ())                                                          \
    F(MassSetRadius, SetRadius, int32_t, (float radius), (radius))                                  \
    F(MassGetRadius, GetRadius, float, (), ())                                                      \
    F(MassSetFriction, SetFriction, int32_t, (float friction), (friction))                          \
    F(MassGetFriction, GetFriction, float, (), ())                                                  \
    F(MassFreeze, Freeze, int32_t, (), ())                                                          \
    F(MassThaw, Thaw, int32_t, (), ())                                                              \
    F(MassIsFrozen, IsFrozen, int32_t, (), ())                                                      \
    F(MassSetVelocity, SetVelocity, int32_t, (float vx, float vy), (vx, vy))                        \
    F(MassAddVelocity, AddVelocity, int32_t, (float vx, float vy), (vx, vy))                        \
    F(MassGetVelocityX, GetVelocityX, float, (), ())                                                \
    F(MassGetVelocityY, GetVelocityY, float, (), ())                                                \
    F(MassGetVX, GetVX, float, (), ())                                                              \
    F(MassGetVY, GetVY, float, (), ())                                                              \
    F(MassGetVelocity, GetVelocity, float, (), ())                                                  \
    F(MassGetColGroup, GetColGroup, int32_t, (), ())                                                \
    F(MassSetColGroup, SetColGroup, int32_t, (int32_t colGroup), (colGroup))                        \
    F(MassIsActive, IsActive, int32_t, (), ())                                                      \
    F(MassDraw, Draw, int32_t, (), ())                                                              \
    H(MassDrawAll, int32_t, ())

#define GELSIM_CON_OPS(F, H)                                                                        \
    H(ConAddAll, int32_t, (float stiffness))                                                        \
    H(ConAdd, int32_t, (int32_t mass1, int32_t mass2, float restLength, float stiffness))           \
    H(ConRemove, int32_t, (int32_t index))                                                          \
    H(ConMaxIndex, int32_t, ())                                                                     \
    H(ConSwapIndex, int32_t, (int32_t a, int32_t b))                                                \
    H(ConCleanIndex, int32_t, ())                                                                   \
    H(ConExists, int32_t, (int32_t index))                                                          \
    H(ConGet, TConstraint*, (int32_t index))                                                        \
    F(ConSetName, SetName, int32_t, (const std::string& name), (name))                              \
    F(ConGetName, GetName, std::string, (), ())                                                     \
    H(ConAssign, int32_t, (int32_t index))                                                          \
    H(ConFree, int32_t, (int32_t index))                                                            \
    H(ConGetMass1, int32_t, (int32_t index))                                                        \
    H(ConGetMass2, int32_t, (int32_t index))                                                        \
    F(ConSetRestLength, SetRestLength, int32_t, (float restLength), (restLength))                   \
    F(ConGetRestLength, GetRestLength, float, (), ())                                               \
    F(ConSetStiffness, SetStiffness, int32_t, (float stiffness), (stiffness))                       \
    F(ConGetStiffness, GetStiffness, float, (), ())                                                 \
    F(ConGetAngle, GetAngle, float, (), ())                                                         \
    F(ConGetLength, GetLength, float, (), ())                                                       \
    F(ConGetStress, GetStress, float, (), ())                                                       \
    F(ConDraw, Draw, int32_t, (), ())                                                               \
    H(ConDrawAll, int32_t, ())

#define GELSIM_RIG_OPS(F, H)                                                                        \
    H(RigAdd, int32_t, (int32_t image, int32_t mass, int32_t con, float angle))                     \
    H(RigRemove, int32_t, (int32_t index))                                                          \
    H(RigMaxIndex, int32_t, ())                                                                     \
    H(RigSwapIndex, int32_t, (int32_t a, int32_t b))                                                \
    H(RigCleanIndex, int32_t, ())                                                                   \
    H(RigExists, int32_t, (int32_t index))                                                          \
    H(RigGet, TRig*, (int32_t index))                                                               \
    F(RigSetName, SetName, int32_t, (const std::string& name), (name))                              \
    F(RigGetName, GetName, std::string, (), ())                                                     \
    H(RigSetImage, int32_t, (int32_t index, int32_t image))                                         \
    H(RigGetImage, int32_t, (int32_t index))                                                        \
    H(RigSetMass, int32_t, (int32_t index, int32_t mass))                                           \
    H(RigGetMass, int32_t, (int32_t index))                                                         \
    H(RigSetConstraint, int32_t, (int32_t index, int32_t con))                                      \
    H(RigGetConstraint, int32_t, (int32_t index))                                                   \
    F(RigSetAngle, SetAngle, int32_t, (float angle), (angle))                                       \
    F(RigGetAngle, GetAngle, float, (), ())                                                         \
    F(RigSetScale, SetScale, int32_t, (float scaleX, float scaleY), (scaleX, scaleY))               \
    F(RigGetScale, GetScale, int32_t, (float& outX, float& outY), (outX, outY))                     \
    F(RigSetColor, SetColor, int32_t, (int32_t red, int32_t green, int32_t blue), (red, green, blue)) \
    F(RigGetColor, GetColor, int32_t, (int32_t& outR, int32_t& outG, int32_t& outB), (outR, outG, outB)) \
    F(RigSetAlpha, SetAlpha, int32_t, (float alpha), (alpha))                                       \
    F(RigGetAlpha, GetAlpha, float, (), ())                                                         \
    F(RigSetBlend, SetBlend, int32_t, (int32_t blend), (blend))                                     \
    F(RigGetBlend, GetBlend, int32_t, (), ())                                                       \
    F(RigDraw, Draw, int32_t, (), ())

// Image table operations take objects as well as indices, so their rows are all by hand;
// ImageAdd and ImageReplace also come in overloads for paths and streams.
#define GELSIM_IMAGE_OPS(F, H)                                                                      \
    H(ImageAdd, int32_t, (TObject * obj))                                                           \
    H(ImageRemove, int32_t, (int32_t index))                                                        \
    H(ImageMaxIndex, int32_t, ())                                                                   \
    H(ImageSwapIndex, int32_t, (int32_t a, int32_t b))                                              \
    H(ImageReplace, int32_t, (int32_t index, TObject * obj))                                        \
    H(ImageCleanIndex, int32_t, ())                                                                 \
    H(ImageExists, int32_t, (int32_t index))                                                        \
    H(ImageGet, TImage*, (int32_t index))

// Helpers for expanding rows.
/// ", a, b" from "(a, b)"; nothing from "()".
#define GELSIM_TAIL(...) __VA_OPT__(, ) __VA_ARGS__
/// Declaration of a forwarded row: virtual Ret Name(int32_t index, Params...).
#define GELSIM_DECLARE_FORWARD(Name, Method, Ret, Params, Args) virtual Ret Name(int32_t index GELSIM_TAIL Params);
/// Declaration of a hand-written row.
#define GELSIM_DECLARE_HAND(Name, Ret, Params) virtual Ret Name Params;
/// Swallows a hand-written row.
#define GELSIM_SKIP_HAND(Name, Ret, Params)
