// The event queue as programs see it: the same queue whichever way it is read or kept,
// one object per event once handed out, and every object a queued event names alive
// until the flush, whatever callbacks and programs release meanwhile.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "scenes/Scenes.h"
#include "gelsim/core/ColEvent.h"
#include "gelsim/zones/Zone.h"
#include "platform/Hook.h"

namespace kin::gelsim::test {
namespace {

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

// How a test watches the contacts of a step.
enum class Watch {
    None,        // no callback at all
    PassOn,      // a callback that hands every event on
    KeepAll,     // ... and keeps a reference to each
    PeekLater,   // ... and reads the queue's head after a while
    CountLater,  // ... and counts the queue after a while
};

struct Watcher : TObject {
    Watch watch = Watch::None;
    int32_t calls = 0;
    std::vector<Ref<TColEvent>> kept;
};

Ref<TObject> OnContact(int32_t, TObject* data, TObject* ctx) {
    auto* w = static_cast<Watcher*>(ctx);
    auto* e = As<TColEvent>(data);
    ++w->calls;
    if (!e) return data;
    if (w->watch == Watch::KeepAll) w->kept.emplace_back(e);
    if (w->calls % 97 == 0) {
        if (w->watch == Watch::PeekLater) TColEvent::Peek();
        if (w->watch == Watch::CountLater) TColEvent::QueueCount();
    }
    return data;
}

// One queued event, with its objects named by their place in the scene.
struct Seen {
    int32_t id;
    int32_t obj1, obj2;
    uint32_t x, y, force;
    bool operator==(const Seen&) const = default;
};

struct Drained {
    std::vector<Seen> seen;
    int32_t calls = 0;
};

// Steps the mixed scene with a zone across its floor and drains the queue every few
// steps. Checks on the way that each drained event is the one Seek finds for its pair.
Drained StepAndDrain(Watch watch, int32_t mode) {
    TScene sc = BuildMixedScene();
    Ref<TZone> floor = TZone::Create({0, 3760, 1024, 3790}, TZone::LINE, 0.5f, -1, 6);
    TColEvent::SetMode(mode);
    TColEvent::Flush();
    Ref<Watcher> w = MakeRef<Watcher>();
    w->watch = watch;
    if (watch != Watch::None) AddHook(TColEvent::EventHook(), OnContact, w.Get());
    auto place = [&](TObject* o) -> int32_t {
        if (o == TPhysics::currentWorld.Get()) return -1;
        if (o == floor.Get()) return -2;
        for (size_t k = 0; k < sc.masses.size(); ++k)
            if (sc.masses[k].Get() == o) return static_cast<int32_t>(k);
        return -3;
    };
    Drained run;
    for (int32_t step = 1; step <= 200; ++step) {
        TPhysics::Update();
        if (step % 50 != 0 && step != 199) continue;
        const int32_t queued = TColEvent::QueueCount();
        int32_t polled = 0;
        while (TColEvent* e = TColEvent::Poll()) {
            ++polled;
            EXPECT_EQ(TColEvent::GetCurrent(), e);
            EXPECT_EQ(TColEvent::Seek(e->obj2.Get(), e->obj1.Get()), e);
            run.seen.push_back(Seen{e->GetID(), place(e->obj1.Get()), place(e->obj2.Get()), Bits(e->x), Bits(e->y),
                                    Bits(e->force)});
        }
        EXPECT_EQ(polled, queued);
    }
    if (watch != Watch::None) RemoveHook(TColEvent::EventHook(), OnContact, w.Get());
    run.calls = w->calls;
    TColEvent::Flush();
    TColEvent::SetMode(TColEvent::MODE_UPDATE);
    TPhysics::Free();
    return run;
}

struct QueueCase {
    Watch watch;
    int32_t mode;
};
class SameQueue : public ::testing::TestWithParam<QueueCase> {};

TEST_P(SameQueue, WhicheverWayTheStepIsWatched) {
    const Drained reference = StepAndDrain(Watch::None, GetParam().mode);
    const Drained run = StepAndDrain(GetParam().watch, GetParam().mode);
    ASSERT_GT(reference.seen.size(), 400u);
    std::set<int32_t> kinds;
    for (const Seen& s : reference.seen) kinds.insert(s.id);
    EXPECT_EQ(kinds, (std::set<int32_t>{TColEvent::MASS_MASS, TColEvent::MASS_ZONE, TColEvent::MASS_BOUNDS}));
    if (GetParam().watch != Watch::None) {
        EXPECT_GT(run.calls, static_cast<int32_t>(reference.seen.size()));
    }
    ASSERT_EQ(run.seen.size(), reference.seen.size());
    for (size_t k = 0; k < run.seen.size(); ++k) ASSERT_EQ(run.seen[k], reference.seen[k]) << "event " << k;
}
INSTANTIATE_TEST_SUITE_P(Watches, SameQueue,
                         ::testing::Values(QueueCase{Watch::PassOn, TColEvent::MODE_UPDATE},
                                           QueueCase{Watch::KeepAll, TColEvent::MODE_UPDATE},
                                           QueueCase{Watch::PeekLater, TColEvent::MODE_UPDATE},
                                           QueueCase{Watch::CountLater, TColEvent::MODE_UPDATE},
                                           QueueCase{Watch::PassOn, TColEvent::MODE_REPLACE},
                                           QueueCase{Watch::KeepAll, TColEvent::MODE_REPLACE},
                                           QueueCase{Watch::PeekLater, TColEvent::MODE_REPLACE}),
                         [](const auto& info) { return "row" + std::to_string(info.index); });

class EventQueue : public ::testing::Test {
protected:
    void SetUp() override {
        world = TPhysics::Create(1024.0f, 4096.0f, 0.0f, 0.0f, 2);  // no gravity, two passes
        TColEvent::SetMode(TColEvent::MODE_UPDATE);
        TColEvent::Flush();
    }
    void TearDown() override {
        TColEvent::Flush();
        TPhysics::Free();
    }
    // A mass that only the world holds; the pointer is borrowed from the world's table.
    static TMass* Loose(float x, float y) {
        Ref<TMass> m = TMass::Create(x, y, 1, 5, 0, -1);
        m->AddRef();
        return m.Get();
    }
    Ref<TPhysics> world;
};

TEST_F(EventQueue, AnEventHandedOutIsTheSameObjectEverywhereAndTakesLaterContacts) {
    Ref<TMass> a = TMass::Create(100, 100, 1, 5, 0, -1), b = TMass::Create(108, 100, 1, 5, 0, -1);
    Ref<TMass> c = TMass::Create(300, 100, 1, 5, 0, -1), d = TMass::Create(308, 100, 1, 5, 0, -1);
    for (TMass* m : {a.Get(), b.Get(), c.Get(), d.Get()}) m->AddRef();
    TPhysics::Update();
    ASSERT_EQ(TColEvent::QueueCount(), 2);
    // Seek before the queue is read: the queue hands out the very same object later.
    TColEvent* cd = TColEvent::Seek(d.Get(), c.Get());
    ASSERT_NE(cd, nullptr);
    TColEvent* ab = TColEvent::Peek();
    ASSERT_NE(ab, nullptr);
    EXPECT_EQ(TColEvent::Seek(a.Get(), b.Get()), ab);
    EXPECT_EQ(TColEvent::Poll(), ab);
    EXPECT_EQ(TColEvent::Peek(), cd);
    EXPECT_EQ(TColEvent::Poll(), cd);
    EXPECT_NE(ab, cd);
    // A contact after the event was handed out goes into that object at once.
    const float before = ab->force;
    TColEvent::Emit(TColEvent::Create(b.Get(), a.Get(), 7, 8, 0.25f));
    EXPECT_EQ(ab->force, before + 0.25f);
    EXPECT_EQ(ab->x, 7.0f);
    EXPECT_EQ(TColEvent::QueueCount(), 0);
    for (TMass* m : {a.Get(), b.Get(), c.Get(), d.Get()}) m->SubRef();
}

// Keeps every event it is handed; suppresses them when told to.
struct Keeper : TObject {
    bool suppress = false;
    std::vector<Ref<TColEvent>> kept;
    std::vector<Seen> values;  // each event's values when it was handed over
};

Ref<TObject> Keep(int32_t, TObject* data, TObject* ctx) {
    auto* k = static_cast<Keeper*>(ctx);
    auto* e = As<TColEvent>(data);
    k->kept.emplace_back(e);
    k->values.push_back(Seen{e->id, 0, 0, Bits(e->x), Bits(e->y), Bits(e->force)});
    return k->suppress ? nullptr : data;
}

TEST_F(EventQueue, CallbacksKeepTheEventsTheyAreHanded) {
    for (const bool suppress : {false, true}) {
        SCOPED_TRACE(suppress);
        TPhysics::Create(1024.0f, 4096.0f, 0.0f, 0.0f, 2);
        TMass* a = Loose(100, 100);
        TMass* b = Loose(108, 100);
        TMass* c = Loose(300, 4094);  // on the floor
        Ref<Keeper> k = MakeRef<Keeper>();
        k->suppress = suppress;
        AddHook(TColEvent::EventHook(), Keep, k.Get());
        TPhysics::Update();
        RemoveHook(TColEvent::EventHook(), Keep, k.Get());
        ASSERT_GE(k->kept.size(), 2u);  // (a, b) and the floor
        // Every event handed over is an object of its own, untouched by later contacts
        // unless it is the queued event of its pair.
        std::set<const TColEvent*> distinct;
        for (const auto& e : k->kept) distinct.insert(e.Get());
        EXPECT_EQ(distinct.size(), k->kept.size());
        std::set<const TColEvent*> queued;
        while (TColEvent* e = TColEvent::Poll()) queued.insert(e);
        for (size_t i = 0; i < k->kept.size(); ++i) {
            if (queued.count(k->kept[i].Get())) continue;
            EXPECT_EQ(Bits(k->kept[i]->force), k->values[i].force) << "event " << i;
            EXPECT_EQ(Bits(k->kept[i]->x), k->values[i].x) << "event " << i;
        }
        if (suppress) {
            EXPECT_TRUE(queued.empty());
        } else {
            EXPECT_EQ(queued.size(), 2u);
            // The pair's first contact is its queued event, with the later ones merged in.
            TColEvent* ab = TColEvent::Seek(a, b);
            ASSERT_NE(ab, nullptr);
            EXPECT_TRUE(queued.count(ab));
            EXPECT_EQ(ab, k->kept[0].Get());  // the step's first contact
            EXPECT_NE(TColEvent::Seek(c, nullptr), nullptr);
        }
        TColEvent::Flush();
        // The kept events outlive the flush with their objects.
        EXPECT_EQ(k->kept[0]->obj1.Get(), k->kept[0]->GetMass1());
        EXPECT_GT(k->kept[0]->GetMass1()->radius, 0.0f);
        TPhysics::Free();
    }
}

// On the first mass contact, resolves a zone contact from inside the callback.
struct Nester : TObject {
    Ref<TZone> zone;
    Ref<TMass> sinker;
    std::vector<Seen> seen;  // every event handed over, when it was handed over
};

Ref<TObject> Nest(int32_t, TObject* data, TObject* ctx) {
    auto* n = static_cast<Nester*>(ctx);
    auto* e = As<TColEvent>(data);
    n->seen.push_back(Seen{e->id, 0, 0, Bits(e->x), Bits(e->y), Bits(e->force)});
    if (e->id == TColEvent::MASS_MASS && n->sinker) {
        Ref<TMass> m = std::move(n->sinker);
        n->zone->Collide(m.Get());
    }
    return data;
}

TEST_F(EventQueue, AContactRaisedInsideACallbackIsAnEventOfItsOwn) {
    world->SetIterations(1);
    Ref<Nester> n = MakeRef<Nester>();
    n->zone = TZone::Create({0, 500, 1024, 500}, TZone::LINE, 0, -1, 6);
    n->sinker = TMass::Create(600, 498, 1, 5, 0, -1);  // not in the world, 3 units into the line
    Loose(100, 100);
    Loose(108, 100);
    AddHook(TColEvent::EventHook(), Nest, n.Get());
    TPhysics::Update();
    RemoveHook(TColEvent::EventHook(), Nest, n.Get());
    ASSERT_EQ(n->seen.size(), 2u);
    EXPECT_EQ(n->seen[0].id, TColEvent::MASS_MASS);
    EXPECT_EQ(n->seen[1].id, TColEvent::MASS_ZONE);
    // Both are queued, each with the values its callback saw; the nested one first.
    ASSERT_EQ(TColEvent::QueueCount(), 2);
    TColEvent* zone = TColEvent::Poll();
    TColEvent* pair = TColEvent::Poll();
    EXPECT_EQ(zone->id, TColEvent::MASS_ZONE);
    EXPECT_EQ(zone->GetZone(), n->zone.Get());
    EXPECT_EQ(Bits(zone->force), n->seen[1].force);
    EXPECT_EQ(pair->id, TColEvent::MASS_MASS);
    EXPECT_EQ(Bits(pair->force), n->seen[0].force);
    EXPECT_EQ(Bits(pair->x), n->seen[0].x);
}

// Takes both masses of every mass contact out of the world; the world held the last
// reference to them.
Ref<TObject> TakeOut(int32_t, TObject* data, TObject*) {
    auto* e = As<TColEvent>(data);
    if (e && e->GetID() == TColEvent::MASS_MASS) {
        if (e->GetMass1()->IsActive()) e->GetMass1()->SubRef();
        if (e->GetMass2()->IsActive()) e->GetMass2()->SubRef();
    }
    return data;
}

TEST_F(EventQueue, QueuedEventsKeepTheirMassesUntilTheFlush) {
    // Masses taken out by a callback during the step.
    Loose(100, 100);
    Loose(108, 100);
    AddHook(TColEvent::EventHook(), TakeOut, nullptr);
    TPhysics::Update();
    RemoveHook(TColEvent::EventHook(), TakeOut, nullptr);
    ASSERT_EQ(TColEvent::QueueCount(), 1);
    TColEvent* e = TColEvent::Poll();
    EXPECT_EQ(e->GetMass1()->IsActive(), 0);
    EXPECT_EQ(e->GetMass2()->radius, 5.0f);  // still there (the sanitizers check it)
    TColEvent::Flush();

    // Masses the program takes out after the step, before it reads the queue.
    TMass* a = Loose(300, 100);
    Ref<TMass> b = TMass::Create(308, 100, 1, 5, 0, -1);
    b->AddRef();
    TPhysics::Update();
    a->SubRef();
    b->SubRef();
    EXPECT_GT(b->RefCount(), 1);  // the queue holds it
    TColEvent* ab = TColEvent::Poll();
    ASSERT_NE(ab, nullptr);
    EXPECT_EQ(ab->GetMass1()->posY, 100.0f);
    EXPECT_EQ(ab->GetMass2()->posY, 100.0f);
    TColEvent::Flush();
    EXPECT_EQ(b->RefCount(), 1);  // and lets it go at the flush
}

}  // namespace
}  // namespace kin::gelsim::test
