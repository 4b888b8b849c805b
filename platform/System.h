#pragma once
// Start and end of the platform services, and the choice of backend.
#include <cstdint>
#include <string>

namespace kin {

enum class Backend {
    Window,    // a real window with an accelerated renderer (software fallback), real timer and sound
    Headless,  // in-memory canvases, synthetic events, hand-driven timers, silent sound
};

/// Starts the services. Window: fails (false, with a one-line reason in *error) when no
/// display is available; a display-less video driver is used only when named in
/// SDL_VIDEODRIVER. Sound falls back to silence (one warning line) without an audio
/// device. Running already: true for the same backend, false for the other.
bool InitServices(Backend backend, std::string* error = nullptr);
/// The backend in use.
Backend CurrentBackend();
/// Closes the drawing contexts, then every window and canvas.
void EndGraphics();
/// Closes graphics, timers, the event queue and sound. Safe to call twice.
void ShutdownServices();
/// Milliseconds since the services started.
int64_t Millisecs();

}  // namespace kin
