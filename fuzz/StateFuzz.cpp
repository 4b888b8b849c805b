// World states from arbitrary bytes: they are refused with the read error, or they load
// as a new world that saves again to bytes that load to the same world, restores in place
// over another world, and steps.
#include <vector>

#include "Harness.h"
#include "gelsim/bodies/AdvBody.h"
#include "gelsim/core/Body.h"
#include "gelsim/core/ColEvent.h"
#include "gelsim/core/Constraint.h"
#include "gelsim/core/Mass.h"
#include "gelsim/core/Physics.h"
#include "gelsim/state/WorldState.h"
#include "gelsim/zones/Zone.h"
#include "platform/Stream.h"

using namespace kin;
using namespace kin::gelsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The world a state without zones takes them from (the seeds' four squares), made once:
    // it is never current again, so nothing below changes it.
    static const Ref<TPhysics> zoneWorld = [] {
        Ref<TPhysics> w = TPhysics::Create(1024.0f, 4096.0f, 0.1f, 0.0f, 1);
        const std::vector<float> square = {0, 0, 10, 0, 10, 10, 0, 10};
        for (int32_t style : {TZone::LINE, TZone::LOOP, TZone::FILL, TZone::HOLE}) TZone::Create(square, style, 0.5f, 3, 3);
        TPhysics::SetCurrent(nullptr);
        return w;
    }();
    try {
        Ref<TPhysics> w = LoadState(data, size, zoneWorld.Get());
        const std::vector<uint8_t> again = SaveState(*w);
        {
            Ref<TPhysics> copy = LoadState(again.data(), again.size(), zoneWorld.Get());
            fuzz::Require(SaveState(*copy) == again, "a loaded state saves to bytes that load differently");
            // In place over a world that is not the current one.
            RestoreState(*w, again.data(), again.size());
            fuzz::Require(SaveState(*w) == again, "a state restored in place saves differently");
        }
        TPhysics::SetCurrent(w.Get());
        // New elements take the loaded tables' free entries.
        Ref<TMass> a = TMass::Create(10.0f, 10.0f, 1.0f, 4.0f, 0.5f, -1);
        Ref<TMass> b = TMass::Create(20.0f, 10.0f, 1.0f, 4.0f, 0.5f, -1);
        Ref<TConstraint> c = TConstraint::Create(a.Get(), b.Get(), 0.0f, 0.5f);
        Ref<TBody> holder = MakeRef<TBody>();
        c->Assign(holder.Get());
        // A few steps, unless the state asks for more work than a fuzzer can wait for.
        if (w->i >= 0 && w->i <= 4 && w->massCount <= 256)
            for (int s = 0; s < 3; ++s) TPhysics::Update();
        SaveState(*w);
        c->Free(holder.Get());
        // Loaded bodies take new elements at their counts, then every registered body lets
        // go of what it holds.
        for (int32_t id = 0; id < w->bodyCount; ++id)
            if (auto* body = As<TAdvBody>(TPhysics::GetBody(id))) {
                const int32_t m1 = body->MassAdd(30.0f, 10.0f, 1.0f, 4.0f, 0.5f, -1);
                const int32_t m2 = body->MassAdd(40.0f, 10.0f, 1.0f, 4.0f, 0.5f, -1);
                body->ConAssign(body->ConAdd(m1, m2, 0.0f, 0.5f));
                body->RigAdd(-1, m1, -1, 0.0f);
            }
        for (int32_t id = 0; id < w->bodyCount; ++id)
            if (auto* body = As<TBody>(TPhysics::GetBody(id))) body->Free();
    } catch (const TStreamReadException&) {
    }
    TColEvent::Flush();
    TPhysics::Free();
    return 0;
}
