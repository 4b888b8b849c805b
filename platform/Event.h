#pragma once
// Events, the emit hook and the event queue.
//
// Emitting an event runs the emit hook: first the input tracker (priority 0, keeps the
// pointer and buttons for the input functions), then the program's callbacks (priority 0,
// added later, so after it), last the queue (priority -10000), which receives whatever
// the earlier callbacks returned. The queue is a ring of 256 events; when full, a new
// event is dropped. A "TimerTick", "GadgetAction", "WindowMove" or "WindowSize" event
// whose id and source equal those of an event still waiting overwrites that event's
// data, mods, x, y and extra instead of being added.
//
// Fields by id: "MouseDown"/"MouseUp" data = button (1 left, 2 right, 3 middle), x, y =
// pixels of the source gadget (the canvas under the pointer), mods = shift 1, ctrl 2,
// alt 4, system 8; "MouseMove" x, y likewise; "MouseWheel" data = notches (positive away
// from the user), x, y = pointer position in pixels of the source gadget, mods as above;
// "KeyDown" source = window, data = key code (KEY_* below), mods as above; "TimerTick" source = timer, data = tick
// count; "GadgetPaint" source = canvas; "WindowSize" source = window, x, y = new client
// width and height; "WindowMove" x, y = new outer position; "WindowClose" source = window.
#include <cstdint>

#include "platform/Object.h"

namespace kin {

enum : int32_t {
    EVENT_KEYDOWN = 0x101,
    EVENT_MOUSEDOWN = 0x401,
    EVENT_MOUSEUP = 0x402,
    EVENT_MOUSEMOVE = 0x403,
    EVENT_MOUSEWHEEL = 0x404,
    EVENT_TIMERTICK = 0x801,
    EVENT_GADGETACTION = 0x2001,
    EVENT_GADGETPAINT = 0x2002,
    EVENT_WINDOWMOVE = 0x4001,
    EVENT_WINDOWSIZE = 0x4002,
    EVENT_WINDOWCLOSE = 0x4003,
};

/// Key codes of "KeyDown": printable keys as their ASCII code, letters lower-case (the
/// keypad's + and - as '+' and '-'), Backspace 8, Tab 9, Return 13, Escape 27, Space 32,
/// Delete 127, and the keys below. Keys outside this set are not reported.
enum : int32_t {
    KEY_BACKSPACE = 8,
    KEY_TAB = 9,
    KEY_RETURN = 13,
    KEY_ESCAPE = 27,
    KEY_SPACE = 32,
    KEY_DELETE = 127,
    KEY_LEFT = 0x110,
    KEY_RIGHT,
    KEY_UP,
    KEY_DOWN,
    KEY_HOME,
    KEY_END,
    KEY_PAGEUP,
    KEY_PAGEDOWN,
};

constexpr int32_t EVENT_QUEUE_SIZE = 256;

class TEvent : public TObject {
public:
    int32_t id = 0;
    Ref<TObject> source;
    int32_t data = 0;
    int32_t mods = 0;
    int32_t x = 0;
    int32_t y = 0;
    Ref<TObject> extra;

    /// A new event with the given fields.
    static Ref<TEvent> Create(int32_t id, TObject* source, int32_t data = 0, int32_t mods = 0,
                              int32_t x = 0, int32_t y = 0, TObject* extra = nullptr);
};

/// The emit hook's id.
int32_t EmitEventHook();
/// Runs the emit hook over the event (which usually ends in the queue).
void EmitEvent(TEvent* event);
/// Blocks until the queue holds an event, then pops the oldest. On the window backend
/// this pumps the window system; on the headless backend an empty queue returns null.
Ref<TEvent> WaitEvent();
/// Pops the oldest queued event without waiting, or null.
Ref<TEvent> PollEvent();
/// The oldest queued event, left in place, or null.
TEvent* PeekEvent();
/// The event last popped by WaitEvent/PollEvent.
TEvent* CurrentEvent();
/// Number of events waiting.
int32_t QueuedEventCount();
/// Empties the queue.
void FlushEvents();

}  // namespace kin
