#pragma once
// The game's top level: start-up, window events, the timed main loop and one frame.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/Replay.h"
#include "platform/Event.h"
#include "platform/Object.h"
#include "platform/Sound.h"
#include "platform/System.h"
#include "platform/Timer.h"
#include "platform/Window.h"

namespace slime {

/// Program-wide state of the game, living until the program ends.
struct GameState {
    kin::Ref<kin::TGadget> window;
    kin::Ref<kin::TGadget> canvas;
    kin::Ref<kin::TTimer> timer;
    float pointerX = 0.0f;  // last "MouseMove" position, canvas pixels
    float pointerY = 0.0f;
    kin::Ref<kin::TSound> soundRemove;  // squelch when a blob is removed
    kin::Ref<kin::TSound> soundAdd;     // squelch when a blob is added or first sticks
    int32_t lastTicks = 0;              // timer ticks at the end of the last stepped frame
    bool closed = false;                // "WindowClose" or Esc arrived: the loop ends
    bool showHelp = false;              // H toggles the panel of keys over the frame
    ReplayWriter* recorder = nullptr;   // --record: takes every click and repaint; not owned
    const ReplayScript* replay = nullptr;  // --replay: what is played instead of the player; not owned
    size_t replayNext = 0;              // the next entry of replay to play
    uint64_t finalHash = 0;             // WorldHash() taken as the game closed, before the world goes
};

/// What the game has done since it started, for tests and tools that watch it play; the
/// recorder reads the step count, nothing else in the game reads these.
struct GameCounters {
    int64_t steps = 0;         // world steps taken
    int64_t frames = 0;        // frames presented
    int64_t removeSounds = 0;  // times soundRemove was started
    int64_t addSounds = 0;     // times soundAdd was started
};

/// The one game state.
GameState& Game();
/// The one set of counters.
GameCounters& Counters();
/// Builds window, canvas, timer, world, sounds and the scene.
void StartUp();
/// Draws and presents one frame.
void DrawFrame();
/// Emit-hook callback: reacts to window, pointer and key events (Esc closes the game, H
/// shows or hides the help panel); returns data unchanged.
kin::Ref<kin::TObject> OnEvent(int32_t hookId, kin::TObject* data, kin::TObject* context);
/// One pass of the main loop: waits for an event, then steps and draws once if the timer
/// ticked (in a replay: ReplayStep, closing the game at the replay's end). Returns false once
/// the window was closed.
bool LoopPass();
/// One step of a replay: plays the entries recorded at the current step count, then steps
/// and draws once. Returns false, without stepping, at the replay's end or once closed.
bool ReplayStep();
/// Frees the world (taking finalHash and ending the recording first) and closes the graphics;
/// the loop then ends. Does nothing the second time.
void CloseGame();
/// The whole program on the given backend: register media, start services, start up,
/// loop until the window closes. Returns the exit status.
int RunGame(kin::Backend backend);
/// The program with its command line (see UsageText): a normal game, a recorded one or a
/// replay. Returns the exit status: 2 for a bad command line or a replay file that cannot be
/// used, 1 when the services fail or the recording could not be written, else 0.
int GameMain(int argc, const char* const* argv);
/// Forgets all game state, the counters and the scene (tests run the game several times in
/// one process).
void ResetGame();

/// Plays soundRemove / soundAdd and counts it.
void PlayRemoveSound();
void PlayAddSound();

/// Where to read a data file named relative to the game's folder ("media/slime.plb"):
/// the name itself when it exists relative to the working directory (./run starts the game
/// from the repository root); otherwise the same name beside the executable or one folder
/// above it (build/slime-tower started from elsewhere finds the repository's media/);
/// otherwise the name unchanged, so the caller reports it missing.
std::string FindDataFile(const std::string& relative);
/// True when path names an existing regular file.
bool DataFileExists(const std::string& path);

}  // namespace slime
