#pragma once
// The tower scene: what a frame shows, what a click does, where the ceiling sits, and how
// blobs answer contacts (a blob touching the world's box is removed, one touching the
// ground or a wall sticks there).
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/Slime.h"
#include "platform/Font.h"
#include "platform/Image.h"
#include "platform/Object.h"

// The ground and walls are zones of the simulation library; the build turns them on once
// the library carries the zone type (see app/CMakeLists.txt). Without them the scene still
// runs: there is no ground, and blobs fall to the box and are removed.
#ifndef SLIME_HAVE_ZONES
#define SLIME_HAVE_ZONES 0
#endif
#if SLIME_HAVE_ZONES
#include "gelsim/zones/Zone.h"
namespace slime {
using ZoneRef = kin::Ref<kin::gelsim::TZone>;
}
#else
namespace slime {
using ZoneRef = kin::Ref<kin::TObject>;
}
#endif

namespace slime {

/// The ground's zone file, read relative to the game's folder (see FindDataFile).
inline constexpr const char* GROUND_FILE = "media/ground.plz";

/// Program-wide state of the scene, living until the program ends.
struct SceneState {
    std::array<ZoneRef, 3> zones;                 // the ground and its two tilted copies
    kin::Ref<TSlime> slime;                       // the player's structure
    float viewY = 4096.0f;                        // world y shown at the centre of the canvas
    float topRecord = 4096.0f;                    // smallest structure top reached so far
    kin::Ref<kin::TImageFont> hudFont;            // the height numbers' font
    kin::Ref<kin::TImage> logo;
    std::vector<std::string> problems;            // data files that could not be used, shown on screen
};

/// The one scene state.
SceneState& Scene();
/// Builds the scene; called once right after the world is created. Reports every data file
/// it cannot use with one line on standard error and keeps the message for the window.
void SetUpScene();
/// A mouse press at canvas pixel (x, y).
void HandleClick(float x, float y);
/// Draws everything of one frame on a w x h drawing context.
void DrawScene(float w, float h);
/// After each presented frame: the world's ceiling follows the record with 1000 units of room.
void MoveCeiling();
/// Collision-event hook callback: removes blobs that touched the box, freezes blobs that
/// touched a zone; returns data unchanged.
kin::Ref<kin::TObject> OnCollision(int32_t hookId, kin::TObject* data, kin::TObject* context);
/// Unhooks the collision callback and forgets the scene (tests; ResetGame calls it).
void ResetScene();

}  // namespace slime
