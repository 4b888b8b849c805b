#include "platform/Event.h"

#include "platform/Hook.h"
#include "platform/detail/ServiceState.h"

namespace kin {
namespace {

constexpr int32_t QUEUE_PRIORITY = -10000;

struct EventQueue {
    Ref<TEvent> ring[EVENT_QUEUE_SIZE];
    int32_t head = 0;   // oldest waiting event
    int32_t count = 0;
    Ref<TEvent> current;

    TEvent* At(int32_t i) { return ring[(head + i) % EVENT_QUEUE_SIZE].Get(); }
};

EventQueue& Queue() {
    static EventQueue q;
    return q;
}

int32_t g_emitHook = 0;

// Events that report a state rather than an occurrence: only the latest matters, so a
// waiting one is refreshed instead of queueing another.
bool Overwrites(int32_t id) {
    return id == EVENT_TIMERTICK || id == EVENT_GADGETACTION || id == EVENT_WINDOWMOVE ||
           id == EVENT_WINDOWSIZE;
}

void Enqueue(TEvent* ev) {
    EventQueue& q = Queue();
    if (Overwrites(ev->id)) {
        for (int32_t i = 0; i < q.count; ++i) {
            TEvent* w = q.At(i);
            if (w->id == ev->id && w->source.Get() == ev->source.Get()) {
                if (w != ev) {
                    w->data = ev->data;
                    w->mods = ev->mods;
                    w->x = ev->x;
                    w->y = ev->y;
                    w->extra = ev->extra;
                }
                return;
            }
        }
    }
    if (q.count == EVENT_QUEUE_SIZE) return;  // full: the new event is dropped
    q.ring[(q.head + q.count) % EVENT_QUEUE_SIZE] = ev;
    ++q.count;
}

// Last callback of the emit hook: queues whatever the earlier callbacks passed on.
Ref<TObject> QueueEvent(int32_t, TObject* data, TObject*) {
    if (TEvent* ev = As<TEvent>(data)) Enqueue(ev);
    return Ref<TObject>(data);
}

Ref<TEvent> Pop() {
    EventQueue& q = Queue();
    if (q.count == 0) return nullptr;
    Ref<TEvent> ev = std::move(q.ring[q.head]);
    q.head = (q.head + 1) % EVENT_QUEUE_SIZE;
    --q.count;
    return ev;
}

// Brings in what the backend has waiting without blocking.
void Pump() {
    if (detail::WindowBackendActive())
        detail::PumpSdlEvents(false);
    else
        detail::EmitPendingPaints();
}

}  // namespace

Ref<TEvent> TEvent::Create(int32_t id, TObject* source, int32_t data, int32_t mods, int32_t x, int32_t y,
                           TObject* extra) {
    Ref<TEvent> ev = MakeRef<TEvent>();
    ev->id = id;
    ev->source = source;
    ev->data = data;
    ev->mods = mods;
    ev->x = x;
    ev->y = y;
    ev->extra = extra;
    return ev;
}

namespace detail {

void InstallEmitHook() {
    if (g_emitHook != 0) return;
    g_emitHook = AllocHookId();
    AddHook(g_emitHook, &TrackInput, nullptr, 0);
    AddHook(g_emitHook, &QueueEvent, nullptr, QUEUE_PRIORITY);
}

void RemoveEmitHook() {
    if (g_emitHook == 0) return;
    // Program callbacks stay on the old chain, which is never run again.
    RemoveHook(g_emitHook, &TrackInput, nullptr);
    RemoveHook(g_emitHook, &QueueEvent, nullptr);
    g_emitHook = 0;
}

void ResetEventQueue() {
    FlushEvents();
    Queue().current = nullptr;
}

}  // namespace detail

int32_t EmitEventHook() {
    detail::InstallEmitHook();
    return g_emitHook;
}

void EmitEvent(TEvent* event) {
    if (!event) return;
    RunHooks(EmitEventHook(), event);
}

Ref<TEvent> WaitEvent() {
    EventQueue& q = Queue();
    if (detail::WindowBackendActive()) {
        // Only the first pass may find the queue filled by an earlier pump; after that each
        // pass blocks in SDL until something arrives, so this never spins.
        detail::PumpSdlEvents(false);
        // A callback may shut the services down while events are pumped: stop then.
        while (q.count == 0 && detail::WindowBackendActive()) {
            if (!detail::PumpSdlEvents(true)) break;
        }
    } else {
        detail::EmitPendingPaints();
    }
    q.current = Pop();
    return q.current;
}

Ref<TEvent> PollEvent() {
    Pump();
    EventQueue& q = Queue();
    q.current = Pop();
    return q.current;
}

TEvent* PeekEvent() {
    Pump();
    EventQueue& q = Queue();
    return q.count ? q.At(0) : nullptr;
}

TEvent* CurrentEvent() { return Queue().current.Get(); }

int32_t QueuedEventCount() { return Queue().count; }

void FlushEvents() {
    EventQueue& q = Queue();
    while (q.count > 0) {
        q.ring[q.head] = nullptr;
        q.head = (q.head + 1) % EVENT_QUEUE_SIZE;
        --q.count;
    }
    q.head = 0;
}

}  // namespace kin
