// The step benchmarks' scenes in gelsim and in two peers, Box2D and Chipmunk, in one run.
// Each repetition builds every scene afresh in each engine in turn (so the engines share
// whatever load the machine has), and the medians of the repetitions are printed.
//
// The peers get the scene that gelsim's builder made: the same discs (centre, radius,
// mass, friction, which ones never collide), the same joined pairs, the same box and
// ground line, scaled by 0.1 (a radius-5 disc is 0.5 m) and stepped at 60 Hz with the
// gravity that matches gelsim's 0.1 units per step squared. Box2D runs with continuous
// collision and sleeping off, Chipmunk with sleeping off; both keep their default solver
// iterations. Every engine delivers each contact to a callback that counts it: gelsim's
// collision event hook in MODE_UPDATE (as the game does), Box2D's PostSolve, Chipmunk's
// default post-solve handler. These counts are each engine's own idea of a contact, so
// beside them one shared function counts the touching pairs of discs from the positions
// every engine reports, and another the discs that left the box or ended in the ground.
//
// Times are the stepping thread's CPU time over the timed steps only, per dynamic body.
// Usage: gelsim_peers [--reps N] [--only SUBSTRING]
#include <box2d/box2d.h>
#include <chipmunk/chipmunk.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gelsim/core/ColEvent.h"
#include "platform/Hook.h"
#include "scenes/Scenes.h"

namespace kin::gelsim {
namespace {

constexpr float kScale = 0.1f;            // metres per gelsim unit in the peers
constexpr float kDt = 1.0f / 60.0f;       // the peers' time step
constexpr float kGravity = 0.1f;          // gelsim: units per step squared, downwards (+y)
constexpr float kTouchSlack = 0.01f;      // units added to the sum of radii for "touching"
// The peers' lattice joints are springs of this frequency and damping ratio (Chipmunk's
// springs are explicit and blow up much above 5 Hz at 60 steps per second).
constexpr float kLatticeHz = 5.0f;
constexpr float kLatticeDamping = 0.5f;

double ThreadNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

struct Disc {
    float x, y, r;
};

// What the peers are built from, taken from gelsim's scene before its first step.
struct Setup {
    float width = 1024.0f, height = 4096.0f;
    struct Body {
        float x, y, r, mass, friction;
        int32_t group;  // 0: collides with all; otherwise not with the same group
        bool fixed;
    };
    std::vector<Body> bodies;
    std::vector<std::pair<int32_t, int32_t>> joints;
    std::vector<float> ground;  // polyline x0, y0, x1, y1, ...; empty: none
};

Setup SetupOf(const TScene& sc, std::vector<float> ground) {
    Setup s;
    float minX, minY;
    TPhysics::GetBounds(minX, minY, s.width, s.height);
    std::vector<int32_t> groups;
    for (const Ref<TMass>& m : sc.masses) groups.push_back(m->GetColGroup());
    for (const Ref<TMass>& m : sc.masses) {
        const int32_t g = m->GetColGroup();
        // Only groups shared by several discs matter; the peers get them as small numbers.
        const bool shared = g != 0 && std::count(groups.begin(), groups.end(), g) > 1;
        s.bodies.push_back({m->posX, m->posY, m->radius, m->GetMass(), m->GetFriction(), shared ? 1 : 0,
                            m->IsFrozen() != 0});
    }
    for (const Ref<TConstraint>& c : sc.constraints) {
        auto index = [&sc](const TMass* m) {
            for (size_t k = 0; k < sc.masses.size(); ++k)
                if (sc.masses[k].Get() == m) return static_cast<int32_t>(k);
            return int32_t{-1};
        };
        const int32_t a = index(c->GetMass1()), b = index(c->GetMass2());
        if (a >= 0 && b >= 0) s.joints.push_back({a, b});
    }
    s.ground = std::move(ground);
    return s;
}

// Pairs of discs whose centres are closer than the sum of their radii plus kTouchSlack,
// found through a grid of cells as wide as the widest disc's diameter (positions outside
// the box fall into its edge cells, which keeps neighbours neighbours).
long TouchingPairs(const std::vector<Disc>& d, float width, float height) {
    float maxR = 0;
    for (const Disc& e : d) maxR = std::max(maxR, e.r);
    const float cell = 2.0f * maxR + kTouchSlack;
    const int32_t cols = std::max(1, static_cast<int32_t>(width / cell) + 1);
    const int32_t rows = std::max(1, static_cast<int32_t>(height / cell) + 1);
    auto cellOf = [cell](float v, int32_t n) {
        const float c = std::floor(v / cell);
        return static_cast<int32_t>(std::clamp(c, 0.0f, static_cast<float>(n - 1)));
    };
    std::vector<int32_t> head(static_cast<size_t>(cols) * static_cast<size_t>(rows), -1), next(d.size(), -1);
    std::vector<int32_t> cx(d.size()), cy(d.size());
    for (size_t k = 0; k < d.size(); ++k) {
        cx[k] = cellOf(d[k].x, cols);
        cy[k] = cellOf(d[k].y, rows);
        int32_t& h = head[static_cast<size_t>(cy[k]) * static_cast<size_t>(cols) + static_cast<size_t>(cx[k])];
        next[k] = h;
        h = static_cast<int32_t>(k);
    }
    long pairs = 0;
    for (size_t k = 0; k < d.size(); ++k) {
        for (int32_t r = std::max(cy[k] - 1, 0); r <= std::min(cy[k] + 1, rows - 1); ++r) {
            for (int32_t c = std::max(cx[k] - 1, 0); c <= std::min(cx[k] + 1, cols - 1); ++c) {
                for (int32_t j = head[static_cast<size_t>(r) * static_cast<size_t>(cols) + static_cast<size_t>(c)]; j >= 0;
                     j = next[static_cast<size_t>(j)]) {
                    if (static_cast<size_t>(j) <= k) continue;  // each pair once
                    const float dx = d[k].x - d[static_cast<size_t>(j)].x, dy = d[k].y - d[static_cast<size_t>(j)].y;
                    const float reach = d[k].r + d[static_cast<size_t>(j)].r + kTouchSlack;
                    if (dx * dx + dy * dy < reach * reach) ++pairs;
                }
            }
        }
    }
    return pairs;
}

// Height of the ground polyline at x (its end heights beyond its ends).
float GroundAt(const std::vector<float>& g, float x) {
    const size_t n = g.size() / 2;
    if (x <= g[0]) return g[1];
    for (size_t k = 1; k < n; ++k) {
        if (x <= g[2 * k]) {
            const float x0 = g[2 * k - 2], y0 = g[2 * k - 1], x1 = g[2 * k], y1 = g[2 * k + 1];
            return x1 > x0 ? y0 + (y1 - y0) * (x - x0) / (x1 - x0) : y1;
        }
    }
    return g[2 * n - 1];
}

// Discs whose centre is outside the box or below the ground line (inside the ground).
int32_t Escaped(const std::vector<Disc>& d, const Setup& s) {
    int32_t n = 0;
    for (const Disc& e : d) {
        const bool outside = !(e.x >= 0 && e.x <= s.width && e.y >= 0 && e.y <= s.height);
        const bool buried = !s.ground.empty() && !outside && e.y > GroundAt(s.ground, e.x);
        if (outside || buried) ++n;
    }
    return n;
}

// The box as four solid slabs in the peers' units, 50 m thick (gelsim's box is solid
// beyond its sides; thin edges would let fast discs pass through).
struct Wall {
    float x0, y0, x1, y1;
};
std::vector<Wall> Walls(const Setup& s) {
    const float w = s.width * kScale, h = s.height * kScale, t = 50.0f;
    return {{-t, -t, 0, h + t}, {w, -t, w + t, h + t}, {-t, -t, w + t, 0}, {-t, h, w + t, h + t}};
}

// One engine holding one scene.
class Engine {
public:
    virtual ~Engine() = default;
    virtual void Step() = 0;
    virtual void Positions(std::vector<Disc>& out) const = 0;
    virtual void SaveState() {}
    virtual void RestoreState() = 0;
    long contacts = 0;
};

// --- gelsim ---

struct ContactCounter : TObject {
    long contacts = 0;
};

Ref<TObject> CountContact(int32_t, TObject* data, TObject* ctx) {
    ++static_cast<ContactCounter*>(ctx)->contacts;
    return data;
}

class GelsimEngine : public Engine {
public:
    explicit GelsimEngine(TScene scene) : sc(std::move(scene)) {
        TColEvent::SetMode(TColEvent::MODE_UPDATE);
        AddHook(TColEvent::EventHook(), CountContact, counter.Get());
    }
    ~GelsimEngine() override {
        RemoveHook(TColEvent::EventHook(), CountContact, counter.Get());
        TColEvent::Flush();
        sc = TScene{};
        TPhysics::Free();
    }
    void Step() override {
        TPhysics::Update();
        contacts = counter->contacts;
    }
    void Positions(std::vector<Disc>& out) const override {
        out.clear();
        for (const Ref<TMass>& m : sc.masses)
            if (!m->IsFrozen()) out.push_back({m->posX, m->posY, m->radius});
    }
    void SaveState() override { sc.SaveState(); }
    void RestoreState() override { sc.RestoreState(); }

private:
    TScene sc;
    Ref<ContactCounter> counter = MakeRef<ContactCounter>();
};

// --- Box2D ---

class Box2DEngine : public Engine, b2ContactListener {
public:
    explicit Box2DEngine(const Setup& s) : world(b2Vec2(0.0f, kGravity * kScale / (kDt * kDt))) {
        world.SetContinuousPhysics(false);
        world.SetAllowSleeping(false);
        world.SetContactListener(this);
        b2BodyDef groundDef;
        b2Body* ground = world.CreateBody(&groundDef);
        for (const Wall& wall : Walls(s)) {
            b2PolygonShape slab;
            slab.SetAsBox(0.5f * (wall.x1 - wall.x0), 0.5f * (wall.y1 - wall.y0),
                          b2Vec2(0.5f * (wall.x0 + wall.x1), 0.5f * (wall.y0 + wall.y1)), 0.0f);
            ground->CreateFixture(&slab, 0.0f);
        }
        if (!s.ground.empty()) {
            // Left to right, so the one-sided chain faces up (towards smaller y).
            std::vector<b2Vec2> pts;
            for (size_t k = 0; k + 1 < s.ground.size(); k += 2) pts.push_back({s.ground[k] * kScale, s.ground[k + 1] * kScale});
            b2ChainShape chain;
            chain.CreateChain(pts.data(), static_cast<int32>(pts.size()), pts.front() + b2Vec2(-1, 0), pts.back() + b2Vec2(1, 0));
            b2FixtureDef fd;
            fd.shape = &chain;
            fd.friction = 0.5f;
            ground->CreateFixture(&fd);
        }
        for (const Setup::Body& b : s.bodies) {
            b2BodyDef bd;
            bd.type = b.fixed ? b2_staticBody : b2_dynamicBody;
            bd.position.Set(b.x * kScale, b.y * kScale);
            b2Body* body = world.CreateBody(&bd);
            b2CircleShape circle;
            circle.m_radius = b.r * kScale;
            b2FixtureDef fd;
            fd.shape = &circle;
            fd.density = b.mass / (b2_pi * circle.m_radius * circle.m_radius);
            fd.friction = b.friction;
            fd.filter.groupIndex = static_cast<int16>(-b.group);
            body->CreateFixture(&fd);
            bodies.push_back(body);
            radii.push_back(b.r);
        }
        for (const auto& [a, b] : s.joints) {
            b2DistanceJointDef jd;
            jd.Initialize(bodies[static_cast<size_t>(a)], bodies[static_cast<size_t>(b)],
                          bodies[static_cast<size_t>(a)]->GetPosition(), bodies[static_cast<size_t>(b)]->GetPosition());
            jd.minLength = 0.0f;  // a spring, not a rod
            jd.maxLength = 1e6f;
            b2LinearStiffness(jd.stiffness, jd.damping, kLatticeHz, kLatticeDamping, jd.bodyA, jd.bodyB);
            world.CreateJoint(&jd);
        }
    }
    void Step() override { world.Step(kDt, 8, 3); }
    void PostSolve(b2Contact*, const b2ContactImpulse*) override { ++contacts; }
    void Positions(std::vector<Disc>& out) const override {
        out.clear();
        for (size_t k = 0; k < bodies.size(); ++k)
            if (bodies[k]->GetType() == b2_dynamicBody)
                out.push_back({bodies[k]->GetPosition().x / kScale, bodies[k]->GetPosition().y / kScale, radii[k]});
    }
    void SaveState() override {
        saved.clear();
        for (b2Body* b : bodies) saved.push_back(b->GetPosition());
    }
    void RestoreState() override {
        for (size_t k = 0; k < bodies.size(); ++k) {
            bodies[k]->SetTransform(saved[k], 0.0f);
            bodies[k]->SetLinearVelocity(b2Vec2_zero);
            bodies[k]->SetAngularVelocity(0.0f);
        }
    }

private:
    b2World world;
    std::vector<b2Body*> bodies;
    std::vector<float> radii;
    std::vector<b2Vec2> saved;
};

// --- Chipmunk ---

class ChipmunkEngine : public Engine {
public:
    explicit ChipmunkEngine(const Setup& s) : space(cpSpaceNew()) {
        cpSpaceSetGravity(space, cpv(0.0, static_cast<cpFloat>(kGravity * kScale / (kDt * kDt))));
        cpSpaceSetSleepTimeThreshold(space, INFINITY);
        cpCollisionHandler* handler = cpSpaceAddDefaultCollisionHandler(space);
        handler->postSolveFunc = [](cpArbiter*, cpSpace*, cpDataPointer data) { ++*static_cast<long*>(data); };
        handler->userData = &contacts;
        cpBody* fixedBody = cpSpaceGetStaticBody(space);
        auto segment = [&](cpVect a, cpVect b, cpVect before, cpVect after) {
            cpShape* seg = cpSpaceAddShape(space, cpSegmentShapeNew(fixedBody, a, b, 0.0));
            cpSegmentShapeSetNeighbors(seg, before, after);
            cpShapeSetFriction(seg, 0.5);
            shapes.push_back(seg);
        };
        for (const Wall& wall : Walls(s)) {
            cpShape* slab = cpSpaceAddShape(space, cpBoxShapeNew2(fixedBody, cpBBNew(wall.x0, wall.y0, wall.x1, wall.y1), 0.0));
            cpShapeSetFriction(slab, 0.5);
            shapes.push_back(slab);
        }
        if (!s.ground.empty()) {
            std::vector<cpVect> pts;
            for (size_t k = 0; k + 1 < s.ground.size(); k += 2) pts.push_back(cpv(s.ground[k] * kScale, s.ground[k + 1] * kScale));
            for (size_t k = 0; k + 1 < pts.size(); ++k)
                segment(pts[k], pts[k + 1], k > 0 ? pts[k - 1] : pts[k], k + 2 < pts.size() ? pts[k + 2] : pts[k + 1]);
        }
        for (const Setup::Body& b : s.bodies) {
            const cpFloat r = b.r * kScale;
            cpBody* body = b.fixed ? cpBodyNewStatic() : cpBodyNew(b.mass, cpMomentForCircle(b.mass, 0.0, r, cpvzero));
            cpSpaceAddBody(space, body);
            cpBodySetPosition(body, cpv(b.x * kScale, b.y * kScale));
            cpShape* shape = cpSpaceAddShape(space, cpCircleShapeNew(body, r, cpvzero));
            cpShapeSetFriction(shape, b.friction);
            cpShapeSetFilter(shape, cpShapeFilterNew(static_cast<cpGroup>(b.group), CP_ALL_CATEGORIES, CP_ALL_CATEGORIES));
            bodies.push_back(body);
            shapes.push_back(shape);
            radii.push_back(b.r);
            dynamic.push_back(!b.fixed);
        }
        // The Box2D joints' spring, for two unit masses: k = m_eff w^2, c = 2 zeta m_eff w.
        const double omega = 2.0 * 3.14159265358979 * kLatticeHz, reduced = 0.5;
        for (const auto& [a, b] : s.joints) {
            cpBody* ba = bodies[static_cast<size_t>(a)];
            cpBody* bb = bodies[static_cast<size_t>(b)];
            const cpFloat rest = cpvdist(cpBodyGetPosition(ba), cpBodyGetPosition(bb));
            joints.push_back(cpSpaceAddConstraint(
                space, cpDampedSpringNew(ba, bb, cpvzero, cpvzero, rest, reduced * omega * omega,
                                         2.0 * kLatticeDamping * reduced * omega)));
        }
    }
    ~ChipmunkEngine() override {
        for (cpConstraint* c : joints) cpSpaceRemoveConstraint(space, c), cpConstraintFree(c);
        for (cpShape* sh : shapes) cpSpaceRemoveShape(space, sh), cpShapeFree(sh);
        for (cpBody* b : bodies) cpSpaceRemoveBody(space, b), cpBodyFree(b);
        cpSpaceFree(space);
    }
    void Step() override { cpSpaceStep(space, kDt); }
    void Positions(std::vector<Disc>& out) const override {
        out.clear();
        for (size_t k = 0; k < bodies.size(); ++k) {
            if (!dynamic[k]) continue;
            const cpVect p = cpBodyGetPosition(bodies[k]);
            out.push_back({static_cast<float>(p.x) / kScale, static_cast<float>(p.y) / kScale, radii[k]});
        }
    }
    void SaveState() override {
        saved.clear();
        for (cpBody* b : bodies) saved.push_back(cpBodyGetPosition(b));
    }
    void RestoreState() override {
        for (size_t k = 0; k < bodies.size(); ++k) {
            if (!dynamic[k]) continue;
            cpBodySetPosition(bodies[k], saved[k]);
            cpBodySetVelocity(bodies[k], cpvzero);
            cpBodySetAngle(bodies[k], 0.0);
            cpBodySetAngularVelocity(bodies[k], 0.0);
        }
    }

private:
    cpSpace* space;
    std::vector<cpBody*> bodies;
    std::vector<cpShape*> shapes;
    std::vector<cpConstraint*> joints;
    std::vector<float> radii;
    std::vector<bool> dynamic;
    std::vector<cpVect> saved;
};

// --- scenes and runs ---

struct Result {
    double nsPerBodyStep = 0, contactsPerStep = 0, touchingPairs = 0;
    int32_t escaped = 0;
};

struct Scene {
    std::string name;
    std::function<TScene()> build;
    std::function<std::vector<float>()> ground;  // null: no ground line
    bool fixed;       // put back before every timed step
    int32_t steps;    // fixed: timed steps; otherwise all steps, the second half timed
};

Result Run(const Scene& scene, Engine& e, const Setup& setup) {
    std::vector<Disc> discs;
    e.Positions(discs);
    const double bodies = static_cast<double>(discs.size());
    double ns = 0, touching = 0;
    int32_t samples = 0, timed = 0;
    long contacts = 0;
    auto timedStep = [&]() {
        const long before = e.contacts;
        const double t0 = ThreadNs();
        e.Step();
        ns += ThreadNs() - t0;
        contacts += e.contacts - before;
        ++timed;
    };
    if (scene.fixed) {
        e.SaveState();
        for (int32_t s = 0; s < 3; ++s) {  // caches and pools reach their working size
            e.RestoreState();
            e.Step();
        }
        for (int32_t s = 0; s < scene.steps; ++s) {
            e.RestoreState();
            timedStep();
            e.Positions(discs);
            touching += static_cast<double>(TouchingPairs(discs, setup.width, setup.height));
            ++samples;
        }
    } else {
        for (int32_t s = 0; s < scene.steps / 2; ++s) e.Step();
        for (int32_t s = scene.steps / 2; s < scene.steps; ++s) {
            timedStep();
            if ((s + 1) % 10 == 0) {
                e.Positions(discs);
                touching += static_cast<double>(TouchingPairs(discs, setup.width, setup.height));
                ++samples;
            }
        }
    }
    e.Positions(discs);
    Result r;
    r.nsPerBodyStep = ns / timed / bodies;
    r.contactsPerStep = static_cast<double>(contacts) / timed;
    r.touchingPairs = samples ? touching / samples : 0.0;
    r.escaped = Escaped(discs, setup);
    return r;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

int Main(int argc, char** argv) {
    int32_t reps = 5;
    std::string only;
    for (int k = 1; k < argc; ++k) {
        if (!std::strcmp(argv[k], "--reps") && k + 1 < argc) {
            reps = std::max(1, std::atoi(argv[++k]));
        } else if (!std::strcmp(argv[k], "--only") && k + 1 < argc) {
            only = argv[++k];
        } else {
            std::fprintf(stderr, "usage: %s [--reps N] [--only SUBSTRING]\n", argv[0]);
            return 2;
        }
    }
    const std::vector<Scene> all = {
        {"dense fixed hex pile 4000", [] { return BuildHexPile(4000); }, nullptr, true, 40},
        {"dense fixed hex pile 16000", [] { return BuildHexPile(16000); }, nullptr, true, 10},
        {"falling pile 1000", [] { return BuildPile(1000); }, nullptr, false, 600},
        {"lattice 40 x 40", [] { return BuildLattice(40, 40); }, nullptr, false, 600},
        {"4000 discs on 200 terrain segments", [] { return BuildSegmentTerrain(4000, 200); },
         [] { return SegmentTerrainProfile(200); }, false, 600},
    };
    std::vector<const Scene*> scenes;
    for (const Scene& s : all)
        if (only.empty() || s.name.find(only) != std::string::npos) scenes.push_back(&s);
    const char* names[3] = {"gelsim", "Box2D", "Chipmunk"};
    // results[scene][engine][rep]
    std::vector<std::vector<std::vector<Result>>> results(scenes.size(), std::vector<std::vector<Result>>(3));
    for (int32_t rep = 0; rep < reps; ++rep) {
        for (size_t si = 0; si < scenes.size(); ++si) {
            const Scene& scene = *scenes[si];
            for (int engine = 0; engine < 3; ++engine) {
                TScene sc = scene.build();
                // Cells at least one disc across, so that gelsim tests every overlapping
                // pair as the peers do (the builders' 8-unit cells leave some out).
                FitGridToDiameter(10.0f);
                const Setup setup = SetupOf(sc, scene.ground ? scene.ground() : std::vector<float>{});
                std::unique_ptr<Engine> e;
                if (engine == 0) e = std::make_unique<GelsimEngine>(std::move(sc));
                else {
                    sc = TScene{};
                    TPhysics::Free();
                    if (engine == 1) e = std::make_unique<Box2DEngine>(setup);
                    else e = std::make_unique<ChipmunkEngine>(setup);
                }
                results[si][static_cast<size_t>(engine)].push_back(Run(scene, *e, setup));
            }
        }
        std::fprintf(stderr, "repetition %d of %d done\n", rep + 1, reps);
    }
    std::printf("Medians of %d interleaved repetitions; CPU time of the stepping thread.\n", reps);
    std::printf("touching pairs: discs whose centres are closer than the sum of radii + %.2f units.\n", kTouchSlack);
    std::printf("escaped: discs outside the box or ending inside the ground.\n\n");
    std::printf("%-36s %-9s %10s %12s %10s %8s\n", "scene", "engine", "ns/body-step", "contacts/step", "touching", "escaped");
    for (size_t si = 0; si < scenes.size(); ++si) {
        double ns[3] = {};
        for (int engine = 0; engine < 3; ++engine) {
            std::vector<double> t, c, p, x;
            for (const Result& r : results[si][static_cast<size_t>(engine)]) {
                t.push_back(r.nsPerBodyStep);
                c.push_back(r.contactsPerStep);
                p.push_back(r.touchingPairs);
                x.push_back(r.escaped);
            }
            ns[engine] = Median(t);
            std::printf("%-36s %-9s %12.0f %13.0f %10.0f %8.0f\n", engine == 0 ? scenes[si]->name.c_str() : "",
                        names[engine], ns[engine], Median(c), Median(p), Median(x));
        }
        std::printf("%-36s gelsim / Box2D = %.2f, gelsim / Chipmunk = %.2f\n\n", "", ns[0] / ns[1], ns[0] / ns[2]);
    }
    return 0;
}

}  // namespace
}  // namespace kin::gelsim

int main(int argc, char** argv) { return kin::gelsim::Main(argc, argv); }
