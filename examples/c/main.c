/* A soft body from C: a 3 x 3 lattice of masses falls onto a floor zone. The program steps
 * the world, reads the collision events (from the queue and through a hook callback),
 * draws the scene into a picture (picture.png, or the path given as the first argument),
 * saves the body to a file and loads it back, and checks that a damaged file and a path
 * that cannot be written are reported as errors. Exit status 0 when every check holds. */
#define _POSIX_C_SOURCE 200809L /* mkdtemp, rmdir */

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "gelsim.h"
#include "gelsim_picture.h"

static int failures = 0;

#define CHECK(cond)                                                               \
    do {                                                                          \
        if (!(cond)) {                                                            \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                           \
        }                                                                         \
    } while (0)

/* A string literal as (pointer, length). */
#define STR(lit) lit, sizeof(lit) - 1

typedef struct {
    int calls;
    int withFloor;
    GelsimZone* floor;
} Tally;

/* Collision-event callback: counts the events and those against the floor, passes them on. */
static GelsimColEvent* tally_event(GelsimColEvent* event, void* user) {
    Tally* t = (Tally*)user;
    ++t->calls;
    if (gelsim_ColEventGetZone(event) == t->floor) ++t->withFloor;
    return event;
}

static int copy_damaged(const char* from, const char* to) {
    FILE* in = fopen(from, "rb");
    if (!in) return 0;
    unsigned char bytes[1 << 16];
    size_t n = fread(bytes, 1, sizeof bytes, in);
    fclose(in);
    if (n < 64) return 0;
    /* The mass table's records go missing: the file stops a third of the way in. */
    n /= 3;
    FILE* out = fopen(to, "wb");
    if (!out) return 0;
    const int ok = fwrite(bytes, 1, n, out) == n;
    return fclose(out) == 0 && ok;
}

int main(int argc, char** argv) {
    const char* picturePath = argc > 1 ? argv[1] : "picture.png";
    char dir[] = "/tmp/gelsim-c-XXXXXX";
    if (!mkdtemp(dir)) {
        perror("mkdtemp");
        return 1;
    }
    char bodyPath[256], damagedPath[256];
    snprintf(bodyPath, sizeof bodyPath, "%s/slime.plb", dir);
    snprintf(damagedPath, sizeof damagedPath, "%s/damaged.plb", dir);

    /* The world: 640 x 480 units, gravity 0.2 down, 4 relaxation passes. */
    GelsimPhysics* world = gelsim_PhysicsCreate(640, 480, 0.2f, 0, 4);
    CHECK(world != NULL);
    CHECK(gelsim_last_error() == NULL);

    /* A filled floor from y = 400 to 440. */
    const float floorXY[] = {0, 400, 640, 400, 640, 440, 0, 440};
    GelsimZone* floor = gelsim_ZoneCreate(floorXY, 8, GELSIM_ZONE_FILL, 0.5f, -1, 4);
    CHECK(floor != NULL);
    CHECK(gelsim_ZoneVertCount(floor) == 4);

    /* The body: nine masses 20 units apart, every pair joined. */
    GelsimAdvBody* body = gelsim_AdvBodyCreate();
    CHECK(body != NULL);
    for (int i = 0; i < 9; ++i)
        CHECK(gelsim_AdvBodyMassAdd(body, 300.0f + 20.0f * (float)(i % 3), 100.0f + 20.0f * (float)(i / 3), 1, 6, 0.5f, -1) == i);
    CHECK(gelsim_AdvBodyConAddAll(body) == GELSIM_OK);
    CHECK(gelsim_AdvBodyConMaxIndex(body) == 35);
    CHECK(gelsim_BodySetName(gelsim_advbody_body(body), STR("slime")) == GELSIM_OK);
    CHECK(gelsim_AdvBodyActivate(body) == GELSIM_OK);

    /* A string result: the full length comes back, the text is cut to the buffer. */
    char name[16], small[4];
    CHECK(gelsim_BodyGetName(gelsim_advbody_body(body), NULL, 0) == 5);
    CHECK(gelsim_BodyGetName(gelsim_advbody_body(body), small, sizeof small) == 5 && strcmp(small, "sli") == 0);
    CHECK(gelsim_BodyGetName(gelsim_advbody_body(body), name, sizeof name) == 5 && strcmp(name, "slime") == 0);

    /* Step 300 ticks, reading each tick's events from the queue; a hook callback sees
     * every contact as it happens. */
    Tally tally = {0, 0, floor};
    CHECK(gelsim_event_hook_add(tally_event, &tally, 0) == GELSIM_OK);
    int queued = 0, bodyOnFloor = 0;
    for (int tick = 0; tick < 300; ++tick) {
        CHECK(gelsim_PhysicsUpdate() == GELSIM_OK);
        for (GelsimColEvent* e; (e = gelsim_ColEventPoll()) != NULL;) {
            ++queued;
            GelsimMass* m = gelsim_ColEventGetMass1(e);
            if (gelsim_ColEventGetZone(e) == floor && gelsim_MassGetAdvBody(m) == body) {
                ++bodyOnFloor;
                CHECK(gelsim_ColEventGetID(e) == GELSIM_EVENT_ZONE);
                CHECK(gelsim_ColEventGetForce(e) >= 0);
                CHECK(fabsf(gelsim_ColEventGetY(e) - 400.0f) < 10.0f);
            }
        }
    }
    CHECK(gelsim_event_hook_remove(tally_event, &tally) == 1);
    CHECK(gelsim_event_hook_remove(tally_event, &tally) == 0);
    CHECK(bodyOnFloor > 0);
    CHECK(tally.withFloor > 0);
    CHECK(tally.calls >= queued);  /* the queue keeps one event per pair and tick */
    const int callsBefore = tally.calls;
    CHECK(gelsim_PhysicsUpdate() == GELSIM_OK);
    CHECK(tally.calls == callsBefore);  /* removed: not called again */

    /* The body came to rest on the floor, in one piece. */
    float x = 0, y = 0;
    CHECK(gelsim_AdvBodyGetPosition(body, &x, &y) == GELSIM_OK);
    CHECK(y > 300.0f && y < 400.0f);
    for (int i = 0; i < 9; ++i) {
        const float my = gelsim_AdvBodyMassGetY(body, i);
        CHECK(my > 320.0f && my < 400.0f);
    }
    CHECK(gelsim_AdvBodyMassGetY(body, 0) < gelsim_AdvBodyMassGetY(body, 8));
    /* A picture of the scene at rest: its size first, then the PNG itself, then a file. */
    const size_t pngSize = gelsim_picture_png(320, 240, NULL, 0);
    CHECK(pngSize > 8);
    unsigned char* png = malloc(pngSize);
    CHECK(png != NULL && gelsim_picture_png(320, 240, png, pngSize) == pngSize);
    CHECK(png != NULL && memcmp(png, "\x89PNG\r\n\x1a\n", 8) == 0);
    free(png);
    CHECK(gelsim_picture_save(picturePath, strlen(picturePath), 320, 240) == GELSIM_OK);
    CHECK(gelsim_picture_png(0, 240, NULL, 0) == 0 && gelsim_last_error() != NULL);

    /* Its masses touch the floor now: the pending events between them, as a list. */
    GelsimList* touching = gelsim_AdvBodyCollideZone(body, floor);
    CHECK(touching != NULL && gelsim_list_count(touching) > 0);
    GelsimObject* items[16];
    const size_t count = gelsim_list_items(touching, items, 16);
    CHECK(count == (size_t)gelsim_list_count(touching));
    for (size_t i = 0; i < count && i < 16; ++i) CHECK(gelsim_object_as_colevent(items[i]) != NULL);
    gelsim_list_release(touching);

    /* Save and load: the copy has the same masses at the same places and the same name. */
    CHECK(gelsim_AdvBodySave(body, bodyPath, strlen(bodyPath)) == GELSIM_OK);
    CHECK(gelsim_last_error() == NULL);
    GelsimAdvBody* loaded = gelsim_AdvBodyLoad(bodyPath, strlen(bodyPath), 0);
    CHECK(loaded != NULL);
    if (loaded) {
        CHECK(gelsim_AdvBodyMassMaxIndex(loaded) == gelsim_AdvBodyMassMaxIndex(body));
        CHECK(gelsim_AdvBodyConMaxIndex(loaded) == gelsim_AdvBodyConMaxIndex(body));
        for (int i = 0; i < 9; ++i) {
            CHECK(gelsim_AdvBodyMassGetX(loaded, i) == gelsim_AdvBodyMassGetX(body, i));
            CHECK(gelsim_AdvBodyMassGetY(loaded, i) == gelsim_AdvBodyMassGetY(body, i));
        }
        CHECK(gelsim_BodyGetName(gelsim_advbody_body(loaded), name, sizeof name) == 5 && strcmp(name, "slime") == 0);
        CHECK(gelsim_object_refcount(gelsim_advbody_object(loaded)) >= 1);
        gelsim_advbody_release(loaded);
    }

    /* Errors come back as codes, with the message beside them. */
    CHECK(copy_damaged(bodyPath, damagedPath));
    CHECK(gelsim_AdvBodyLoad(damagedPath, strlen(damagedPath), 0) == NULL);
    const char* message = gelsim_last_error();
    CHECK(message != NULL && message[0] != '\0');
    if (message) printf("damaged file: %s\n", message);
    CHECK(gelsim_AdvBodySave(body, dir, strlen(dir)) == GELSIM_ERROR);  /* a directory */
    message = gelsim_last_error();
    CHECK(message != NULL && message[0] != '\0');
    if (message) printf("save onto a directory: %s\n", message);
    CHECK(gelsim_BodySetName(gelsim_advbody_body(body), NULL, 3) == GELSIM_ERROR);
    CHECK(gelsim_last_error() != NULL);
    CHECK(gelsim_AdvBodyGetX(body) > 0);
    CHECK(gelsim_last_error() == NULL);  /* a call that succeeds clears it */

    gelsim_advbody_release(body);
    gelsim_zone_release(floor);
    CHECK(gelsim_PhysicsFree() == GELSIM_OK);
    gelsim_physics_release(world);

    remove(bodyPath);
    remove(damagedPath);
    if (rmdir(dir) != 0) fprintf(stderr, "note: %s left behind\n", dir);
    if (failures) fprintf(stderr, "%d check(s) failed\n", failures);
    else printf("all checks passed\n");
    return failures ? 1 : 0;
}
