#include "tools/testbed/Testbed.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "gelsim/core/Physics.h"
#include "gelsim/state/WorldState.h"
#include "platform/Graphics.h"

namespace kin::testbed {

using gelsim::TBody;
using gelsim::TConstraint;
using gelsim::TMass;
using gelsim::TPhysics;

namespace {

constexpr size_t GRAPH_STEPS = 180;  // three seconds at 60 steps a second
constexpr float MENU_X = 40.0f, MENU_Y = 70.0f, MENU_LINE = 22.0f;

double NowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct KeyHelp {
    const char* keys;
    const char* what;
};
const KeyHelp HELP[] = {
    {"Space", "run / pause"},
    {"N or .", "one step (pauses)"},
    {",", "one step back (the last 600 are kept)"},
    {"R", "restart the scene"},
    {"M", "slow motion (a step every 4 ticks)"},
    {"Tab, 1-6", "scene menu, pick a scene"},
    {"G", "grid cells by occupancy"},
    {"Q", "zones' quad trees"},
    {"C", "contacts of the last step"},
    {"S", "constraint stress (blue slack, red stretched)"},
    {"O", "collision groups as colours"},
    {"F", "frozen masses"},
    {"B", "the box"},
    {"A", "all overlays on / off"},
    {"P", "save a screenshot (PNG)"},
    {"Left drag", "pull a mass"},
    {"Right drag, arrows", "pan"},
    {"Wheel, + -", "zoom (Home: fit)"},
    {"H", "this list"},
    {"Esc", "quit"},
};

uint32_t OverlayForKey(int32_t key) {
    switch (key) {
        case 'g': return OVERLAY_GRID;
        case 'q': return OVERLAY_QUADTREE;
        case 'c': return OVERLAY_CONTACTS;
        case 's': return OVERLAY_STRESS;
        case 'o': return OVERLAY_GROUPS;
        case 'f': return OVERLAY_FROZEN;
        case 'b': return OVERLAY_BOX;
        default: return 0;
    }
}

}  // namespace

Testbed::Testbed(Options options) : options_(std::move(options)) {
    if (options_.mediaDir.empty()) options_.mediaDir = FindMediaDir();
    if (options_.inputs.empty()) {
        showMenu = true;
        Load({"scene:" + SampleScenes().front().name});
    } else {
        Load(options_.inputs);
    }
}

Testbed::~Testbed() {
    Release();
    scene_ = gelsim::TScene{};
    TPhysics::Free();
}

bool Testbed::Load(const std::vector<std::string>& names) {
    Release();
    contacts_.clear();
    scene_ = gelsim::TScene{};
    TPhysics::Free();
    names_ = names;
    title_.clear();
    for (const std::string& n : names) title_ += (title_.empty() ? "" : " ") + n;
    problem_.clear();
    steps = 0;
    ForgetHistory();
    fitPending_ = true;
    try {
        scene_ = BuildFromArgs(names, options_.mediaDir);
        return true;
    } catch (const std::exception& e) {
        problem_ = e.what();
        std::fprintf(stderr, "gelsim-testbed: %s\n", problem_.c_str());
        scene_ = gelsim::TScene{};
        TPhysics::Free();
        return false;
    }
}

void Testbed::Adopt(gelsim::TScene scene, const std::string& title) {
    Release();
    scene_ = std::move(scene);
    names_.clear();
    title_ = title;
    problem_.clear();
    steps = 0;
    ForgetHistory();
    fitPending_ = true;
}

void Testbed::ForgetHistory() {
    past_.clear();
    future_.clear();
    historyBytes_ = 0;
}

bool Testbed::StepBack() {
    TPhysics* world = TPhysics::currentWorld.Get();
    running = false;
    Release();  // a drag in progress ends the history
    if (!world || past_.empty()) return false;
    future_.push_back(gelsim::SaveState(*world, false, false));
    historyBytes_ += future_.back().capacity();
    const std::vector<uint8_t>& back = past_.back();
    gelsim::RestoreState(*world, back.data(), back.size());
    historyBytes_ -= back.capacity();
    past_.pop_back();
    contacts_.clear();
    --steps;
    return true;
}

void Testbed::Restart() {
    if (!names_.empty()) Load(names_);
}

void Testbed::Release() {
    // What was stepped from here on is another history.
    if (dragBody_) ForgetHistory();
    if (dragBody_) dragBody_->Free();
    dragBody_ = nullptr;
    spring_ = nullptr;
    handle_ = nullptr;
    grabbed_ = nullptr;
}

void Testbed::Tick() {
    ++ticks_;
    if (!running) return;
    if (slowMotion && ticks_ % 4 != 0) return;
    Step();
}

void Testbed::Step() {
    TPhysics* world = TPhysics::currentWorld.Get();
    if (!world) return;
    if (!future_.empty()) {
        // Forward again through what StepBack left: the very states, whatever the pointer
        // did when they were first stepped.
        past_.push_back(gelsim::SaveState(*world, false, false));
        historyBytes_ += past_.back().capacity();
        const std::vector<uint8_t>& ahead = future_.back();
        gelsim::RestoreState(*world, ahead.data(), ahead.size());
        historyBytes_ -= ahead.capacity();
        future_.pop_back();
        contacts_.clear();
        ++steps;
        return;
    }
    // A drag's spring lives outside the world's bodies, so states are kept only without one.
    if (!handle_) {
        past_.push_back(gelsim::SaveState(*world, false, false));
        historyBytes_ += past_.back().capacity();
        while (!past_.empty() && (past_.size() > HISTORY_STEPS || historyBytes_ > HISTORY_BYTES)) {
            historyBytes_ -= past_.front().capacity();
            past_.pop_front();
        }
    }
    if (handle_) {
        // The handle follows the pointer; the spring pulls the grabbed mass after it.
        ApplyView();
        handle_->Position(TPhysics::SimX(pointerX_, pointerY_), TPhysics::SimY(pointerX_, pointerY_));
    }
    const double t0 = NowSeconds();
    StepAndCollect(contacts_);
    const double t1 = NowSeconds();
    ++steps;
    lastStepMs_ = static_cast<float>((t1 - t0) * 1000.0);
    stepMs_.push_back(lastStepMs_);
    while (stepMs_.size() > GRAPH_STEPS) stepMs_.pop_front();
    stepStamps_.push_back(t1);
    while (!stepStamps_.empty() && stepStamps_.front() < t1 - 1.0) stepStamps_.pop_front();
}

void Testbed::FitToWindow(float w, float h) {
    const TPhysics* world = TPhysics::currentWorld.Get();
    if (!world) return;
    FitView(w, h);
    viewX_ = world->centerX;
    viewY_ = world->centerY;
    zoom_ = world->drawScale;
    fitPending_ = false;
}

void Testbed::ApplyView() {
    if (!TPhysics::currentWorld) return;
    TPhysics::SetDrawZoom(zoom_);
    TPhysics::SetDrawCoords(viewX_, viewY_);
}

void Testbed::Draw(float w, float h) {
    width_ = w;
    height_ = h;
    SetViewport(0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h));
    if (fitPending_) FitToWindow(w, h);
    ApplyView();
    DrawWorld(overlays, contacts_);
    if (spring_) {
        SetColor(255, 255, 255);
        SetLineWidth(2.0f);
        spring_->Draw();
        SetLineWidth(1.0f);
    }
    DrawHud(w, h);
    if (shotPending_) {
        shotPending_ = false;
        const std::string path = options_.shotPrefix + "-" + std::to_string(++shotCount_) + ".png";
        std::string why;
        message_ = SaveScreenshot(path, &why) ? "saved " + path : "screenshot failed: " + why;
        messageUntil_ = frames + 120;
    }
    ++frames;
    if (!options_.dumpPath.empty()) WriteDump(w, h);
}

void Testbed::DrawHud(float w, float h) {
    SetImageFont(nullptr);
    SetBlend(ALPHABLEND);
    const float lineH = static_cast<float>(std::max(TextHeight("M"), 1)) + 3.0f;
    const TPhysics* world = TPhysics::currentWorld.Get();
    int32_t masses = 0, cons = 0;
    if (world) {
        for (int32_t k = 0; k < world->massCount; ++k) masses += world->massArray[static_cast<size_t>(k)] ? 1 : 0;
        for (int32_t k = 0; k < world->conCount; ++k) cons += world->conArray[static_cast<size_t>(k)] ? 1 : 0;
    }
    char line[256];
    std::snprintf(line, sizeof line, "%s  |  %s%s  |  %d steps/s  step %.2f ms  |  %d masses  %d constraints  |  H: keys",
                  title_.c_str(), running ? "running" : "paused", slowMotion ? " (slow)" : "",
                  static_cast<int>(stepStamps_.size()), static_cast<double>(lastStepMs_), masses, cons);
    SetAlpha(0.6f);
    SetColor(0, 0, 0);
    DrawRect(0.0f, 0.0f, w, lineH * 2.0f + 6.0f);
    SetAlpha(1.0f);
    SetColor(255, 255, 255);
    DrawText(line, 6.0f, 3.0f);
    std::string ov = "overlays:";
    const auto& names = OverlayNames();
    for (size_t k = 0; k < names.size(); ++k)
        if (overlays & (1u << k)) ov += " " + names[k];
    if (!overlays) ov += " none";
    if (frames < messageUntil_) ov += "   " + message_;
    DrawText(ov, 6.0f, 3.0f + lineH);

    // Step time over the last seconds, bottom left; the scale grows with the slowest step.
    const float gw = static_cast<float>(GRAPH_STEPS), gh = 50.0f, gx = 8.0f, gy = h - gh - 8.0f;
    float top = 4.0f;
    for (float v : stepMs_) top = std::max(top, v);
    SetAlpha(0.6f);
    SetColor(0, 0, 0);
    DrawRect(gx - 2.0f, gy - lineH - 2.0f, gw + 4.0f, gh + lineH + 4.0f);
    SetAlpha(1.0f);
    SetColor(80, 220, 120);
    float x = gx + gw - static_cast<float>(stepMs_.size());
    for (float v : stepMs_) {
        const float bar = gh * std::min(v / top, 1.0f);
        DrawRect(x, gy + gh - bar, 1.0f, std::max(bar, 1.0f));
        x += 1.0f;
    }
    SetColor(200, 200, 200);
    std::snprintf(line, sizeof line, "step ms (top %.1f)", static_cast<double>(top));
    DrawText(line, gx, gy - lineH);

    if (!problem_.empty()) {
        SetColor(255, 90, 90);
        DrawText(problem_, 6.0f, 3.0f + 2.0f * lineH + 4.0f);
    }
    if (showMenu) {
        const auto& scenes = SampleScenes();
        SetAlpha(0.8f);
        SetColor(10, 10, 30);
        DrawRect(MENU_X - 10.0f, MENU_Y - 10.0f, 380.0f, MENU_LINE * static_cast<float>(scenes.size() + 1) + 20.0f);
        SetAlpha(1.0f);
        SetColor(255, 220, 120);
        DrawText("Sample scenes (key or click; Tab closes)", MENU_X, MENU_Y);
        SetColor(255, 255, 255);
        for (size_t k = 0; k < scenes.size(); ++k)
            DrawText(std::to_string(k + 1) + "  " + scenes[k].title, MENU_X, MENU_Y + MENU_LINE * static_cast<float>(k + 1));
    }
    if (showHelp) {
        const float n = static_cast<float>(std::size(HELP));
        float keysW = 0.0f, whatW = 0.0f;
        for (const KeyHelp& k : HELP) {
            keysW = std::max(keysW, static_cast<float>(TextWidth(k.keys)));
            whatW = std::max(whatW, static_cast<float>(TextWidth(k.what)));
        }
        const float col = keysW + 16.0f, panelW = col + whatW + 20.0f;
        const float px = std::max(10.0f, w - panelW), py = 60.0f;
        SetAlpha(0.85f);
        SetColor(10, 10, 30);
        DrawRect(px - 10.0f, py - 10.0f, panelW, lineH * n + 20.0f);
        SetAlpha(1.0f);
        float y = py;
        for (const KeyHelp& k : HELP) {
            SetColor(255, 220, 120);
            DrawText(k.keys, px, y);
            SetColor(255, 255, 255);
            DrawText(k.what, px + col, y);
            y += lineH;
        }
    }
    SetColor(255, 255, 255);
}

int32_t Testbed::MenuLineAt(float x, float y) const {
    if (!showMenu || x < MENU_X - 10.0f || x > MENU_X + 370.0f) return -1;
    const int32_t line = static_cast<int32_t>(std::floor((y - MENU_Y) / MENU_LINE)) ;
    if (line < 1 || line > static_cast<int32_t>(SampleScenes().size())) return -1;
    return line - 1;
}

void Testbed::KeyDown(int32_t key) {
    if (const uint32_t bit = OverlayForKey(key)) {
        overlays ^= bit;
        return;
    }
    const float pan = 60.0f / std::max(zoom_, 1e-6f);
    switch (key) {
        case ' ': running = !running; break;
        case 'n':
        case '.':
            running = false;
            Step();
            break;
        case ',': StepBack(); break;
        case 'r': Restart(); break;
        case 'm': slowMotion = !slowMotion; break;
        case 'a': overlays = overlays == OVERLAY_ALL ? 0u : static_cast<uint32_t>(OVERLAY_ALL); break;
        case 'p': shotPending_ = true; break;
        case 'h': showHelp = !showHelp; break;
        case KEY_TAB: showMenu = !showMenu; break;
        case KEY_ESCAPE: quit = true; break;
        case KEY_LEFT: viewX_ -= pan; break;
        case KEY_RIGHT: viewX_ += pan; break;
        case KEY_UP: viewY_ -= pan; break;
        case KEY_DOWN: viewY_ += pan; break;
        case '+':
        case '=': Wheel(1.0f, width_ * 0.5f, height_ * 0.5f); break;
        case '-': Wheel(-1.0f, width_ * 0.5f, height_ * 0.5f); break;
        case KEY_HOME:
        case '0': fitPending_ = true; break;
        default:
            if (key >= '1' && key <= '9') {
                const size_t k = static_cast<size_t>(key - '1');
                if (k < SampleScenes().size()) {
                    showMenu = false;
                    Load({"scene:" + SampleScenes()[k].name});
                }
            }
            break;
    }
}

void Testbed::Grab(float x, float y) {
    const TPhysics* world = TPhysics::currentWorld.Get();
    if (!world) return;
    ApplyView();
    const float wx = TPhysics::SimX(x, y), wy = TPhysics::SimY(x, y);
    const float slack = 8.0f / std::max(zoom_, 1e-6f);  // eight pixels of grace
    TMass* best = nullptr;
    float bestD = 0.0f;
    for (int32_t k = 0; k < world->massCount; ++k) {
        TMass* m = world->massArray[static_cast<size_t>(k)].Get();
        if (!m || m->frozen) continue;
        const float dx = m->posX - wx, dy = m->posY - wy, d = std::sqrt(dx * dx + dy * dy) - m->radius;
        if (d <= slack && (!best || d < bestD)) {
            best = m;
            bestD = d;
        }
    }
    if (!best) return;
    grabbed_ = best;
    handle_ = TMass::Create(wx, wy, 1.0f, 1.0f, 0.0f, 0);
    handle_->Freeze();
    spring_ = TConstraint::Create(best, handle_.Get(), 1.0f, 1.0f);
    spring_->SetRestLength(0.001f);
    dragBody_ = MakeRef<TBody>();
    dragBody_->SetName("testbed drag");
    spring_->Assign(dragBody_.Get());
}

void Testbed::MouseDown(int32_t button, float x, float y) {
    pointerX_ = x;
    pointerY_ = y;
    if (button == 1) {
        const int32_t line = MenuLineAt(x, y);
        if (line >= 0) {
            KeyDown('1' + line);
            return;
        }
        Release();
        Grab(x, y);
    } else {
        panning_ = true;
    }
}

void Testbed::MouseMove(float x, float y) {
    if (panning_) {
        viewX_ -= (x - pointerX_) / std::max(zoom_, 1e-6f);
        viewY_ -= (y - pointerY_) / std::max(zoom_, 1e-6f);
    }
    pointerX_ = x;
    pointerY_ = y;
}

void Testbed::MouseUp(int32_t button, float x, float y) {
    MouseMove(x, y);
    if (button == 1)
        Release();
    else
        panning_ = false;
}

void Testbed::Wheel(float notches, float x, float y) {
    if (!TPhysics::currentWorld || notches == 0.0f) return;
    ApplyView();
    const float bx = TPhysics::SimX(x, y), by = TPhysics::SimY(x, y);
    zoom_ = std::clamp(zoom_ * std::pow(1.2f, notches), 0.01f, 100.0f);
    ApplyView();
    // Keep the world point under the pointer where it was.
    viewX_ += bx - TPhysics::SimX(x, y);
    viewY_ += by - TPhysics::SimY(x, y);
}

void Testbed::WriteDump(float w, float h) {
    const TPhysics* world = TPhysics::currentWorld.Get();
    std::string text = "frame " + std::to_string(frames) + "\nsteps " + std::to_string(steps) + "\nrunning " +
                       std::to_string(running ? 1 : 0) + "\noverlays " + std::to_string(overlays) + "\nhash " +
                       std::to_string(scene_.Hash()) + "\n";
    char line[128];
    if (world) {
        // The free mass nearest the middle of the picture, where a test can grab it.
        const TMass* probe = nullptr;
        float best = 0.0f;
        for (int32_t k = 0; k < world->massCount; ++k) {
            const TMass* m = world->massArray[static_cast<size_t>(k)].Get();
            if (!m || m->frozen || m == handle_.Get()) continue;
            const float dx = TPhysics::ScreenX(m->posX, m->posY) - w * 0.5f;
            const float dy = TPhysics::ScreenY(m->posX, m->posY) - h * 0.5f;
            if (!probe || dx * dx + dy * dy < best) {
                probe = m;
                best = dx * dx + dy * dy;
            }
        }
        // Where the masses are on screen, and a grid cell's size in pixels.
        float x0 = 1e30f, y0 = 1e30f, x1 = -1e30f, y1 = -1e30f;
        for (int32_t k = 0; k < world->massCount; ++k) {
            const TMass* m = world->massArray[static_cast<size_t>(k)].Get();
            if (!m || m == handle_.Get()) continue;
            const float sx = TPhysics::ScreenX(m->posX, m->posY), sy = TPhysics::ScreenY(m->posX, m->posY);
            x0 = std::min(x0, sx), y0 = std::min(y0, sy), x1 = std::max(x1, sx), y1 = std::max(y1, sy);
        }
        if (x0 <= x1) {
            std::snprintf(line, sizeof line, "extent %.0f %.0f %.0f %.0f\n", static_cast<double>(x0), static_cast<double>(y0),
                          static_cast<double>(x1), static_cast<double>(y1));
            text += line;
        }
        if (world->ratiox > 0.0f && world->ratioy > 0.0f) {
            std::snprintf(line, sizeof line, "cell %.1f %.1f\n", static_cast<double>(world->drawScale / world->ratiox),
                          static_cast<double>(world->drawScale / world->ratioy));
            text += line;
        }
        if (probe) {
            std::snprintf(line, sizeof line, "probe %.1f %.1f\n", static_cast<double>(TPhysics::ScreenX(probe->posX, probe->posY)),
                          static_cast<double>(TPhysics::ScreenY(probe->posX, probe->posY)));
            text += line;
        }
    }
    if (grabbed_) {
        std::snprintf(line, sizeof line, "grab %.1f %.1f\n", static_cast<double>(TPhysics::ScreenX(grabbed_->posX, grabbed_->posY)),
                      static_cast<double>(TPhysics::ScreenY(grabbed_->posX, grabbed_->posY)));
        text += line;
    } else {
        text += "grab none\n";
    }
    std::snprintf(line, sizeof line, "pointer %.1f %.1f\n", static_cast<double>(pointerX_), static_cast<double>(pointerY_));
    text += line;
    const std::string tmp = options_.dumpPath + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out) return;
    }
    std::error_code ec;
    std::filesystem::rename(tmp, options_.dumpPath, ec);
}

}  // namespace kin::testbed
