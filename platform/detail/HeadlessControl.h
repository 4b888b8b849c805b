#pragma once
// Internal to the platform layer and its tests: what a user would do to a headless
// window, turned into the events the window backend would deliver. Everything goes
// through the emit hook, exactly like events translated from the window system.
#include <cstdint>

#include "platform/Window.h"

namespace kin::detail {

/// The virtual desktop that headless windows are centred on, pixels.
constexpr int32_t HEADLESS_DESKTOP_W = 1920;
constexpr int32_t HEADLESS_DESKTOP_H = 1080;

/// Gives a window a new client size (at least 1 x 1): canvases follow their layout and
/// their graphics are resized, then "WindowSize" is emitted (x, y = client size).
void HeadlessResize(TGadget* window, int32_t clientW, int32_t clientH);
/// The user closes the window: emits "WindowClose" (source = window).
void HeadlessClose(TGadget* window);
/// Pointer moves to pixel (x, y) of gadget (a canvas or window): emits "MouseMove".
void HeadlessMouseMove(TGadget* gadget, int32_t x, int32_t y);
/// Button (1 left, 2 right, 3 middle) pressed (down) or released at pixel (x, y) of
/// gadget: emits "MouseDown" or "MouseUp" with data = button.
void HeadlessMouseButton(TGadget* gadget, int32_t button, bool down, int32_t x, int32_t y);
/// Key pressed in the window: emits "KeyDown" with data = key (KEY_* or ASCII), mods.
void HeadlessKey(TGadget* window, int32_t key, int32_t mods = 0);
/// Wheel turned by notches (positive away from the user) with the pointer at pixel (x, y)
/// of gadget: emits "MouseWheel".
void HeadlessWheel(TGadget* gadget, int32_t notches, int32_t x, int32_t y);
/// Delivers what is waiting (repaints asked for with Activate 13 arrive as "GadgetPaint").
/// WaitEvent, PollEvent and PeekEvent do this by themselves.
void HeadlessPump();

}  // namespace kin::detail
