// Windows and canvases on both backends.
//
//   registry ........ gadget ids (repaint requests carry an id, never a pointer)
//   window .......... TWindowGadget: resize, move, close, Activate, Free
//   canvas .......... TCanvasGadget: layout, Activate, Free
//   creation ........ CreateWindow (outer size, centring), CreateCanvas, FreeGadget
#include "platform/Window.h"

#include <SDL.h>

#include <algorithm>

#include "platform/detail/HeadlessControl.h"
#include "platform/detail/RenderBackend.h"
#include "platform/detail/ServiceState.h"

namespace kin {
namespace detail {
namespace {

// --- registry ---

struct Registry {
    std::vector<std::pair<uint32_t, TGadget*>> gadgets;
    std::vector<TWindowGadget*> windows;
    std::vector<Ref<TCanvasGadget>> pendingPaints;  // headless repaint requests
    uint32_t nextId = 1;
};

Registry& Reg() {
    static Registry r;
    return r;
}

uint32_t Register(TGadget* g) {
    Registry& r = Reg();
    uint32_t id = r.nextId++;
    if (id == 0) id = r.nextId++;  // 0 means "none"
    r.gadgets.emplace_back(id, g);
    return id;
}

void Unregister(uint32_t id) {
    auto& v = Reg().gadgets;
    v.erase(std::remove_if(v.begin(), v.end(), [id](const auto& e) { return e.first == id; }), v.end());
}

void ReleaseGraphics(Ref<TGraphics>& g) {
    // The current drawing context is retained by the drawing layer: let go of it first so
    // the renderer really goes with its window.
    if (g && CurrentGraphics() == g.Get()) SetGraphics(nullptr);
    g = nullptr;
}

// One axis of a canvas's layout: lo/hi tell which edges stay at their distance from the
// parent's edges; with neither, the canvas keeps its size and stays centred on the same
// relative spot.
void FollowAxis(bool lo, bool hi, int32_t parent0, int32_t pos0, int32_t size0, int32_t parent, int32_t& pos,
                int32_t& size) {
    const int32_t delta = parent - parent0;
    pos = pos0;
    size = size0;
    if (lo && hi)
        size = size0 + delta;
    else if (hi)
        pos = pos0 + delta;
    else if (!lo)
        pos = pos0 + delta / 2;
    size = std::max(size, 0);
}

}  // namespace

TGadget* FindGadget(uint32_t id) {
    for (const auto& e : Reg().gadgets)
        if (e.first == id) return e.second;
    return nullptr;
}

TWindowGadget* FindSdlWindow(uint32_t sdlWindowId) {
    for (TWindowGadget* w : Reg().windows)
        if (w->sdl && SDL_GetWindowID(w->sdl) == sdlWindowId) return w;
    return nullptr;
}

const std::vector<TWindowGadget*>& LiveWindows() { return Reg().windows; }

void FreeAllWindows() {
    // Free() unlinks each window from the list.
    while (!Reg().windows.empty()) Reg().windows.back()->Free();
    ClearPendingPaints();
}

void EmitPendingPaints() {
    std::vector<Ref<TCanvasGadget>> pending;
    pending.swap(Reg().pendingPaints);
    for (const auto& c : pending) {
        c->paintPending = false;
        if (!c->freed) EmitEvent(TEvent::Create(EVENT_GADGETPAINT, c.Get()));
    }
}

void ClearPendingPaints() {
    for (const auto& c : Reg().pendingPaints) c->paintPending = false;
    Reg().pendingPaints.clear();
}

// --- window ---

TWindowGadget::~TWindowGadget() {
    Free();
    Unregister(id);
}

void TWindowGadget::Activate(int32_t command) {
    if (freed) return;
    switch (command) {
        case ACTIVATE_FOCUS:
            if (sdl) {
                SDL_RaiseWindow(sdl);
                SDL_SetWindowInputFocus(sdl);  // may be refused by the window manager
            }
            break;
        case ACTIVATE_MAXIMIZE:
            maximized = true;
            if (sdl) SDL_MaximizeWindow(sdl);  // the size change arrives as "WindowSize"
            break;
        case ACTIVATE_REDRAW: {
            for (TCanvasGadget* c : canvases) c->Activate(ACTIVATE_REDRAW);
            break;
        }
        default:
            break;
    }
}

void TWindowGadget::ClientResized(int32_t cw, int32_t ch) {
    if (freed) return;
    clientW = std::max(cw, 1);
    clientH = std::max(ch, 1);
    w = clientW + borderL + borderR;
    h = clientH + borderT + borderB;
    const std::vector<TCanvasGadget*> list = canvases;
    for (TCanvasGadget* c : list) c->FollowParent(clientW, clientH);
    if (graphics) graphics->Resize(clientW, clientH);
    EmitEvent(TEvent::Create(EVENT_WINDOWSIZE, this, 0, 0, clientW, clientH));
}

void TWindowGadget::Moved(int32_t outerX, int32_t outerY) {
    if (freed) return;
    x = outerX;
    y = outerY;
    EmitEvent(TEvent::Create(EVENT_WINDOWMOVE, this, 0, 0, x, y));
}

void TWindowGadget::RequestClose() {
    if (freed) return;
    closeRequested = true;
    EmitEvent(TEvent::Create(EVENT_WINDOWCLOSE, this));
}

void TWindowGadget::Free() {
    if (freed) return;
    freed = true;
    const std::vector<TCanvasGadget*> list = canvases;
    for (TCanvasGadget* c : list) c->Free();
    ReleaseGraphics(graphics);
    if (sdl) {
        SDL_DestroyWindow(sdl);
        sdl = nullptr;
    }
    auto& ws = Reg().windows;
    ws.erase(std::remove(ws.begin(), ws.end(), this), ws.end());
    Unregister(id);
}

// --- canvas ---

TCanvasGadget::~TCanvasGadget() {
    Free();
    Unregister(id);
}

void TCanvasGadget::SetLayout(int32_t left, int32_t right, int32_t top, int32_t bottom) {
    lockL = left == 1;
    lockR = right == 1;
    lockT = top == 1;
    lockB = bottom == 1;
    layoutParentW = window ? window->clientW : 0;
    layoutParentH = window ? window->clientH : 0;
    layoutX = x;
    layoutY = y;
    layoutW = w;
    layoutH = h;
}

void TCanvasGadget::Activate(int32_t command) {
    if (freed) return;
    if (command == ACTIVATE_FOCUS && window) {
        window->Activate(ACTIVATE_FOCUS);
    } else if (command == ACTIVATE_REDRAW) {
        // One request at a time: repeated requests before the paint arrives add nothing.
        if (paintPending) return;
        paintPending = true;
        if (WindowBackendActive()) {
            SDL_Event e{};
            e.type = UserEventType();
            e.user.code = USER_REPAINT;
            e.user.data1 = reinterpret_cast<void*>(static_cast<uintptr_t>(id));
            if (SDL_PushEvent(&e) <= 0) paintPending = false;
        } else {
            Reg().pendingPaints.emplace_back(this);
        }
    }
}

void TCanvasGadget::FollowParent(int32_t parentW, int32_t parentH) {
    if (freed) return;
    const int32_t oldW = w, oldH = h;
    FollowAxis(lockL, lockR, layoutParentW, layoutX, layoutW, parentW, x, w);
    FollowAxis(lockT, lockB, layoutParentH, layoutY, layoutH, parentH, y, h);
    // A window's renderer is resized by the window; a headless canvas owns its surface.
    if (graphics && (!window || graphics.Get() != window->graphics.Get()) && (w != oldW || h != oldH))
        graphics->Resize(std::max(w, 1), std::max(h, 1));
}

void TCanvasGadget::Free() {
    if (freed) return;
    freed = true;
    ReleaseGraphics(graphics);
    if (window) {
        auto& cs = window->canvases;
        cs.erase(std::remove(cs.begin(), cs.end(), this), cs.end());
    }
    Unregister(id);
}

// --- creation ---

namespace {

// Creates the SDL window hidden, shows it, reads the frame borders (real values only
// exist once it is shown), turns the outer size into a client size when asked, and
// places the frame (centred on the desktop's usable area with bit 0x200).
bool OpenSdlWindow(TWindowGadget& win, int32_t x, int32_t y, int32_t w, int32_t h) {
    Uint32 flags = SDL_WINDOW_HIDDEN;
    if (win.style & WINDOW_RESIZABLE) flags |= SDL_WINDOW_RESIZABLE;
    if (!(win.style & WINDOW_TITLEBAR)) flags |= SDL_WINDOW_BORDERLESS;
    const bool center = (win.style & WINDOW_CENTER) != 0;
    int cw = std::max(w, 1), ch = std::max(h, 1);
    SDL_Window* s = SDL_CreateWindow(win.title.c_str(), center ? SDL_WINDOWPOS_CENTERED : x,
                                     center ? SDL_WINDOWPOS_CENTERED : y, cw, ch, flags);
    if (!s) return false;
    // A renderer may have to re-create the native window for its graphics interface;
    // that must happen while hidden, or the window manager places the new one afresh.
    win.graphics = CreateWindowGraphics(s);
    SDL_ShowWindow(s);

    // The window manager reports the frame shortly after mapping; without one the
    // borders stay 0 and this gives up after a few milliseconds.
    int top = 0, left = 0, bottom = 0, right = 0;
    for (int i = 0; i < 10; ++i) {
        SDL_PumpEvents();
        if (SDL_GetWindowBordersSize(s, &top, &left, &bottom, &right) != 0) {
            top = left = bottom = right = 0;
            break;
        }
        if (top || left || bottom || right) break;
        SDL_Delay(5);
    }
    win.borderL = std::max(left, 0);
    win.borderT = std::max(top, 0);
    win.borderR = std::max(right, 0);
    win.borderB = std::max(bottom, 0);

    if (!(win.style & WINDOW_CLIENTCOORDS)) {
        cw = std::max(w - win.borderL - win.borderR, 1);
        ch = std::max(h - win.borderT - win.borderB, 1);
        SDL_SetWindowSize(s, cw, ch);
    }
    win.clientW = cw;
    win.clientH = ch;
    win.w = cw + win.borderL + win.borderR;
    win.h = ch + win.borderT + win.borderB;

    int ox = x, oy = y;
    if (center) {
        SDL_Rect area{0, 0, 0, 0};
        const int display = std::max(SDL_GetWindowDisplayIndex(s), 0);
        if (SDL_GetDisplayUsableBounds(display, &area) != 0) SDL_GetDisplayBounds(display, &area);
        ox = area.x + (area.w - win.w) / 2;
        oy = std::max(area.y + (area.h - win.h) / 2, area.y);  // keep the title bar reachable
    }
    // The client area goes inside the frame. Some window managers apply a requested
    // position to the frame rather than the client: measure where the client landed
    // and correct once.
    const int wantX = ox + win.borderL, wantY = oy + win.borderT;
    int beforeX = 0, beforeY = 0, atX = 0, atY = 0;
    SDL_GetWindowPosition(s, &beforeX, &beforeY);
    SDL_SetWindowPosition(s, wantX, wantY);
    for (int i = 0; i < 10; ++i) {
        SDL_PumpEvents();
        SDL_GetWindowPosition(s, &atX, &atY);
        if ((atX == wantX && atY == wantY) || atX != beforeX || atY != beforeY) break;
        SDL_Delay(5);
    }
    if ((atX != wantX || atY != wantY) && (atX != beforeX || atY != beforeY))
        SDL_SetWindowPosition(s, 2 * wantX - atX, 2 * wantY - atY);
    win.x = ox;
    win.y = oy;
    win.sdl = s;
    if (win.graphics) win.graphics->Resize(cw, ch);
    return true;
}

}  // namespace
}  // namespace detail

Ref<TGadget> CreateWindow(const std::string& title, int32_t x, int32_t y, int32_t w, int32_t h, TGadget*,
                          int32_t style) {
    using namespace detail;
    Ref<TWindowGadget> win = MakeRef<TWindowGadget>();
    win->title = title;
    win->style = style;
    if (WindowBackendActive()) {
        if (!OpenSdlWindow(*win, x, y, w, h)) return nullptr;
    } else {
        // In memory: no frame, so the outer and client sizes agree.
        win->w = win->clientW = std::max(w, 1);
        win->h = win->clientH = std::max(h, 1);
        win->x = (style & WINDOW_CENTER) ? (HEADLESS_DESKTOP_W - win->w) / 2 : x;
        win->y = (style & WINDOW_CENTER) ? std::max((HEADLESS_DESKTOP_H - win->h) / 2, 0) : y;
    }
    win->id = Register(win.Get());
    Reg().windows.push_back(win.Get());
    return win;
}

Ref<TGadget> CreateCanvas(int32_t x, int32_t y, int32_t w, int32_t h, TGadget* parent, int32_t) {
    using namespace detail;
    TWindowGadget* win = As<TWindowGadget>(parent);
    if (!win || win->freed) return nullptr;
    Ref<TCanvasGadget> c = MakeRef<TCanvasGadget>();
    c->window = win;
    c->x = x;
    c->y = y;
    c->w = std::max(w, 0);
    c->h = std::max(h, 0);
    c->SetLayout(1, 0, 1, 0);
    if (win->sdl) {
        // One renderer per window (made with the window); its canvases draw through it.
        if (!win->graphics) win->graphics = CreateWindowGraphics(win->sdl);
        c->graphics = win->graphics;
    } else {
        c->graphics = CreateHeadlessGraphics(std::max(c->w, 1), std::max(c->h, 1));
    }
    c->id = Register(c.Get());
    win->canvases.push_back(c.Get());
    return c;
}

TGraphics* CanvasGraphics(TGadget* canvas) {
    auto* c = As<detail::TCanvasGadget>(canvas);
    return c ? c->graphics.Get() : nullptr;
}

void FreeGadget(TGadget* gadget) {
    if (auto* w = As<detail::TWindowGadget>(gadget))
        w->Free();
    else if (auto* c = As<detail::TCanvasGadget>(gadget))
        c->Free();
}

}  // namespace kin
