// Periodic timers.
//
// Window backend: an SDL timer runs on SDL's timer thread. There it only counts ticks
// (atomically) and posts one user event when none is waiting; the main thread clears the
// flag and emits "TimerTick" when it pumps that event, so a slow main loop sees one
// event carrying the latest count rather than a backlog. Headless: Tick() by hand.
//
// The timer thread reaches a timer through its id in a registry guarded by a mutex, so a
// timer stopped or destroyed on the main thread can never be touched afterwards by a
// callback that was already under way.
#include "platform/Timer.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <vector>

#include "platform/Event.h"
#include "platform/detail/ServiceState.h"

namespace kin {

struct TTimer::Impl {
    TTimer* owner = nullptr;
    uint32_t id = 0;
    uint32_t periodMs = 16;
    std::atomic<int32_t> ticks{0};
    std::atomic<bool> pending{false};  // a tick event is waiting in SDL's queue
    SDL_TimerID sdlTimer = 0;
    // Timer thread only: schedule measured from the start so the rate does not drift.
    uint64_t startMs = 0;
    uint64_t fired = 0;
};

namespace {

std::mutex g_timerMutex;
std::vector<TTimer::Impl*> g_timers;  // guarded by g_timerMutex for writes and the timer thread
uint32_t g_nextTimerId = 1;

TTimer::Impl* FindTimer(uint32_t id) {
    for (TTimer::Impl* t : g_timers)
        if (t->id == id) return t;
    return nullptr;
}

// Fired ticks run "fired" periods from the start; a late callback is answered with a
// shorter delay. After a long stall (the machine slept) the schedule restarts instead
// of firing a burst of catch-up ticks.
Uint32 NextDelay(TTimer::Impl* t) {
    const uint64_t now = SDL_GetTicks64();
    uint64_t due = t->startMs + (t->fired + 1) * t->periodMs;
    if (now > due + 4ull * t->periodMs) {
        t->startMs = now - t->fired * t->periodMs;
        due = now + t->periodMs;
    }
    return due > now ? static_cast<Uint32>(due - now) : 1u;
}

Uint32 TimerThreadTick(Uint32, void* param) {
    std::lock_guard<std::mutex> lock(g_timerMutex);
    TTimer::Impl* t = FindTimer(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(param)));
    if (!t) return 0;  // stopped meanwhile: end this SDL timer
    ++t->fired;
    t->ticks.fetch_add(1, std::memory_order_relaxed);
    if (!t->pending.exchange(true)) {
        SDL_Event e{};
        e.type = detail::UserEventType();
        e.user.code = detail::USER_TIMER_TICK;
        e.user.data1 = param;
        if (SDL_PushEvent(&e) <= 0) t->pending.store(false);
    }
    return NextDelay(t);
}

void StopImpl(TTimer::Impl* t) {
    SDL_TimerID sdlTimer = 0;
    {
        std::lock_guard<std::mutex> lock(g_timerMutex);
        auto it = std::find(g_timers.begin(), g_timers.end(), t);
        if (it != g_timers.end()) g_timers.erase(it);
        sdlTimer = t->sdlTimer;
        t->sdlTimer = 0;
    }
    if (sdlTimer) SDL_RemoveTimer(sdlTimer);
}

}  // namespace

Ref<TTimer> TTimer::Create(float hertz) {
    if (!(hertz > 0.0f) || !std::isfinite(hertz)) return nullptr;
    Ref<TTimer> timer = MakeRef<TTimer>();
    Impl* t = new Impl;
    timer->impl = t;
    t->owner = timer.Get();
    // Whole milliseconds, truncated; at least one.
    const float period = std::floor(1000.0f / hertz);
    t->periodMs = period >= 1.0f ? static_cast<uint32_t>(std::min(period, 1.0e9f)) : 1u;
    {
        std::lock_guard<std::mutex> lock(g_timerMutex);
        t->id = g_nextTimerId++;
        g_timers.push_back(t);
    }
    if (detail::WindowBackendActive()) {
        std::lock_guard<std::mutex> lock(g_timerMutex);
        t->startMs = SDL_GetTicks64();
        t->sdlTimer = SDL_AddTimer(t->periodMs, &TimerThreadTick, reinterpret_cast<void*>(static_cast<uintptr_t>(t->id)));
    }
    return timer;
}

TTimer::~TTimer() {
    if (impl) {
        StopImpl(impl);
        delete impl;
        impl = nullptr;
    }
}

int32_t TTimer::Ticks() const { return impl ? impl->ticks.load(std::memory_order_relaxed) : 0; }

void TTimer::Stop() {
    if (impl) StopImpl(impl);
}

void TTimer::Tick() {
    if (!impl) return;
    const int32_t n = impl->ticks.fetch_add(1, std::memory_order_relaxed) + 1;
    EmitEvent(TEvent::Create(EVENT_TIMERTICK, this, n));
}

namespace detail {

void DeliverTimerTick(uint32_t timerId) {
    // Only the main thread adds or removes timers, so reading the registry here is safe.
    TTimer::Impl* t = FindTimer(timerId);
    if (!t) return;
    // Clear first: a tick that lands from now on posts a new event.
    t->pending.store(false);
    EmitEvent(TEvent::Create(EVENT_TIMERTICK, t->owner, t->ticks.load(std::memory_order_relaxed)));
}

void StopAllTimers() {
    std::vector<SDL_TimerID> ids;
    {
        std::lock_guard<std::mutex> lock(g_timerMutex);
        for (TTimer::Impl* t : g_timers) {
            if (t->sdlTimer) ids.push_back(t->sdlTimer);
            t->sdlTimer = 0;
        }
        g_timers.clear();
    }
    for (SDL_TimerID id : ids) SDL_RemoveTimer(id);
}

}  // namespace detail
}  // namespace kin
