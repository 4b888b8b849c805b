#include "platform/detail/HeadlessControl.h"

#include <algorithm>

#include "platform/Event.h"
#include "platform/detail/ServiceState.h"

namespace kin::detail {

void HeadlessResize(TGadget* window, int32_t clientW, int32_t clientH) {
    if (auto* w = As<TWindowGadget>(window)) w->ClientResized(std::max(clientW, 1), std::max(clientH, 1));
}

void HeadlessClose(TGadget* window) {
    if (auto* w = As<TWindowGadget>(window)) w->RequestClose();
}

void HeadlessMouseMove(TGadget* gadget, int32_t x, int32_t y) {
    EmitEvent(TEvent::Create(EVENT_MOUSEMOVE, gadget, 0, 0, x, y));
}

void HeadlessMouseButton(TGadget* gadget, int32_t button, bool down, int32_t x, int32_t y) {
    EmitEvent(TEvent::Create(down ? EVENT_MOUSEDOWN : EVENT_MOUSEUP, gadget, button, 0, x, y));
}

void HeadlessKey(TGadget* window, int32_t key, int32_t mods) {
    EmitEvent(TEvent::Create(EVENT_KEYDOWN, window, key, mods));
}

void HeadlessWheel(TGadget* gadget, int32_t notches, int32_t x, int32_t y) {
    EmitEvent(TEvent::Create(EVENT_MOUSEWHEEL, gadget, notches, 0, x, y));
}

void HeadlessPump() { EmitPendingPaints(); }

}  // namespace kin::detail
