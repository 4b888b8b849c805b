#pragma once
// Recording what the player did and playing it back, the command line that asks for it, and
// the hash that tells two runs' final worlds apart.
//
// A recording holds everything done between steps that changes the world: every click, as
// the world point it landed on (so a replay does not depend on the window's size or the
// camera), and every frame drawn without a step (a repaint: a frame drops loose blobs and
// moves the ceiling). Each carries the number of steps taken before it; the last line holds
// the step count at which the game ended. The canvas size is not kept: it only moves the
// camera, which changes nothing in the world.
//
// The file is text, one line per entry, written and flushed as the game runs, so a game that
// is killed loses at most the line being written:
//
//     slime-tower replay 1
//     click STEP X Y        world point, floats that read back to the same bits
//     frame STEP
//     end STEP
//
// Steps never decrease. A recording without its end line (the game was killed) plays up to
// its last entry.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace slime {

/// Tag and version on the first line of every recording.
inline constexpr const char* REPLAY_TAG = "slime-tower replay";
inline constexpr int32_t REPLAY_VERSION = 1;

/// One recorded action between steps.
struct ReplayEntry {
    enum class Kind { Click, Frame };
    Kind kind = Kind::Click;
    int64_t step = 0;        // steps taken before it
    float x = 0.0f, y = 0.0f;  // click: world point
};

/// A recording as read back.
struct ReplayScript {
    std::vector<ReplayEntry> entries;  // in the order they happened
    int64_t endStep = 0;               // steps to take in all
    bool hasEnd = false;               // false: the recording was cut off (endStep = last entry's step)
};

/// Reads the recording at path. False with a one-line message naming the file and the line
/// (or the reason it cannot be opened) in *error; a damaged file never throws.
bool ReadReplay(const std::string& path, ReplayScript& script, std::string* error);
/// The same from text already read; name is used in messages.
bool ParseReplay(const std::string& text, const std::string& name, ReplayScript& script, std::string* error);

/// Writes a recording line by line, each flushed at once. After the first failed write it
/// writes nothing more and Failed() says why.
class ReplayWriter {
public:
    ReplayWriter() = default;
    ~ReplayWriter();
    ReplayWriter(const ReplayWriter&) = delete;
    ReplayWriter& operator=(const ReplayWriter&) = delete;

    /// Creates or empties path and writes the header. False with a one-line message in *error.
    bool Open(const std::string& path, std::string* error);
    /// A click at world point (x, y) after step steps.
    void Click(int64_t step, float x, float y);
    /// A frame drawn without a step after step steps.
    void Frame(int64_t step);
    /// The game ends after step steps; nothing is written afterwards and the file is closed.
    void End(int64_t step);
    /// True while entries are still written (open, not ended, no failure).
    bool Writing() const { return file_ != nullptr; }
    /// The one-line message of the first failure ("" while none).
    const std::string& Failed() const { return failed_; }

private:
    void Line(const char* text);
    std::FILE* file_ = nullptr;
    std::string path_;
    std::string failed_;
};

/// 64-bit FNV-1a over the bytes (lowest first) of the bit patterns of every active mass's
/// current and old position (x, y, old x, old y) in world-table order; the offset basis with
/// no world.
uint64_t WorldHash();
/// "hash " and the 16 lower-case hex digits of h.
std::string HashLine(uint64_t h);

/// What the command line asked for.
struct GameOptions {
    std::string record;   // --record FILE: "" none
    std::string replay;   // --replay FILE: "" none
    bool headless = false;  // --headless: replay without a window, as fast as it goes
    bool hash = false;      // --hash: print the final world's hash on standard output
    bool help = false;      // --help
};

/// Reads the arguments after the program name. False with a one-line message in *error for an
/// unknown option, a missing file name or a combination that means nothing.
bool ParseOptions(int argc, const char* const* argv, GameOptions& options, std::string* error);
/// The text --help prints.
std::string UsageText();

}  // namespace slime
