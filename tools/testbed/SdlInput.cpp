#include "tools/testbed/SdlInput.h"

#include <SDL.h>

#include <mutex>

#include "tools/testbed/Testbed.h"

namespace kin::testbed {
namespace {

std::mutex mutex;
std::vector<RawInput> pending;

int32_t MapKey(SDL_Keycode k) {
    switch (k) {
        case SDLK_LEFT: return KEY_LEFT;
        case SDLK_RIGHT: return KEY_RIGHT;
        case SDLK_UP: return KEY_UP;
        case SDLK_DOWN: return KEY_DOWN;
        case SDLK_HOME: return KEY_HOME;
        case SDLK_KP_PLUS: return '+';
        case SDLK_KP_MINUS: return '-';
        default: break;
    }
    if (k > 0 && k < 128) return (k >= 'A' && k <= 'Z') ? k - 'A' + 'a' : static_cast<int32_t>(k);
    return 0;
}

// Runs in the thread that queues the event: keys and wheel come from the main thread's
// pump, timer ticks from the timer thread (ignored here).
int Watch(void*, SDL_Event* e) {
    RawInput in;
    if (e->type == SDL_KEYDOWN) {
        in.key = MapKey(e->key.keysym.sym);
        if (!in.key) return 0;
    } else if (e->type == SDL_MOUSEWHEEL) {
        in.wheel = e->wheel.preciseY;
        if (e->wheel.direction == SDL_MOUSEWHEEL_FLIPPED) in.wheel = -in.wheel;
        if (in.wheel == 0.0f) return 0;
    } else {
        return 0;
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (pending.size() < 256) pending.push_back(in);
    return 0;
}

}  // namespace

void StartSdlInput() { SDL_AddEventWatch(Watch, nullptr); }
void StopSdlInput() { SDL_DelEventWatch(Watch, nullptr); }

std::vector<RawInput> TakeSdlInput() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<RawInput> out;
    out.swap(pending);
    return out;
}

}  // namespace kin::testbed
