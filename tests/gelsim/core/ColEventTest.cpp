#include "tests/support/WorldFixture.h"

// Parameterised cases are named by their row in the table (CTest names stay readable).
const auto kRowName = [](const auto& info) { return "row" + std::to_string(info.index); };

namespace kin::gelsim::test {
namespace {

using ColEvent = WorldFixture;

class Other : public TObject {};

TEST_F(ColEvent, KindFollowsTheSecondObject) {
    Ref<TMass> a = TMass::Create(0, 0, 1, 1, 0, 1), b = TMass::Create(0, 0, 1, 1, 0, 1);
    Ref<Other> other = MakeRef<Other>();
    EXPECT_EQ(TColEvent::Create(a.Get(), b.Get(), 0, 0, 0)->GetID(), TColEvent::MASS_MASS);
    EXPECT_EQ(TColEvent::Create(a.Get(), world.Get(), 0, 0, 0)->GetID(), TColEvent::MASS_BOUNDS);
    Ref<TColEvent> custom = TColEvent::Create(a.Get(), other.Get(), 1, 2, 3);
    EXPECT_EQ(custom->GetID(), TColEvent::MASS_CUSTOM);
    EXPECT_EQ(custom->GetMass2(), nullptr);
    EXPECT_EQ(custom->GetZone(), nullptr);
    EXPECT_EQ(custom->GetMass1(), a.Get());
    EXPECT_EQ(TColEvent::QueueCount(), 0);  // Create queues nothing
}

struct MergeCase {
    int32_t mode;
    int32_t queued;
    float force;
};
class Merge : public WorldFixture, public ::testing::WithParamInterface<MergeCase> {};

TEST_P(Merge, SecondContactOfAPairMergesByMode) {
    TColEvent::SetMode(GetParam().mode);
    Ref<TMass> a = TMass::Create(0, 0, 1, 1, 0, 1), b = TMass::Create(0, 0, 1, 1, 0, 1);
    TColEvent::Emit(TColEvent::Create(a.Get(), b.Get(), 1, 1, 2.0f));
    TColEvent::Emit(TColEvent::Create(b.Get(), a.Get(), 5, 6, 3.0f));  // same pair, other order
    EXPECT_EQ(TColEvent::QueueCount(), GetParam().queued);
    TColEvent* e = TColEvent::Peek();
    if (!GetParam().queued) {
        EXPECT_EQ(e, nullptr);
        EXPECT_EQ(TColEvent::Poll(), nullptr);
        return;
    }
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->GetMass1(), a.Get());  // the first event keeps its objects
    EXPECT_EQ(e->GetX(), 5.0f);
    EXPECT_EQ(e->GetY(), 6.0f);
    EXPECT_EQ(e->GetForce(), GetParam().force);
}
INSTANTIATE_TEST_SUITE_P(Modes, Merge,
                         ::testing::Values(MergeCase{TColEvent::MODE_UPDATE, 1, 5.0f},
                                           MergeCase{TColEvent::MODE_REPLACE, 1, 3.0f},
                                           MergeCase{TColEvent::MODE_DISCARD, 0, 0.0f}),
                         kRowName);

TEST_F(ColEvent, DirectPostMergesByItsOwnModeAndIsNotFiltered) {
    TColEvent::SetMode(TColEvent::MODE_UPDATE);
    Ref<TMass> a = TMass::Create(0, 0, 1, 1, 0, 1);
    TColEvent::Post(TColEvent::Create(a.Get(), world.Get(), 0, 0, 2), TColEvent::MODE_DISCARD);
    TColEvent::Post(TColEvent::Create(a.Get(), world.Get(), 0, 0, 7), TColEvent::MODE_REPLACE);
    ASSERT_EQ(TColEvent::QueueCount(), 1);
    EXPECT_EQ(TColEvent::Peek()->GetForce(), 7.0f);
}

TEST_F(ColEvent, QueueKeepsFirstContactOrderAndPolledEventsStaySeekable) {
    Ref<TMass> a = TMass::Create(0, 0, 1, 1, 0, 1), b = TMass::Create(0, 0, 1, 1, 0, 1),
               c = TMass::Create(0, 0, 1, 1, 0, 1);
    TColEvent::Emit(TColEvent::Create(b.Get(), c.Get(), 0, 0, 1));
    TColEvent::Emit(TColEvent::Create(a.Get(), nullptr, 0, 0, 1));  // custom, pair (a, null)
    TColEvent::Emit(TColEvent::Create(a.Get(), world.Get(), 0, 0, 1));
    EXPECT_EQ(TColEvent::QueueCount(), 3);
    TColEvent* first = TColEvent::Poll();
    EXPECT_EQ(first->GetMass1(), b.Get());
    EXPECT_EQ(TColEvent::GetCurrent(), first);
    EXPECT_EQ(TColEvent::Seek(c.Get(), b.Get()), first);
    // Merging into a polled event updates it without queueing it again.
    TColEvent::Emit(TColEvent::Create(c.Get(), b.Get(), 9, 9, 4));
    EXPECT_EQ(first->GetForce(), 5.0f);
    EXPECT_EQ(TColEvent::QueueCount(), 2);
    EXPECT_EQ(TColEvent::Seek(a.Get(), nullptr)->GetID(), TColEvent::MASS_BOUNDS);
    EXPECT_EQ(TColEvent::Poll()->GetID(), TColEvent::MASS_CUSTOM);
    TColEvent::Poll();
    EXPECT_EQ(TColEvent::Poll(), nullptr);
    EXPECT_EQ(TColEvent::GetCurrent(), nullptr);
    TColEvent::Flush();
    EXPECT_EQ(TColEvent::Seek(b.Get(), c.Get()), nullptr);
    EXPECT_EQ(TColEvent::Peek(), nullptr);
}

Ref<TObject> Suppress(int32_t, TObject*, TObject* ctx) {
    static_cast<TList*>(ctx)->AddLast(nullptr);  // count calls
    return nullptr;
}

Ref<TObject> Replace(int32_t, TObject* data, TObject*) {
    auto* e = As<TColEvent>(data);
    return TColEvent::Create(e->GetMass1(), e->GetMass1(), 42, 42, 42);
}

TEST_F(ColEvent, HookSeesEveryEventAndCanSuppressIt) {
    Ref<TList> calls = MakeRef<TList>();
    for (int32_t mode : {TColEvent::MODE_UPDATE, TColEvent::MODE_DISCARD}) {
        ScopedHook hook(Suppress, calls.Get());
        TColEvent::SetMode(mode);
        Ref<TMass> a = Active(100, 100), b = Active(105, 100);
        TPhysics::Update();
        EXPECT_EQ(TColEvent::Poll(), nullptr);
        a->SubRef();
        b->SubRef();
    }
    EXPECT_EQ(calls->Count(), 2);  // one contact per step, in both modes
}

TEST_F(ColEvent, HookCanReplaceTheEvent) {
    ScopedHook hook(Replace);
    Ref<TMass> a = TMass::Create(0, 0, 1, 1, 0, 1);
    TColEvent::Emit(TColEvent::Create(a.Get(), world.Get(), 0, 0, 1));
    TColEvent* e = TColEvent::Poll();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->GetForce(), 42.0f);
    EXPECT_EQ(e->GetID(), TColEvent::MASS_MASS);
}

TEST_F(ColEvent, EventsKeptByTheProgramSurviveTheFlush) {
    Ref<TMass> a = Active(100, 100), b = Active(105, 100);
    TPhysics::Update();
    Ref<TColEvent> kept = TColEvent::Peek();
    ASSERT_TRUE(kept);
    const float force = kept->GetForce();
    for (int k = 0; k < 3; ++k) TPhysics::Update();  // flushes and recycles others
    EXPECT_EQ(kept->GetForce(), force);
    EXPECT_EQ(kept->GetMass1(), a.Get());
    EXPECT_NE(TColEvent::Peek(), kept.Get());
}

}  // namespace
}  // namespace kin::gelsim::test
