// Indexed bodies: the four tables, the generated forwarding rows, the registry, whole-body
// motion, activation and collision queries.
#include <cmath>

#include "tests/support/BodyFixture.h"
#include "gelsim/core/MathUtil.h"

namespace kin::gelsim::test {
namespace {

class Bodies : public BodyWorld {
protected:
    /// A body with n masses 100 apart on a horizontal line at y = 500.
    Ref<TAdvBody> Line(int32_t n) {
        Ref<TAdvBody> b = TAdvBody::Create();
        for (int32_t i = 0; i < n; ++i) b->MassAdd(100.0f + 100.0f * i, 500.0f, 1, 5, 0.5f, 1);
        return b;
    }
};

// ---------------------------------------------------------------------------------------
// The four tables behave alike: one parameterised suite drives each through the same cases.

struct TableOps {
    const char* name;
    int32_t (*add)(TAdvBody&);  // adds one element (with whatever it needs) and returns its index
    int32_t (TAdvBody::*remove)(int32_t);
    int32_t (TAdvBody::*maxIndex)();
    int32_t (TAdvBody::*swap)(int32_t, int32_t);
    int32_t (TAdvBody::*clean)();
    int32_t (TAdvBody::*exists)(int32_t);
    TObject* (*get)(TAdvBody&, int32_t);
    size_t (*storage)(const TAdvBody&);
    int32_t (*ownIndex)(TObject*);  // the element's back-reference, or -2 when it keeps none
};

// Constraints and rigs need masses and an image: those live in the other tables.
int32_t AddMass(TAdvBody& b) { return b.MassAdd(1, 2, 1, 1, 0, 0); }
void Support(TAdvBody& b) {
    if (b.iIndex == 0) {
        b.ImageAdd(SolidImage(1, 1).Get());
        AddMass(b);
        AddMass(b);
    }
}
int32_t AddCon(TAdvBody& b) {
    Support(b);
    return b.ConAdd(0, 1, 10, 1);
}
int32_t AddRig(TAdvBody& b) {
    Support(b);
    return b.RigAdd(0, 0, -1, 0);
}
int32_t AddImage(TAdvBody& b) { return b.ImageAdd(SolidImage(1, 1).Get()); }

const TableOps kTables[] = {
    {"masses", AddMass, &TAdvBody::MassRemove, &TAdvBody::MassMaxIndex, &TAdvBody::MassSwapIndex,
     &TAdvBody::MassCleanIndex, &TAdvBody::MassExists, [](TAdvBody& b, int32_t i) -> TObject* { return b.MassGet(i); },
     [](const TAdvBody& b) { return b.mArray.size(); }, [](TObject* o) { return As<TMass>(o)->index; }},
    {"constraints", AddCon, &TAdvBody::ConRemove, &TAdvBody::ConMaxIndex, &TAdvBody::ConSwapIndex,
     &TAdvBody::ConCleanIndex, &TAdvBody::ConExists, [](TAdvBody& b, int32_t i) -> TObject* { return b.ConGet(i); },
     [](const TAdvBody& b) { return b.cArray.size(); }, [](TObject* o) { return As<TConstraint>(o)->index; }},
    {"rigs", AddRig, &TAdvBody::RigRemove, &TAdvBody::RigMaxIndex, &TAdvBody::RigSwapIndex, &TAdvBody::RigCleanIndex,
     &TAdvBody::RigExists, [](TAdvBody& b, int32_t i) -> TObject* { return b.RigGet(i); },
     [](const TAdvBody& b) { return b.rArray.size(); }, [](TObject* o) { return As<TRig>(o)->index; }},
    {"images", AddImage, &TAdvBody::ImageRemove, &TAdvBody::ImageMaxIndex, &TAdvBody::ImageSwapIndex,
     &TAdvBody::ImageCleanIndex, &TAdvBody::ImageExists, [](TAdvBody& b, int32_t i) -> TObject* { return b.ImageGet(i); },
     [](const TAdvBody& b) { return b.iArray.size(); }, [](TObject*) { return -2; }},
};

class Tables : public Bodies, public ::testing::WithParamInterface<TableOps> {
protected:
    void Fill(int32_t n) {
        body = TAdvBody::Create();
        for (int32_t i = 0; i < n; ++i) ASSERT_EQ(GetParam().add(*body), i);
    }
    int32_t Max() { return (body.Get()->*GetParam().maxIndex)(); }
    int32_t Exists(int32_t i) { return (body.Get()->*GetParam().exists)(i); }
    TObject* Get(int32_t i) { return GetParam().get(*body, i); }

    Ref<TAdvBody> body;
};

TEST_P(Tables, RisingIndicesAndDoublingStorage) {
    Fill(0);
    EXPECT_EQ(Max(), -1);
    EXPECT_EQ(Exists(0), 0);
    EXPECT_EQ(Get(0), nullptr);
    std::vector<size_t> lengths;
    for (int32_t i = 0; i < 7; ++i) {
        ASSERT_EQ(GetParam().add(*body), i);
        lengths.push_back(GetParam().storage(*body));
    }
    EXPECT_EQ(lengths[0], 2u);
    EXPECT_EQ(lengths[2], 6u);
    EXPECT_EQ(lengths[6], 14u);
    EXPECT_EQ(Max(), 6);
}

TEST_P(Tables, RemovalLeavesAHoleThatOnlyCompactionCloses) {
    Fill(5);
    TObject* old3 = Get(3);
    TObject* old4 = Get(4);
    (body.Get()->*GetParam().remove)(2);
    (body.Get()->*GetParam().remove)(2);  // twice is harmless
    EXPECT_EQ(Max(), 4);
    EXPECT_EQ(Exists(2), 0);
    EXPECT_EQ(GetParam().add(*body), 5);  // behind the hole, never into it
    TObject* old5 = Get(5);
    const size_t storage = GetParam().storage(*body);

    (body.Get()->*GetParam().clean)();
    EXPECT_EQ(Max(), 4);
    EXPECT_EQ(Get(2), old3);
    EXPECT_EQ(Get(3), old4);
    EXPECT_EQ(Get(4), old5);
    EXPECT_EQ(Get(5), nullptr);
    EXPECT_EQ(GetParam().storage(*body), storage);  // compaction never shrinks
    for (int32_t i = 0; i <= 4; ++i)
        if (GetParam().ownIndex(Get(i)) != -2) {
            EXPECT_EQ(GetParam().ownIndex(Get(i)), i);
        }
}

TEST_P(Tables, SwapChecksBothIndicesAgainstTheCount) {
    Fill(3);
    TObject* e0 = Get(0);
    TObject* e2 = Get(2);
    for (auto [a, b] : std::vector<std::pair<int32_t, int32_t>>{{0, 3}, {-1, 0}, {0, 1000}, {INT32_MIN, 2}})
        (body.Get()->*GetParam().swap)(a, b);
    EXPECT_EQ(Get(0), e0);
    EXPECT_EQ(Get(2), e2);
    (body.Get()->*GetParam().remove)(1);
    (body.Get()->*GetParam().swap)(1, 2);  // an empty entry may take part
    EXPECT_EQ(Get(1), e2);
    EXPECT_EQ(Get(2), nullptr);
    if (GetParam().ownIndex(e2) != -2) {
        EXPECT_EQ(GetParam().ownIndex(e2), 1);
    }
}

TEST_P(Tables, IndicesOutsideTheStorageAreEmptyEntries) {
    Fill(2);
    for (int32_t i : {-1, -1000, INT32_MIN, 2, 3, 1 << 20, INT32_MAX}) {
        EXPECT_EQ(Exists(i), 0) << i;
        EXPECT_EQ(Get(i), nullptr) << i;
        (body.Get()->*GetParam().remove)(i);
    }
    EXPECT_EQ(Max(), 1);
}

INSTANTIATE_TEST_SUITE_P(Each, Tables, ::testing::ValuesIn(kTables),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// The generated forwarding rows.

// Every argument name used in the rows, declared as locals so that a row's own Args list
// can be spelled out as a call.
#define ROW_ARGS                                                                                   \
    [[maybe_unused]] std::string name = "renamed";                                                 \
    [[maybe_unused]] float dx = 3, dy = -4, x = 70, y = 80, mass = 2.5f, radius = 6;               \
    [[maybe_unused]] float friction = 0.25f, vx = 1.5f, vy = -2, restLength = 33, stiffness = 0.75f; \
    [[maybe_unused]] float angle = 15, scaleX = 2, scaleY = 3, alpha = 0.5f;                       \
    [[maybe_unused]] int32_t colGroup = 7, red = 10, green = 20, blue = 30, blend = 4;             \
    [[maybe_unused]] float outX = 777, outY = 777;                                                 \
    [[maybe_unused]] int32_t outR = 777, outG = 777, outB = 777

// Everything a row could read or change, for comparing an element with its twin.
std::vector<double> State(const TMass* m) {
    return {m->posX, m->posY, m->oldPosX, m->oldPosY, m->mass, m->radius, m->friction, m->colGroup,
            double(m->frozen), double(m->name.size())};
}
std::vector<double> State(const TConstraint* c) { return {c->restLength, c->stiffness, double(c->name.size())}; }
std::vector<double> State(const TRig* r) {
    return {r->angle, r->scaleX, r->scaleY, r->red, r->green, r->blue, r->alpha, double(r->blend), double(r->name.size())};
}

template <class R>
bool SameResult(const R& a, const R& b) {
    if constexpr (std::is_floating_point_v<R>) return (std::isnan(a) && std::isnan(b)) || a == b;
    return a == b;
}

TEST_F(Bodies, ForwardingRowsOnEmptyEntriesDoNothing) {
    Ref<TAdvBody> b = Line(2);
    b->ConAdd(0, 1, 50, 1);
    b->ImageAdd(SolidImage(2, 2).Get());
    b->RigAdd(0, 0, 0, 0);
    b->MassAdd(0, 0, 1, 1, 0, 1);
    b->MassRemove(2);  // a hole below the count (its constraint and rig go too)
    const auto before = State(b->MassGet(0));
    int32_t rows = 0;
    for (int32_t index : {2, 5, -1, INT32_MAX, INT32_MIN}) {
#define CHECK_EMPTY(Name, Method, Ret, Params, Args)                   \
    {                                                                  \
        ROW_ARGS;                                                      \
        ++rows;                                                        \
        const Ret r = b->Name(index GELSIM_TAIL Args);                 \
        EXPECT_TRUE(SameResult(r, Ret{})) << #Name << " at " << index; \
        EXPECT_TRUE(outX == 777 && outY == 777) << #Name;              \
        EXPECT_TRUE(outR == 777 && outG == 777 && outB == 777) << #Name; \
    }
        GELSIM_MASS_OPS(CHECK_EMPTY, GELSIM_SKIP_HAND)
        GELSIM_CON_OPS(CHECK_EMPTY, GELSIM_SKIP_HAND)
        GELSIM_RIG_OPS(CHECK_EMPTY, GELSIM_SKIP_HAND)
#undef CHECK_EMPTY
    }
    EXPECT_GT(rows, 5 * 40);
    EXPECT_EQ(b->MassExists(2), 0);
    EXPECT_EQ(b->mIndex, 3);
    EXPECT_EQ(State(b->MassGet(0)), before);  // nothing reached a live entry
}

TEST_F(Bodies, ForwardingRowsActLikeTheElementsOwnMethod) {
    // Each row runs on entry 0 of a body and, directly, on the same element of a twin
    // body; results, outputs and resulting states must agree.
    auto make = []() {
        Ref<TAdvBody> b = TAdvBody::Create();
        b->MassAdd(10, 20, 2, 5, 0.5f, 3);
        b->MassAdd(40, 60, 1, 5, 0.5f, 3);
        b->MassMove(0, 1, 1);
        b->ConAdd(0, 1, 25, 0.5f);
        b->ImageAdd(SolidImage(2, 2).Get());
        b->RigAdd(0, 0, 0, 5);
        return b;
    };
    int32_t rows = 0;
#define CHECK_TWIN(Get, Name, Method, Ret, Params, Args)                          \
    {                                                                             \
        ++rows;                                                                   \
        Ref<TAdvBody> viaBody = make(), direct = make();                          \
        ROW_ARGS;                                                                 \
        const Ret r1 = viaBody->Name(0 GELSIM_TAIL Args);                         \
        const float bodyOutX = outX;                                              \
        const int32_t bodyOutR = outR;                                            \
        {                                                                         \
            ROW_ARGS;                                                             \
            const Ret r2 = direct->Get(0)->Method Args;                           \
            EXPECT_TRUE(SameResult(r1, r2)) << #Name;                             \
            EXPECT_EQ(bodyOutX, outX) << #Name;                                   \
            EXPECT_EQ(bodyOutR, outR) << #Name;                                   \
        }                                                                         \
        EXPECT_EQ(State(viaBody->Get(0)), State(direct->Get(0))) << #Name;        \
    }
#define CHECK_MASS(...) CHECK_TWIN(MassGet, __VA_ARGS__)
#define CHECK_CON(...) CHECK_TWIN(ConGet, __VA_ARGS__)
#define CHECK_RIG(...) CHECK_TWIN(RigGet, __VA_ARGS__)
    GELSIM_MASS_OPS(CHECK_MASS, GELSIM_SKIP_HAND)
    GELSIM_CON_OPS(CHECK_CON, GELSIM_SKIP_HAND)
    GELSIM_RIG_OPS(CHECK_RIG, GELSIM_SKIP_HAND)
#undef CHECK_MASS
#undef CHECK_CON
#undef CHECK_RIG
#undef CHECK_TWIN
    EXPECT_GT(rows, 40);
}

// ---------------------------------------------------------------------------------------
// Cascades, refusals and index translation.

TEST_F(Bodies, RemovingAMassTakesItsConstraintsAndEveryRigOnEither) {
    Ref<TAdvBody> b = Line(4);
    b->ImageAdd(SolidImage(2, 2).Get());
    const int32_t c01 = b->ConAdd(0, 1, -1, 1), c12 = b->ConAdd(1, 2, -1, 1), c23 = b->ConAdd(2, 3, -1, 1);
    const int32_t onMass1 = b->RigAdd(0, 1, -1, 0), onCon01 = b->RigAdd(0, 0, c01, 0), other = b->RigAdd(0, 3, c23, 0);
    b->Activate();
    Ref<TConstraint> held(b->ConGet(c01));
    Ref<TMass> m1(b->MassGet(1));

    b->MassRemove(1);
    EXPECT_EQ(b->RigExists(onMass1), 0);
    EXPECT_EQ(b->RigExists(onCon01), 0);
    EXPECT_EQ(b->RigExists(other), 1);
    EXPECT_EQ(b->ConExists(c01), 0);
    EXPECT_EQ(b->ConExists(c12), 0);
    EXPECT_EQ(b->ConExists(c23), 1);
    EXPECT_EQ(held->IsActive(), 0);  // freed from the body: out of the world
    EXPECT_EQ(held->abID, -1);
    EXPECT_EQ(m1->abID, -1);
    EXPECT_EQ(m1->IsActive(), 0);
    EXPECT_EQ(b->GetConstraints()->Count(), 1);
}

TEST_F(Bodies, RemovingAnImageTakesTheRigsShowingIt) {
    Ref<TAdvBody> b = Line(1);
    Ref<TImage> shown = SolidImage(2, 2);
    b->ImageAdd(shown.Get());
    b->ImageAdd(SolidImage(2, 2).Get());
    const int32_t r0 = b->RigAdd(0, 0, -1, 0), r1 = b->RigAdd(1, 0, -1, 0);
    b->ImageRemove(0);
    EXPECT_EQ(b->RigExists(r0), 0);
    EXPECT_EQ(b->RigExists(r1), 1);
}

TEST_F(Bodies, AddersRefuseMissingEntriesAndChangeNothing) {
    Ref<TAdvBody> b = Line(4);
    b->MassRemove(2);
    for (auto [m1, m2] : std::vector<std::pair<int32_t, int32_t>>{{3, 3}, {0, 2}, {2, 0}, {0, 4}, {-1, 0}, {0, 1 << 30}})
        EXPECT_EQ(b->ConAdd(m1, m2, 10, 1), -1) << m1 << "," << m2;
    EXPECT_EQ(b->ConMaxIndex(), -1);
    EXPECT_EQ(b->RigAdd(0, 0, -1, 0), -1);  // no image yet
    b->ImageAdd(SolidImage(1, 1).Get());
    EXPECT_EQ(b->RigAdd(0, 2, -1, 0), -1);  // empty mass entry
    EXPECT_EQ(b->RigAdd(1, 0, -1, 0), -1);
    EXPECT_EQ(b->RigMaxIndex(), -1);
    EXPECT_EQ(b->ImageAdd(static_cast<TObject*>(nullptr)), -1);
    EXPECT_EQ(b->ImageAdd(b->MassGet(0)), -1);  // not an image and not loadable
    EXPECT_EQ(b->ImageAdd(Path("missing.png")), -1);
    EXPECT_EQ(b->ImageMaxIndex(), 0);
    // A constraint index that names no entry leaves the rig without constraint.
    const int32_t r = b->RigAdd(0, 0, 7, 0);
    EXPECT_EQ(b->RigGetConstraint(r), -1);
}

TEST_F(Bodies, ConAddAllJoinsEveryPairAtItsPresentDistance) {
    Ref<TAdvBody> b = TAdvBody::Create();
    const float pts[4][2] = {{0, 0}, {30, 0}, {0, 40}, {30, 40}};
    for (auto& p : pts) b->MassAdd(p[0], p[1], 1, 1, 0, 1);
    b->ConAddAll(0.5f);
    const std::pair<int32_t, int32_t> pairs[] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
    ASSERT_EQ(b->ConMaxIndex(), 5);
    for (int32_t k = 0; k < 6; ++k) {
        EXPECT_EQ(b->ConGetMass1(k), pairs[k].first);
        EXPECT_EQ(b->ConGetMass2(k), pairs[k].second);
        const auto& p = pts[pairs[k].first];
        const auto& q = pts[pairs[k].second];
        EXPECT_FLOAT_EQ(b->ConGetRestLength(k), std::hypot(q[0] - p[0], q[1] - p[1]));
        EXPECT_EQ(b->ConGetStiffness(k), 0.5f);
    }
    b->ConAddAll(0.5f);
    EXPECT_EQ(b->ConMaxIndex(), 11);
}

TEST_F(Bodies, RigRowsTranslateBetweenObjectsAndIndices) {
    Ref<TAdvBody> b = Line(3);
    Ref<TImage> twice = SolidImage(1, 1);
    b->ImageAdd(SolidImage(1, 1).Get());
    b->ImageAdd(twice.Get());
    b->ImageAdd(twice.Get());
    const int32_t c = b->ConAdd(1, 2, -1, 1);
    const int32_t r = b->RigAdd(2, 0, c, 0);
    EXPECT_EQ(b->RigGetImage(r), 1);  // the lowest index holding the image
    EXPECT_EQ(b->RigGetMass(r), 0);
    EXPECT_EQ(b->RigGetConstraint(r), c);

    b->RigSetMass(r, 2);
    b->RigSetImage(r, 0);
    EXPECT_EQ(b->RigGetMass(r), 2);
    EXPECT_EQ(b->RigGetImage(r), 0);
    b->RigSetMass(r, 9);  // no such entry: unchanged
    b->RigSetImage(r, -1);
    EXPECT_EQ(b->RigGetMass(r), 2);
    EXPECT_EQ(b->RigGetImage(r), 0);
    b->RigSetConstraint(r, -1);
    EXPECT_EQ(b->RigGetConstraint(r), -1);
    b->RigSetConstraint(r, c);
    EXPECT_EQ(b->RigGetConstraint(r), c);

    // Objects changed from outside the body's tables are reported as no entry.
    b->RigGet(r)->SetImage(SolidImage(1, 1).Get());
    b->RigGet(r)->SetMass(TMass::Create(0, 0, 1, 1, 0, 0).Get());
    EXPECT_EQ(b->RigGetImage(r), -1);
    EXPECT_EQ(b->RigGetMass(r), -1);
}

TEST_F(Bodies, ImageReplaceRepointsRigsButOnlyBelowTheCount) {
    Ref<TAdvBody> b = Line(1);
    Ref<TImage> oldImg = SolidImage(1, 1), newImg = SolidImage(2, 2);
    b->ImageAdd(oldImg.Get());
    b->ImageAdd(SolidImage(1, 1).Get());
    const int32_t r = b->RigAdd(0, 0, -1, 0);
    EXPECT_EQ(b->ImageReplace(0, newImg.Get()), 1);
    EXPECT_EQ(b->RigGet(r)->GetImage(), newImg.Get());
    EXPECT_EQ(b->ImageGet(0), newImg.Get());
    b->ImageRemove(1);
    EXPECT_EQ(b->ImageReplace(1, oldImg.Get()), 1);  // a hole below the count is filled
    EXPECT_EQ(b->ImageReplace(0, Path("missing.png")), 0);
    EXPECT_EQ(b->ImageGet(0), newImg.Get());
    // Behind the count an image would be invisible to the table and overwritten by the
    // next ImageAdd.
    EXPECT_EQ(b->ImageReplace(2, oldImg.Get()), 0);
    EXPECT_EQ(b->ImageReplace(-1, oldImg.Get()), 0);
    EXPECT_EQ(b->ImageMaxIndex(), 1);
}

// ---------------------------------------------------------------------------------------
// Registry, activation and freeing.

TEST_F(Bodies, IdsAreReusedLastFreedFirstAndTheRegistryDoubles) {
    std::vector<Ref<TAdvBody>> bodies;
    for (int32_t i = 0; i < 5; ++i) bodies.push_back(TAdvBody::Create());
    EXPECT_EQ(bodies[4]->aIndex, 4);
    EXPECT_EQ(TPhysics::GetBody(3), bodies[3].Get());
    bodies[1]->Free();
    bodies[3]->Free();
    bodies[3]->Free();  // idempotent: the id is not pushed again
    EXPECT_EQ(bodies[3]->aIndex, -1);
    EXPECT_EQ(world->bodyFreeCount, 2);
    bodies.push_back(TAdvBody::Create());
    EXPECT_EQ(bodies.back()->aIndex, 3);
    EXPECT_EQ(world->bodyFreeCount, 1);

    for (int32_t i = world->bodyCount; i < 1023; ++i) bodies.push_back(TAdvBody::Create());
    EXPECT_EQ(world->bodyArray.size(), 1024u);
    bodies.push_back(TAdvBody::Create());  // reuses 1
    bodies.push_back(TAdvBody::Create());  // id 1023: the registry doubles
    EXPECT_EQ(bodies.back()->aIndex, 1023);
    EXPECT_EQ(world->bodyArray.size(), 2048u);
    EXPECT_EQ(world->bodyFree.size(), 2048u);
    EXPECT_EQ(TPhysics::GetBody(4), bodies[4].Get());
}

TEST_F(Bodies, TheRegistryKeepsABodyUntilItsFreeOrTheWorldEnds) {
    Ref<TAdvBody> b = Line(2);
    b->ImageAdd(SolidImage(1, 1).Get());
    b->ConAdd(0, 1, -1, 1);
    b->RigAdd(0, 0, 0, 0);
    b->Activate();
    Ref<TMass> m(b->MassGet(0));
    Ref<TConstraint> c(b->ConGet(0));
    Ref<TRig> r(b->RigGet(0));
    const int32_t id = b->aIndex;
    TAdvBody* body = b.Get();
    b = nullptr;  // the caller's last handle: the body stays registered, whole and simulated
    ASSERT_EQ(TPhysics::GetBody(id), body);
    EXPECT_EQ(m->GetAdvBody(), body);
    EXPECT_EQ(c->GetAdvBody(), body);
    EXPECT_EQ(r->GetAdvBody(), body);
    EXPECT_EQ(m->IsActive(), 1);
    EXPECT_NE(TAdvBody::Create()->aIndex, id);  // its id is not handed out again

    body->Free();  // drops the registry's reference, the only one left
    EXPECT_EQ(m->GetAdvBody(), nullptr);
    EXPECT_EQ(r->abID, -1);
    EXPECT_EQ(m->IsActive(), 0);
    EXPECT_EQ(r->RefCount(), 1);  // the body and its tables are gone
    EXPECT_EQ(TAdvBody::Create()->aIndex, id);

    // A body that cannot be built from its records does not stay behind in the registry.
    auto registered = [&] {
        int32_t n = 0;
        for (const auto& e : world->bodyArray) n += e ? 1 : 0;
        return n;
    };
    const int32_t before = registered();
    TBodyFileData undecodable;
    undecodable.imageCount = 1;
    undecodable.images.resize(1);
    undecodable.images[0].png = {1, 2, 3};
    EXPECT_THROW(BuildBody(undecodable, TBodyBuild::EXACT), TFileFormatException);
    EXPECT_EQ(registered(), before);

    // Whatever ends the registry releases its bodies: the end of the world, or freeing it.
    // A second world leaves the first one's bodies alone while the first one lives.
    Ref<TAdvBody> held = Line(1);
    Ref<TMass> unheld;
    {
        Ref<TAdvBody> gone = Line(2);
        gone->ConAdd(0, 1, -1, 1);
        gone->Activate();
        unheld = gone->MassGet(1);
    }
    EXPECT_EQ(held->RefCount(), 2);
    const int32_t heldId = held->aIndex;
    Ref<TPhysics> second = TPhysics::Create(1024.0f, 4096.0f, 0.1f, 0.0f, 1);
    EXPECT_EQ(held->RefCount(), 2);
    EXPECT_EQ(held->GetWorld(), world.Get());
    EXPECT_EQ(held->Activate(), -1);  // it belongs to the first world
    world = nullptr;  // the first world ends
    EXPECT_EQ(held->RefCount(), 1);
    EXPECT_EQ(held->GetWorld(), nullptr);
    EXPECT_EQ(held->aIndex, -1);  // what lives on has no id in the new world
    for (int32_t k = 0; k <= heldId; ++k) TAdvBody::Create();
    EXPECT_EQ(held->MassGet(0)->GetAdvBody(), nullptr);
    EXPECT_EQ(unheld->RefCount(), 1);  // its body was destroyed and counted it out
    EXPECT_EQ(unheld->abID, -1);
    Ref<TAdvBody> inSecond = Line(1);
    Ref<TMass> secondMass(inSecond->MassGet(0));
    inSecond = nullptr;
    TPhysics::Free();
    EXPECT_EQ(secondMass->RefCount(), 1);
    EXPECT_EQ(secondMass->abID, -1);
}

TEST_F(Bodies, ConstraintsEnterTheWorldOnlyThroughAssignment) {
    Ref<TAdvBody> b = Line(3);
    b->ConAdd(0, 1, -1, 1);
    b->Activate();
    b->Activate();
    EXPECT_EQ(b->ConGet(0)->refCounter, 1);
    EXPECT_EQ(b->MassIsActive(0), 1);
    const int32_t late = b->ConAdd(1, 2, -1, 1);
    EXPECT_EQ(b->MassIsActive(2), 0);
    b->ConAssign(late);
    EXPECT_EQ(b->MassIsActive(2), 1);
    b->DeActivate();
    b->DeActivate();
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(b->MassIsActive(i), 0);
    EXPECT_EQ(world->massArray[0], nullptr);
}

TEST_F(Bodies, FreeEmptiesEveryTableButKeepsTheCounts) {
    Ref<TAdvBody> b = Line(3);
    b->ImageAdd(SolidImage(1, 1).Get());
    b->ConAddAll(1);
    b->RigAdd(0, 0, 0, 0);
    b->Activate();
    Ref<TMass> m(b->MassGet(0));
    b->Free();
    EXPECT_EQ(b->MassMaxIndex(), 2);
    EXPECT_EQ(b->ConMaxIndex(), 2);
    EXPECT_EQ(b->ImageMaxIndex(), 0);
    EXPECT_EQ(b->RigMaxIndex(), 0);
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(b->MassExists(i) + b->ConExists(i), 0);
    EXPECT_EQ(b->GetConstraints()->Count(), 0);
    EXPECT_EQ(m->IsActive(), 0);
    EXPECT_EQ(TPhysics::GetBody(0), nullptr);
    EXPECT_EQ(b->MassAdd(0, 0, 1, 1, 0, 0), 3);  // still usable as a container
    EXPECT_EQ(b->MassGet(3)->abID, -1);
}

// ---------------------------------------------------------------------------------------
// Whole-body motion about the reference mass.

TEST_F(Bodies, PositionMovesTheReferenceMassThereAtRest) {
    Ref<TAdvBody> b = Line(3);
    b->MassRemove(0);  // mass 1 becomes the reference
    b->MassMove(2, 5, 5);
    b->Position(100, 50);
    float x = -1, y = -1;
    b->GetPosition(x, y);
    EXPECT_EQ(x, 100.0f);
    EXPECT_EQ(y, 50.0f);
    EXPECT_EQ(b->GetX(), 100.0f);
    EXPECT_EQ(b->MassGetX(2), 205.0f);  // shape kept
    EXPECT_EQ(b->MassGetY(2), 55.0f);
    EXPECT_EQ(b->MassGetVX(2), 0.0f);
    EXPECT_EQ(b->MassGetVY(2), 0.0f);

    Ref<TAdvBody> empty = TAdvBody::Create();
    x = y = 7;
    empty->GetPosition(x, y);
    empty->Position(1, 1);
    EXPECT_EQ(x, 7.0f);
    EXPECT_EQ(empty->GetX(), 0.0f);
    EXPECT_EQ(empty->GetRotation(), 0.0f);
}

TEST_F(Bodies, MoveAddsVelocityTranslateKeepsIt) {
    Ref<TAdvBody> b = Line(2);
    b->MassFreeze(1);
    b->Move(3, 0);
    EXPECT_EQ(b->MassGetVX(0), 3.0f);
    EXPECT_EQ(b->MassGetX(1), 200.0f);  // frozen: stays
    b->Translate(0, 10);
    EXPECT_EQ(b->MassGetVY(0), 0.0f);
    EXPECT_EQ(b->MassGetY(1), 510.0f);
    b->Thaw();
    EXPECT_EQ(b->MassIsFrozen(1), 0);
    b->Freeze();
    EXPECT_EQ(b->MassIsFrozen(0), 1);
    EXPECT_EQ(b->MassGetVX(0), 0.0f);
}

TEST_F(Bodies, RotateTurnsAboutTheReferenceMassUntilTheFirstConstraintPointsThere) {
    Ref<TAdvBody> b = Line(3);
    b->ConAdd(0, 1, -1, 1);
    b->MassSetVelocity(2, 4, 4);
    b->Rotate(90);
    EXPECT_NEAR(b->GetRotation(), 90.0f, 1e-3);
    EXPECT_NEAR(b->MassGetX(1), 100.0f, 1e-3);  // a quarter turn towards rising angles: +x to +y
    EXPECT_NEAR(b->MassGetY(1), 600.0f, 1e-3);
    EXPECT_NEAR(b->MassGetY(2), 700.0f, 1e-3);
    EXPECT_EQ(b->MassGetVX(2), 0.0f);
    EXPECT_EQ(b->MassGetX(0), 100.0f);
}

TEST_F(Bodies, SpinIsMomentumAndLeavesFrozenMassesTurnMovesThemAll) {
    Ref<TAdvBody> spun = Line(3), turned = Line(3);
    spun->MassFreeze(2);
    turned->MassFreeze(2);
    spun->Spin(90);
    turned->Turn(90);
    EXPECT_NEAR(spun->MassGetX(1), 100.0f, 1e-3);
    EXPECT_NEAR(spun->MassGetVX(1), -100.0f, 1e-3);  // the displacement became velocity
    EXPECT_NEAR(spun->MassGetVY(1), 100.0f, 1e-3);
    EXPECT_EQ(spun->MassGetX(2), 300.0f);
    EXPECT_NEAR(turned->MassGetY(1), 600.0f, 1e-3);
    EXPECT_EQ(turned->MassGetVX(1), 0.0f);
    EXPECT_NEAR(turned->MassGetY(2), 700.0f, 1e-3);
}

// ---------------------------------------------------------------------------------------
// Collision queries read pending events only.

TEST_F(Bodies, CollisionQueriesAreNullWithoutEventsAndListThemOtherwise) {
    Ref<TAdvBody> a = TAdvBody::Create(), other = TAdvBody::Create();
    a->MassAdd(500, 4093, 1, 5, 0, 1);  // pushed back by the floor
    a->MassAdd(700, 2000, 1, 5, 0, 1);
    a->ConAdd(0, 1, -1, 0);
    other->MassAdd(706, 2000, 1, 5, 0, 2);  // overlaps a's mass 1
    other->MassAdd(900, 2000, 1, 5, 0, 2);
    other->ConAdd(0, 1, -1, 0);
    EXPECT_EQ(a->CollideBounds(), nullptr);
    EXPECT_EQ(a->CollideAdvBody(other.Get()), nullptr);
    a->Activate();
    other->Activate();
    TPhysics::Update();

    Ref<TList> bounds = a->CollideBounds();
    ASSERT_NE(bounds, nullptr);
    EXPECT_EQ(bounds->Count(), 1);
    EXPECT_EQ(As<TColEvent>(bounds->FirstLink()->Value())->GetMass1(), a->MassGet(0));
    Ref<TList> pair = a->CollideAdvBody(other.Get());
    ASSERT_NE(pair, nullptr);
    EXPECT_EQ(pair->Count(), 1);
    EXPECT_EQ(other->CollideBounds(), nullptr);
    EXPECT_EQ(a->CollideZone(nullptr), nullptr);
}

}  // namespace
}  // namespace kin::gelsim::test
