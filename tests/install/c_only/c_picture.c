/* Pictures from C: the C interface and the picture library, linked statically. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "gelsim.h"
#include "gelsim_picture.h"

int main(void) {
    if (!gelsim_PhysicsCreate(100, 100, 0.1f, 0, 1)) return 1;
    if (!gelsim_MassCreate(50, 50, 1, 5, 0.5f, -1)) return 1;
    const size_t size = gelsim_picture_png(32, 24, NULL, 0);
    unsigned char* png = size > 8 ? malloc(size) : NULL;
    const int ok = png && gelsim_picture_png(32, 24, png, size) == size && memcmp(png, "\x89PNG", 4) == 0;
    free(png);
    printf("picture: %zu bytes %s\n", size, ok ? "ok" : "WRONG");
    return ok ? 0 : 1;
}
