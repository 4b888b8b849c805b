// The step against its plain model (StepModel.h): random worlds, stepped once by
// TPhysics::Update and once by ModelUpdate, with collision callbacks that change the world
// while the step runs, must end every step with the same masses, bit for bit, having
// delivered the same events and leaving the same queue.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "tests/support/WorldFixture.h"
#include "StepModel.h"
#include "gelsim/zones/Zone.h"

namespace kin::gelsim::test {
namespace {

// The worlds must be the same from every compiler, so no call takes two draws as arguments
// (their order would be the compiler's choice): each draw is a statement of its own, in the
// order the worlds were first drawn in (a call's last argument first).
struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
    uint32_t Next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(s >> 33);
    }
    float Unit() { return static_cast<float>(Next() >> 7) / 16777216.0f; }  // 0..1
    float Range(float a, float b) { return a + (b - a) * Unit(); }
    int32_t Below(int32_t n) { return static_cast<int32_t>(Next() % static_cast<uint32_t>(n)); }
    bool Chance(float p) { return Unit() < p; }
};

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

struct EventRecord {
    int32_t kind, a, b;
    uint32_t x, y, force;
    bool operator==(const EventRecord& o) const {
        return kind == o.kind && a == o.a && b == o.b && x == o.x && y == o.y && force == o.force;
    }
};

struct MassState {
    uint32_t posX, posY, oldPosX, oldPosY, group;
    int32_t aIndex, frozen;
    bool operator==(const MassState& o) const {
        return posX == o.posX && posY == o.posY && oldPosX == o.oldPosX && oldPosY == o.oldPosY && group == o.group &&
               aIndex == o.aIndex && frozen == o.frozen;
    }
};

struct StepTrace {
    std::vector<MassState> masses;
    std::vector<EventRecord> seen;    // in the order the callbacks got them
    std::vector<EventRecord> queued;  // the queue after the step, oldest first
};

// A random world and the callbacks' context.
struct World : TObject {
    std::vector<Ref<TMass>> masses;  // every mass the run uses; an id is an entry here
    std::vector<Ref<TMass>> spare;   // masses out of the world that the callbacks count in
    std::vector<TMass*> direct;      // masses counted in directly (refCounter 1)
    std::vector<Ref<TConstraint>> assigned, unassigned;
    Ref<TBody> body;
    std::vector<Ref<TZone>> zones;
    std::unordered_map<const TObject*, int32_t> ids;
    float groups[3] = {0, 0, 0};  // 0 and two shared groups
    Rng rng{0};
    std::vector<EventRecord>* seen = nullptr;

    int32_t Id(const TObject* o) const {
        if (!o) return -3;
        if (o == TPhysics::currentWorld.Get()) return -1;
        const auto it = ids.find(o);
        return it == ids.end() ? -2 : it->second;
    }
    float AnyGroup() {
        const int32_t k = rng.Below(4);
        return k < 3 ? groups[k] : static_cast<float>(TPhysics::TakeColGroup());
    }
};

Ref<TObject> Record(int32_t, TObject* data, TObject* ctx) {
    auto* w = static_cast<World*>(ctx);
    if (auto* e = As<TColEvent>(data))
        w->seen->push_back(EventRecord{e->GetID(), w->Id(e->obj1.Get()), w->Id(e->obj2.Get()), Bits(e->GetX()),
                                       Bits(e->GetY()), Bits(e->GetForce())});
    return data;
}

void RemoveDirect(World* w, TMass* m) {
    const auto it = std::find(w->direct.begin(), w->direct.end(), m);
    if (it == w->direct.end()) return;
    w->direct.erase(it);
    ModelSubRef(m);
    for (auto& r : w->masses)
        if (r.Get() == m) w->spare.push_back(r);
}

Ref<TObject> Meddle(int32_t, TObject* data, TObject* ctx) {
    auto* w = static_cast<World*>(ctx);
    auto* e = As<TColEvent>(data);
    if (!e) return data;
    Rng& rng = w->rng;
    if (!rng.Chance(0.3f)) return data;
    TMass* a = e->GetMass1();
    TMass* b = e->GetMass2();
    TMass* either = (b && rng.Chance(0.5f)) ? b : a;
    switch (rng.Below(12)) {
        case 0:  // take the handled mass or its partner out
            RemoveDirect(w, either);
            break;
        case 1:  // count a mass in right beside the handled one
            if (!w->spare.empty()) {
                const size_t k = static_cast<size_t>(rng.Below(static_cast<int32_t>(w->spare.size())));
                Ref<TMass> m = w->spare[k];
                w->spare.erase(w->spare.begin() + static_cast<std::ptrdiff_t>(k));
                const float dy = rng.Range(-6, 6);
                const float dx = rng.Range(-6, 6);
                m->Position(a->posX + dx, a->posY + dy);
                ModelAddRef(m.Get());
                w->direct.push_back(m.Get());
            }
            break;
        case 2:  // a constraint comes or goes
            if (!w->unassigned.empty() && rng.Chance(0.5f)) {
                Ref<TConstraint> c = w->unassigned.back();
                w->unassigned.pop_back();
                ModelAssign(c.Get(), w->body.Get());
                w->assigned.push_back(c);
            } else if (!w->assigned.empty()) {
                const size_t k = static_cast<size_t>(rng.Below(static_cast<int32_t>(w->assigned.size())));
                Ref<TConstraint> c = w->assigned[k];
                w->assigned.erase(w->assigned.begin() + static_cast<std::ptrdiff_t>(k));
                ModelFree(c.Get(), w->body.Get());
                w->unassigned.push_back(c);
            }
            break;
        case 3:
            if (either->frozen)
                either->Thaw();
            else
                either->Freeze();
            break;
        case 4: {
            const float dy = rng.Range(-3, 3);
            const float dx = rng.Range(-3, 3);
            either->Move(dx, dy);
            break;
        }
        case 5: {
            const float dy = rng.Range(-8, 8);
            const float dx = rng.Range(-8, 8);
            either->Translate(dx, dy);
            if (rng.Chance(0.5f)) ModelAddToGrid(either);
            break;
        }
        case 6: {
            const float dy = rng.Range(-4, 4);
            const float dx = rng.Range(-4, 4);
            either->Position(either->posX + dx, either->posY + dy);
            break;
        }
        case 7: {
            const float g = w->AnyGroup();
            either->SetColGroup(static_cast<int32_t>(g));
            break;
        }
        case 8:
            either->colGroup = w->AnyGroup();
            break;
        case 9:
            return nullptr;  // kept out of the queue
        case 10:  // replaced by an event of another pair
            return TColEvent::Create(either, w->masses[static_cast<size_t>(rng.Below(static_cast<int32_t>(w->masses.size())))].Get(),
                                     e->GetX() + 1.0f, e->GetY(), e->GetForce() * 0.5f);
        default:
            break;
    }
    return data;
}

Ref<TZone> RandomZone(Rng& rng, World& w, float W, float H) {
    const int32_t style = rng.Below(4);
    std::vector<float> v;
    if (style == TZone::HOLE) {
        const float in = rng.Range(5, 30);
        v = {in, in, W - in, in, W - in, H - in, in, H - in};
    } else {
        const int32_t n = 2 + rng.Below(4);
        const float cx = rng.Range(0.2f, 0.8f) * W, cy = rng.Range(0.4f, 0.9f) * H, r = rng.Range(20, 0.3f * W);
        for (int32_t k = 0; k < n; ++k) {
            const float a = static_cast<float>(k) * 6.2831853f / static_cast<float>(n) + rng.Range(0, 0.5f);
            v.push_back(cx + r * std::cos(a));
            v.push_back(cy + r * std::sin(a));
        }
    }
    const float pick = rng.Unit();
    const int32_t group = pick < 0.15f ? 0 : pick < 0.35f ? static_cast<int32_t>(w.groups[1]) : -1;
    const int32_t level = rng.Below(4);
    return TZone::Create(v, style, rng.Unit(), group, level);
}

// The parameters of the world that Run built last (for reproductions).
std::string lastWorld;

// Builds the world of a seed and steps it; returns what every step left.
std::vector<StepTrace> RunSeed(uint64_t seed, int32_t steps, bool model) {
    Rng rng(seed);
    const float W = rng.Range(150, 500), H = rng.Range(150, 500);
    const int32_t passChoice[6] = {1, 1, 2, 2, 3, 0};
    const int32_t passes = passChoice[rng.Below(6)];
    const float gravityX = rng.Range(-0.05f, 0.05f);
    const float gravityY = rng.Range(0.02f, 0.3f);
    TPhysics::Create(W, H, gravityY, gravityX, passes);
    if (rng.Chance(0.25f)) {
        const float top = -rng.Range(0, 40);
        const float left = -rng.Range(0, 40);
        TPhysics::SetBounds(left, top, W, H);
    }
    TPhysics::SetFriction(rng.Range(0, 1.5f));
    TPhysics::UseShiftedGrid(rng.Chance(0.6f) ? 1 : 0);
    const int32_t sizes[6] = {4, 8, 13, 32, 64, 128};
    TPhysics::SetGridSize(sizes[rng.Below(6)]);

    Ref<World> w = MakeRef<World>();
    w->rng = Rng(seed ^ 0xABCDEFull);
    w->body = MakeRef<TBody>();
    w->groups[1] = static_cast<float>(TPhysics::TakeColGroup());
    w->groups[2] = static_cast<float>(TPhysics::TakeColGroup());
    w->ids[w->body.Get()] = -4;
    const int32_t n = 25 + rng.Below(35);
    std::vector<TMass*> joined;
    for (int32_t k = 0; k < n + 10; ++k) {
        const float pick = rng.Unit();
        const int32_t group = pick < 0.1f ? 0 : pick < 0.35f ? static_cast<int32_t>(w->groups[1]) : pick < 0.55f ? static_cast<int32_t>(w->groups[2]) : -1;
        const float x = rng.Range(0.15f, 0.85f) * W, y = rng.Range(0.3f, 0.95f) * H;
        const float mass = rng.Range(0.3f, 3.0f), radius = rng.Range(2, 12), friction = rng.Range(-0.2f, 1.2f);
        Ref<TMass> m = TMass::Create(x, y, mass, radius, friction, group);
        const float vy = rng.Range(-3, 3);
        const float vx = rng.Range(-3, 3);
        m->SetVelocity(vx, vy);
        w->ids[m.Get()] = static_cast<int32_t>(w->masses.size());
        w->masses.push_back(m);
        if (k >= n) {
            w->spare.push_back(m);
        } else if (rng.Chance(0.5f)) {
            m->AddRef();
            w->direct.push_back(m.Get());
        } else {
            joined.push_back(m.Get());
        }
    }
    for (size_t k = 0; k + 1 < joined.size(); k += 2) {
        const float stiffness = rng.Range(0.1f, 1.2f);
        const float length = rng.Chance(0.5f) ? 0.0f : rng.Range(5, 40);
        Ref<TConstraint> c = TConstraint::Create(joined[k], joined[k + 1], length, stiffness);
        c->Assign(w->body.Get());
        w->assigned.push_back(c);
    }
    for (int32_t k = 0; k < 6; ++k) {
        TMass* p = w->masses[static_cast<size_t>(rng.Below(static_cast<int32_t>(w->masses.size())))].Get();
        TMass* q = w->masses[static_cast<size_t>(rng.Below(static_cast<int32_t>(w->masses.size())))].Get();
        if (p != q) w->unassigned.push_back(TConstraint::Create(p, q, 0.0f, rng.Range(0.1f, 1.0f)));
    }
    for (auto& m : w->masses)
        if (m->refCounter > 0 && rng.Chance(0.1f)) m->Freeze();
    const int32_t zones = rng.Below(3);
    for (int32_t k = 0; k < zones; ++k) {
        Ref<TZone> z = RandomZone(rng, *w, W, H);
        if (!z) continue;
        w->ids[z.Get()] = 1000 + k;
        w->zones.push_back(z);
    }
    const int32_t modeChoice = rng.Below(4);  // one of the three modes, or all in turn
    {
        const TPhysics* pw = TPhysics::currentWorld.Get();
        std::ostringstream o;
        o << "grid " << (pw->gridon ? "on" : "off") << " (" << pw->gridsize << " cells), " << pw->i << " passes, "
          << w->masses.size() << " masses, " << w->zones.size() << " zones, mode " << (modeChoice < 3 ? std::to_string(modeChoice) : "cycling");
        lastWorld = o.str();
    }

    std::vector<StepTrace> trace(static_cast<size_t>(steps));
    const int32_t hook = TColEvent::EventHook();
    AddHook(hook, Record, w.Get());
    AddHook(hook, Meddle, w.Get());
    for (int32_t s = 0; s < steps; ++s) {
        StepTrace& t = trace[static_cast<size_t>(s)];
        TColEvent::SetMode(modeChoice < 3 ? modeChoice : s % 3);
        w->seen = &t.seen;
        if (model)
            ModelUpdate();
        else
            TPhysics::Update();
        for (const auto& m : w->masses)
            t.masses.push_back(MassState{Bits(m->posX), Bits(m->posY), Bits(m->oldPosX), Bits(m->oldPosY),
                                         Bits(m->colGroup), m->aIndex, m->frozen});
        while (TColEvent* e = TColEvent::Poll())
            t.queued.push_back(EventRecord{e->GetID(), w->Id(e->obj1.Get()), w->Id(e->obj2.Get()), Bits(e->GetX()),
                                           Bits(e->GetY()), Bits(e->GetForce())});
    }
    RemoveHook(hook, Meddle, w.Get());
    RemoveHook(hook, Record, w.Get());
    TColEvent::Flush();
    TColEvent::SetMode(TColEvent::MODE_UPDATE);
    w->body->Free();
    for (auto& m : w->direct) m->SubRef();
    for (auto& z : w->zones) z->DeActivate();
    TPhysics::Free();
    return trace;
}

float FloatOf(uint32_t u) {
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

std::string Describe(const MassState& m) {
    std::ostringstream o;
    o.precision(9);
    o << "pos (" << FloatOf(m.posX) << ", " << FloatOf(m.posY) << ") old (" << FloatOf(m.oldPosX) << ", "
      << FloatOf(m.oldPosY) << ") group " << FloatOf(m.group) << " entry " << m.aIndex << " frozen " << m.frozen;
    return o.str();
}

std::string Describe(const std::vector<EventRecord>& v, size_t at) {
    if (at >= v.size()) return "(none)";
    const EventRecord& e = v[at];
    std::ostringstream o;
    o.precision(9);
    o << "kind " << e.kind << " masses " << e.a << "/" << e.b << " at (" << FloatOf(e.x) << ", " << FloatOf(e.y)
      << ") force " << FloatOf(e.force);
    return o.str();
}

// The first difference between the two runs of a seed, or "".
std::string FirstDifference(uint64_t seed, const std::vector<StepTrace>& step, const std::vector<StepTrace>& model) {
    for (size_t s = 0; s < step.size(); ++s) {
        const StepTrace& a = step[s];
        const StepTrace& b = model[s];
        std::ostringstream o;
        o << "seed " << seed << ", step " << s << ": ";
        const size_t ne = std::max(a.seen.size(), b.seen.size());
        for (size_t k = 0; k < ne; ++k)
            if (k >= a.seen.size() || k >= b.seen.size() || !(a.seen[k] == b.seen[k])) {
                o << "event " << k << " delivered: step " << Describe(a.seen, k) << "; model " << Describe(b.seen, k);
                return o.str();
            }
        for (size_t m = 0; m < a.masses.size(); ++m)
            if (!(a.masses[m] == b.masses[m])) {
                o << "mass " << m << ": step " << Describe(a.masses[m]) << "; model " << Describe(b.masses[m]);
                return o.str();
            }
        const size_t nq = std::max(a.queued.size(), b.queued.size());
        for (size_t k = 0; k < nq; ++k)
            if (k >= a.queued.size() || k >= b.queued.size() || !(a.queued[k] == b.queued[k])) {
                o << "queued event " << k << ": step " << Describe(a.queued, k) << "; model " << Describe(b.queued, k);
                return o.str();
            }
    }
    return "";
}

#if defined(GELSIM_CHECKED) || !defined(NDEBUG)
constexpr int32_t kSeeds = 150;
#else
constexpr int32_t kSeeds = 2000;
#endif
constexpr int32_t kSteps = 80;

int32_t CompareSeeds(int32_t seeds, std::string& report) {
    int32_t differing = 0;
    for (int32_t seed = 1; seed <= seeds; ++seed) {
        const auto step = RunSeed(static_cast<uint64_t>(seed), kSteps, false);
        const auto model = RunSeed(static_cast<uint64_t>(seed), kSteps, true);
        const std::string d = FirstDifference(static_cast<uint64_t>(seed), step, model);
        if (d.empty()) continue;
        if (++differing <= 8) report += d + " [" + lastWorld + "]\n";
    }
    return differing;
}

// Random worlds: masses of many sizes, weights and frictions in group 0, two shared groups
// and groups of their own, some frozen, some tied by constraints; zones of every style;
// box friction; the three queue modes; the grid on and off at several sizes; callbacks
// that take masses out, count masses in, tie and untie them, freeze, thaw and move them,
// change their groups (also by writing the field), and suppress or replace events.
TEST(StepModel, RandomWorldsStepAsTheModelDoes) {
    std::string report;
    const int32_t differing = CompareSeeds(kSeeds, report);
    EXPECT_EQ(differing, 0) << differing << " of " << kSeeds << " seeds differ (" << kSteps << " steps each):\n" << report;
}

}  // namespace
}  // namespace kin::gelsim::test
