#pragma once
// Internal to the platform services: what events, windows, timers, sound, input and
// start-up share. Nothing outside platform/ includes this.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "platform/Graphics.h"
#include "platform/Window.h"

struct SDL_Window;
union SDL_Event;

namespace kin::detail {

// --- start-up (System.cpp) ---
/// While alive, the process's standard error goes nowhere: the libraries under the
/// window system and the sound output print their own complaints while probing for a
/// display or a device, and the services report each failure in one line of their own.
class QuietStderr {
public:
    QuietStderr();
    ~QuietStderr();
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_ = -1;
};

/// True between InitServices and ShutdownServices.
bool ServicesRunning();
/// True while running on the window backend (SDL video, timer and events initialised).
bool WindowBackendActive();
/// The SDL event type carrying timer ticks and repaint requests (window backend).
uint32_t UserEventType();
/// Codes of the user event.
enum : int32_t { USER_TIMER_TICK = 1, USER_REPAINT = 2 };

// --- events (Event.cpp) ---
/// Allocates the emit hook (if needed) with the input tracker and the queue.
void InstallEmitHook();
/// Takes the tracker and the queue off the emit hook; the next use allocates a fresh one.
void RemoveEmitHook();
/// Empties the queue and forgets the current event.
void ResetEventQueue();

// --- input (Input.cpp) ---
/// The emit hook's input tracker (priority 0): keeps pointer and buttons up to date.
Ref<TObject> TrackInput(int32_t hookId, TObject* data, TObject* context);
/// Pointer at (0, 0), no button held or hit, pointer shown.
void ResetInput();
/// Tells the window system to show or hide its pointer.
using ShowPointer = void (*)(bool visible);
/// Registers how the pointer's visibility reaches the window system (start-up); null: it
/// is only remembered.
void SetShowPointer(ShowPointer show);

// --- windows and canvases (Window.cpp) ---
class TCanvasGadget;

class TWindowGadget final : public TGadget {
public:
    ~TWindowGadget() override;
    int32_t X() const override { return x; }
    int32_t Y() const override { return y; }
    int32_t Width() const override { return w; }
    int32_t Height() const override { return h; }
    int32_t ClientWidth() const override { return clientW; }
    int32_t ClientHeight() const override { return clientH; }
    void SetLayout(int32_t, int32_t, int32_t, int32_t) override {}
    void Activate(int32_t command) override;
    std::string Title() const override { return title; }

    /// The client area became cw x ch: canvases follow their layout, their graphics are
    /// resized, then "WindowSize" is emitted (x, y = new client width and height).
    void ClientResized(int32_t cw, int32_t ch);
    /// The window moved (outer position): "WindowMove" (x, y = outer position).
    void Moved(int32_t outerX, int32_t outerY);
    /// Emits "WindowClose" (source = this window).
    void RequestClose();
    /// Closes the window and its canvases (graphics first).
    void Free();

    uint32_t id = 0;  // registry id (repaint requests carry it)
    std::string title;
    int32_t style = 0;
    int32_t x = 0, y = 0, w = 0, h = 0;  // outer frame
    int32_t clientW = 0, clientH = 0;
    int32_t borderL = 0, borderT = 0, borderR = 0, borderB = 0;
    SDL_Window* sdl = nullptr;          // window backend only
    Ref<TGraphics> graphics;            // window backend: one renderer shared by its canvases
    std::vector<TCanvasGadget*> canvases;  // borrowed; each canvas unlinks itself
    bool maximized = false;
    bool closeRequested = false;  // a close was seen (SDL_QUIT then adds no second one)
    bool freed = false;
};

class TCanvasGadget final : public TGadget {
public:
    ~TCanvasGadget() override;
    int32_t X() const override { return x; }
    int32_t Y() const override { return y; }
    int32_t Width() const override { return w; }
    int32_t Height() const override { return h; }
    int32_t ClientWidth() const override { return w; }
    int32_t ClientHeight() const override { return h; }
    void SetLayout(int32_t left, int32_t right, int32_t top, int32_t bottom) override;
    void Activate(int32_t command) override;

    /// Follows the parent's new client size according to the layout locks.
    void FollowParent(int32_t parentW, int32_t parentH);
    /// Drops the graphics and unlinks from the window.
    void Free();

    uint32_t id = 0;
    Ref<TWindowGadget> window;  // keeps the window alive while the canvas lives
    int32_t x = 0, y = 0, w = 0, h = 0;  // within the window's client area
    // Layout: locked edges and the distances/sizes recorded when the layout was set.
    bool lockL = true, lockR = false, lockT = true, lockB = false;
    int32_t layoutParentW = 0, layoutParentH = 0, layoutX = 0, layoutY = 0, layoutW = 0, layoutH = 0;
    Ref<TGraphics> graphics;
    bool paintPending = false;
    bool freed = false;
};

/// The live gadget with this registry id, or null.
TGadget* FindGadget(uint32_t id);
/// The live window with this SDL window id, or null.
TWindowGadget* FindSdlWindow(uint32_t sdlWindowId);
/// Every live window (borrowed).
const std::vector<TWindowGadget*>& LiveWindows();
/// Frees every window (graphics first).
void FreeAllWindows();
/// Headless: emits the repaints requested with Activate(13) since the last pump.
void EmitPendingPaints();
/// Forgets pending repaint requests.
void ClearPendingPaints();

// --- SDL event translation (SdlEvents.cpp) ---
/// Translates one SDL event into TEvents and emits them.
void TranslateSdlEvent(const SDL_Event& e);
/// Drains SDL's queue; with wait, first blocks for one event. False when waiting failed.
bool PumpSdlEvents(bool wait);

// --- timers (Timer.cpp) ---
/// Main thread: a tick pushed by the timer thread is delivered ("TimerTick").
void DeliverTimerTick(uint32_t timerId);
/// Stops every running timer (before SDL shuts down).
void StopAllTimers();

// --- sound (Sound.cpp) ---
/// Opens audio: with device, the real output (falling back to silence after one warning
/// line); without, silent from the start.
void OpenSound(bool device);
/// Stops every channel and releases mixer data; later plays are silent.
void CloseSound();

}  // namespace kin::detail
