#pragma once
// The testbed's state and behaviour, free of the window system: the window program feeds
// it ticks, pointer and key input and asks it for frames; the benchmark drives it headless.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "gelsim/core/Body.h"
#include "gelsim/core/Constraint.h"
#include "gelsim/core/Mass.h"
#include "platform/Event.h"  // key codes: the platform's KEY_* and lower-case ASCII
#include "scenes/Scenes.h"
#include "tools/testbed/DebugDraw.h"

namespace kin::testbed {

class Testbed {
public:
    struct Options {
        std::vector<std::string> inputs;  // files or one scene:NAME; empty: the menu on the first sample
        std::string mediaDir;             // where the slime scenes' files are
        std::string dumpPath;             // written after every frame when not empty
        std::string shotPrefix = "testbed-shot";  // screenshots: PREFIX-N.png
    };

    explicit Testbed(Options options);
    ~Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    /// (Re)builds the world from the given names; on failure the message is shown and the
    /// world stays empty. Returns whether it worked.
    bool Load(const std::vector<std::string>& names);
    /// Takes over a scene built elsewhere (benchmarks).
    void Adopt(gelsim::TScene scene, const std::string& title);
    /// Builds the current names again.
    void Restart();

    /// One 60 Hz tick: steps the world when running (every fourth tick in slow motion).
    void Tick();
    /// Steps once now; after StepBack, forward again through the kept states first.
    void Step();
    /// Back to the state before the last step (pauses); false when no earlier state is kept.
    bool StepBack();
    /// Steps the history holds behind and ahead of the present.
    size_t StepsBack() const { return past_.size(); }
    size_t StepsAhead() const { return future_.size(); }
    /// Steps kept to go back through, and the bytes they may take at most.
    static constexpr size_t HISTORY_STEPS = 600;
    static constexpr size_t HISTORY_BYTES = size_t{256} << 20;
    /// Draws a frame of w x h pixels on the current drawing context (the caller flips).
    void Draw(float w, float h);

    void KeyDown(int32_t key);
    void MouseDown(int32_t button, float x, float y);
    void MouseMove(float x, float y);
    void MouseUp(int32_t button, float x, float y);
    /// Wheel notches (positive away from the user) at pointer pixel (x, y): zooms there.
    void Wheel(float notches, float x, float y);

    bool quit = false;
    bool running = true;
    bool slowMotion = false;
    bool showHelp = false;
    bool showMenu = false;
    uint32_t overlays = 0;
    int64_t steps = 0;
    int64_t frames = 0;

private:
    void Release();
    void ForgetHistory();
    void FitToWindow(float w, float h);
    void ApplyView();
    void Grab(float x, float y);
    void DrawHud(float w, float h);
    void WriteDump(float w, float h);
    int32_t MenuLineAt(float x, float y) const;

    Options options_;
    std::vector<std::string> names_;
    std::string title_;
    std::string problem_;
    gelsim::TScene scene_;
    std::vector<Contact> contacts_;
    int64_t ticks_ = 0;

    // View: world point at the centre, pixels per world unit; refitted on the next frame
    // after a load.
    float viewX_ = 512.0f, viewY_ = 2048.0f, zoom_ = 0.2f;
    bool fitPending_ = true;
    float width_ = 0.0f, height_ = 0.0f;

    // Pointer and dragging: a frozen pointer mass joined to the grabbed mass by a stiff
    // constraint, assigned through a body of its own.
    float pointerX_ = 0.0f, pointerY_ = 0.0f;
    bool panning_ = false;
    Ref<gelsim::TMass> grabbed_;
    Ref<gelsim::TMass> handle_;
    Ref<gelsim::TConstraint> spring_;
    Ref<gelsim::TBody> dragBody_;

    // Step timing: the last few seconds of step times (ms) and the steps of the last second.
    std::deque<float> stepMs_;
    std::deque<double> stepStamps_;
    float lastStepMs_ = 0.0f;

    bool shotPending_ = false;
    int32_t shotCount_ = 0;
    // The world's state before each of the last steps (without zones, which do not move),
    // oldest first, and the states stepped back from, the nearest at the back.
    std::deque<std::vector<uint8_t>> past_, future_;
    size_t historyBytes_ = 0;
    std::string message_;
    int64_t messageUntil_ = 0;  // frame number
};

}  // namespace kin::testbed
