// Window backend: SDL's events turned into the platform's own and emitted on the main
// thread, where the hooks run.
#include <SDL.h>

#include "platform/detail/ServiceState.h"

namespace kin::detail {
namespace {

int32_t Mods() {
    const SDL_Keymod m = SDL_GetModState();
    int32_t mods = 0;
    if (m & KMOD_SHIFT) mods |= 1;
    if (m & KMOD_CTRL) mods |= 2;
    if (m & KMOD_ALT) mods |= 4;
    if (m & KMOD_GUI) mods |= 8;
    return mods;
}

// 1 left, 2 right, 3 middle, 4 and 5 the extra buttons; 0 for anything else.
int32_t Button(Uint8 b) {
    switch (b) {
        case SDL_BUTTON_LEFT: return 1;
        case SDL_BUTTON_RIGHT: return 2;
        case SDL_BUTTON_MIDDLE: return 3;
        case SDL_BUTTON_X1: return 4;
        case SDL_BUTTON_X2: return 5;
        default: return 0;
    }
}

// The gadget under a client-area point and the point in its own pixels: the topmost
// canvas containing it, else the window itself.
TGadget* GadgetAt(TWindowGadget* win, int32_t& x, int32_t& y) {
    for (auto it = win->canvases.rbegin(); it != win->canvases.rend(); ++it) {
        TCanvasGadget* c = *it;
        if (x >= c->x && y >= c->y && x < c->x + c->w && y < c->y + c->h) {
            x -= c->x;
            y -= c->y;
            return c;
        }
    }
    return win;
}

void EmitMouse(int32_t id, Uint32 windowId, int32_t x, int32_t y, int32_t button) {
    TWindowGadget* win = FindSdlWindow(windowId);
    if (!win) return;
    TGadget* g = GadgetAt(win, x, y);
    EmitEvent(TEvent::Create(id, g, button, Mods(), x, y));
}

// The platform's key code for an SDL key, or 0 for a key it does not report.
int32_t KeyCode(SDL_Keycode k) {
    switch (k) {
        case SDLK_LEFT: return KEY_LEFT;
        case SDLK_RIGHT: return KEY_RIGHT;
        case SDLK_UP: return KEY_UP;
        case SDLK_DOWN: return KEY_DOWN;
        case SDLK_HOME: return KEY_HOME;
        case SDLK_END: return KEY_END;
        case SDLK_PAGEUP: return KEY_PAGEUP;
        case SDLK_PAGEDOWN: return KEY_PAGEDOWN;
        case SDLK_KP_PLUS: return '+';
        case SDLK_KP_MINUS: return '-';
        default: break;
    }
    // SDL's codes for the printable keys, Backspace, Tab, Return, Escape and Delete are
    // already their ASCII codes (letters lower-case).
    if (k > 0 && k < 128) return (k >= 'A' && k <= 'Z') ? k - 'A' + 'a' : static_cast<int32_t>(k);
    return 0;
}

void EmitKey(const SDL_KeyboardEvent& ke) {
    TWindowGadget* win = FindSdlWindow(ke.windowID);
    const int32_t key = KeyCode(ke.keysym.sym);
    if (!win || key == 0) return;
    EmitEvent(TEvent::Create(EVENT_KEYDOWN, win, key, Mods()));
}

void EmitWheel(const SDL_MouseWheelEvent& we) {
    // Whole notches: SDL adds up a precise device's fractions into them.
    int32_t notches = we.y;
    if (we.direction == SDL_MOUSEWHEEL_FLIPPED) notches = -notches;
    if (notches == 0) return;
    int32_t x = 0, y = 0;
#if SDL_VERSION_ATLEAST(2, 26, 0)
    x = we.mouseX;
    y = we.mouseY;
#else
    SDL_GetMouseState(&x, &y);
#endif
    EmitMouse(EVENT_MOUSEWHEEL, we.windowID, x, y, notches);
}

void WindowEvent(const SDL_WindowEvent& we) {
    TWindowGadget* win = FindSdlWindow(we.windowID);
    if (!win) return;
    switch (we.event) {
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            win->ClientResized(we.data1, we.data2);
            break;
        case SDL_WINDOWEVENT_MOVED:
            // SDL reports the client area's position.
            win->Moved(we.data1 - win->borderL, we.data2 - win->borderT);
            break;
        case SDL_WINDOWEVENT_EXPOSED:
            if (win->canvases.empty()) {
                EmitEvent(TEvent::Create(EVENT_GADGETPAINT, win));
            } else {
                // Held: a paint handler may free canvases.
                const std::vector<Ref<TCanvasGadget>> list(win->canvases.begin(), win->canvases.end());
                for (const auto& c : list)
                    if (!c->freed) EmitEvent(TEvent::Create(EVENT_GADGETPAINT, c.Get()));
            }
            break;
        case SDL_WINDOWEVENT_MAXIMIZED:
            win->maximized = true;
            break;
        case SDL_WINDOWEVENT_RESTORED:
            win->maximized = false;
            break;
        case SDL_WINDOWEVENT_CLOSE:
            win->RequestClose();
            break;
        default:
            break;
    }
}

void UserEvent(const SDL_UserEvent& ue) {
    const auto id = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ue.data1));
    if (ue.code == USER_TIMER_TICK) {
        DeliverTimerTick(id);
    } else if (ue.code == USER_REPAINT) {
        // The canvas may have been freed since the request: look it up by id.
        if (auto* c = As<TCanvasGadget>(FindGadget(id))) {
            c->paintPending = false;
            if (!c->freed) EmitEvent(TEvent::Create(EVENT_GADGETPAINT, c));
        }
    }
}

}  // namespace

void TranslateSdlEvent(const SDL_Event& e) {
    if (e.type == UserEventType() && e.type != 0) {
        UserEvent(e.user);
        return;
    }
    switch (e.type) {
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            const int32_t b = Button(e.button.button);
            if (b == 0) break;
            EmitMouse(e.type == SDL_MOUSEBUTTONDOWN ? EVENT_MOUSEDOWN : EVENT_MOUSEUP, e.button.windowID, e.button.x,
                      e.button.y, b);
            break;
        }
        case SDL_MOUSEMOTION:
            EmitMouse(EVENT_MOUSEMOVE, e.motion.windowID, e.motion.x, e.motion.y, 0);
            break;
        case SDL_MOUSEWHEEL:
            EmitWheel(e.wheel);
            break;
        case SDL_KEYDOWN:
            EmitKey(e.key);
            break;
        case SDL_WINDOWEVENT:
            WindowEvent(e.window);
            break;
        case SDL_QUIT: {
            // Closing the last window brings its own close event first; SDL_QUIT only
            // speaks for windows that have not asked yet (an interrupt, a session end).
            const std::vector<Ref<TWindowGadget>> list(LiveWindows().begin(), LiveWindows().end());
            for (const auto& w : list)
                if (!w->closeRequested) w->RequestClose();
            break;
        }
        default:
            break;
    }
}

bool PumpSdlEvents(bool wait) {
    SDL_Event e;
    if (wait) {
        if (!SDL_WaitEvent(&e)) return false;
        TranslateSdlEvent(e);
    }
    while (SDL_PollEvent(&e)) TranslateSdlEvent(e);
    return true;
}

}  // namespace kin::detail
