// Masses, constraints and plain bodies on their own and in pairs.
#include <cmath>
#include <cstring>
#include <limits>

#include "tests/support/WorldFixture.h"

// Parameterised cases are named by their row in the table (CTest names stay readable).
const auto kRowName = [](const auto& info) { return "row" + std::to_string(info.index); };

namespace kin::gelsim::test {
namespace {

using Mass = WorldFixture;
using Constraint = WorldFixture;
using Body = WorldFixture;

TEST_F(Mass, MotionOperationsEditPositionsAsVerletState) {
    Ref<TMass> m = TMass::Create(10, 20, 1, 5, 0.5f, 3);
    EXPECT_EQ(m->GetName(), "Mass");
    m->Move(5, 0);
    EXPECT_EQ(m->GetVelocityX(), 5.0f);
    m->Translate(5, 1);
    EXPECT_EQ(m->GetVX(), 5.0f);
    EXPECT_EQ(m->GetX(), 20.0f);
    m->Position(1, 2);
    EXPECT_EQ(m->GetVelocity(), 0.0f);
    m->SetVelocity(3, 4);
    EXPECT_EQ(m->GetVelocity(), 5.0f);
    m->AddVelocity(1, 0);
    EXPECT_EQ(m->GetVX(), 4.0f);
    EXPECT_EQ(m->GetPositionX(), 1.0f);
}

TEST_F(Mass, FrozenMassIgnoresMotionButNotPlacement) {
    Ref<TMass> m = TMass::Create(0, 0, 1, 5, 0, 3);
    m->SetVelocity(2, 2);
    m->Freeze();
    EXPECT_EQ(m->GetVelocity(), 0.0f);
    m->Move(5, 5);
    m->SetVelocity(1, 1);
    m->AddVelocity(1, 1);
    EXPECT_EQ(m->GetX(), 0.0f);
    EXPECT_EQ(m->GetVelocity(), 0.0f);
    m->Translate(2, 0);
    EXPECT_EQ(m->GetX(), 2.0f);
    m->Position(7, 7);
    EXPECT_EQ(m->GetY(), 7.0f);
    m->Thaw();
    EXPECT_EQ(m->IsFrozen(), 0);
    EXPECT_EQ(m->GetVelocity(), 0.0f);
}

TEST_F(Mass, FrictionIsClampedEverywhere) {
    EXPECT_EQ(TMass::Create(0, 0, 1, 1, 1.5f, 1)->GetFriction(), 1.0f);
    EXPECT_EQ(TMass::Create(0, 0, 1, 1, -2.0f, 1)->GetFriction(), 0.0f);
    Ref<TMass> m = TMass::Create(0, 0, -3, -4, 0.5f, 1);
    EXPECT_EQ(m->GetMass(), -3.0f);  // stored unvalidated
    EXPECT_EQ(m->GetRadius(), -4.0f);
    m->SetFriction(7);
    EXPECT_EQ(m->GetFriction(), 1.0f);
}

TEST_F(Mass, CopyIsInactiveWithoutBody) {
    Ref<TMass> m = Active(3, 4, 2, 6, 0.25f, 9);
    m->index = 5;
    m->abID = 2;
    m->Freeze();
    Ref<TMass> c = m->Copy();
    EXPECT_EQ(c->posX, 3.0f);
    EXPECT_EQ(c->mass, 2.0f);
    EXPECT_EQ(c->frozen, 1);
    EXPECT_EQ(c->index, 5);
    EXPECT_EQ(c->abID, -1);
    EXPECT_EQ(c->IsActive(), 0);
    EXPECT_EQ(c->gridlink.List(), nullptr);
}

TEST_F(Mass, CountedInAndOutWithItsGridCell) {
    Ref<TMass> m = TMass::Create(300, 1000, 1, 5, 0, -1);
    m->AddRef();
    m->AddRef();
    ASSERT_EQ(m->IsActive(), 1);
    EXPECT_EQ(world->massArray[static_cast<size_t>(m->aIndex)].Get(), m.Get());
    EXPECT_EQ(m->gridlink.List(), &world->Cell(2, 1));
    m->SubRef();
    EXPECT_EQ(m->IsActive(), 1);
    m->SubRef();
    EXPECT_EQ(m->IsActive(), 0);
    EXPECT_EQ(m->aIndex, -1);
    EXPECT_EQ(m->gridlink.List(), nullptr);
    EXPECT_EQ(m->AddToGrid(), 0);  // an inactive mass gets no cell
    EXPECT_EQ(m->gridlink.List(), nullptr);
}

struct CellCase {
    float x, y;
    int32_t col, row;
};
class GridPlacement : public WorldFixture, public ::testing::WithParamInterface<CellCase> {};

TEST_P(GridPlacement, OutsideAndNonFiniteCoordinatesLandInBorderCells) {
    TPhysics::SetGridSize(16);  // 64 x 256 unit cells
    Ref<TMass> m = Active(GetParam().x, GetParam().y);
    EXPECT_EQ(m->gridx, GetParam().col);
    EXPECT_EQ(m->gridy, GetParam().row);
    EXPECT_EQ(m->gridlink.List(), &world->Cell(GetParam().col, GetParam().row));
}
const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();
INSTANTIATE_TEST_SUITE_P(Cells, GridPlacement,
                         ::testing::Values(CellCase{100, 600, 1, 2}, CellCase{-0.5f, -300, 0, 0},
                                           CellCase{5000, 1e30f, 15, 15}, CellCase{kNaN, kNaN, 0, 0},
                                           CellCase{kInf, -kInf, 15, 0}, CellCase{1023.9f, 4095.9f, 15, 15},
                                           CellCase{64, 256, 1, 1}),
                         kRowName);

// Collide between two masses: separation by weight, friction by equal shares.
struct PairCase {
    float mA, mB;
    int32_t frozenA, frozenB;
    float moveA, moveB;  // along x, for a 1-unit overlap
};
class Pair : public WorldFixture, public ::testing::WithParamInterface<PairCase> {};

TEST_P(Pair, SeparationFollowsWeightsAndFrozenSides) {
    const PairCase& p = GetParam();
    Ref<TMass> a = Active(100, 100, p.mA, 5), b = Active(109, 100, p.mB, 5);
    if (p.frozenA) a->Freeze();
    if (p.frozenB) b->Freeze();
    a->Collide(b.Get());
    EXPECT_NEAR(a->posX, 100 - p.moveA, 1e-5f);
    EXPECT_NEAR(b->posX, 109 + p.moveB, 1e-5f);
    const int32_t events = DrainEvents();
    EXPECT_EQ(events, p.frozenA && p.frozenB ? 0 : 1);
}
INSTANTIATE_TEST_SUITE_P(Weights, Pair,
                         ::testing::Values(PairCase{1, 1, 0, 0, 0.5f, 0.5f}, PairCase{1, 3, 0, 0, 0.75f, 0.25f},
                                           PairCase{1, 1, 0, 1, 1.0f, 0.0f}, PairCase{1, 1, 1, 0, 0.0f, 1.0f},
                                           PairCase{1, 1, 1, 1, 0.0f, 0.0f},
                                           PairCase{0, 0, 0, 0, 0.5f, 0.5f}),
                         kRowName);  // massless: halves

TEST_F(Mass, TouchingDiscsGiveNoResponseAndNoEvent) {
    Ref<TMass> a = Active(100, 100), b = Active(110, 100);
    a->Collide(b.Get());
    EXPECT_EQ(a->posX, 100.0f);
    EXPECT_EQ(TColEvent::QueueCount(), 0);
}

TEST_F(Mass, ContactEventSitsBetweenTheSeparatedCentres) {
    Ref<TMass> a = Active(100, 100), b = Active(106, 106);
    a->Collide(b.Get());
    TColEvent* e = TColEvent::Poll();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->GetID(), TColEvent::MASS_MASS);
    EXPECT_EQ(e->GetMass1(), a.Get());
    EXPECT_EQ(e->GetMass2(), b.Get());
    EXPECT_NEAR(e->GetForce(), 10.0f - std::sqrt(72.0f), 1e-5f);
    EXPECT_FLOAT_EQ(e->GetX(), 103);
    EXPECT_FLOAT_EQ(e->GetY(), 103);
    EXPECT_NEAR(std::hypot(a->posX - b->posX, a->posY - b->posY), 10.0f, 1e-4f);
}

TEST_F(Mass, CoincidentCentresAreNotSeparatedButStillReported) {
    Ref<TMass> a = Active(100, 100, 1, 5, 1.0f), b = Active(100, 100, 1, 5, 1.0f);
    a->SetVelocity(2, 0);
    a->Collide(b.Get());
    EXPECT_EQ(a->posX, 100.0f);
    EXPECT_EQ(b->posX, 100.0f);
    // Whole velocity is tangential: both end at the mean (budget 9.9999 > 1).
    EXPECT_NEAR(a->GetVX(), 1.0f, 1e-5f);
    EXPECT_NEAR(b->GetVX(), 1.0f, 1e-5f);
    TColEvent* e = TColEvent::Poll();
    ASSERT_NE(e, nullptr);
    EXPECT_FLOAT_EQ(e->GetForce(), 10.0f - 0.0001f);
}

TEST_F(Mass, FrictionBudgetLimitsTheTangentialShare) {
    // Overlap 1, frictions 0.5 each: budget 0.5. Sliding at 4 against a resting mass.
    Ref<TMass> a = Active(100, 100, 1, 5, 0.5f), b = Active(100, 109, 1, 5, 0.5f);
    a->SetVelocity(4, 0);
    a->Collide(b.Get());
    EXPECT_NEAR(a->GetVX(), 3.5f, 1e-5f);
    EXPECT_NEAR(b->GetVX(), 0.5f, 1e-5f);
    // Against a frozen mass the moving one alone loses the budget.
    Ref<TMass> c = Active(300, 100, 1, 5, 0.5f), d = Active(300, 109, 1, 5, 0.5f);
    d->Freeze();
    c->SetVelocity(0.25f, 0);
    c->Collide(d.Get());
    EXPECT_NEAR(c->GetVX(), 0.0f, 1e-6f);
}

TEST_F(Constraint, CreateTakesPresentDistanceForNonPositiveRestLength) {
    Ref<TMass> a = TMass::Create(0, 0, 1, 1, 0, 1), b = TMass::Create(3, 4, 1, 1, 0, 1);
    EXPECT_EQ(TConstraint::Create(a.Get(), b.Get(), 0, 1)->GetRestLength(), 5.0f);
    EXPECT_EQ(TConstraint::Create(a.Get(), b.Get(), -5, 1)->GetRestLength(), 5.0f);
    Ref<TConstraint> c = TConstraint::Create(a.Get(), b.Get(), 10, 2);
    EXPECT_EQ(c->GetRestLength(), 10.0f);
    EXPECT_EQ(c->GetStiffness(), 2.0f);  // unclamped here
    EXPECT_EQ(c->GetName(), "Con");
    c->SetStiffness(2);
    EXPECT_EQ(c->GetStiffness(), 1.0f);
    c->SetStiffness(-1);
    EXPECT_EQ(c->GetStiffness(), 0.0f);
    c->SetRestLength(0);
    EXPECT_EQ(c->GetRestLength(), 5.0f);
    EXPECT_FLOAT_EQ(c->GetStress(), 1.0f);
}

TEST_F(Constraint, AngleLengthAndStressOfADegenerateRest) {
    Ref<TMass> a = TMass::Create(5, 5, 1, 1, 0, 1), b = TMass::Create(5, 15, 1, 1, 0, 1);
    Ref<TConstraint> c = TConstraint::Create(a.Get(), b.Get(), 5, 1);
    EXPECT_FLOAT_EQ(c->GetAngle(), 90.0f);
    EXPECT_FLOAT_EQ(c->GetLength(), 10.0f);
    EXPECT_FLOAT_EQ(c->GetStress(), 2.0f);
    Ref<TMass> p = TMass::Create(1, 1, 1, 1, 0, 1), q = TMass::Create(1, 1, 1, 1, 0, 1);
    Ref<TConstraint> z = TConstraint::Create(p.Get(), q.Get(), 0, 1);  // rest 0
    EXPECT_TRUE(std::isnan(z->GetStress()));
    q->Position(2, 1);
    EXPECT_TRUE(std::isinf(z->GetStress()));
    Ref<TConstraint> bare = MakeRef<TConstraint>();  // no masses: nothing breaks
    EXPECT_EQ(bare->GetLength(), 0.0f);
    EXPECT_EQ(bare->Satisfy(), 0);
}

struct RelaxCase {
    float w1, w2;
    int32_t f1, f2;
    float move1, move2;  // towards each other
};
class Relax : public WorldFixture, public ::testing::WithParamInterface<RelaxCase> {};

TEST_P(Relax, TwelveApartWithRestTen) {
    const RelaxCase& p = GetParam();
    Ref<TMass> a = TMass::Create(0, 0, p.w1, 1, 0, 1), b = TMass::Create(12, 0, p.w2, 1, 0, 1);
    if (p.f1) a->Freeze();
    if (p.f2) b->Freeze();
    Ref<TConstraint> c = TConstraint::Create(a.Get(), b.Get(), 10, 1);
    c->Satisfy();
    EXPECT_NEAR(a->posX, p.move1, 1e-5f);
    EXPECT_NEAR(b->posX, 12 - p.move2, 1e-5f);
    EXPECT_EQ(a->oldPosX, 0.0f);  // only current positions move
}
INSTANTIATE_TEST_SUITE_P(Weights, Relax,
                         ::testing::Values(RelaxCase{1, 1, 0, 0, 1, 1}, RelaxCase{1, 3, 0, 0, 1.5f, 0.5f},
                                           RelaxCase{1, 1, 1, 0, 0, 2}, RelaxCase{1, 1, 0, 1, 2, 0},
                                           RelaxCase{1, 1, 1, 1, 0, 0}, RelaxCase{0, 0, 0, 0, 1, 1}),
                         kRowName);

// The step relaxes its whole table at once, carrying positions from one constraint to
// the next; the result must be that of relaxing them one by one, whatever the masses
// share, weigh or whether they are frozen.
TEST_F(Constraint, RelaxingATableEqualsRelaxingEachInTurn) {
    auto build = [](std::vector<Ref<TMass>>& ms, std::vector<Ref<TConstraint>>& cs) {
        const float weights[] = {1, 1, 2, 1, 0.5f, 1, 1, 0};
        for (int32_t k = 0; k < 8; ++k)
            ms.push_back(TMass::Create(static_cast<float>(k * 7 % 5) * 3.0f, static_cast<float>(k) * 2.5f,
                                       weights[k], 1, 0, 1));
        ms[5]->Freeze();
        const int32_t pairs[][2] = {{0, 1}, {1, 2}, {1, 0}, {0, 1}, {1, 5}, {0, 1}, {0, 2}, {1, 3}, {3, 1}, {3, 3},
                                    {4, 0}, {0, 5}, {5, 6}, {6, 1}, {7, 7}, {6, 7}, {1, 6}, {2, 3}, {0, 1}};
        for (const auto& p : pairs) cs.push_back(TConstraint::Create(ms[p[0]].Get(), ms[p[1]].Get(), 3.0f, 0.7f));
        cs.insert(cs.begin() + 4, Ref<TConstraint>());  // a null entry
    };
    std::vector<Ref<TMass>> m1, m2;
    std::vector<Ref<TConstraint>> c1, c2;
    build(m1, c1);
    build(m2, c2);
    for (int32_t pass = 0; pass < 5; ++pass) {
        TConstraint::RelaxAll(c1.data(), static_cast<int32_t>(c1.size()));
        for (auto& c : c2)
            if (c) c->Relax();
    }
    for (size_t k = 0; k < m1.size(); ++k) {
        EXPECT_EQ(std::memcmp(&m1[k]->posX, &m2[k]->posX, sizeof(float)), 0) << k;
        EXPECT_EQ(std::memcmp(&m1[k]->posY, &m2[k]->posY, sizeof(float)), 0) << k;
    }
}

TEST_F(Constraint, CoincidentMassesAreNotPushedApart) {
    Ref<TMass> a = TMass::Create(4, 4, 1, 1, 0, 1), b = TMass::Create(4, 4, 1, 1, 0, 1);
    TConstraint::Create(a.Get(), b.Get(), 10, 1)->Satisfy();
    EXPECT_EQ(a->posX, 4.0f);
    EXPECT_EQ(b->posY, 4.0f);
}

TEST_F(Body, AssignCountsOncePerBodyAndActivatesTheMasses) {
    Ref<TMass> a = TMass::Create(0, 0, 1, 1, 0, 1), b = TMass::Create(9, 0, 1, 1, 0, 1);
    Ref<TConstraint> c = TConstraint::Create(a.Get(), b.Get(), 0, 1);
    Ref<TBody> b1 = MakeRef<TBody>(), b2 = MakeRef<TBody>();
    EXPECT_EQ(b1->GetName(), "Body");
    c->Assign(b1.Get());
    c->Assign(b1.Get());
    EXPECT_EQ(c->refCounter, 1);
    EXPECT_EQ(a->IsActive(), 1);
    EXPECT_EQ(world->conArray[static_cast<size_t>(c->aIndex)].Get(), c.Get());
    c->Assign(b2.Get());
    EXPECT_EQ(c->refCounter, 2);
    c->Free(b1.Get());
    c->Free(b1.Get());  // not held any more: nothing
    EXPECT_EQ(c->IsActive(), 1);
    Ref<TList> copy = b2->GetConstraints();
    copy->Clear();
    EXPECT_EQ(b2->conList->Count(), 1);
    b2->Clear();
    EXPECT_EQ(c->IsActive(), 0);
    EXPECT_EQ(a->IsActive(), 0);
    EXPECT_EQ(c->aIndex, -1);
    EXPECT_EQ(b2->conList->Count(), 0);
}

// Assign and Free answer "does the body hold it" from the constraint's own record while
// only they change the list; a list changed directly is asked itself.
TEST_F(Body, MembershipFollowsAListChangedDirectly) {
    Ref<TMass> a = TMass::Create(0, 0, 1, 1, 0, 1), b = TMass::Create(9, 0, 1, 1, 0, 1);
    Ref<TConstraint> c1 = TConstraint::Create(a.Get(), b.Get(), 0, 1), c2 = TConstraint::Create(a.Get(), b.Get(), 0, 1);
    Ref<TBody> body = MakeRef<TBody>();
    body->conList->AddLast(c1.Get());  // put there without Assign: Assign sees it
    c1->Assign(body.Get());
    EXPECT_EQ(c1->refCounter, 0);
    c2->Assign(body.Get());
    c2->Assign(body.Get());
    EXPECT_EQ(c2->refCounter, 1);
    EXPECT_EQ(body->conList->Count(), 2);
    body->conList->Remove(c2.Get());  // taken out behind its back: assigned again
    c2->Assign(body.Get());
    EXPECT_EQ(c2->refCounter, 2);
    c2->Free(body.Get());
    c2->Free(body.Get());
    EXPECT_EQ(c2->refCounter, 1);
    EXPECT_EQ(body->conList->Count(), 1);
    body->conList = MakeRef<TList>();  // a new list holds nothing yet
    c2->Assign(body.Get());
    c2->Assign(body.Get());
    EXPECT_EQ(c2->refCounter, 2);
    EXPECT_EQ(body->conList->Count(), 1);
    body->Free();
    c2->SubRef();
    EXPECT_EQ(c2->IsActive(), 0);
}

TEST_F(Body, SharedMassStaysUntilItsLastConstraintGoes) {
    Ref<TMass> a = TMass::Create(0, 0, 1, 1, 0, 1), b = TMass::Create(9, 0, 1, 1, 0, 1),
               c = TMass::Create(0, 9, 1, 1, 0, 1);
    Ref<TBody> body = MakeRef<TBody>();
    Ref<TConstraint> ab = TConstraint::Create(a.Get(), b.Get(), 0, 1);
    Ref<TConstraint> ac = TConstraint::Create(a.Get(), c.Get(), 0, 1);
    ab->Assign(body.Get());
    ac->Assign(body.Get());
    ab->Free(body.Get());
    EXPECT_EQ(a->IsActive(), 1);
    EXPECT_EQ(b->IsActive(), 0);
    {
        Ref<TBody> temp = MakeRef<TBody>();
        ab->Assign(temp.Get());
    }  // destroying a body counts its constraints out
    EXPECT_EQ(ab->IsActive(), 0);
    body->Free();
    EXPECT_EQ(a->IsActive(), 0);
}

TEST_F(Body, ConstraintHeldOnlyByTheWorldSurvivesItsRelease) {
    Ref<TMass> a = TMass::Create(0, 0, 1, 1, 0, 1), b = TMass::Create(9, 0, 1, 1, 0, 1);
    Ref<TBody> body = MakeRef<TBody>();
    TConstraint::Create(a.Get(), b.Get(), 0, 1)->Assign(body.Get());
    body->Free();  // the list's reference is the last one
    EXPECT_EQ(a->IsActive(), 0);
    EXPECT_EQ(world->conArray[0].Get(), nullptr);
}

}  // namespace
}  // namespace kin::gelsim::test
