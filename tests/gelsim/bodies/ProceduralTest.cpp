// The procedural interface: the list of names, the functions that do more than forward,
// results and out-parameters, the second world names, and a sweep that calls every
// function on a small scene and on null objects.
#include <set>
#include <string_view>
#include <type_traits>

#include "tests/support/BodyFixture.h"
#include "gelsim/bodies/Procedural.h"

namespace kin::gelsim::test {
namespace {

// The interface's functions in their documented order, typed out independently of the rows.
constexpr std::string_view kExpectedNames[] = {
    "GelPhysicsCreate", "GelPhysicsUpdate", "GelPhysicsFree", "GelPhysicsSetGravity", "GelPhysicsSetIterations",
    "GelPhysicsSetBounds", "GelPhysicsGetBounds", "GelPhysicsSetFriction", "GelPhysicsUseShiftedGrid",
    "GelPhysicsSetGridSize", "GelPhysicsSetDrawCoords", "GelPhysicsSetDrawZoom", "GelPhysicsSetDrawRotation",
    "GelPhysicsUpdateTransform", "GelPhysicsMouseX", "GelPhysicsMouseY", "GelPhysicsSimX", "GelPhysicsSimY",
    "GelPhysicsDrawImage", "GelPhysicsDrawPoly", "GelPhysicsDrawLine", "GelPhysicsDrawOval", "GelPhysicsDrawRect",
    "GelPhysicsScreenX", "GelPhysicsScreenY", "GelMassCreate", "GelMassCopy", "GelMassSetName", "GelMassGetName",
    "GelMassMove", "GelMassTranslate", "GelMassPosition", "GelMassGetPositionX", "GelMassGetPositionY",
    "GelMassGetPosition", "GelMassGetX", "GelMassGetY", "GelMassSetMass", "GelMassGetMass", "GelMassSetRadius",
    "GelMassGetRadius", "GelMassSetFriction", "GelMassGetFriction", "GelMassFreeze", "GelMassThaw",
    "GelMassIsFrozen", "GelMassSetVelocity", "GelMassAddVelocity", "GelMassGetVelocityX", "GelMassGetVelocityY",
    "GelMassGetVX", "GelMassGetVY", "GelMassGetVelocity", "GelMassGetColGroup", "GelMassSetColGroup",
    "GelMassIsActive", "GelMassGetIndex", "GelMassGetAdvBody", "GelMassDraw", "GelConstraintCreate",
    "GelConstraintSetName", "GelConstraintGetName", "GelConstraintAssign", "GelConstraintFree",
    "GelConstraintGetMass1", "GelConstraintGetMass2", "GelConstraintSetRestLength", "GelConstraintGetRestLength",
    "GelConstraintSetStiffness", "GelConstraintGetStiffness", "GelConstraintGetAngle", "GelConstraintGetLength",
    "GelConstraintGetStress", "GelConstraintIsActive", "GelConstraintGetIndex", "GelConstraintGetAdvBody",
    "GelConstraintDraw", "GelBodyCreate", "GelBodySetName", "GelBodyGetName", "GelBodyGetConstraints", "GelBodyFree",
    "GelBodyClear", "GelAdvBodyCreate", "GelAdvBodyLoad", "GelAdvBodySave", "GelAdvBodyCopy", "GelAdvBodyCleanIndex",
    "GelAdvBodyActivate", "GelAdvBodyDeActivate", "GelAdvBodyFree", "GelAdvBodyDraw", "GelAdvBodyMove",
    "GelAdvBodyTranslate", "GelAdvBodyPosition", "GelAdvBodyGetPosition", "GelAdvBodyGetX", "GelAdvBodyGetY",
    "GelAdvBodyRotate", "GelAdvBodyGetRotation", "GelAdvBodySpin", "GelAdvBodyTurn", "GelAdvBodyFreeze",
    "GelAdvBodyThaw", "GelAdvBodyCollideAdvBody", "GelAdvBodyCollideZone", "GelAdvBodyCollideBounds",
    "GelAdvBodyMassAdd", "GelAdvBodyMassRemove", "GelAdvBodyMassMaxIndex", "GelAdvBodyMassSwapIndex",
    "GelAdvBodyMassCleanIndex", "GelAdvBodyMassExists", "GelAdvBodyMassGet", "GelAdvBodyMassSetName",
    "GelAdvBodyMassGetName", "GelAdvBodyMassMove", "GelAdvBodyMassTranslate", "GelAdvBodyMassPosition",
    "GelAdvBodyMassGetPositionX", "GelAdvBodyMassGetPositionY", "GelAdvBodyMassGetPosition", "GelAdvBodyMassGetX",
    "GelAdvBodyMassGetY", "GelAdvBodyMassSetMass", "GelAdvBodyMassGetMass", "GelAdvBodyMassSetRadius",
    "GelAdvBodyMassGetRadius", "GelAdvBodyMassSetFriction", "GelAdvBodyMassGetFriction", "GelAdvBodyMassFreeze",
    "GelAdvBodyMassThaw", "GelAdvBodyMassIsFrozen", "GelAdvBodyMassSetVelocity", "GelAdvBodyMassAddVelocity",
    "GelAdvBodyMassGetVelocityX", "GelAdvBodyMassGetVelocityY", "GelAdvBodyMassGetVX", "GelAdvBodyMassGetVY",
    "GelAdvBodyMassGetVelocity", "GelAdvBodyMassGetColGroup", "GelAdvBodyMassSetColGroup", "GelAdvBodyMassIsActive",
    "GelAdvBodyMassDraw", "GelAdvBodyMassDrawAll", "GelAdvBodyConAddAll", "GelAdvBodyConAdd", "GelAdvBodyConRemove",
    "GelAdvBodyConMaxIndex", "GelAdvBodyConSwapIndex", "GelAdvBodyConCleanIndex", "GelAdvBodyConExists",
    "GelAdvBodyConGet", "GelAdvBodyConSetName", "GelAdvBodyConGetName", "GelAdvBodyConAssign", "GelAdvBodyConFree",
    "GelAdvBodyConGetMass1", "GelAdvBodyConGetMass2", "GelAdvBodyConSetRestLength", "GelAdvBodyConGetRestLength",
    "GelAdvBodyConSetStiffness", "GelAdvBodyConGetStiffness", "GelAdvBodyConGetAngle", "GelAdvBodyConGetLength",
    "GelAdvBodyConGetStress", "GelAdvBodyConDraw", "GelAdvBodyConDrawAll", "GelAdvBodyRigAdd", "GelAdvBodyRigRemove",
    "GelAdvBodyRigMaxIndex", "GelAdvBodyRigSwapIndex", "GelAdvBodyRigCleanIndex", "GelAdvBodyRigExists",
    "GelAdvBodyRigGet", "GelAdvBodyRigSetName", "GelAdvBodyRigGetName", "GelAdvBodyRigSetImage",
    "GelAdvBodyRigGetImage", "GelAdvBodyRigSetMass", "GelAdvBodyRigGetMass", "GelAdvBodyRigSetConstraint",
    "GelAdvBodyRigGetConstraint", "GelAdvBodyRigSetAngle", "GelAdvBodyRigGetAngle", "GelAdvBodyRigSetScale",
    "GelAdvBodyRigGetScale", "GelAdvBodyRigSetColor", "GelAdvBodyRigGetColor", "GelAdvBodyRigSetAlpha",
    "GelAdvBodyRigGetAlpha", "GelAdvBodyRigSetBlend", "GelAdvBodyRigGetBlend", "GelAdvBodyRigDraw",
    "GelAdvBodyImageAdd", "GelAdvBodyImageRemove", "GelAdvBodyImageMaxIndex", "GelAdvBodyImageSwapIndex",
    "GelAdvBodyImageReplace", "GelAdvBodyImageCleanIndex", "GelAdvBodyImageExists", "GelAdvBodyImageGet",
    "GelRigCreate", "GelRigSetName", "GelRigGetName", "GelRigSetImage", "GelRigGetImage", "GelRigSetMass",
    "GelRigGetMass", "GelRigSetConstraint", "GelRigGetConstraint", "GelRigSetAngle", "GelRigGetAngle",
    "GelRigSetScale", "GelRigGetScale", "GelRigSetColor", "GelRigGetColor", "GelRigSetAlpha", "GelRigGetAlpha",
    "GelRigSetBlend", "GelRigGetBlend", "GelRigGetIndex", "GelRigGetAdvBody", "GelRigDraw", "GelZoneCreate",
    "GelZoneLoad", "GelZoneSave", "GelZoneCopy", "GelZoneActivate", "GelZoneDeActivate", "GelZoneFree",
    "GelZoneSetName", "GelZoneGetName", "GelZoneSetFriction", "GelZoneGetFriction", "GelZoneSetStyle",
    "GelZoneGetStyle", "GelZonePosition", "GelZoneMove", "GelZoneGetPositionX", "GelZoneGetPositionY", "GelZoneGetX",
    "GelZoneGetY", "GelZoneRotate", "GelZoneTurn", "GelZoneGetRotation", "GelZoneSetScale", "GelZoneGetScale",
    "GelZoneSetColor", "GelZoneGetColor", "GelZoneSetAlpha", "GelZoneGetAlpha", "GelZoneSetBlend", "GelZoneGetBlend",
    "GelZoneVertCount", "GelZoneVertAddLast", "GelZoneVertAddFirst", "GelZoneVertInsert", "GelZoneVertRemoveLast",
    "GelZoneVertRemoveFirst", "GelZoneVertRemove", "GelZoneVertPosition", "GelZoneVertGetPosition",
    "GelZoneVertGetX", "GelZoneVertGetY", "GelZoneCalcQuadTree", "GelZoneGetQTLevel", "GelZoneGetArea",
    "GelZoneSetColGroup", "GelZoneGetColGroup", "GelZoneImageSet", "GelZoneImageGet", "GelZoneImageSetScale",
    "GelZoneImageGetScale", "GelZoneDraw", "GelZoneDrawQuadTree", "GelZoneOverrideCollision", "GelColEventCreate",
    "GelColEventSetMode", "GelColEventEmit", "GelColEventPost", "GelColEventPoll", "GelColEventPeek",
    "GelColEventSeek", "GelColEventFlush", "GelColEventGetCurrent", "GelColEventGetID", "GelColEventGetMass1",
    "GelColEventGetMass2", "GelColEventGetZone", "GelColEventGetX", "GelColEventGetY", "GelColEventGetForce",
    "GelWorldCreate", "GelWorldUpdate", "GelWorldFree", "GelWorldSetGravity", "GelWorldSetIterations",
    "GelWorldSetBounds", "GelWorldSetFriction", "GelWorldUseShiftedGrid", "GelWorldSetGridSize",
};

TEST(ProceduralNames, AllFunctionsInOrderOnce) {
    ASSERT_EQ(std::size(kExpectedNames), 302u);
    ASSERT_EQ(kGelFunctionCount, 302u);
    for (size_t k = 0; k < kGelFunctionCount; ++k) EXPECT_EQ(kGelFunctionNames[k], kExpectedNames[k]) << "entry " << k;
    EXPECT_EQ(std::set<std::string_view>(std::begin(kGelFunctionNames), std::end(kGelFunctionNames)).size(), 302u);
}

class Procedural : public BodyWorld {
protected:
    /// A body of three masses at (100, 100), (130, 100), (100, 140), not yet joined.
    Ref<TAdvBody> Triangle() {
        Ref<TAdvBody> b = GelAdvBodyCreate();
        EXPECT_EQ(GelAdvBodyMassAdd(b, 100, 100, 1, 5, 0.5f, 1), 0);
        EXPECT_EQ(GelAdvBodyMassAdd(b, 130, 100, 1, 5, 0.5f, 1), 1);
        EXPECT_EQ(GelAdvBodyMassAdd(b, 100, 140, 1, 5, 0.5f, 1), 2);
        return b;
    }
};

TEST_F(Procedural, MassAddHandsBackTheIndexMassMoveReturnsZero) {
    Ref<TAdvBody> b = Triangle();
    EXPECT_EQ(GelAdvBodyMassMove(b, 1, 5, -2), 0);
    EXPECT_EQ(GelAdvBodyMassGetX(b, 1), 135.0f);
    EXPECT_EQ(GelAdvBodyMassGetVY(b, 1), -2.0f);  // only the current position moved
    EXPECT_EQ(GelAdvBodyMassMaxIndex(b), 2);
}

TEST_F(Procedural, ConAddAllJoinsEveryPairAtStiffnessOne) {
    Ref<TAdvBody> b = Triangle();
    EXPECT_EQ(GelAdvBodyConAddAll(b), 0);
    ASSERT_EQ(GelAdvBodyConMaxIndex(b), 2);
    const float expected[][3] = {{0, 1, 30}, {0, 2, 40}, {1, 2, 50}};
    for (int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(GelAdvBodyConGetMass1(b, i), expected[i][0]);
        EXPECT_EQ(GelAdvBodyConGetMass2(b, i), expected[i][1]);
        EXPECT_FLOAT_EQ(GelAdvBodyConGetRestLength(b, i), expected[i][2]);
        EXPECT_EQ(GelAdvBodyConGetStiffness(b, i), 1.0f);
    }
}

TEST_F(Procedural, StressIsLengthOverRestLength) {
    Ref<TMass> a = GelMassCreate(0, 0, 1, 1, 0, 0), m = GelMassCreate(30, 40, 1, 1, 0, 0);
    Ref<TConstraint> c = GelConstraintCreate(a, m, 20, 0.5f);
    EXPECT_EQ(GelConstraintGetStress(c), GelConstraintGetLength(c) / GelConstraintGetRestLength(c));
    EXPECT_EQ(GelConstraintGetStress(c), 2.5f);
}

TEST_F(Procedural, BodyFreeOnAnIndexedBodyRunsItsOwnFree) {
    Ref<TAdvBody> viaBase = Triangle(), viaOwn = Triangle();
    for (TAdvBody* b : {viaBase.Get(), viaOwn.Get()}) {
        GelAdvBodyConAddAll(b);
        GelAdvBodyActivate(b);
    }
    Ref<TMass> baseMass = GelAdvBodyMassGet(viaBase, 0), ownMass = GelAdvBodyMassGet(viaOwn, 0);
    const int32_t baseId = viaBase->aIndex, ownId = viaOwn->aIndex;
    EXPECT_EQ(GelBodyFree(viaBase), 0);
    EXPECT_EQ(GelAdvBodyFree(viaOwn), 0);
    for (TAdvBody* b : {viaBase.Get(), viaOwn.Get()}) {
        EXPECT_EQ(b->aIndex, -1);
        EXPECT_EQ(GelAdvBodyMassExists(b, 0), 0);  // the tables were emptied, not only the list
        EXPECT_EQ(GelAdvBodyMassMaxIndex(b), 2);
    }
    EXPECT_EQ(GelMassIsActive(baseMass) + GelMassIsActive(ownMass), 0);
    EXPECT_EQ(TPhysics::GetBody(baseId), nullptr);
    EXPECT_EQ(TPhysics::GetBody(ownId), nullptr);
}

TEST_F(Procedural, ABodyLoadedWithoutKeepingItsHandleSimulatesUntilFreed) {
    Ref<TAdvBody> src = Triangle();
    GelAdvBodyConAddAll(src);
    GelAdvBodySave(src, Path("t.plb"));
    GelAdvBodyFree(src);

    const int32_t id = GelAdvBodyLoad(Path("t.plb"), 1)->aIndex;  // the handle is dropped at once
    auto* body = As<TAdvBody>(TPhysics::GetBody(id));
    ASSERT_NE(body, nullptr);
    Ref<TMass> m(GelAdvBodyMassGet(body, 2));
    const float y0 = GelMassGetY(m);
    for (int32_t k = 0; k < 10; ++k) GelPhysicsUpdate();
    EXPECT_EQ(GelMassIsActive(m), 1);
    EXPECT_GT(GelMassGetY(m), y0);
    EXPECT_EQ(GelMassGetAdvBody(m), body);
    EXPECT_NE(GelAdvBodyCreate()->aIndex, id);

    GelAdvBodyFree(body);
    EXPECT_EQ(GelMassIsActive(m), 0);
    const float y1 = GelMassGetY(m);
    GelPhysicsUpdate();
    EXPECT_EQ(GelMassGetY(m), y1);
    EXPECT_EQ(GelAdvBodyCreate()->aIndex, id);

    // Freeing the world lets go of the bodies nobody else holds.
    Ref<TMass> last(GelAdvBodyMassGet(GelAdvBodyLoad(Path("t.plb"), 1), 0));
    GelPhysicsFree();
    EXPECT_EQ(last->RefCount(), 1);
}

TEST_F(Procedural, BothUpdatesStepTheWorldOnce) {
    Ref<TMass> m = Active(100, 100, 1, 5, 0, 1);
    EXPECT_EQ(GelPhysicsUpdate(), 0);
    EXPECT_FLOAT_EQ(GelMassGetY(m), 100.1f);
    EXPECT_EQ(GelWorldUpdate(), 0);
    EXPECT_FLOAT_EQ(GelMassGetY(m), 100.3f);
}

TEST_F(Procedural, OutParametersLandInTheCallersVariablesUntouchedForNull) {
    Ref<TMass> m = GelMassCreate(12, 34, 1, 1, 0, 0);
    Ref<TZone> z = GelZoneCreate({0, 0, 40, 0, 40, 40}, TZone::FILL, 0.5f, 1, 2);
    GelZoneImageSetScale(z, 2, 3);
    float x = -1, y = -1, sx = 0, sy = 0, minX, minY, maxX, maxY;
    EXPECT_EQ(GelMassGetPosition(m, x, y), 0);
    EXPECT_EQ(GelZoneImageGetScale(z, sx, sy), 0);
    GelPhysicsSetBounds(50, 60, 10, 20);
    EXPECT_EQ(GelPhysicsGetBounds(minX, minY, maxX, maxY), 0);
    EXPECT_EQ(std::vector<float>({x, y, sx, sy, minX, minY, maxX, maxY}),
              std::vector<float>({12, 34, 2, 3, 10, 20, 50, 60}));
    int32_t r = 9, g = 9, b = 9;
    GelMassGetPosition(nullptr, x, y);
    GelAdvBodyMassGetPosition(nullptr, 0, x, y);
    GelZoneGetColor(nullptr, r, g, b);
    EXPECT_EQ(std::vector<float>({x, y, float(r + g + b)}), std::vector<float>({12, 34, 27}));
}

TEST_F(Procedural, NullObjectsAnswerNothing) {
    // Adders, MaxIndex and GetIndex say -1 ("none"): a null body never looks like a body
    // that holds an entry 0.
    EXPECT_EQ(GelAdvBodyMassAdd(nullptr, 0, 0, 1, 1, 0, 0), -1);
    EXPECT_EQ(GelAdvBodyImageAdd(nullptr, std::string("x.png")), -1);
    EXPECT_EQ(GelAdvBodyConMaxIndex(nullptr), -1);
    EXPECT_EQ(GelMassGetIndex(nullptr), -1);
    EXPECT_EQ(GelAdvBodyMassExists(nullptr, 0), 0);
    EXPECT_EQ(GelAdvBodyCopy(nullptr), nullptr);
    EXPECT_EQ(GelMassGetName(nullptr), "");
    EXPECT_TRUE(GelZoneGetArea(nullptr).empty());
}

TEST_F(Procedural, InformativeResultsAndObjectsAreHandedBack) {
    Ref<TAdvBody> b = Triangle();
    GelAdvBodyConAddAll(b);
    Ref<TImage> first = SolidImage(1, 1), second = SolidImage(2, 2);
    EXPECT_EQ(GelAdvBodyImageAdd(b, first.Get()), 0);
    EXPECT_EQ(GelAdvBodyImageReplace(b, 0, second.Get()), 1);
    EXPECT_EQ(GelAdvBodyImageReplace(b, 0, Path("missing.png")), 0);
    EXPECT_EQ(GelAdvBodyConAdd(b, 1, 1, 0, 1), -1);
    EXPECT_EQ(GelAdvBodyRigAdd(b, 0, 2, 1, 0), 0);
    EXPECT_EQ(GelAdvBodyRigGetConstraint(b, 0), 1);
    // Back-references come back as the body and the zone themselves.
    TMass* m = GelAdvBodyMassGet(b, 0);
    EXPECT_EQ(GelMassGetAdvBody(m), b.Get());
    EXPECT_EQ(GelRigGetAdvBody(GelAdvBodyRigGet(b, 0)), b.Get());
    Ref<TZone> z = GelZoneCreate({0, 0, 10, 0}, TZone::LINE, 0, 3, 1);
    Ref<TColEvent> e = GelColEventCreate(m, z, 1, 2, 3);
    EXPECT_EQ(GelColEventGetZone(e), z.Get());
    EXPECT_EQ(GelColEventGetID(e), TColEvent::MASS_ZONE);
    EXPECT_EQ(GelZoneVertCount(z) + GelZoneGetColGroup(z) + GelZoneGetQTLevel(z), 6);
    EXPECT_EQ(GelColEventEmit(e), 0);
    EXPECT_EQ(GelColEventSeek(z, m), e.Get());
    EXPECT_EQ(GelColEventPoll(), e.Get());
}

TEST_F(Procedural, SaveKeepsABackupAndEmbedsCopyIsActive) {
    Ref<TAdvBody> b = Triangle();
    GelAdvBodyConAddAll(b);
    GelAdvBodyImageAdd(b, SolidImage(3, 3).Get());
    EXPECT_EQ(GelAdvBodySave(b, Path("slime")), 0);
    EXPECT_EQ(GelAdvBodySave(b, Path("slime")), 0);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"slime.plb", "slime.plb.bak"}));  // no picture beside
    Ref<TAdvBody> loaded = GelAdvBodyLoad(Path("slime.plb"), 1);
    ASSERT_NE(loaded, nullptr);
    ASSERT_NE(GelAdvBodyImageGet(loaded, 0), nullptr);
    EXPECT_EQ(GelAdvBodyImageGet(loaded, 0)->width, 3);

    Ref<TAdvBody> copy = GelAdvBodyCopy(b);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->aIndex, b->aIndex);
    EXPECT_EQ(GelAdvBodyMassIsActive(copy, 0), 1);
    EXPECT_EQ(GelAdvBodyMassIsActive(b, 0), 0);
}

TEST_F(Procedural, QuadTreeIsDrawnFilled) {
    SetClsColor(0, 0, 0);
    SetColor(255, 255, 255);
    Ref<TZone> z = GelZoneCreate({4, 4, 40, 4, 40, 40, 4, 40}, TZone::FILL, 0, 1, 3);
    auto lit = [&](auto draw) {
        Cls();
        draw();
        int32_t n = 0;
        const std::vector<uint8_t> px = gfx->ReadPixels();
        for (size_t k = 0; k + 3 < px.size(); k += 4) n += px[k] > 128;
        return n;
    };
    const int32_t viaLayer = lit([&] { EXPECT_EQ(GelZoneDrawQuadTree(z), 0); });
    EXPECT_EQ(viaLayer, lit([&] { z->DrawQuadTree(1); }));
    EXPECT_GT(viaLayer, lit([&] { z->DrawQuadTree(0); }));
}

// ---------------------------------------------------------------------------------------
// The second world names: each pair runs on a fresh world with a probe mass; the world
// afterwards must be the same for both names (and differ from doing nothing).

struct WorldPair {
    const char* op;
    void (*first)();
    void (*second)();
};

const WorldPair kWorldPairs[] = {
    {"Create", [] { GelPhysicsCreate(300, 200, 0.5f, 0.25f, 3); }, [] { GelWorldCreate(300, 200, 0.5f, 0.25f, 3); }},
    {"Update", [] { GelPhysicsUpdate(); }, [] { GelWorldUpdate(); }},
    {"Free", [] { GelPhysicsFree(); }, [] { GelWorldFree(); }},
    {"SetGravity", [] { GelPhysicsSetGravity(0.3f, -0.2f); }, [] { GelWorldSetGravity(0.3f, -0.2f); }},
    {"SetIterations", [] { GelPhysicsSetIterations(4); }, [] { GelWorldSetIterations(4); }},
    {"SetBounds", [] { GelPhysicsSetBounds(900, 800, 10, 20); }, [] { GelWorldSetBounds(900, 800, 10, 20); }},
    {"SetFriction", [] { GelPhysicsSetFriction(0.25f); }, [] { GelWorldSetFriction(0.25f); }},
    {"UseShiftedGrid", [] { GelPhysicsUseShiftedGrid(1); }, [] { GelWorldUseShiftedGrid(1); }},
    {"SetGridSize", [] { GelPhysicsSetGridSize(500); }, [] { GelWorldSetGridSize(500); }},
};

class WorldNames : public WorldFixture, public ::testing::WithParamInterface<WorldPair> {
protected:
    std::vector<float> Run(void (*fn)()) {
        world = TPhysics::Create(1024.0f, 4096.0f, 0.1f, 0.0f, 1);
        Ref<TMass> probe = Active(100, 100, 1, 5, 0, 1);
        if (fn) fn();
        const TPhysics* w = TPhysics::currentWorld.Get();
        if (!w) return {probe->posY};
        return {probe->posY, w->boundsMinX, w->boundsMinY, w->boundsMaxX, w->boundsMaxY, w->gravityX, w->gravityY,
                w->friction, w->ratiox, w->ratioy, float(w->i), float(w->gridon), float(w->gridsize)};
    }
};

TEST_P(WorldNames, SecondNameBehavesAsTheFirst) {
    const std::vector<float> first = Run(GetParam().first);
    EXPECT_EQ(first, Run(GetParam().second));
    EXPECT_NE(first, Run(nullptr));
}

INSTANTIATE_TEST_SUITE_P(Procedural, WorldNames, ::testing::ValuesIn(kWorldPairs),
                         [](const auto& info) { return std::string(info.param.op); });

// ---------------------------------------------------------------------------------------
// The sweep: every function of the interface, generated from the same rows, called once
// with plain arguments: the scene's objects (or null), 2.0 for floats, 0 for integers, a
// scratch path for strings, a small outline for vertex arrays, the caller's variables for
// out-parameters.

struct Scene {
    bool nullObjects = false;
    Ref<TMass> mass;
    Ref<TConstraint> con;
    Ref<TBody> body;
    Ref<TAdvBody> adv;
    Ref<TRig> rig;
    Ref<TZone> zone;
    Ref<TColEvent> event;
    Ref<TImage> image;
    std::string path;
    std::vector<float> outline{0, 0, 40, 0, 40, 40};
    float outF = 0;
    int32_t outI = 0;

    template <class T>
    T* Obj() {
        if (nullObjects) return nullptr;
        if constexpr (std::is_same_v<T, TMass>) return mass;
        else if constexpr (std::is_same_v<T, TConstraint>) return con;
        else if constexpr (std::is_same_v<T, TBody>) return body;
        else if constexpr (std::is_same_v<T, TAdvBody>) return adv;
        else if constexpr (std::is_same_v<T, TRig>) return rig;
        else if constexpr (std::is_same_v<T, TZone>) return zone;
        else if constexpr (std::is_same_v<T, TColEvent>) return event;
        else if constexpr (std::is_same_v<T, TImage> || std::is_same_v<T, TObject>) return image;
        else static_assert(!sizeof(T), "no scene object of this type");
    }
    template <class A>
    decltype(auto) Arg() {
        using D = std::remove_cvref_t<A>;
        if constexpr (std::is_same_v<A, float&>) return (outF);
        else if constexpr (std::is_same_v<A, int32_t&>) return (outI);
        else if constexpr (std::is_same_v<D, float>) return 2.0f;
        else if constexpr (std::is_same_v<D, int32_t>) return int32_t{0};
        else if constexpr (std::is_same_v<D, std::string>) return (path);
        else if constexpr (std::is_same_v<D, std::vector<float>>) return (outline);
        else if constexpr (std::is_same_v<D, TZoneResponse>) return TZoneResponse{};
        else return Obj<std::remove_pointer_t<D>>();
    }
};

template <class R, class... A>
void Call(R (*fn)(A...), Scene& s) {
    (void)fn(s.template Arg<A>()...);
}

struct SweepEntry {
    std::string_view name;
    void (*call)(Scene&);
};

#define SWEEP_AS(Name, Sig) {#Name, [](Scene& s) { Call(static_cast<Sig>(&Name), s); }},
#define SWEEP_FN(Type, Op, Ret, Params, Args) SWEEP_AS(Gel##Type##Op, Ret(*) Params)
#define SWEEP_FZ(Type, Op, Params, Args) SWEEP_AS(Gel##Type##Op, int32_t(*) Params)
#define SWEEP_GET(Type, Op, Ret, Null, Params, Args) \
    SWEEP_AS(Gel##Type##Op, Ret (*)(T##Type * GELSIM_PROC_TAIL Params))
#define SWEEP_DO(Type, Op, Params, Args) SWEEP_AS(Gel##Type##Op, int32_t (*)(T##Type * GELSIM_PROC_TAIL Params))
#define SWEEP_HAND(Type, Op) SWEEP_AS(Gel##Type##Op, decltype(&Gel##Type##Op))

const SweepEntry kSweep[] = {GELSIM_PROC_ROWS(SWEEP_FN, SWEEP_FZ, SWEEP_GET, SWEEP_DO, SWEEP_HAND)};

class Sweep : public Procedural {
protected:
    void Build(bool nullObjects) {
        s.nullObjects = nullObjects;
        s.path = Path("sweep");
        s.image = SolidImage(4, 4);
        s.adv = Triangle();
        s.adv->ConAddAll(1.0f);
        s.adv->ImageAdd(s.image.Get());
        s.adv->RigAdd(0, 0, 0, 0);
        s.adv->Activate();
        s.mass = s.adv->MassAt(0);
        s.con = s.adv->ConAt(0);
        s.rig = s.adv->RigAt(0);
        s.body = GelBodyCreate();
        s.zone = GelZoneCreate({0, 150, 200, 150, 200, 300, 0, 300}, TZone::FILL, 0.5f, 2, 3);
        s.event = GelColEventCreate(s.mass, s.zone, 1, 2, 3);
        for (int32_t k = 0; k < 60; ++k) TPhysics::Update();  // the triangle lands on the zone
    }
    void Run(bool reverse) {
        for (size_t k = 0; k < std::size(kSweep); ++k) {
            const SweepEntry& e = kSweep[reverse ? std::size(kSweep) - 1 - k : k];
            SCOPED_TRACE(std::string(e.name));
            e.call(s);
        }
    }
    Scene s;
};

TEST_F(Sweep, CoversEveryFunction) {
    ASSERT_EQ(std::size(kSweep), kGelFunctionCount);
    for (size_t k = 0; k < kGelFunctionCount; ++k) EXPECT_EQ(kSweep[k].name, kGelFunctionNames[k]);
}

TEST_F(Sweep, SceneInOrderWorldFirst) {
    Build(false);
    EXPECT_GT(TColEvent::QueueCount(), 0);
    Run(false);
}

TEST_F(Sweep, SceneInReverseWorldLast) {
    Build(false);
    Run(true);
    // The savers ran on real objects (the zone has its image by then, saved beside it).
    EXPECT_EQ(Listing(), (std::vector<std::string>{"sweep.plb", "sweep.plz", "sweep_img.png"}));
}

TEST_F(Sweep, NullObjectsInBothOrders) {
    Build(true);
    Run(false);
    Build(true);
    Run(true);
}

}  // namespace
}  // namespace kin::gelsim::test
