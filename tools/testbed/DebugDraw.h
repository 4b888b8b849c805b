#pragma once
// Drawing of the current world for the testbed and `gelsim render`: the world through the
// library's own drawers, and overlays that show what the step sees (grid occupancy, the
// zones' quad trees, the last step's contacts, constraint stress, collision groups,
// frozen masses, the box). Also the sample scenes by name and PNG screenshots.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Graphics.h"
#include "scenes/Scenes.h"

namespace kin::testbed {

enum Overlay : uint32_t {
    OVERLAY_GRID = 1u << 0,
    OVERLAY_QUADTREE = 1u << 1,
    OVERLAY_CONTACTS = 1u << 2,
    OVERLAY_STRESS = 1u << 3,
    OVERLAY_GROUPS = 1u << 4,
    OVERLAY_FROZEN = 1u << 5,
    OVERLAY_BOX = 1u << 6,
    OVERLAY_ALL = (1u << 7) - 1,
};

/// Overlay names as the command line spells them ("grid", "quadtree", "contacts", "stress",
/// "groups", "frozen", "box", "all"); 0 for an unknown name.
uint32_t OverlayByName(const std::string& name);
/// The names, in bit order.
const std::vector<std::string>& OverlayNames();

/// One contact of the last step: a mass against a mass (a line between their centres) or
/// against a zone or the box (the contact point and the unit normal towards the mass).
struct Contact {
    int32_t kind;  // TColEvent::MASS_MASS, MASS_ZONE, MASS_BOUNDS
    float x1, y1, x2, y2;  // mass-mass: the two centres; others: the point and the point + normal
};

/// Steps the current world once and keeps the contacts the step queued (the step's event
/// queue is drained for it).
void StepAndCollect(std::vector<Contact>& contacts);

/// Shows the whole box (or the part of it holding the masses, when that is smaller)
/// in a w x h picture with a small margin: sets the world's view.
void FitView(float w, float h);

/// Draws the world on the current drawing context through the world's view, with the
/// chosen overlays. Clears the viewport first.
void DrawWorld(uint32_t overlays, const std::vector<Contact>& contacts);

/// Writes the current drawing context's picture as a PNG; false (with a reason) when the
/// context cannot be read back or the file cannot be written.
bool SaveScreenshot(const std::string& path, std::string* why = nullptr);

/// A sample scene of the menu.
struct SampleScene {
    std::string name;   // as in scene:NAME
    std::string title;  // for the menu
};
const std::vector<SampleScene>& SampleScenes();
/// Builds a sample scene by name (a new current world); media files are looked up in
/// mediaDir. Raises std::runtime_error for an unknown name or unreadable data.
gelsim::TScene BuildSample(const std::string& name, const std::string& mediaDir);
/// Builds what a list of command-line names asks for: one "scene:NAME" alone, or body and
/// zone files together.
gelsim::TScene BuildFromArgs(const std::vector<std::string>& names, const std::string& mediaDir);
/// The media folder: ./media when it holds the slime files, else beside the program or
/// one folder up (build folders sit inside the source tree).
std::string FindMediaDir();

}  // namespace kin::testbed
