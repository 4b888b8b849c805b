#pragma once
// Periodic timers. Each tick increments the tick count and emits one "TimerTick" event
// (source = the timer, data = the tick count) on the main thread; ticks never flood the
// event queue (a waiting tick event is overwritten).
#include <cstdint>

#include "platform/Object.h"

namespace kin {

class TTimer : public TObject {
public:
    /// A timer ticking every Int(1000 / hertz) milliseconds (at least 1); null when hertz
    /// is not a positive finite number. Window backend: ticks come from a timer thread.
    static Ref<TTimer> Create(float hertz);
    ~TTimer() override;
    /// Ticks so far (safe to read at any time on the main thread).
    int32_t Ticks() const;
    /// Stops the timer.
    void Stop();
    /// Headless backend: one tick by hand (the count rises and "TimerTick" is emitted).
    void Tick();

    struct Impl;
    Impl* impl = nullptr;
};

}  // namespace kin
