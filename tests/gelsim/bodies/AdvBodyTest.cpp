// Indexed bodies: the four tables, the generated forwarding rows, the registry, whole-body
// motion, activation and collision queries.
#include <cmath>

#include "BodyFixture.h"
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

// Rigs and constraints need masses (and an image) that the tables below never touch:
// they sit at indices the cases do not use.
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
    /// A body holding only the table under test (masses: nothing else at all).
    void Fill(int32_t n) {
        body = TAdvBody::Create();
        if (std::string(GetParam().name) == "constraints" || std::string(GetParam().name) == "rigs") {
            Support(*body);
            if (std::string(GetParam().name) == "rigs") base = 0;
        }
        // Elements added by Support are of other tables, except the masses it needs.
        if (std::string(GetParam().name) == "masses") base = 0;
        for (int32_t i = 0; i < n; ++i) ASSERT_EQ(GetParam().add(*body), i + base);
    }
    int32_t Max() { return (body.Get()->*GetParam().maxIndex)(); }
    int32_t Exists(int32_t i) { return (body.Get()->*GetParam().exists)(i); }
    TObject* Get(int32_t i) { return GetParam().get(*body, i); }

    Ref<TAdvBody> body;
    int32_t base = 0;
};

TEST_P(Tables, RisingIndicesAndDoublingStorage) {
    body = TAdvBody::Create();
    if (std::string(GetParam().name) != "masses" && std::string(GetParam().name) != "images") Support(*body);
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
        if (GetParam().ownIndex(Get(i)) != -2) EXPECT_EQ(GetParam().ownIndex(Get(i)), i);
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
    if (GetParam().ownIndex(e2) != -2) EXPECT_EQ(GetParam().ownIndex(e2), 1);
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

// Every argument name used in the rows, so that each row can be called by its own Args.
struct RowArgs {
    std::string name = "renamed";
    float dx = 3, dy = -4, x = 70, y = 80, mass = 2.5f, radius = 6, friction = 0.25f, vx = 1.5f, vy = -2;
    int32_t colGroup = 7;
    float restLength = 33, stiffness = 0.75f, angle = 15, scaleX = 2, scaleY = 3, alpha = 0.5f;
    int32_t red = 10, green = 20, blue = 30, blend = 4;
    float outX = 777, outY = 777;
    int32_t outR = 777, outG = 777, outB = 777;
};

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
    b->MassRemove(2);  // a hole below the count
    int32_t rows = 0;
    for (int32_t index : {2, 5, -1, INT32_MAX, INT32_MIN}) {
        RowArgs a;
#define CHECK_EMPTY(Name, Method, Ret, Params, Args)                                           \
    {                                                                                          \
        ++rows;                                                                                \
        const Ret r = b->Name(index GELSIM_TAIL Args);                                         \
        EXPECT_TRUE(SameResult(r, Ret{})) << #Name << " at " << index;                         \
    }
#define A(x) a.x
        // Rows name their arguments; the macro below maps each name to the struct field.
#define name a.name
#define dx a.dx
#define dy a.dy
#define x a.x
#define y a.y
#define mass a.mass
#define radius a.radius
#define friction a.friction
#define vx a.vx
#define vy a.vy
#define colGroup a.colGroup
#define restLength a.restLength
#define stiffness a.stiffness
#define angle a.angle
#define scaleX a.scaleX
#define scaleY a.scaleY
#define alpha a.alpha
#define red a.red
#define green a.green
#define blue a.blue
#define blend a.blend
#define outX a.outX
#define outY a.outY
#define outR a.outR
#define outG a.outG
#define outB a.outB
        GELSIM_MASS_OPS(CHECK_EMPTY, GELSIM_SKIP_HAND)
        GELSIM_CON_OPS(CHECK_EMPTY, GELSIM_SKIP_HAND)
        GELSIM_RIG_OPS(CHECK_EMPTY, GELSIM_SKIP_HAND)
        EXPECT_EQ(a.outX, 777);
        EXPECT_EQ(a.outY, 777);
        EXPECT_EQ(a.outR, 777);
        EXPECT_EQ(a.outB, 777);
    }
    EXPECT_GT(rows, 5 * 40);
    EXPECT_EQ(b->MassExists(2), 0);
    EXPECT_EQ(b->MassGet(0)->posX, 100.0f);  // nothing reached a live entry
}

TEST_F(Bodies, ForwardingRowsActLikeTheElementsOwnMethod) {
    // Each row runs on entry 0 of a body and, directly, on a twin element in the same
    // state; results and resulting states must agree.
    auto make = [](Ref<TAdvBody>& b) {
        b = TAdvBody::Create();
        b->MassAdd(10, 20, 2, 5, 0.5f, 3);
        b->MassAdd(40, 60, 1, 5, 0.5f, 3);
        b->MassMove(0, 1, 1);
        b->ConAdd(0, 1, 25, 0.5f);
        b->ImageAdd(SolidImage(2, 2).Get());
        b->RigAdd(0, 0, 0, 5);
    };
    int32_t rows = 0;
#define CHECK_TWIN(Get, Name, Method, Ret, Params, Args)                                         \
    {                                                                                            \
        ++rows;                                                                                  \
        Ref<TAdvBody> viaBody, direct;                                                           \
        make(viaBody);                                                                           \
        make(direct);                                                                            \
        RowArgs a, t;                                                                            \
        const Ret r1 = viaBody->Name(0 GELSIM_TAIL Args);                                        \
        {                                                                                        \
            RowArgs& a = t;                                                                      \
            const Ret r2 = direct->Get(0)->Method Args;                                          \
            EXPECT_TRUE(SameResult(r1, r2)) << #Name;                                            \
        }                                                                                        \
        EXPECT_EQ(State(viaBody->Get(0)), State(direct->Get(0))) << #Name;                       \
        EXPECT_EQ(a.outX, t.outX) << #Name;                                                      \
        EXPECT_EQ(a.outR, t.outR) << #Name;                                                      \
    }
#define CHECK_MASS(...) CHECK_TWIN(MassGet, __VA_ARGS__)
#define CHECK_CON(...) CHECK_TWIN(ConGet, __VA_ARGS__)
#define CHECK_RIG(...) CHECK_TWIN(RigGet, __VA_ARGS__)
    GELSIM_MASS_OPS(CHECK_MASS, GELSIM_SKIP_HAND)
    GELSIM_CON_OPS(CHECK_CON, GELSIM_SKIP_HAND)
    GELSIM_RIG_OPS(CHECK_RIG, GELSIM_SKIP_HAND)
    EXPECT_GT(rows, 40);
}
#undef name
#undef dx
#undef dy
#undef x
#undef y
#undef mass
#undef radius
#undef friction
#undef vx
#undef vy
#undef colGroup
#undef restLength
#undef stiffness
#undef angle
#undef scaleX
#undef scaleY
#undef alpha
#undef red
#undef green
#undef blue
#undef blend
#undef outX
#undef outY
#undef outR
#undef outG
#undef outB

}  // namespace
}  // namespace kin::gelsim::test
