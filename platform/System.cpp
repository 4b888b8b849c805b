#include "platform/System.h"

#include <SDL.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "platform/Graphics.h"
#include "platform/detail/ServiceState.h"

namespace kin {
namespace {

struct SystemState {
    bool running = false;
    Backend backend = Backend::Headless;
    uint32_t userEventType = 0;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

SystemState g_system;

bool Fail(std::string* error, const std::string& reason) {
    if (error) *error = reason;
    return false;
}

}  // namespace

namespace detail {

QuietStderr::QuietStderr() {
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) close(null);
}

QuietStderr::~QuietStderr() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
}

bool ServicesRunning() { return g_system.running; }
bool WindowBackendActive() { return g_system.running && g_system.backend == Backend::Window; }

namespace {
void ShowSdlPointer(bool visible) {
    if (WindowBackendActive()) SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
}
}  // namespace
uint32_t UserEventType() { return g_system.userEventType; }

}  // namespace detail

bool InitServices(Backend backend, std::string* error) {
    if (g_system.running) {
        if (backend == g_system.backend) return true;
        return Fail(error, "the services are already running on the other backend");
    }
    if (backend == Backend::Window) {
        int failed;
        {
            detail::QuietStderr quiet;
            failed = SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER | SDL_INIT_EVENTS);
        }
        if (failed != 0) {
            const std::string reason = std::string("cannot open a window: no display available (") + SDL_GetError() + ")";
            SDL_Quit();
            return Fail(error, reason);
        }
        // With no display SDL quietly settles on a driver that draws nowhere. That is only
        // wanted when asked for by name (tests, recordings); otherwise there is no window.
        const char* driver = SDL_GetCurrentVideoDriver();
        const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
        if (driver && (!asked || !*asked) &&
            (SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0)) {
            SDL_Quit();
            return Fail(error, "cannot open a window: no display available (is DISPLAY or WAYLAND_DISPLAY set?)");
        }
        const Uint32 type = SDL_RegisterEvents(1);
        if (type == static_cast<Uint32>(-1)) {
            const std::string reason = std::string("cannot register the window events: ") + SDL_GetError();
            SDL_Quit();
            return Fail(error, reason);
        }
        g_system.userEventType = type;
    } else {
        g_system.userEventType = 0;
    }
    g_system.backend = backend;
    g_system.running = true;
    g_system.start = std::chrono::steady_clock::now();
    detail::ResetInput();
    detail::SetShowPointer(&detail::ShowSdlPointer);
    detail::ResetEventQueue();
    detail::InstallEmitHook();
    detail::OpenSound(backend == Backend::Window);
    return true;
}

Backend CurrentBackend() { return g_system.backend; }

void EndGraphics() {
    // Drawing contexts go before the windows whose renderers they use.
    SetGraphics(nullptr);
    detail::FreeAllWindows();
}

void ShutdownServices() {
    if (!g_system.running) return;
    EndGraphics();
    detail::StopAllTimers();
    detail::ResetEventQueue();
    detail::CloseSound();
    detail::RemoveEmitHook();
    detail::ResetInput();
    const bool sdl = g_system.backend == Backend::Window;
    g_system.running = false;
    g_system.userEventType = 0;
    if (sdl) SDL_Quit();
}

int64_t Millisecs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - g_system.start)
        .count();
}

}  // namespace kin
