// Zone contacts: each style from both sides (point, normal, depth, push-out, event), the
// default response's friction, overriding the response, the step's group and freeze rules,
// callbacks that change the world mid-contact, degenerate outlines, and random discs
// against brute force.
#include "tests/support/ZoneFixture.h"

namespace kin::gelsim::test {
namespace {

using ZoneContact = ZoneWorld;

struct ContactCase {
    const char* name;
    int32_t style;
    Floats outline;
    float x, y, r;  // the disc
    bool touches;
    float cx, cy, nx, ny, depth;  // contact point, normal, depth
    float endX, endY;             // centre after the default response (disc at rest, no friction)
};

std::string CaseName(const ::testing::TestParamInfo<ContactCase>& info) { return info.param.name; }

class Contact : public ZoneWorld, public ::testing::WithParamInterface<ContactCase> {};

TEST_P(Contact, PointNormalDepthEventAndPushOut) {
    const ContactCase& c = GetParam();
    for (const float ox : {0.0f, 300.0f}) {  // the same contact with the zone moved away
        Ref<TZone> z = TZone::Create(c.outline, c.style, 0, 2, 5);
        ASSERT_NE(z, nullptr);
        z->Position(ox, -ox);
        Ref<TMass> m = Disc(c.x + ox, c.y - ox, c.r);

        z->OverrideCollision(RecordResponse);
        gRecorded = {};
        TColEvent::Flush();
        z->Collide(m.Get());
        EXPECT_EQ(gRecorded.calls, c.touches ? 1 : 0) << c.name;
        EXPECT_EQ(m->posX, c.x + ox);  // the recording response moves nothing
        TColEvent* e = TColEvent::Seek(m.Get(), z.Get());
        if (!c.touches) {
            EXPECT_EQ(e, nullptr);
            continue;
        }
        EXPECT_EQ(gRecorded.zone, z.Get());
        EXPECT_EQ(gRecorded.mass, m.Get());
        EXPECT_NEAR(gRecorded.nx, c.nx, 1e-5) << c.name;
        EXPECT_NEAR(gRecorded.ny, c.ny, 1e-5) << c.name;
        EXPECT_NEAR(gRecorded.depth, c.depth, 1e-4) << c.name;
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->GetID(), TColEvent::MASS_ZONE);
        EXPECT_EQ(e->GetZone(), z.Get());
        EXPECT_EQ(e->GetMass1(), m.Get());
        EXPECT_NEAR(e->GetX(), c.cx + ox, 1e-4) << c.name;  // world coordinates
        EXPECT_NEAR(e->GetY(), c.cy - ox, 1e-4) << c.name;
        EXPECT_EQ(e->GetForce(), gRecorded.depth);

        z->OverrideCollision(nullptr);
        TColEvent::Flush();
        z->Collide(m.Get());
        EXPECT_NEAR(m->posX, c.endX + ox, 1e-4) << c.name;
        EXPECT_NEAR(m->posY, c.endY - ox, 1e-4) << c.name;
    }
}

const Floats kLine = {0, 0, 100, 0};
const Floats kBox = Square(0, 0, 100);
const Floats kSmall = Square(0, 0, 10);

INSTANTIATE_TEST_SUITE_P(
    Styles, Contact,
    ::testing::Values(
        ContactCase{"LineFromBelow", TZone::LINE, kLine, 50, 3, 5, true, 50, 0, 0, 1, 2, 50, 5},
        ContactCase{"LineFromAbove", TZone::LINE, kLine, 50, -3, 5, true, 50, 0, 0, -1, 2, 50, -5},
        ContactCase{"LineEnd", TZone::LINE, kLine, 103, 0, 5, true, 100, 0, 1, 0, 2, 105, 0},
        ContactCase{"LinePastTheEnd", TZone::LINE, kLine, 120, 3, 5, false, 0, 0, 0, 0, 0, 120, 3},
        ContactCase{"LineTouchingIsNoContact", TZone::LINE, kLine, 50, 5, 5, false, 0, 0, 0, 0, 0, 50, 5},
        ContactCase{"LoopFromInside", TZone::LOOP, kBox, 50, 3, 5, true, 50, 0, 0, 1, 2, 50, 5},
        ContactCase{"LoopFromOutside", TZone::LOOP, kBox, 50, -3, 5, true, 50, 0, 0, -1, 2, 50, -5},
        ContactCase{"LoopClosingEdge", TZone::LOOP, kBox, 2, 50, 5, true, 0, 50, 1, 0, 3, 5, 50},
        ContactCase{"LoopMiddleIsFree", TZone::LOOP, kBox, 50, 50, 5, false, 0, 0, 0, 0, 0, 50, 50},
        ContactCase{"FillInside", TZone::FILL, kSmall, 5, 2, 1, true, 5, 0, 0, -1, 3, 5, -1},
        ContactCase{"FillDeepInside", TZone::FILL, kSmall, 6, 5, 1, true, 10, 5, 1, 0, 5, 11, 5},
        ContactCase{"FillOutside", TZone::FILL, kSmall, 5, -0.5f, 1, true, 5, 0, 0, -1, 0.5f, 5, -1},
        ContactCase{"FillClear", TZone::FILL, kSmall, 5, -2, 1, false, 0, 0, 0, 0, 0, 5, -2},
        ContactCase{"HoleMiddleIsFree", TZone::HOLE, kBox, 50, 50, 5, false, 0, 0, 0, 0, 0, 50, 50},
        ContactCase{"HoleNearTheWall", TZone::HOLE, kBox, 50, 98, 5, true, 50, 100, 0, -1, 3, 50, 95},
        ContactCase{"HoleInTheSolid", TZone::HOLE, kBox, 50, 105, 5, true, 50, 100, 0, -1, 10, 50, 95},
        // Far beyond the tree's box: the exact test still runs and pulls the disc back in.
        ContactCase{"HoleFarOutside", TZone::HOLE, kBox, 50, 300, 5, true, 50, 100, 0, -1, 205, 50, 95},
        ContactCase{"UnknownStyle", 6, kBox, 50, 3, 5, false, 0, 0, 0, 0, 0, 50, 3}),
    CaseName);

// ---------------------------------------------------------------------------------------
// The default response

struct FrictionCase {
    const char* name;
    float zoneFriction, massFriction;
    float vx;          // speed along the surface before the contact
    float expectVx;    // speed along it after
};

TEST_F(ZoneContact, FrictionScalesWithDepth) {
    const FrictionCase cases[] = {
        {"no friction: only the push", 0, 0, 1.5f, 1.5f},
        {"full friction, slower than the depth: stopped", 1, 1, 1.5f, 0},
        {"full friction, faster: reduced by the depth", 1, 1, 5, 3},
        {"half friction", 0.5f, 0.5f, 5, 4},
        {"moving the other way", 1, 1, -5, -3},
    };
    for (const auto& fc : cases) {
        Ref<TZone> z = TZone::Create(kLine, TZone::LINE, fc.zoneFriction, 2, 4);
        Ref<TMass> m = Disc(50, 3, 5, fc.massFriction);  // depth 2
        m->oldPosX = 50 - fc.vx;
        m->oldPosY = 3;
        z->Collide(m.Get());
        EXPECT_NEAR(m->posY, 5, 1e-5) << fc.name;  // pushed out; old position untouched
        EXPECT_EQ(m->oldPosY, 3.0f);
        EXPECT_NEAR(m->posX - m->oldPosX, fc.expectVx, 1e-4) << fc.name;
    }
}

TEST_F(ZoneContact, StoredFrictionOutsideItsRangeNeitherSpeedsUpNorBreaks) {
    for (float f : {-3.0f, kNaN, -kInf}) {
        Ref<TZone> z = TZone::Create(kLine, TZone::LINE, 0, 2, 4);
        z->friction = f;  // as a file may store it
        Ref<TMass> m = Disc(50, 3, 5, 0);
        m->oldPosX = 48;
        z->Collide(m.Get());
        EXPECT_NEAR(m->posX - m->oldPosX, 2, 1e-5) << f;
        EXPECT_EQ(m->posY, 5.0f);
    }
}

TEST_F(ZoneContact, CentreOnTheOutlineIsPushedByNothing) {
    Ref<TZone> z = TZone::Create(kLine, TZone::LINE, 1, 2, 4);
    Ref<TMass> m = Disc(50, 0, 5, 1);
    m->oldPosX = 49;  // moving along the line
    z->Collide(m.Get());
    EXPECT_EQ(m->posY, 0.0f);  // the normal is (0, 0)
    EXPECT_EQ(m->posX, 49.0f);  // friction still acts: limit 5 stops the motion of 1
}

TEST_F(ZoneContact, OverriddenResponseAloneMovesTheMass) {
    Ref<TZone> z = TZone::Create(kLine, TZone::LINE, 1, 2, 4);
    z->OverrideCollision([](TZone*, TMass* m, float, float, float) -> int32_t {
        m->posX += 100;
        return 7;  // ignored
    });
    Ref<TMass> m = Disc(50, 3, 5);
    z->Collide(m.Get());
    EXPECT_EQ(m->posX, 150.0f);
    EXPECT_EQ(m->posY, 3.0f);
    TColEvent* e = TColEvent::Seek(m.Get(), z.Get());
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->GetX(), 50.0f);  // where the contact was, before the response
    EXPECT_EQ(e->GetForce(), 2.0f);
    z->OverrideCollision(nullptr);
    EXPECT_EQ(z->ColResponse, &TZone::ColDefault);
}

// ---------------------------------------------------------------------------------------
// Inside the world's step

Ref<TObject> CountZoneEvents(int32_t, TObject* data, TObject* ctx) {
    auto* e = As<TColEvent>(data);
    if (e && e->GetID() == TColEvent::MASS_ZONE) static_cast<TList*>(ctx)->AddLast(e->GetMass1());
    return data;
}

TEST_F(ZoneContact, TheStepCollidesOnlyWhatTheGroupsAllow) {
    TPhysics::SetGravity(0, 0);
    Ref<TZone> ground = TZone::Create({0, 500, 1024, 500}, TZone::LINE, 0, 2, 6);
    struct Row {
        const char* name;
        int32_t massGroup, zoneGroup;
        bool frozen, touches;
    };
    const Row rows[] = {
        {"different groups", 1, 2, false, true},
        {"same group", 2, 2, false, false},
        {"zone group 0", 1, 0, false, false},
        {"mass group 0", 0, 2, false, false},
        {"frozen mass", 1, 2, true, false},
        {"automatic groups differ", -1, -1, false, true},
    };
    Ref<TList> seen = MakeRef<TList>();
    ScopedHook hook(CountZoneEvents, seen.Get());
    for (const Row& row : rows) {
        ground->SetColGroup(row.zoneGroup);
        Ref<TMass> m = Active(100, 503, 1, 5, 0, row.massGroup);
        if (row.frozen) m->Freeze();
        seen->Clear();
        TPhysics::Update();
        EXPECT_EQ(seen->Count(), row.touches ? 1 : 0) << row.name;
        EXPECT_EQ(m->posY, row.touches ? 505.0f : 503.0f) << row.name;
        if (row.touches) {
            TColEvent* e = TColEvent::Seek(m.Get(), ground.Get());
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(e->GetForce(), 2.0f);
        }
        m->SubRef();
    }
    // A deactivated zone is not collided; activated again, it is.
    ground->SetColGroup(2);
    ground->DeActivate();
    Ref<TMass> m = Active(100, 503, 1, 5, 0, 1);
    TPhysics::Update();
    EXPECT_EQ(m->posY, 503.0f);
    ground->Activate();
    TPhysics::Update();
    EXPECT_EQ(m->posY, 505.0f);
}

TEST_F(ZoneContact, SeveralPassesMergeIntoOneEventPerPair) {
    TPhysics::SetIterations(3);
    TPhysics::SetGravity(0, 0);
    Ref<TZone> z = TZone::Create({0, 0, 100, 0, 100, 100, 0, 100}, TZone::FILL, 0, 2, 5);
    // The override leaves the disc where it is, so every pass finds the same contact.
    z->OverrideCollision([](TZone*, TMass*, float, float, float) -> int32_t { return 0; });
    Ref<TMass> m = Active(50, 2, 1, 1, 0, 1);
    TPhysics::Update();
    TColEvent* e = TColEvent::Seek(m.Get(), z.Get());
    ASSERT_NE(e, nullptr);
    EXPECT_NEAR(e->GetForce(), 9.0f, 1e-5);  // 3 passes of depth 3
    EXPECT_EQ(TColEvent::QueueCount(), 1);
}

struct Sticker : TObject {
    Ref<TZone> zone;
    Ref<TMass> mass;
    int32_t hits = 0;
};

Ref<TObject> FreezeAndDropTheZone(int32_t, TObject* data, TObject* ctx) {
    auto* e = As<TColEvent>(data);
    auto* s = static_cast<Sticker*>(ctx);
    if (e && e->GetID() == TColEvent::MASS_ZONE) {
        ++s->hits;
        e->GetMass1()->Freeze();  // what the game does
        s->zone->DeActivate();    // and more: the zone leaves the world mid-contact
        s->zone = nullptr;        // the table held the last other reference
        s->mass->SubRef();        // the mass leaves too
    }
    return data;
}

TEST_F(ZoneContact, CallbacksMayTakeTheZoneAndTheMassOutMidContact) {
    Ref<Sticker> s = MakeRef<Sticker>();
    s->zone = TZone::Create({0, 500, 1024, 500}, TZone::LINE, 0, 2, 6);
    Ref<TZone> second = TZone::Create({0, 500, 1024, 500}, TZone::LINE, 0, 3, 6);
    s->mass = TMass::Create(100, 499, 1, 5, 0, 1);
    s->mass->AddRef();
    ScopedHook hook(FreezeAndDropTheZone, s.Get());
    TPhysics::Update();  // under the sanitizers: nothing used after it was freed
    EXPECT_EQ(s->hits, 1);
    EXPECT_EQ(s->mass->IsActive(), 0);
    EXPECT_EQ(s->mass->IsFrozen(), 1);
}

// ---------------------------------------------------------------------------------------
// Degenerate outlines

TEST_F(ZoneContact, DegenerateOutlinesGiveFinitePushes) {
    struct Row {
        const char* name;
        int32_t style;
        Floats outline;
    };
    const Row rows[] = {
        {"repeated vertices", TZone::LOOP, {0, 0, 0, 0, 10, 0, 10, 0, 10, 10}},
        {"all vertices equal", TZone::FILL, {5, 5, 5, 5, 5, 5}},
        {"collinear fill", TZone::FILL, {0, 0, 5, 0, 10, 0}},
        {"one vertex NaN", TZone::LOOP, {0, 0, kNaN, 5, 10, 0, 10, 10}},
        {"one vertex infinite", TZone::HOLE, {0, 0, kInf, 0, 10, 10, 0, 10}},
        {"all NaN", TZone::HOLE, {kNaN, kNaN, kNaN, kNaN}},
        {"huge coordinates", TZone::FILL, {-3e38f, -3e38f, 3e38f, -3e38f, 3e38f, 3e38f}},
    };
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> pos(-20, 30);
    for (const Row& row : rows) {
        Ref<TZone> z = TZone::Create(row.outline, row.style, 0.5f, 2, 5);
        ASSERT_NE(z, nullptr) << row.name;
        for (int32_t k = 0; k < 200; ++k) {
            const float y = pos(rng), x = pos(rng);  // one draw per statement, in the order they always came
            Ref<TMass> m = Disc(x, y, 3, 0.5f);
            m->oldPosX = m->posX - 1;
            z->Collide(m.Get());
            ASSERT_TRUE(std::isfinite(m->posX) && std::isfinite(m->posY)) << row.name;
        }
    }
}

// ---------------------------------------------------------------------------------------
// Random discs against random outlines, measured independently in double precision: the
// quad tree never hides a contact, and depth and normal are right.

double SegmentDistance(double px, double py, double ax, double ay, double bx, double by, double& qx, double& qy) {
    const double dx = bx - ax, dy = by - ay, l2 = dx * dx + dy * dy;
    double t = l2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / l2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    qx = ax + t * dx;
    qy = ay + t * dy;
    return std::hypot(px - qx, py - qy);
}

bool InsideEvenOdd(const Floats& v, double px, double py) {
    bool in = false;
    const size_t n = v.size() / 2;
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
        const double xi = v[2 * i], yi = v[2 * i + 1], xj = v[2 * j], yj = v[2 * j + 1];
        if ((yi > py) != (yj > py) && px < (xj - xi) * (py - yi) / (yj - yi) + xi) in = !in;
    }
    return in;
}

TEST_F(ZoneContact, RandomDiscsAgreeWithDirectMeasurement) {
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> pos(-140, 140), rad(1, 20);
    int32_t contacts = 0;
    for (int32_t style = 0; style < 4; ++style)
        for (int32_t trial = 0; trial < 6; ++trial) {
            // Convex outlines (star radii fixed) so that winding and even-odd agree.
            Floats v;
            const int32_t n = 3 + trial * 2;
            for (int32_t i = 0; i < n; ++i) {
                const float a = static_cast<float>(i) * 6.2831853f / static_cast<float>(n);
                v.push_back(std::round(90 * std::cos(a)));
                v.push_back(std::round(90 * std::sin(a)));
            }
            Ref<TZone> z = TZone::Create(v, style, 0, 2, 3 + trial);
            z->Position(7, -3);
            z->OverrideCollision(RecordResponse);
            for (int32_t k = 0; k < 400; ++k) {
                const float x = pos(rng), y = pos(rng), r = rad(rng);
                double best = 1e300, cx = 0, cy = 0;
                const size_t nv = v.size() / 2;
                for (size_t i = 0; i < nv; ++i) {
                    if (style == TZone::LINE && i == 0) continue;
                    const size_t a = i == 0 ? nv - 1 : i - 1;
                    double qx, qy;
                    const double d = SegmentDistance(x, y, v[2 * a] + 7.0, v[2 * a + 1] - 3.0, v[2 * i] + 7.0,
                                                     v[2 * i + 1] - 3.0, qx, qy);
                    if (d < best) {
                        best = d;
                        cx = qx;
                        cy = qy;
                    }
                }
                if (std::fabs(best - r) < 1e-3 || best < 1e-3) continue;  // too close to call
                Floats shifted;
                for (size_t i = 0; i < nv; ++i) {
                    shifted.push_back(v[2 * i] + 7.0f);
                    shifted.push_back(v[2 * i + 1] - 3.0f);
                }
                const bool inside = (style == TZone::FILL || style == TZone::HOLE) && InsideEvenOdd(shifted, x, y);
                const bool solid = (style == TZone::FILL && inside) || (style == TZone::HOLE && !inside);
                const bool expect = solid || best < r;
                const double depth = solid ? best + r : r - best;
                Ref<TMass> m = Disc(x, y, r);
                gRecorded = {};
                z->Collide(m.Get());
                ASSERT_EQ(gRecorded.calls, expect ? 1 : 0) << "style " << style << " at " << x << "," << y << " r " << r;
                if (!expect) continue;
                ++contacts;
                EXPECT_NEAR(gRecorded.depth, depth, 1e-3);
                const double sign = solid ? 1 : -1;  // toward the outline from the solid
                EXPECT_NEAR(gRecorded.nx, sign * (cx - x) / best, 1e-3);
                EXPECT_NEAR(gRecorded.ny, sign * (cy - y) / best, 1e-3);
            }
        }
    EXPECT_GT(contacts, 500);
}

}  // namespace
}  // namespace kin::gelsim::test
