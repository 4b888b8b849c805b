#pragma once
// Windows and canvases ("gadgets").
#include <cstdint>
#include <string>

#include "platform/Graphics.h"
#include "platform/Object.h"

namespace kin {

enum : int32_t {
    WINDOW_TITLEBAR = 0x1,
    WINDOW_RESIZABLE = 0x2,
    WINDOW_CLIENTCOORDS = 0x20,
    WINDOW_CENTER = 0x200,
};

enum : int32_t { ACTIVATE_FOCUS = 0, ACTIVATE_MAXIMIZE = 5, ACTIVATE_REDRAW = 13 };

class TGadget : public TObject {
public:
    /// Outer position and size, pixels.
    virtual int32_t X() const = 0;
    virtual int32_t Y() const = 0;
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    /// Size of the client area, pixels.
    virtual int32_t ClientWidth() const = 0;
    virtual int32_t ClientHeight() const = 0;
    /// Locks edges to the parent (1 = locked) so the gadget follows resizing.
    virtual void SetLayout(int32_t left, int32_t right, int32_t top, int32_t bottom) = 0;
    /// 0 focus, 5 maximise, 13 repaint (arrives as "GadgetPaint").
    virtual void Activate(int32_t command) = 0;
    /// The window's title (windows only; empty otherwise).
    virtual std::string Title() const { return {}; }
};

/// A top-level window; style 0x203 = title bar, resizable, centred; without 0x20 the
/// size is the outer frame size. parent is ignored. Headless windows live in memory with
/// no frame (outer = client size) and ignore focus and maximise. Null when the window
/// system refuses.
Ref<TGadget> CreateWindow(const std::string& title, int32_t x, int32_t y, int32_t w, int32_t h,
                          TGadget* parent, int32_t style);
/// A drawing canvas inside parent (a window), at client pixels (x, y); its layout starts
/// with the left and top edges locked. Window backend: the canvases of a window draw
/// through the window's one renderer. Null without a live window.
Ref<TGadget> CreateCanvas(int32_t x, int32_t y, int32_t w, int32_t h, TGadget* parent, int32_t style);
/// The canvas's drawing context (borrowed; lives as long as the canvas).
TGraphics* CanvasGraphics(TGadget* canvas);
/// Frees a window and its canvas.
void FreeGadget(TGadget* gadget);

}  // namespace kin
