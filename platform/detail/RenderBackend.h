#pragma once
// Internal to the platform layer: how windows obtain their drawing context, and how images
// hand their renderer-side textures back. The image and drawing front end carry no window
// system of their own: a backend registers its texture cleanup when it makes its first
// context, and without a backend there is no context, so drawing does nothing.
#include "platform/Graphics.h"

struct SDL_Window;

namespace kin::detail {

/// A drawing context on a window: accelerated renderer with vsync, falling back to the
/// software renderer. Follows the window's size through TGraphics::Resize. Null when no
/// renderer can be made for the window. The window must outlive the context.
Ref<TGraphics> CreateWindowGraphics(SDL_Window* window);

/// Headless contexts clear, draw slanted triangles (textured and blended with opaque white,
/// or of one colour) and copy upright images in opaque white straight onto their surface
/// with the software renderer's own arithmetic; off, all of it goes through the renderer
/// (tests compare the two). On by default.
void SetDirectTriangles(TGraphics* g, bool on);

/// Frees every texture any context made for image and forgets the image's cache (called
/// when the image dies or its pixels changed).
void ReleaseImageCache(TImage* image);

/// What TImage calls to drop its textures (when it dies or its pixels change).
using ImageCacheRelease = void (*)(TImage* image);
/// Registers the backend's texture cleanup; images that never reached a backend have no
/// cache and need none.
void SetImageCacheRelease(ImageCacheRelease release);

}  // namespace kin::detail
