#pragma once
// Undo and redo of the player's clicks. Before every click that changes the structure, the
// world's state (without the ground and walls, which never change), the record height and
// the camera are kept; Z puts the world back as it was just before the last such click, Y
// does again what Z took back, until the next click starts a new line of play. Up to
// UNDO_LEVELS clicks are kept; older ones are forgotten first.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace slime {

/// Clicks that Z can take back.
inline constexpr std::size_t UNDO_LEVELS = 100;

/// One moment of play: the world's state and what the scene keeps beside it.
struct UndoLevel {
    std::vector<uint8_t> state;  // the world without its zones
    float topRecord = 0.0f;
    float viewY = 0.0f;
};

struct UndoHistory {
    std::deque<UndoLevel> undo;  // oldest first
    std::deque<UndoLevel> redo;  // the last one undone at the back
    /// Bytes the kept states hold.
    std::size_t Bytes() const;
};

/// The game's one history.
UndoHistory& History();
/// Keeps the present moment before a click that changes the structure; forgets what Y
/// could have done again.
void RememberBeforeClick();
/// Z: back to the moment before the last click. False when there is none.
bool Undo();
/// Y: forward again to the moment Z left. False when there is none.
bool Redo();
/// Forgets everything (tests; ResetGame calls it).
void ForgetHistory();

}  // namespace slime
