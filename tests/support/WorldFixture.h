#pragma once
// Shared test fixture: a fresh current world and an empty event queue in update mode.
#include <gtest/gtest.h>

#include "gelsim/core/Body.h"
#include "gelsim/core/Constraint.h"
#include "gelsim/core/Mass.h"
#include "gelsim/core/Physics.h"
#include "gelsim/core/ColEvent.h"
#include "platform/Hook.h"

namespace kin::gelsim::test {

class WorldFixture : public ::testing::Test {
protected:
    void SetUp() override {
        world = TPhysics::Create(1024.0f, 4096.0f, 0.1f, 0.0f, 1);
        TColEvent::SetMode(TColEvent::MODE_UPDATE);
        TColEvent::Flush();
    }
    void TearDown() override {
        TColEvent::Flush();
        TColEvent::SetMode(TColEvent::MODE_UPDATE);
        TPhysics::Free();
        world = nullptr;
    }
    /// A mass counted into the world directly (no constraint needed).
    Ref<TMass> Active(float x, float y, float mass = 1.0f, float radius = 5.0f, float friction = 0.0f,
                      int32_t group = -1) {
        Ref<TMass> m = TMass::Create(x, y, mass, radius, friction, group);
        m->AddRef();
        held.push_back(m);
        return m;
    }
    /// Number of queued events, drained.
    static int32_t DrainEvents() {
        int32_t n = 0;
        while (TColEvent::Poll()) ++n;
        return n;
    }

    Ref<TPhysics> world;
    std::vector<Ref<TMass>> held;
};

/// Adds a hook callback for the lifetime of the object.
class ScopedHook {
public:
    ScopedHook(HookFunction fn, TObject* ctx = nullptr) : fn_(fn), ctx_(ctx) {
        AddHook(TColEvent::EventHook(), fn, ctx);
    }
    ~ScopedHook() { RemoveHook(TColEvent::EventHook(), fn_, ctx_); }

private:
    HookFunction fn_;
    TObject* ctx_;
};

}  // namespace kin::gelsim::test
