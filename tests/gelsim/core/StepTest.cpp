// The step under callbacks that change the world while it runs, and its determinism.
#include <cstring>
#include "StepModel.h"
#include "tests/support/WorldFixture.h"
#include "gelsim/core/Assert.h"
#include "gelsim/core/detail/PairIndex.h"
#include "scenes/Scenes.h"

namespace kin::gelsim::test {
namespace {

using Step = WorldFixture;

// Every mass in a grid cell is an active mass of the current world's table, and the pair
// index lists each cell's masses in the cell's order.
void ExpectCellsHoldOnlyActiveMasses(TPhysics* w) {
    int32_t inCells = 0;
    for (int32_t c = 0; c < TPhysics::MAX_GRID; ++c)
        for (int32_t r = 0; r < TPhysics::MAX_GRID; ++r) {
            const detail::CellView index = detail::PairIndexAccess::CellIndex(*w, c, r);
            ASSERT_EQ(index.size(), static_cast<size_t>(w->Cell(c, r).Count()));
            size_t k = 0;
            for (TObject* o : w->Cell(c, r)) {
                auto* m = As<TMass>(o);
                ASSERT_NE(m, nullptr);
                ASSERT_EQ(index[k++], m);
                ASSERT_GE(m->aIndex, 0);
                ASSERT_EQ(w->massArray[static_cast<size_t>(m->aIndex)].Get(), m);
                ++inCells;
            }
        }
    int32_t active = 0;
    for (const auto& m : w->massArray) active += m ? 1 : 0;
    EXPECT_EQ(inCells, active);
    EXPECT_EQ(detail::PairIndexAccess::Validate(*w), "");
}

// Context for the removal callbacks: the bodies that hold each mass's constraint.
struct Removal : TObject {
    std::vector<Ref<TBody>> bodies;  // one per mass, indexed by the mass's index
    int32_t removed = 0;
    void Remove(TMass* m) {
        if (!m || m->index < 0 || !bodies[static_cast<size_t>(m->index)]) return;
        bodies[static_cast<size_t>(m->index)]->Free();
        bodies[static_cast<size_t>(m->index)] = nullptr;  // the last reference to the constraint
        ++removed;
    }
};

Ref<TObject> RemoveAtBounds(int32_t, TObject* data, TObject* ctx) {
    auto* e = As<TColEvent>(data);
    if (e && e->GetID() == TColEvent::MASS_BOUNDS) static_cast<Removal*>(ctx)->Remove(e->GetMass1());
    return data;
}

Ref<TObject> RemoveBothOnContact(int32_t, TObject* data, TObject* ctx) {
    auto* e = As<TColEvent>(data);
    if (e && e->GetID() == TColEvent::MASS_MASS) {
        static_cast<Removal*>(ctx)->Remove(e->GetMass2());
        static_cast<Removal*>(ctx)->Remove(e->GetMass1());
    }
    return data;
}

// Pairs of masses tied by a constraint each, the body holding the only references.
Ref<Removal> BuildPairs(int32_t pairs, float x0, float y0) {
    Ref<Removal> ctx = MakeRef<Removal>();
    for (int32_t k = 0; k < pairs; ++k) {
        Ref<TMass> a = TMass::Create(x0 + static_cast<float>(k % 40) * 7.0f, y0 + static_cast<float>(k / 40) * 7.0f,
                                     1, 5, 0.5f, -1);
        Ref<TMass> b = TMass::Create(a->posX + 3.0f, a->posY + 3.0f, 1, 5, 0.5f, -1);
        a->index = static_cast<int32_t>(ctx->bodies.size());
        b->index = a->index;
        Ref<TBody> body = MakeRef<TBody>();
        TConstraint::Create(a.Get(), b.Get(), 0, 0.5f)->Assign(body.Get());
        ctx->bodies.push_back(body);
    }
    return ctx;
}

TEST_F(Step, CallbackRemovingTheHandledMassAtTheBox) {
    for (int32_t grid : {0, 1}) {
        TPhysics::UseShiftedGrid(grid);
        TPhysics::SetGridSize(64);
        Ref<Removal> ctx = BuildPairs(200, -20.0f, 3900.0f);  // the left column starts outside
        ScopedHook hook(RemoveAtBounds, ctx.Get());
        for (int32_t s = 0; s < 30; ++s) {
            TPhysics::Update();
            ExpectCellsHoldOnlyActiveMasses(world.Get());
        }
        EXPECT_GT(ctx->removed, 0);
        for (auto& b : ctx->bodies)
            if (b) b->Free();
        TColEvent::Flush();
    }
}

TEST_F(Step, CallbackRemovingBothMassesOfAContact) {
    for (int32_t grid : {0, 1}) {
        TPhysics::UseShiftedGrid(grid);
        TPhysics::SetIterations(3);
        Ref<Removal> ctx = BuildPairs(300, 200.0f, 3000.0f);
        ScopedHook hook(RemoveBothOnContact, ctx.Get());
        for (int32_t s = 0; s < 5; ++s) {
            TPhysics::Update();
            ExpectCellsHoldOnlyActiveMasses(world.Get());
        }
        EXPECT_GT(ctx->removed, 100);
        TColEvent::Flush();
    }
}

// On the step's first contact, takes every other pair out of the world and drops the last
// references to them, while the pair search still has most of them to visit.
Ref<TObject> RemoveOthersOnContact(int32_t, TObject* data, TObject* ctx) {
    auto* e = As<TColEvent>(data);
    auto* r = static_cast<Removal*>(ctx);
    if (!e || e->GetID() != TColEvent::MASS_MASS || r->removed > 0) return data;
    const int32_t keep1 = e->GetMass1()->index, keep2 = e->GetMass2()->index;
    for (size_t k = 0; k < r->bodies.size(); ++k) {
        if (!r->bodies[k] || static_cast<int32_t>(k) == keep1 || static_cast<int32_t>(k) == keep2) continue;
        r->bodies[k]->Free();
        r->bodies[k] = nullptr;  // the last reference to the pair's constraint and masses
        ++r->removed;
    }
    return data;
}

Ref<TObject> FreeWorld(int32_t, TObject* data, TObject*) {
    TPhysics::Free();
    TPhysics::Update();  // no world: nothing
    return data;
}

// The masses stay readable until the step ends, however many of the search's remaining
// candidates the callback destroys (the sanitizer build would catch a stale read).
TEST_F(Step, CallbackDestroyingCandidatesStillToBeMet) {
    for (int32_t grid : {0, 1}) {
        TPhysics::UseShiftedGrid(grid);
        Ref<Removal> ctx = BuildPairs(300, 200.0f, 3000.0f);
        ScopedHook hook(RemoveOthersOnContact, ctx.Get());
        TPhysics::Update();
        ExpectCellsHoldOnlyActiveMasses(world.Get());
        EXPECT_GT(ctx->removed, 250);
        int32_t active = 0;
        for (const auto& m : world->massArray) active += m ? 1 : 0;
        EXPECT_LE(active, 4);
        for (auto& b : ctx->bodies)
            if (b) b->Free();
        TColEvent::Flush();
    }
}

TEST_F(Step, CallbackFreeingTheWorldEndsTheStep) {
    Ref<TMass> a = Active(2, 100), b = Active(50, 100), c = Active(53, 100);
    ScopedHook hook(FreeWorld);
    TPhysics::Update();
    EXPECT_EQ(TPhysics::currentWorld.Get(), nullptr);
    EXPECT_EQ(b->posX, 50.0f);  // never reached
}

struct Growth : TObject {
    std::vector<Ref<TMass>> added;
    int32_t nested = 0;
};

Ref<TObject> GrowTables(int32_t, TObject* data, TObject* ctx) {
    auto* g = static_cast<Growth*>(ctx);
    if (g->added.empty()) {
        for (int32_t k = 0; k < 1500; ++k) {  // moves the mass table while the step walks it
            g->added.push_back(TMass::Create(500, 500 + static_cast<float>(k), 1, 1, 0, 0));
            g->added.back()->AddRef();
        }
        g->nested = TPhysics::Update();  // a nested step is ignored
    }
    return data;
}

TEST_F(Step, CallbackGrowingTheTablesMidStep) {
    TPhysics::UseShiftedGrid(1);
    Ref<TMass> a = Active(100, 100), b = Active(104, 100), c = Active(2, 200);
    Ref<Growth> g = MakeRef<Growth>();
    ScopedHook hook(GrowTables, g.Get());
    TPhysics::Update();
    EXPECT_EQ(world->massArray.size(), 2048u);
    TPhysics::Update();
    ExpectCellsHoldOnlyActiveMasses(world.Get());
    for (auto& m : g->added) m->SubRef();
}

// The pair search passes over cells, and whole worlds, that hold no group but the
// searching mass's own and 0; changes of group, through SetColGroup or written into the
// field between steps, must reach it.
TEST_F(Step, PairsFollowGroupChangesInAOneGroupWorld) {
    TPhysics::UseShiftedGrid(1);
    TPhysics::SetGravity(0, 0);
    Ref<TMass> a = Active(100, 100, 1, 5, 0, 7), b = Active(106, 100, 1, 5, 0, 7);
    Ref<TMass> z = Active(103, 104, 1, 5, 0, 0);  // group 0 meets nothing
    auto contacts = [&]() {
        a->Position(100, 100);
        b->Position(106, 100);
        TPhysics::Update();
        return DrainEvents();
    };
    EXPECT_EQ(contacts(), 0);
    b->SetColGroup(8);
    EXPECT_EQ(contacts(), 1);
    b->SetColGroup(7);
    EXPECT_EQ(contacts(), 0);
    b->colGroup = 9.0f;
    EXPECT_EQ(contacts(), 1);
    b->colGroup = 7.0f;
    EXPECT_EQ(contacts(), 0);
    z->SetColGroup(7);  // now it meets nobody either
    EXPECT_EQ(contacts(), 0);
    z->SetColGroup(3);
    EXPECT_EQ(contacts(), 2);
    ExpectCellsHoldOnlyActiveMasses(world.Get());
}

// A callback that counts a mass in, or re-places one, while the pair search runs: the
// search meets it where it now stands, with the grid on as with all pairs.
struct Arrival : TObject {
    Ref<TMass> searcher, newcomer;
    bool regrid = false;  // instead of counting it in, move it here and re-place it
    int32_t met = 0;      // contacts found by the searcher's pass with the newcomer
};

Ref<TObject> CountInOnFirstContact(int32_t, TObject* data, TObject* ctx) {
    auto* a = static_cast<Arrival*>(ctx);
    auto* e = As<TColEvent>(data);
    if (!e || e->GetID() != TColEvent::MASS_MASS) return data;
    if (e->GetMass1() == a->searcher.Get() && e->GetMass2() == a->newcomer.Get()) {
        ++a->met;
    } else if (a->regrid && a->newcomer->posY > 1000.0f) {
        a->newcomer->Position(106.5f, 100);
        a->newcomer->AddToGrid();
    } else if (!a->regrid && a->newcomer->refCounter == 0) {
        a->newcomer->AddRef();
    }
    return data;
}

TEST_F(Step, PairSearchMeetsMassesThatCallbacksBringIntoItsWay) {
    for (const bool regrid : {false, true}) {
        for (const int32_t grid : {0, 1}) {
            world = TPhysics::Create(1024.0f, 4096.0f, 0.0f, 0.0f, 1);  // fresh tables
            TPhysics::SetGridSize(128);  // cells 8 units wide
            TPhysics::UseShiftedGrid(grid);
            // a and b overlap in one cell; the newcomer, brought next to a (into the next
            // column of cells) by the callback of their contact, overlaps a only.
            Ref<Arrival> ctx = MakeRef<Arrival>();
            ctx->regrid = regrid;
            ctx->searcher = Active(100, 100);
            Ref<TMass> b = Active(96, 100);
            ctx->newcomer = regrid ? Active(600, 3000) : TMass::Create(106.5f, 100, 1, 5, 0, -1);
            ScopedHook hook(CountInOnFirstContact, ctx.Get());
            TPhysics::Update();
            EXPECT_EQ(ctx->met, 1) << (regrid ? "re-placed" : "counted in") << ", grid " << grid;
            DrainEvents();
            ctx->searcher->SubRef();
            b->SubRef();
            ExpectCellsHoldOnlyActiveMasses(world.Get());
            ctx->newcomer->SubRef();
            held.clear();
        }
    }
}

// A callback that writes groups straight into masses while the step runs: the pair search
// reads them at once, with the grid on as with all pairs.
struct Regrouping : TObject {
    Ref<TMass> searcher;  // the mass whose search has the first contact
    Ref<TMass> target;    // its group becomes 9 at the first contact
    int32_t metTarget = 0, withItself = 0;  // contacts the searcher found with the target
};

Ref<TObject> WriteGroupOnFirstContact(int32_t, TObject* data, TObject* ctx) {
    auto* g = static_cast<Regrouping*>(ctx);
    auto* e = As<TColEvent>(data);
    if (!e || e->GetID() != TColEvent::MASS_MASS) return data;
    if (e->GetMass1() == e->GetMass2()) ++g->withItself;
    if (e->GetMass1() == g->searcher.Get() && e->GetMass2() == g->target.Get()) ++g->metTarget;
    g->target->colGroup = 9.0f;
    return data;
}

TEST_F(Step, PairSearchReadsGroupsThatCallbacksWriteIntoMasses) {
    for (const bool itself : {false, true}) {
        for (const int32_t grid : {0, 1}) {
            world = TPhysics::Create(1024.0f, 4096.0f, 0.0f, 0.0f, 1);  // fresh tables
            TPhysics::SetGridSize(128);  // cells 8 units wide
            TPhysics::UseShiftedGrid(grid);
            // In one cell, a overlaps x (another group) and b (a's group). The callback of
            // a's contact with x moves b into group 9, so that a meets b in the same
            // search; or it moves a itself into group 9, which must not make a meet itself.
            Ref<TMass> a = Active(100, 100, 1, 5, 0, 7);
            Active(97, 100, 1, 5, 0, 8);
            Ref<TMass> b = Active(103.5f, 108, 1, 5, 0, 7);
            Ref<Regrouping> ctx = MakeRef<Regrouping>();
            ctx->searcher = a;
            ctx->target = itself ? a : b;
            ScopedHook hook(WriteGroupOnFirstContact, ctx.Get());
            TPhysics::Update();
            if (itself)
                EXPECT_EQ(ctx->withItself, 0) << "grid " << grid;
            else
                EXPECT_EQ(ctx->metTarget, 1) << "grid " << grid;
            DrainEvents();
            ExpectCellsHoldOnlyActiveMasses(world.Get());
            for (auto& m : held) m->SubRef();
            held.clear();
        }
    }
}

// Without the grid, a world whose masses share one group has no pair to test; a group
// that a callback writes into a mass mid-step must still be met later in the same pass.
struct Regroup : TObject {
    Ref<TMass> target;
    int32_t massContacts = 0;
};

Ref<TObject> RegroupAtBounds(int32_t, TObject* data, TObject* ctx) {
    auto* e = As<TColEvent>(data);
    auto* r = static_cast<Regroup*>(ctx);
    if (e && e->GetID() == TColEvent::MASS_BOUNDS) r->target->colGroup = 9.0f;
    if (e && e->GetID() == TColEvent::MASS_MASS) ++r->massContacts;
    return data;
}

TEST_F(Step, AllPairsFollowAGroupWrittenByACallbackMidStep) {
    TPhysics::UseShiftedGrid(0);
    TPhysics::SetGravity(0, 0);
    // In table order: one far away, one against the left wall, then two that overlap.
    Ref<TMass> far = Active(500, 500, 1, 5, 0, 7), wall = Active(3, 300, 1, 5, 0, 7);
    Ref<TMass> b = Active(100, 100, 1, 5, 0, 7), c = Active(106, 100, 1, 5, 0, 7);
    Ref<Regroup> r = MakeRef<Regroup>();
    r->target = c;
    ScopedHook hook(RegroupAtBounds, r.Get());
    TPhysics::Update();
    EXPECT_EQ(c->colGroup, 9.0f);
    EXPECT_EQ(r->massContacts, 1) << "b meets c in the step in which c changed group";
    c->colGroup = 7.0f;
    wall->Position(300, 300);
    b->Position(100, 100);
    c->Position(106, 100);
    TPhysics::Update();
    EXPECT_EQ(r->massContacts, 1) << "one group again: no pair";
    r->target = nullptr;
}

// FNV-1a steps over 64-bit values, and the bits of a float as one.
constexpr uint64_t kHashStart = 1469598103934665603ull;
uint64_t Mix(uint64_t h, uint64_t v) { return (h ^ v) * 1099511628211ull; }
uint64_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

// The step under test: the library's, or the plain model's (StepModel.h).
using StepFn = void (*)();
void LibraryStep() { TPhysics::Update(); }

// A scripted scene hashed after every step: positions, and every queued event.
uint64_t RunScripted(int32_t steps, StepFn step = LibraryStep) {
    TScene sc = BuildMixedScene();
    uint64_t h = kHashStart;
    auto mix = [&h](uint64_t v) { h = Mix(h, v); };
    const int32_t modes[3] = {TColEvent::MODE_UPDATE, TColEvent::MODE_REPLACE, TColEvent::MODE_DISCARD};
    for (int32_t s = 0; s < steps; ++s) {
        TColEvent::SetMode(modes[(s / 250) % 3]);
        if (s == 1200) sc.masses[3]->Freeze();
        if (s == 1800) sc.masses[3]->Thaw();
        step();
        while (TColEvent* e = TColEvent::Poll()) {
            mix(static_cast<uint64_t>(e->GetID()));
            mix(Bits(e->GetX()));
            mix(Bits(e->GetY()));
            mix(Bits(e->GetForce()));
        }
        if (s % 100 == 99) mix(sc.Hash());
    }
    mix(sc.Hash());
    TColEvent::SetMode(TColEvent::MODE_UPDATE);
    return h;
}

constexpr uint64_t kScriptedHash = 0xd6d6e624d340a75eull;

TEST(Determinism, ScriptedSceneHashIsPinned) {
    const uint64_t h = RunScripted(2000);
    TColEvent::Flush();
    TPhysics::Free();
    // The same in every build type (no contraction into fused multiply-adds).
    EXPECT_EQ(h, kScriptedHash) << std::hex << h;
}

// A scene whose callbacks change the world while the step runs: they change groups, count
// masses in and out, move and freeze masses, and suppress events; some masses (group 0)
// stay out of the pair search. Hashed after every step: events, positions and the order
// of every cell list.
struct Meddler : TObject {
    std::vector<Ref<TMass>> spare;  // masses the callback counts in
    std::vector<Ref<TMass>> in;     // masses it counted in (and may count out again)
    uint32_t calls = 0;
};

Ref<TObject> Meddle(int32_t, TObject* data, TObject* ctx) {
    auto* md = static_cast<Meddler*>(ctx);
    auto* e = As<TColEvent>(data);
    if (!e) return data;
    const uint32_t k = md->calls++;
    TMass* a = e->GetMass1();
    TMass* b = e->GetMass2();
    switch (k % 23) {
        case 3:
            if (b) b->SetColGroup(a->GetColGroup());  // the pair now passes through
            break;
        case 7:
            if (!md->spare.empty()) {
                Ref<TMass> m = md->spare.back();
                md->spare.pop_back();
                m->Position(a->posX + 3.0f, a->posY - 2.0f);
                ModelAddRef(m.Get());
                md->in.push_back(m);
            }
            break;
        case 11:
            if (md->in.size() > 2) {
                ModelSubRef(md->in.front().Get());
                md->in.erase(md->in.begin());
            }
            break;
        case 13:
            if (b) {
                b->Translate(0.0f, -7.0f);
                ModelAddToGrid(b);
            }
            break;
        case 17:
            if (b) b->SetColGroup(0);
            break;
        case 19:
            a->SetColGroup(-1);
            break;
        case 21:
            if (k % 2 == 0) a->Freeze(); else a->Thaw();
            break;
        default:
            break;
    }
    if (k % 97 == 5) return nullptr;  // suppressed now and then
    return data;
}

// The masses of a cell in list order, as the given step left them.
std::vector<const TMass*> CellMasses(TPhysics* w, int32_t c, int32_t r, StepFn step) {
    std::vector<const TMass*> out;
    if (step == LibraryStep) {
        for (TObject* o : w->Cell(c, r)) out.push_back(static_cast<const TMass*>(o));
    } else {
        for (const TMass* m : ModelCell(c, r)) out.push_back(m);
    }
    return out;
}

// `shared`: every few steps all masses are put back into one group, so the step begins
// with nothing to search and the callbacks' new groups start searches halfway through.
uint64_t RunMeddled(int32_t steps, int32_t passes, bool shared = false, StepFn step = LibraryStep) {
    TScene sc = BuildMixedScene();
    TPhysics::SetIterations(passes);
    const int32_t sharedGroup = sc.masses[0]->GetColGroup();  // the first ring's
    // Masses that never meet others (group 0), between the rest.
    for (int32_t k = 0; k < 40; ++k) {
        Ref<TMass> m = TMass::Create(30.0f + static_cast<float>(k) * 24.0f, 3000.0f, 1.0f, 4.0f, 0.3f, 0);
        m->AddRef();
        sc.masses.push_back(m);
    }
    Ref<Meddler> md = MakeRef<Meddler>();
    for (int32_t k = 0; k < 60; ++k) md->spare.push_back(TMass::Create(0, 0, 1.0f, 4.5f, 0.4f, -1));
    const int32_t hook = TColEvent::EventHook();
    AddHook(hook, Meddle, md.Get());
    uint64_t h = kHashStart;
    auto mix = [&h](uint64_t v) { h = Mix(h, v); };
    TColEvent::SetMode(TColEvent::MODE_UPDATE);
    for (int32_t s = 0; s < steps; ++s) {
        if (shared && s % 5 == 0) {
            for (auto& m : sc.masses)
                if (m->GetColGroup() != 0) m->SetColGroup(sharedGroup);
            for (auto& m : md->in)
                if (m->GetColGroup() != 0) m->SetColGroup(sharedGroup);
        }
        step();
#if GELSIM_ASSERTS_ACTIVE
        // The callbacks changed the world mid-step: the pair index must still agree with
        // the cells and the table (checked without changing anything the hash sees).
        if (step == LibraryStep) {
            EXPECT_EQ(detail::PairIndexAccess::Validate(*TPhysics::currentWorld.Get()), "") << "step " << s;
        }
#endif
        while (TColEvent* e = TColEvent::Poll()) {
            mix(static_cast<uint64_t>(e->GetID()));
            mix(Bits(e->GetX()));
            mix(Bits(e->GetY()));
            mix(Bits(e->GetForce()));
        }
        if (s % 50 == 49) {
            mix(sc.Hash());
            // The cells' lists: which masses, in which order.
            TPhysics* w = TPhysics::currentWorld.Get();
            for (int32_t c = 0; c < TPhysics::MAX_GRID; ++c)
                for (int32_t r = 0; r < TPhysics::MAX_GRID; ++r)
                    for (const TMass* m : CellMasses(w, c, r, step)) mix(static_cast<uint64_t>(m->aIndex) + 7u * static_cast<uint64_t>(c * 131 + r));
            for (auto& m : md->in) {
                mix(Bits(m->posX));
                mix(Bits(m->posY));
            }
        }
    }
    RemoveHook(hook, Meddle, md.Get());
    for (auto& m : md->in) m->SubRef();
    mix(sc.Hash());
    TColEvent::Flush();
    TPhysics::Free();
    return h;
}


// Derived from the plain model of the step as well (PinnedHashesFollowFromThePlainModel).
// The callbacks count masses in and re-place them while the pair search runs, and the
// search meets them where they went.
constexpr uint64_t kMeddledHash = 0x3245f16fb7141765ull;
constexpr uint64_t kMeddledOnePassHash = 0x474c542c12c015bdull;
constexpr uint64_t kMeddledOneGroupHash = 0xfbced5d43a619a35ull;

TEST(Determinism, MeddledSceneHashIsPinned) {
    const uint64_t h = RunMeddled(600, 2);
    EXPECT_EQ(h, kMeddledHash) << std::hex << h;
}

TEST(Determinism, MeddledSceneWithOnePassHashIsPinned) {
    const uint64_t h = RunMeddled(600, 1);
    EXPECT_EQ(h, kMeddledOnePassHash) << std::hex << h;
}

TEST(Determinism, MeddledSceneOfOneGroupHashIsPinned) {
    // One pass and one group: the grid keeps its cells in table order while the masses are
    // handled, and the callbacks' new groups make masses search such cells.
    const uint64_t h = RunMeddled(600, 1, true);
    EXPECT_EQ(h, kMeddledOneGroupHash) << std::hex << h;
}

// The pinned values follow from the plain model of the step as well.
TEST(Determinism, PinnedHashesFollowFromThePlainModel) {
    uint64_t h = RunScripted(2000, ModelUpdate);
    TColEvent::Flush();
    TPhysics::Free();
    EXPECT_EQ(h, kScriptedHash) << "scripted scene: " << std::hex << h;
    h = RunMeddled(600, 2, false, ModelUpdate);
    EXPECT_EQ(h, kMeddledHash) << "meddled scene: " << std::hex << h;
    h = RunMeddled(600, 1, false, ModelUpdate);
    EXPECT_EQ(h, kMeddledOnePassHash) << "meddled scene, one pass: " << std::hex << h;
    h = RunMeddled(600, 1, true, ModelUpdate);
    EXPECT_EQ(h, kMeddledOneGroupHash) << "meddled scene, one group: " << std::hex << h;
}

}  // namespace
}  // namespace kin::gelsim::test
