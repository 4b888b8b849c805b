/* World states from C: a stepping world saved, loaded as a second world and both stepped
 * on alike; the size asked for first; damaged bytes refused with the reader's message;
 * a world put back in place; and the caller's mistakes refused. Exit status 0 when every
 * check holds. */
#include <stdio.h>
#include <stdlib.h>
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

static int starts_with(const char* s, const char* head) { return strncmp(s, head, strlen(head)) == 0; }

static int ends_with(const char* s, const char* tail) {
    const size_t n = strlen(s), k = strlen(tail);
    return n >= k && strcmp(s + n - k, tail) == 0;
}

/* A world's state in a new buffer (the caller frees it), asking for the size first. */
static unsigned char* save(GelsimPhysics* w, int32_t with_zones, size_t* size) {
    *size = gelsim_physics_save_state(w, with_zones, NULL, 0);
    CHECK(*size > 0 && gelsim_last_error() == NULL);
    unsigned char* buf = malloc(*size);
    CHECK(buf != NULL);
    CHECK(gelsim_physics_save_state(w, with_zones, buf, *size) == *size);
    return buf;
}

/* True when two worlds' states are the same bytes: every mass where the other's is, moving
 * as the other's does, and the rest of the worlds alike. */
static int same_state(GelsimPhysics* a, GelsimPhysics* b) {
    size_t na, nb;
    unsigned char* sa = save(a, 1, &na);
    unsigned char* sb = save(b, 1, &nb);
    const int same = na == nb && memcmp(sa, sb, na) == 0;
    free(sa);
    free(sb);
    return same;
}

#define MASSES 6

int main(void) {
    /* A floor and a falling body of six masses, stepped until it lands. */
    GelsimPhysics* a = gelsim_PhysicsCreate(640, 480, 0.2f, 0, 4);
    const float floorXY[] = {0, 400, 640, 400, 640, 440, 0, 440};
    GelsimZone* floor = gelsim_ZoneCreate(floorXY, 8, GELSIM_ZONE_FILL, 0.5f, -1, 4);
    GelsimAdvBody* body = gelsim_AdvBodyCreate();
    for (int i = 0; i < MASSES; ++i)
        CHECK(gelsim_AdvBodyMassAdd(body, 300.0f + 20.0f * (float)(i % 2), 300.0f + 20.0f * (float)(i / 2), 1, 6, 0.5f,
                                    -1) == i);
    CHECK(gelsim_AdvBodyConAddAll(body) == GELSIM_OK);
    CHECK(gelsim_AdvBodyActivate(body) == GELSIM_OK);
    CHECK(a && floor && body);
    CHECK(gelsim_physics_step(a, 60) == GELSIM_OK);

    /* The size first: a buffer too small is left alone, and the full size comes back. */
    size_t size;
    unsigned char* state = save(a, 1, &size);
    unsigned char* small = malloc(size);
    memset(small, 0xA5, size);
    CHECK(gelsim_physics_save_state(a, 1, small, size - 1) == size && gelsim_last_error() == NULL);
    int untouched = 1;
    for (size_t k = 0; k < size; ++k) untouched &= small[k] == 0xA5;
    CHECK(untouched);
    free(small);

    /* Loaded as a second world, made current; both step on alike. */
    GelsimPhysics* b = gelsim_physics_load_state(state, size, NULL);
    CHECK(b != NULL && gelsim_last_error() == NULL);
    CHECK(gelsim_physics_current() == b);
    CHECK(same_state(a, b));
    CHECK(gelsim_physics_step(a, 90) == GELSIM_OK);
    CHECK(!same_state(a, b));
    CHECK(gelsim_physics_step(b, 90) == GELSIM_OK);
    CHECK(same_state(a, b));

    /* Damaged bytes: nothing made, the current world the same, and the reader says why. */
    GelsimPhysics* cut = gelsim_physics_load_state(state, size / 2, NULL);
    CHECK(cut == NULL);
    CHECK(starts_with(message(), "Error reading from stream: "));
    CHECK(ends_with(message(), " (gelsim_physics_load_state)"));
    CHECK(gelsim_physics_current() == b);
    CHECK(gelsim_physics_load_state(NULL, 0, NULL) == NULL && starts_with(message(), "Error reading from stream: "));

    /* Put back in place: the caller's handles still reach the body, which then moves as it
     * did the first time. */
    float y[MASSES];
    for (int i = 0; i < MASSES; ++i) y[i] = gelsim_AdvBodyMassGetY(body, i);
    CHECK(gelsim_physics_restore_state(a, state, size) == GELSIM_OK && gelsim_last_error() == NULL);
    CHECK(gelsim_physics_current() == b);
    CHECK(gelsim_AdvBodyMassGetY(body, 0) != y[0]);
    CHECK(gelsim_physics_step(a, 90) == GELSIM_OK);
    for (int i = 0; i < MASSES; ++i) CHECK(gelsim_AdvBodyMassGetY(body, i) == y[i]);
    CHECK(same_state(a, b));
    /* Damaged bytes leave the world as it was. */
    CHECK(gelsim_physics_restore_state(a, state, size - 1) == GELSIM_ERROR);
    CHECK(starts_with(message(), "Error reading from stream: "));
    CHECK(ends_with(message(), " (gelsim_physics_restore_state)"));
    CHECK(same_state(a, b));
    free(state);

    /* A state without its zones takes them from the world it was saved in, and only there. */
    state = save(a, 0, &size);
    CHECK(gelsim_physics_load_state(state, size, NULL) == NULL && ends_with(message(), "(gelsim_physics_load_state)"));
    GelsimPhysics* c = gelsim_physics_load_state(state, size, a);
    CHECK(c != NULL && gelsim_last_error() == NULL);
    CHECK(same_state(a, c));
    free(state);

    /* Mistakes. */
    unsigned char byte = 0;
    CHECK(gelsim_physics_save_state(NULL, 1, NULL, 0) == 0);
    CHECK(strcmp(message(), "w is NULL (gelsim_physics_save_state)") == 0);
    CHECK(gelsim_physics_save_state((GelsimPhysics*)floor, 1, NULL, 0) == 0);
    CHECK(strcmp(message(), "w is a GelsimZone, not a GelsimPhysics (gelsim_physics_save_state)") == 0);
    CHECK(gelsim_physics_restore_state(NULL, &byte, 1) == GELSIM_ERROR);
    CHECK(strcmp(message(), "w is NULL (gelsim_physics_restore_state)") == 0);
    CHECK(gelsim_physics_restore_state(a, NULL, 8) == GELSIM_ERROR);
    CHECK(strcmp(message(), "data is NULL with a non-zero size (gelsim_physics_restore_state)") == 0);
    CHECK(gelsim_physics_load_state(NULL, 8, NULL) == NULL);
    CHECK(strcmp(message(), "data is NULL with a non-zero size (gelsim_physics_load_state)") == 0);
    CHECK(gelsim_physics_load_state(&byte, 1, (GelsimPhysics*)body) == NULL);
    CHECK(strstr(message(), "zones_from is a GelsimAdvBody") != NULL);

    gelsim_physics_release(c);
    gelsim_physics_release(b);
    gelsim_advbody_release(body);
    gelsim_zone_release(floor);
    gelsim_physics_release(a);
    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
