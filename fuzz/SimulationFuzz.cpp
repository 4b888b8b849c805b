// The simulation core: a small world made from the input's bytes, with any floats at all
// (NaN, infinities, 1e30, zero and negative radii, masses and rest lengths, degenerate
// zones, a box of no size), stepped 200 times with the odd change between steps. Nothing
// may crash, overflow or convert a float that no integer can hold.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <limits>
#include <vector>

#include "Harness.h"
#include "Values.h"
#include "gelsim/core/Body.h"
#include "gelsim/core/Constraint.h"
#include "gelsim/core/Mass.h"
#include "gelsim/core/Physics.h"
#include "gelsim/core/ColEvent.h"
#include "gelsim/zones/Zone.h"

using namespace kin;
using namespace kin::gelsim;
using kin::fuzz::AnyFloat;

namespace {

template <class T>
T* Pick(FuzzedDataProvider& in, const std::vector<Ref<T>>& v) {
    return v.empty() ? nullptr : v[in.ConsumeIntegralInRange<size_t>(0, v.size() - 1)].Get();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    // The input is read one value per statement, so that every compiler builds the same world
    // from it (a call's arguments come in the compiler's order); where a call takes several,
    // they are read last argument first, as the committed inputs were first read.
    const int32_t iterations = in.ConsumeIntegralInRange<int32_t>(-1, 3);
    const float gravityX = AnyFloat(in), gravityY = AnyFloat(in), maxY = AnyFloat(in), maxX = AnyFloat(in);
    Ref<TPhysics> world = TPhysics::Create(maxX, maxY, gravityY, gravityX, iterations);
    TColEvent::SetMode(in.ConsumeIntegralInRange<int32_t>(TColEvent::MODE_DISCARD, TColEvent::MODE_REPLACE));
    if (in.ConsumeBool()) {
        const float y2 = AnyFloat(in), x2 = AnyFloat(in), y1 = AnyFloat(in), x1 = AnyFloat(in);
        TPhysics::SetBounds(x1, y1, x2, y2);
    }
    TPhysics::UseShiftedGrid(in.ConsumeBool() ? 1 : 0);
    TPhysics::SetGridSize(in.ConsumeIntegralInRange<int32_t>(0, 200));
    TPhysics::SetFriction(AnyFloat(in));
    {
        std::vector<Ref<TMass>> masses;
        const int nMasses = in.ConsumeIntegralInRange(0, 40);
        for (int k = 0; k < nMasses; ++k) {
            const float x = AnyFloat(in), y = AnyFloat(in), mass = AnyFloat(in), radius = AnyFloat(in);
            const int32_t group = in.ConsumeIntegralInRange<int32_t>(-2, 3);
            const float friction = AnyFloat(in);
            Ref<TMass> m = TMass::Create(x, y, mass, radius, friction, group);
            if (in.ConsumeBool()) {
                const float vy = AnyFloat(in), vx = AnyFloat(in);
                m->SetVelocity(vx, vy);
            }
            if (in.ConsumeIntegralInRange(0, 7) == 0) m->Freeze();
            m->AddRef();
            masses.push_back(std::move(m));
        }
        Ref<TBody> body = MakeRef<TBody>();
        std::vector<Ref<TConstraint>> cons;
        const int nCons = masses.empty() ? 0 : in.ConsumeIntegralInRange(0, 40);
        for (int k = 0; k < nCons; ++k) {
            TMass* a = Pick(in, masses);
            TMass* b = Pick(in, masses);  // may be a again
            const float rest = AnyFloat(in);
            Ref<TConstraint> c = TConstraint::Create(a, b, rest, AnyFloat(in));
            c->Assign(body.Get());
            cons.push_back(std::move(c));
        }
        std::vector<Ref<TZone>> zones;
        const int nZones = in.ConsumeIntegralInRange(0, 3);
        for (int k = 0; k < nZones; ++k) {
            std::vector<float> xy(static_cast<size_t>(in.ConsumeIntegralInRange(0, 8)) * 2);
            for (float& v : xy) v = AnyFloat(in);
            const int32_t style = in.ConsumeIntegralInRange<int32_t>(-1, 4);
            const float friction = AnyFloat(in);
            const int32_t group = in.ConsumeIntegralInRange<int32_t>(-2, 3);
            // Every rotation or scaling rebuilds the tree: deep ones would only make runs slow.
            if (Ref<TZone> z = TZone::Create(xy, style, friction, group, in.ConsumeIntegralInRange<int32_t>(-1, 6)))
                zones.push_back(std::move(z));
        }

        for (int step = 0; step < 200; ++step) {
            switch (in.remaining_bytes() ? in.ConsumeIntegralInRange(0, 15) : 0) {
                case 1:
                    if (TMass* m = Pick(in, masses)) m->SetRadius(AnyFloat(in));
                    break;
                case 2:
                    if (TMass* m = Pick(in, masses)) {
                        const float y = AnyFloat(in), x = AnyFloat(in);
                        m->Position(x, y);
                    }
                    break;
                case 3:
                    if (TConstraint* c = Pick(in, cons)) c->SetRestLength(AnyFloat(in));
                    break;
                case 4:
                    if (TZone* z = Pick(in, zones)) z->Rotate(AnyFloat(in));
                    break;
                case 5:
                    if (TZone* z = Pick(in, zones)) {
                        const float sy = AnyFloat(in), sx = AnyFloat(in);
                        z->SetScale(sx, sy);
                    }
                    break;
                case 6:
                    if (TZone* z = Pick(in, zones)) {
                        const float y = AnyFloat(in), x = AnyFloat(in);
                        z->Position(x, y);
                    }
                    break;
                case 7: {
                    const float y = AnyFloat(in), x = AnyFloat(in);
                    TPhysics::SetGravity(x, y);
                    break;
                }
                case 8:
                    if (TMass* m = Pick(in, masses)) m->SetMass(AnyFloat(in));
                    break;
                default: break;
            }
            TPhysics::Update();
        }
        while (TColEvent::Poll()) {
        }
        body->Free();
        for (auto& m : masses) m->SubRef();
        for (auto& z : zones) z->Free();
    }
    TColEvent::Flush();
    TColEvent::SetMode(TColEvent::MODE_UPDATE);
    TPhysics::Free();
    return 0;
}
