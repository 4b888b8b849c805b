/*
 * gelsim_picture.h: pictures of the current world from C, drawn by the headless software
 * renderer and encoded as PNG. A separate library (gelsim_c_picture) from the simulation's
 * C interface, because drawing needs the window system's libraries and simulating does not.
 * Errors follow gelsim.h: the message is available from gelsim_last_error().
 */
#ifndef GELSIM_PICTURE_H
#define GELSIM_PICTURE_H

#include <stddef.h>
#include <stdint.h>

#include "gelsim.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Draws the current world (zones, rigs, constraints, masses), framed to show everything, into
 *  a width x height picture (1..16384 pixels per side) and writes the PNG into buf (nothing
 *  written when buf_size is too small). Returns the PNG's full size in bytes, so a first call
 *  with a NULL buffer gives the size; 0 when there is no world or drawing failed. */
GELSIM_API size_t gelsim_picture_png(int32_t width, int32_t height, void* buf, size_t buf_size) GELSIM_NOEXCEPT;

/** The same picture written to the file at path (pointer, length), replacing it only once
 *  the new one is complete. GELSIM_OK, or GELSIM_ERROR with the message set. */
GELSIM_API int32_t gelsim_picture_save(const char* path, size_t path_len, int32_t width, int32_t height) GELSIM_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* GELSIM_PICTURE_H */
