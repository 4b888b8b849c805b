/* The C interface alone: a chain of masses falls onto a floor; prints where it came to
 * rest, which must not depend on how the library was linked. */
#include <stdio.h>

#include "gelsim.h"

int main(void) {
    if (!gelsim_PhysicsCreate(300, 300, 0.1f, 0, 3)) return 1;
    const float floorXY[] = {0, 250, 300, 250, 300, 280, 0, 280};
    if (!gelsim_ZoneCreate(floorXY, 8, GELSIM_ZONE_FILL, 0.5f, -1, 4)) return 1;
    GelsimAdvBody* body = gelsim_AdvBodyCreate();
    for (int i = 0; i < 6; ++i)
        if (gelsim_AdvBodyMassAdd(body, 100.0f + 11.0f * (float)i, 50.0f + 3.0f * (float)i, 1, 5, 0.3f, -1) != i) return 1;
    if (gelsim_AdvBodyConAddAll(body) != GELSIM_OK || gelsim_AdvBodyActivate(body) != GELSIM_OK) return 1;
    for (int tick = 0; tick < 300; ++tick)
        if (gelsim_PhysicsUpdate() != GELSIM_OK) return 1;
    float x = 0, y = 0;
    if (gelsim_AdvBodyGetPosition(body, &x, &y) != GELSIM_OK) return 1;
    const int ok = y > 200.0f && y < 250.0f && gelsim_last_error() == NULL;
    printf("%.4f %.4f %s\n", (double)x, (double)y, ok ? "ok" : "WRONG");
    return ok ? 0 : 1;
}
