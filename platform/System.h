#pragma once
// Start and end of the platform services, and the choice of backend.
#include <cstdint>
#include <string>

namespace kin {

enum class Backend {
    Window,    // a real window with an accelerated renderer (software fallback), real timer and sound
    Headless,  // in-memory canvases, synthetic events, hand-driven timers, silent sound
};

/// Starts the services. Window: fails (false, with a reason in *error) when no display is
/// available. Sound falls back to silence without an audio device.
bool InitServices(Backend backend, std::string* error = nullptr);
/// The backend in use.
Backend CurrentBackend();
/// Closes graphics, sound and windows. Safe to call twice.
void EndGraphics();
void ShutdownServices();
/// Milliseconds since the services started.
int64_t Millisecs();

}  // namespace kin
