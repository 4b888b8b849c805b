#include "app/Scene.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>

#include "app/Game.h"
#include "gelsim/core/Physics.h"
#include "gelsim/core/ColEvent.h"
#include "platform/Graphics.h"
#include "platform/Hook.h"

namespace slime {

using namespace kin;
using gelsim::TAdvBody;
using gelsim::TColEvent;
using gelsim::TMass;
using gelsim::TPhysics;
using gelsim::TZone;

namespace {

constexpr float WORLD_W = 1024.0f;
constexpr float GROUND_Y = 4096.0f;
constexpr float CEILING_ROOM = 1000.0f;
constexpr float SCROLL_EDGE = 32.0f;  // pixels from the top or bottom edge that scroll
constexpr float SCROLL_STEP = 5.0f;   // world units per drawn frame

// One line on standard error, with the reason when there is one; the window shows the
// short form, which fits a narrow window.
void Report(const std::string& problem, const std::string& reason = {}) {
    if (reason.empty())
        std::fprintf(stderr, "slime-tower: %s\n", problem.c_str());
    else
        std::fprintf(stderr, "slime-tower: %s (%s)\n", problem.c_str(), reason.c_str());
    Scene().problems.push_back(problem);
}

// Height above the ground line as the whole number shown on screen. Clamped in float
// first, so a runaway value cannot reach an undefined conversion.
std::string HeightText(float y) {
    float h = GROUND_Y - y;
    if (!(h == h)) h = 0.0f;
    h = std::clamp(h, -1.0e9f, 1.0e9f);
    return std::to_string(static_cast<int32_t>(h));
}

void LoadZones() {
    SceneState& s = Scene();
    const std::string path = FindDataFile(GROUND_FILE);
    try {
        s.zones[0] = TZone::Load(path);
    } catch (const std::exception& e) {
        Report(std::string(GROUND_FILE) + " could not be read", e.what());
        return;
    }
    if (!s.zones[0]) {
        Report(std::string(GROUND_FILE) + (DataFileExists(path) ? " is not a zone file" : " is missing"));
        return;
    }
    s.zones[0]->Position(512.0f, 4096.0f);
    s.zones[1] = s.zones[0]->Copy();
    s.zones[1]->Position(1024.0f, 2096.0f);
    s.zones[1]->Rotate(-70.0f);
    s.zones[2] = s.zones[0]->Copy();
    s.zones[2]->Position(0.0f, -904.0f);
    s.zones[2]->Rotate(70.0f);
}

void DrawZones() {
    for (const Ref<TZone>& z : Scene().zones)
        if (z) z->Draw();
}

// A missing or damaged data file: say so in the middle of the window, in the default font,
// white on a dark band so it reads on any background.
void DrawProblems(float w, float h) {
    const auto& problems = Scene().problems;
    if (problems.empty()) return;
    SetImageFont(nullptr);
    const float lineH = static_cast<float>(std::max(TextHeight("M"), 1)) + 4.0f;
    float y = h * 0.5f - lineH * static_cast<float>(problems.size()) * 0.5f;
    SetAlpha(0.7f);
    SetColor(0, 0, 0);
    DrawRect(0.0f, y - 6.0f, w, lineH * static_cast<float>(problems.size()) + 12.0f);
    SetAlpha(1.0f);
    SetColor(255, 255, 255);
    for (const std::string& p : problems) {
        DrawText(p, std::max(4.0f, (w - static_cast<float>(TextWidth(p))) * 0.5f), y);
        y += lineH;
    }
}

}  // namespace

SceneState& Scene() {
    static SceneState state;
    return state;
}

void ResetScene() {
    RemoveHook(TColEvent::EventHook(), OnCollision, nullptr);
    Scene() = SceneState{};
}

void SetUpScene() {
    SceneState& s = Scene();
    AddHook(TColEvent::EventHook(), OnCollision, nullptr, 0);
    LoadZones();
    s.slime = TSlime::Create();
    if (!s.slime->LoadProblem().empty()) Report(s.slime->LoadProblem(), s.slime->LoadReason());
    s.viewY = GROUND_Y;
    s.topRecord = GROUND_Y;
    s.hudFont = LoadImageFont("incbin::media/zincboom.ttf", 35, SMOOTHFONT);
    s.logo = LoadImage("incbin::media/gelsimlogo.png", FILTEREDIMAGE | MIPMAPPEDIMAGE);
}

void HandleClick(float x, float y) {
    const float wx = TPhysics::SimX(x, y), wy = TPhysics::SimY(x, y);
    if (ReplayWriter* r = Game().recorder) r->Click(Counters().steps, wx, wy);
    ClickAt(wx, wy);
}

void ClickAt(float x, float y) {
    SceneState& s = Scene();
    if (s.slime) s.slime->Add(x, y);
}

void DrawScene(float w, float h, float pointerX, float pointerY) {
    SceneState& s = Scene();

    if (pointerY < SCROLL_EDGE)
        s.viewY -= SCROLL_STEP;
    else if (pointerY > h - SCROLL_EDGE)
        s.viewY += SCROLL_STEP;
    TPhysics::SetDrawZoom(w / WORLD_W);
    TPhysics::SetDrawCoords(WORLD_W * 0.5f, s.viewY);
    // Never show anything below the ground line.
    const float bottom = TPhysics::SimY(0.0f, h);
    if (bottom > GROUND_Y) {
        s.viewY += GROUND_Y - bottom;
        TPhysics::SetDrawCoords(WORLD_W * 0.5f, s.viewY);
    }

    SetImageFont(s.hudFont.Get());
    SetBlend(ALPHABLEND);
    SetClsColor(127, 127, 255);
    Cls();

    DrawZones();

    const float top =
        s.slime ? s.slime->Draw(TPhysics::SimX(pointerX, pointerY), TPhysics::SimY(pointerX, pointerY)) : GROUND_Y;
    s.topRecord = std::min(top, s.topRecord);

    // Record line and height, number flush right.
    float sy = TPhysics::ScreenY(0.0f, s.topRecord);
    SetColor(0, 255, 0);
    SetLineWidth(2.0f);
    DrawLine(0.0f, sy, w, sy, 1);
    const std::string record = HeightText(s.topRecord);
    DrawText(record, w - 10.0f - static_cast<float>(TextWidth(record)), std::max(5.0f, sy));

    // Current top line and height; the view never sinks below the structure's top.
    sy = TPhysics::ScreenY(0.0f, top);
    SetColor(255, 0, 0);
    DrawLine(0.0f, sy, w, sy, 1);
    s.viewY = std::max(top, s.viewY);
    DrawText(HeightText(top), 10.0f, std::max(5.0f, sy));

    SetLineWidth(1.0f);
    SetColor(255, 255, 255);
    SetScale(0.5f, 0.5f);
    DrawImage(s.logo.Get(), w - 90.0f, h - 70.0f, 0);
    SetScale(1.0f, 1.0f);

    DrawProblems(w, h);
}

void MoveCeiling() { TPhysics::SetBounds(0.0f, Scene().topRecord - CEILING_ROOM, WORLD_W, GROUND_Y); }

Ref<TObject> OnCollision(int32_t /*hookId*/, TObject* data, TObject* /*context*/) {
    TColEvent* ev = As<TColEvent>(data);
    SceneState& s = Scene();
    if (!ev || !s.slime) return Ref<TObject>(data);
    TMass* m = ev->GetMass1();
    if (!m) return Ref<TObject>(data);
    switch (ev->GetID()) {
        case TColEvent::MASS_BOUNDS: {
            // Only a blob of the structure, and only once: a blob that touches two walls in
            // one step is removed (and heard) once.
            TAdvBody& b = *s.slime->ab;
            const int32_t index = m->index;
            if (b.MassAt(index) == m) {
                b.MassRemove(index);
                PlayRemoveSound();
            }
            break;
        }
        case TColEvent::MASS_ZONE:
            if (!m->IsFrozen()) {
                m->Freeze();
                PlayAddSound();
            }
            break;
        default:
            break;
    }
    return Ref<TObject>(data);
}

}  // namespace slime
