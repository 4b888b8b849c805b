#include "platform/Input.h"

#include "platform/Event.h"
#include "platform/detail/ServiceState.h"

namespace kin {
namespace {

constexpr int32_t BUTTONS = 8;  // 1 left, 2 right, 3 middle, 4-5 extra; index 0 unused

struct InputState {
    int32_t x = 0, y = 0;
    bool down[BUTTONS] = {};
    int32_t hits[BUTTONS] = {};
    int32_t visible = 1;
};

InputState g_input;
detail::ShowPointer g_showPointer = nullptr;

bool ValidButton(int32_t b) { return b >= 1 && b < BUTTONS; }

}  // namespace

namespace detail {

Ref<TObject> TrackInput(int32_t, TObject* data, TObject*) {
    if (const TEvent* ev = As<TEvent>(data)) {
        switch (ev->id) {
            case EVENT_MOUSEMOVE:
                g_input.x = ev->x;
                g_input.y = ev->y;
                break;
            case EVENT_MOUSEDOWN:
                g_input.x = ev->x;
                g_input.y = ev->y;
                if (ValidButton(ev->data)) {
                    g_input.down[ev->data] = true;
                    ++g_input.hits[ev->data];
                }
                break;
            case EVENT_MOUSEUP:
                g_input.x = ev->x;
                g_input.y = ev->y;
                if (ValidButton(ev->data)) g_input.down[ev->data] = false;
                break;
            default:
                break;
        }
    }
    return Ref<TObject>(data);
}

void ResetInput() { g_input = InputState{}; }

void SetShowPointer(ShowPointer show) { g_showPointer = show; }

}  // namespace detail

int32_t MouseX() { return g_input.x; }
int32_t MouseY() { return g_input.y; }

bool MouseDown(int32_t button) { return ValidButton(button) && g_input.down[button]; }

int32_t MouseHit(int32_t button) {
    if (!ValidButton(button)) return 0;
    const int32_t n = g_input.hits[button];
    g_input.hits[button] = 0;
    return n;
}

void SetMouseVisible(int32_t visible) {
    const int32_t v = visible ? 1 : 0;
    // The game sets this every frame; only tell the window system about changes.
    if (v == g_input.visible) return;
    g_input.visible = v;
    if (g_showPointer) g_showPointer(v != 0);
}

int32_t MouseVisible() { return g_input.visible; }

}  // namespace kin
