// The flat procedural interface: generated forwarding rows and the hand-written functions.
#include "gelsim/bodies/Procedural.h"

#include <type_traits>

namespace kin::gelsim {
namespace {

// A method's result as the layer hands it back. The back-references of masses,
// constraints and rigs name their body as a plain object, and an event names its zone
// through the zone base; the layer hands those back as the types the caller works with
// (null if the object is of another type).
template <class R, class V>
R HandBack(V&& v) {
    if constexpr (std::is_pointer_v<R> && !std::is_convertible_v<V, R>) {
        return As<std::remove_pointer_t<R>>(v);
    } else {
        return std::forward<V>(v);
    }
}

}  // namespace

// --- generated definitions --------------------------------------------------------------------
#define GELSIM_PROC_DEF_FN(Type, Op, Ret, Params, Args) \
    Ret Gel##Type##Op Params { return T##Type::Op Args; }
#define GELSIM_PROC_DEF_FZ(Type, Op, Params, Args) \
    int32_t Gel##Type##Op Params {                 \
        T##Type::Op Args;                          \
        return 0;                                  \
    }
#define GELSIM_PROC_DEF_GET(Type, Op, Ret, Null, Params, Args)  \
    Ret Gel##Type##Op(T##Type* obj GELSIM_PROC_TAIL Params) {   \
        if (!obj) return Null;                                  \
        return HandBack<Ret>(obj->Op Args);                     \
    }
#define GELSIM_PROC_DEF_DO(Type, Op, Params, Args)                  \
    int32_t Gel##Type##Op(T##Type* obj GELSIM_PROC_TAIL Params) {   \
        if (obj) obj->Op Args;                                      \
        return 0;                                                   \
    }
#define GELSIM_PROC_DEF_HAND(Type, Op)

GELSIM_PROC_ROWS(GELSIM_PROC_DEF_FN, GELSIM_PROC_DEF_FZ, GELSIM_PROC_DEF_GET, GELSIM_PROC_DEF_DO,
                 GELSIM_PROC_DEF_HAND)

// --- hand-written functions ---------------------------------------------------------------------
int32_t GelPhysicsGetBounds(float& minX, float& minY, float& maxX, float& maxY) {
    TPhysics::GetBounds(minX, minY, maxX, maxY);
    return 0;
}

int32_t GelMassGetPosition(TMass* mass, float& x, float& y) {
    if (mass) mass->GetPosition(x, y);
    return 0;
}

Ref<TBody> GelBodyCreate() { return MakeRef<TBody>(); }

Ref<TAdvBody> GelAdvBodyCreate() { return TAdvBody::Create(); }

int32_t GelAdvBodySave(TAdvBody* body, const std::string& path) {
    if (body) body->Save(path, 1, 1);
    return 0;
}

Ref<TAdvBody> GelAdvBodyCopy(TAdvBody* body) { return body ? body->Copy(0) : nullptr; }

int32_t GelAdvBodyGetPosition(TAdvBody* body, float& x, float& y) {
    if (body) body->GetPosition(x, y);
    return 0;
}

int32_t GelAdvBodyMassGetPosition(TAdvBody* body, int32_t index, float& x, float& y) {
    if (body) body->MassGetPosition(index, x, y);
    return 0;
}

int32_t GelAdvBodyConAddAll(TAdvBody* body) {
    if (body) body->ConAddAll(1.0f);
    return 0;
}

int32_t GelAdvBodyRigGetScale(TAdvBody* body, int32_t index, float& scaleX, float& scaleY) {
    if (body) body->RigGetScale(index, scaleX, scaleY);
    return 0;
}

int32_t GelAdvBodyRigGetColor(TAdvBody* body, int32_t index, int32_t& red, int32_t& green, int32_t& blue) {
    if (body) body->RigGetColor(index, red, green, blue);
    return 0;
}

int32_t GelAdvBodyImageAdd(TAdvBody* body, const std::string& path) { return body ? body->ImageAdd(path) : -1; }

int32_t GelAdvBodyImageReplace(TAdvBody* body, int32_t index, const std::string& path) {
    return body ? body->ImageReplace(index, path) : 0;
}

int32_t GelRigGetScale(TRig* rig, float& scaleX, float& scaleY) {
    if (rig) rig->GetScale(scaleX, scaleY);
    return 0;
}

int32_t GelRigGetColor(TRig* rig, int32_t& red, int32_t& green, int32_t& blue) {
    if (rig) rig->GetColor(red, green, blue);
    return 0;
}

int32_t GelZoneGetScale(TZone* zone, float& scaleX, float& scaleY) {
    if (zone) zone->GetScale(scaleX, scaleY);
    return 0;
}

int32_t GelZoneGetColor(TZone* zone, int32_t& red, int32_t& green, int32_t& blue) {
    if (zone) zone->GetColor(red, green, blue);
    return 0;
}

int32_t GelZoneVertGetPosition(TZone* zone, int32_t index, float& x, float& y) {
    if (zone) zone->VertGetPosition(index, x, y);
    return 0;
}

int32_t GelZoneImageGetScale(TZone* zone, float& scaleX, float& scaleY) {
    if (zone) zone->ImageGetScale(scaleX, scaleY);
    return 0;
}

int32_t GelZoneDrawQuadTree(TZone* zone) {
    if (zone) zone->DrawQuadTree(1);
    return 0;
}

Ref<TPhysics> GelWorldCreate(float maxX, float maxY, float gravityY, float gravityX, int32_t iterations) {
    return GelPhysicsCreate(maxX, maxY, gravityY, gravityX, iterations);
}
int32_t GelWorldUpdate() { return GelPhysicsUpdate(); }
int32_t GelWorldFree() { return GelPhysicsFree(); }
int32_t GelWorldSetGravity(float x, float y) { return GelPhysicsSetGravity(x, y); }
int32_t GelWorldSetIterations(int32_t n) { return GelPhysicsSetIterations(n); }
int32_t GelWorldSetBounds(float x1, float y1, float x2, float y2) { return GelPhysicsSetBounds(x1, y1, x2, y2); }
int32_t GelWorldSetFriction(float f) { return GelPhysicsSetFriction(f); }
int32_t GelWorldUseShiftedGrid(int32_t flag) { return GelPhysicsUseShiftedGrid(flag); }
int32_t GelWorldSetGridSize(int32_t n) { return GelPhysicsSetGridSize(n); }

// Every hand row of the table is declared above (a missing one fails to compile here).
#define GELSIM_PROC_CHECK_HAND(Type, Op) static_assert(sizeof(&Gel##Type##Op) > 0);
#define GELSIM_PROC_SKIP(...)
GELSIM_PROC_ROWS(GELSIM_PROC_SKIP, GELSIM_PROC_SKIP, GELSIM_PROC_SKIP, GELSIM_PROC_SKIP, GELSIM_PROC_CHECK_HAND)

static_assert(kGelFunctionCount == 302, "the procedural interface has 302 functions");

}  // namespace kin::gelsim
