// What a call through the C interface costs: getters and setters on a mass and on a body's
// mass table, a world query, and an object's kind check, each called from C linkage the
// way a C program or a foreign-function interface calls them. Times are per call.
#include <benchmark/benchmark.h>

#include <gelsim.h>

namespace {

// A world with one indexed body of two masses, for as long as it lives.
struct CWorld {
    GelsimPhysics* world = gelsim_PhysicsCreate(800, 600, 0.1f, 0, 4);
    GelsimAdvBody* body = gelsim_AdvBodyCreate();
    GelsimMass* mass = nullptr;
    CWorld() {
        gelsim_AdvBodyMassAdd(body, 100, 100, 1, 5, 0.5f, 1);
        gelsim_AdvBodyMassAdd(body, 120, 100, 1, 5, 0.5f, 1);
        gelsim_AdvBodyActivate(body);
        mass = gelsim_AdvBodyMassGet(body, 0);
    }
    ~CWorld() {
        gelsim_AdvBodyFree(body);
        gelsim_advbody_release(body);
        gelsim_PhysicsFree();
        gelsim_physics_release(world);
    }
};

void MassGetX(benchmark::State& state) {
    CWorld w;
    GelsimMass* m = w.mass;
    for (auto _ : state) {
        benchmark::DoNotOptimize(m);
        benchmark::DoNotOptimize(gelsim_MassGetX(m));
    }
}
BENCHMARK(MassGetX);

void MassSetFriction(benchmark::State& state) {
    CWorld w;
    GelsimMass* m = w.mass;
    for (auto _ : state) {
        benchmark::DoNotOptimize(m);
        benchmark::DoNotOptimize(gelsim_MassSetFriction(m, 0.5f));
    }
}
BENCHMARK(MassSetFriction);

void AdvBodyMassGetX(benchmark::State& state) {
    CWorld w;
    GelsimAdvBody* b = w.body;
    for (auto _ : state) {
        benchmark::DoNotOptimize(b);
        benchmark::DoNotOptimize(gelsim_AdvBodyMassGetX(b, 1));
    }
}
BENCHMARK(AdvBodyMassGetX);

// An indexed body where a base body is expected: the kind check's slower path.
void BodyGetNameLengthOfAdvBody(benchmark::State& state) {
    CWorld w;
    GelsimBody* b = gelsim_advbody_body(w.body);
    for (auto _ : state) {
        benchmark::DoNotOptimize(b);
        benchmark::DoNotOptimize(gelsim_BodyGetName(b, nullptr, 0));
    }
}
BENCHMARK(BodyGetNameLengthOfAdvBody);

void PhysicsScreenX(benchmark::State& state) {
    CWorld w;
    float x = 10;
    for (auto _ : state) {
        benchmark::DoNotOptimize(x);
        benchmark::DoNotOptimize(gelsim_PhysicsScreenX(x, 20));
    }
}
BENCHMARK(PhysicsScreenX);

}  // namespace

BENCHMARK_MAIN();
