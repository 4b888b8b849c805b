#pragma once
// Pointer state kept up to date by the emit hook's input tracker.
#include <cstdint>

namespace kin {

/// Pointer position in canvas pixels.
int32_t MouseX();
int32_t MouseY();
/// True while the button (1 left, 2 right, 3 middle) is held.
bool MouseDown(int32_t button);
/// Number of presses of the button since the last call.
int32_t MouseHit(int32_t button);
/// Shows (1) or hides (0) the system pointer over the window.
void SetMouseVisible(int32_t visible);
/// Whether the system pointer is shown.
int32_t MouseVisible();

}  // namespace kin
