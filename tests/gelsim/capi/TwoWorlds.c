/* Two worlds from C: switching the current one, stepping one that is not current, an
 * activation in the wrong world refused with its message, and event callbacks that see
 * only the events of the world they were added to, also when the same function and user
 * pointer are on both. Exit status 0 when every check holds. */
#include <stdio.h>
#include <string.h>

#include "gelsim.h"

static int failures = 0;

#define CHECK(cond)                                                                   \
    do {                                                                              \
        if (!(cond)) {                                                                \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                               \
        }                                                                             \
    } while (0)

/* The message of the latest call, or "" when it succeeded. */
static const char* message(void) {
    const char* m = gelsim_last_error();
    return m ? m : "";
}

typedef struct {
    GelsimPhysics* world;
    GelsimZone* floor;
    GelsimAdvBody* body;
} Scene;

/* A new current world with a floor at y = 400 and a square body of four masses above it. */
static Scene make_scene(void) {
    Scene s;
    s.world = gelsim_PhysicsCreate(640, 480, 0.2f, 0, 4);
    const float floorXY[] = {0, 400, 640, 400, 640, 440, 0, 440};
    s.floor = gelsim_ZoneCreate(floorXY, 8, GELSIM_ZONE_FILL, 0.5f, -1, 4);
    s.body = gelsim_AdvBodyCreate();
    for (int i = 0; i < 4; ++i)
        CHECK(gelsim_AdvBodyMassAdd(s.body, 300.0f + 20.0f * (float)(i % 2), 300.0f + 20.0f * (float)(i / 2), 1, 6,
                                    0.5f, -1) == i);
    CHECK(gelsim_AdvBodyConAddAll(s.body) == GELSIM_OK);
    CHECK(gelsim_AdvBodyActivate(s.body) == GELSIM_OK);
    CHECK(s.world && s.floor && s.body);
    return s;
}

static void free_scene(Scene* s) {
    gelsim_advbody_release(s->body);
    gelsim_zone_release(s->floor);
    gelsim_physics_release(s->world);
}

/* What a callback saw: its calls, and those against the floor it expects. */
typedef struct {
    GelsimZone* floor;
    int calls;
    int onFloor;
    int onOtherZone;
} Tally;

static GelsimColEvent* tally_event(GelsimColEvent* event, void* user) {
    Tally* t = (Tally*)user;
    ++t->calls;
    GelsimZone* z = gelsim_ColEventGetZone(event);
    if (z == t->floor)
        ++t->onFloor;
    else if (z)
        ++t->onOtherZone;
    return event;
}

int main(void) {
    CHECK(gelsim_physics_current() == NULL && gelsim_last_error() == NULL);

    Scene a = make_scene();
    CHECK(gelsim_physics_current() == a.world);
    Scene b = make_scene();  /* now current; a lives on through its handle */
    CHECK(gelsim_physics_current() == b.world);

    /* One callback on each world, and the same function and user pointer on both. */
    Tally ta = {a.floor, 0, 0, 0}, tb = {b.floor, 0, 0, 0}, shared = {NULL, 0, 0, 0};
    CHECK(gelsim_physics_set_current(a.world) == GELSIM_OK);
    CHECK(gelsim_physics_current() == a.world);
    CHECK(gelsim_event_hook_add(tally_event, &ta, 0) == GELSIM_OK);
    CHECK(gelsim_event_hook_add(tally_event, &shared, 0) == GELSIM_OK);
    CHECK(gelsim_physics_set_current(b.world) == GELSIM_OK);
    CHECK(gelsim_event_hook_add(tally_event, &tb, 0) == GELSIM_OK);
    CHECK(gelsim_event_hook_add(tally_event, &shared, 0) == GELSIM_OK);

    /* Stepping b while a is current: b's body falls onto b's floor, a stays as it was,
     * and only b's callbacks run. a is current again afterwards. */
    CHECK(gelsim_physics_set_current(a.world) == GELSIM_OK);
    const float aY = gelsim_AdvBodyMassGetY(a.body, 0), bY = gelsim_AdvBodyMassGetY(b.body, 0);
    CHECK(gelsim_physics_step(b.world, 200) == GELSIM_OK);
    CHECK(gelsim_physics_current() == a.world);
    CHECK(gelsim_AdvBodyMassGetY(a.body, 0) == aY);
    CHECK(gelsim_AdvBodyMassGetY(b.body, 0) > bY + 40.0f);
    CHECK(ta.calls == 0);
    CHECK(tb.onFloor > 0 && tb.onOtherZone == 0);
    const int bCalls = tb.calls;
    CHECK(shared.calls == bCalls);

    /* The current world steps with its own callbacks only. */
    for (int tick = 0; tick < 200; ++tick) CHECK(gelsim_PhysicsUpdate() == GELSIM_OK);
    CHECK(gelsim_AdvBodyMassGetY(a.body, 0) > aY + 40.0f);
    CHECK(ta.onFloor > 0 && ta.onOtherZone == 0);
    CHECK(tb.calls == bCalls);
    CHECK(shared.calls == bCalls + ta.calls);

    /* Removing works on the current world's hook alone: b's callback is not on a's hook,
     * and taking the shared one off b leaves a's. */
    CHECK(gelsim_event_hook_remove(tally_event, &tb) == 0 && gelsim_last_error() == NULL);
    CHECK(gelsim_physics_set_current(b.world) == GELSIM_OK);
    CHECK(gelsim_event_hook_remove(tally_event, &shared) == 1);
    CHECK(gelsim_event_hook_remove(tally_event, &shared) == 0);
    const int sharedBefore = shared.calls, aCalls = ta.calls;
    CHECK(gelsim_physics_step(b.world, 20) == GELSIM_OK);
    CHECK(tb.calls > bCalls);
    CHECK(shared.calls == sharedBefore);  /* off b */
    CHECK(gelsim_physics_step(a.world, 20) == GELSIM_OK);
    CHECK(ta.calls > aCalls);
    CHECK(shared.calls == sharedBefore + (ta.calls - aCalls));  /* still on a */
    CHECK(gelsim_physics_current() == b.world);

    /* Activating b's objects while a is current is refused, and says why. One of b's
     * constraints is taken out first, to be assigned again. */
    CHECK(gelsim_AdvBodyConFree(b.body, 0) == GELSIM_OK);
    CHECK(gelsim_physics_set_current(a.world) == GELSIM_OK);
    CHECK(gelsim_ZoneActivate(b.floor) == GELSIM_ERROR);
    CHECK(strcmp(message(), "the zone belongs to another world (gelsim_ZoneActivate)") == 0);
    CHECK(gelsim_AdvBodyActivate(b.body) == GELSIM_ERROR);
    CHECK(strcmp(message(), "the body belongs to another world (gelsim_AdvBodyActivate)") == 0);
    CHECK(gelsim_AdvBodyConAssign(b.body, 0) == GELSIM_ERROR);
    CHECK(strstr(message(), "belongs to another world (gelsim_AdvBodyConAssign)") != NULL);
    /* A constraint of a's own, assigned to b's body. */
    GelsimConstraint* con = gelsim_ConstraintCreate(gelsim_AdvBodyMassGet(a.body, 0), gelsim_AdvBodyMassGet(a.body, 1), 0, 1);
    CHECK(gelsim_ConstraintAssign(con, gelsim_advbody_body(b.body)) == GELSIM_ERROR);
    CHECK(strstr(message(), "belongs to another world (gelsim_ConstraintAssign)") != NULL);
    gelsim_constraint_release(con);
    /* In their own world they are taken as before. */
    CHECK(gelsim_ZoneActivate(a.floor) == GELSIM_OK && gelsim_last_error() == NULL);
    CHECK(gelsim_AdvBodyActivate(a.body) == GELSIM_OK && gelsim_last_error() == NULL);
    CHECK(gelsim_physics_set_current(b.world) == GELSIM_OK);
    CHECK(gelsim_AdvBodyConAssign(b.body, 0) == GELSIM_OK && gelsim_last_error() == NULL);
    CHECK(gelsim_physics_set_current(a.world) == GELSIM_OK);

    /* Mistakes. */
    CHECK(gelsim_physics_step(NULL, 1) == GELSIM_ERROR);
    CHECK(strcmp(message(), "w is NULL (gelsim_physics_step)") == 0);
    CHECK(gelsim_physics_set_current((GelsimPhysics*)a.floor) == GELSIM_ERROR);
    CHECK(strstr(message(), "(gelsim_physics_set_current)") != NULL);
    CHECK(gelsim_physics_current() == a.world);

    /* No world: nothing current, and no hook to add to. */
    CHECK(gelsim_physics_set_current(NULL) == GELSIM_OK);
    CHECK(gelsim_physics_current() == NULL);
    CHECK(gelsim_event_hook_add(tally_event, &ta, 0) == GELSIM_ERROR);
    CHECK(strcmp(message(), "no current world (gelsim_event_hook_add)") == 0);

    free_scene(&a);
    free_scene(&b);
    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
