#pragma once
// The tower scene: what a frame shows, what a click does, where the ceiling sits, and how
// blobs answer contacts (a blob touching the world's box is removed, one touching the
// ground or a wall sticks there).
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/Slime.h"
#include "gelsim/zones/Zone.h"
#include "platform/Font.h"
#include "platform/Image.h"
#include "platform/Object.h"

namespace slime {

/// The ground's zone file, read relative to the game's folder (see FindDataFile).
inline constexpr const char* GROUND_FILE = "media/ground.plz";

/// Program-wide state of the scene, living until the program ends.
struct SceneState {
    std::array<kin::Ref<kin::gelsim::TZone>, 3> zones;  // the ground and its two tilted copies
    kin::Ref<TSlime> slime;                             // the player's structure
    float viewY = 4096.0f;                              // world y shown at the centre of the canvas
    float topRecord = 4096.0f;                          // smallest structure top reached so far
    kin::Ref<kin::TImageFont> hudFont;                  // the height numbers' font
    kin::Ref<kin::TImage> logo;
    std::vector<std::string> problems;                  // data files that could not be used
};

/// The one scene state.
SceneState& Scene();
/// Builds the scene; called once right after the world is created. Reports every data file
/// it cannot use with one line on standard error and keeps the message for the window.
void SetUpScene();
/// A mouse press at canvas pixel (x, y): recorded as its world point when recording, then ClickAt.
void HandleClick(float x, float y);
/// A click at world point (x, y) (a replay plays them back through here).
void ClickAt(float x, float y);
/// Draws everything of one frame on a w x h drawing context, with the pointer at canvas
/// pixel (pointerX, pointerY): near the top or bottom edge it scrolls the view.
void DrawScene(float w, float h, float pointerX, float pointerY);
/// After each presented frame: the world's ceiling follows the record with 1000 units of room.
void MoveCeiling();
/// Collision-event hook callback: removes blobs that touched the box, freezes blobs that
/// touched a zone; returns data unchanged.
kin::Ref<kin::TObject> OnCollision(int32_t hookId, kin::TObject* data, kin::TObject* context);
/// Unhooks the collision callback and forgets the scene (tests; ResetGame calls it).
void ResetScene();

}  // namespace slime
