#pragma once
// Internal to the platform layer: how windows obtain their drawing context.
#include "platform/Graphics.h"

struct SDL_Window;

namespace kin::detail {

/// A drawing context on a window: accelerated renderer with vsync, falling back to the
/// software renderer. Follows the window's size through TGraphics::Resize.
Ref<TGraphics> CreateWindowGraphics(SDL_Window* window);

}  // namespace kin::detail
