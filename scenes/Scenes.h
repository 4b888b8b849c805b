#pragma once
// Ready-made worlds for tests, benchmarks and demos. Each builder creates a new current
// world (1024 x 4096 box, gravity 0.1 down) and returns what it put in it; the masses are
// counted in (directly, or through the constraints assigned to the scene's body) and stay
// in the world as long as the scene object or the world holds them.
#include <cstdint>
#include <string>
#include <vector>

#include "gelsim/core/Body.h"
#include "gelsim/core/Constraint.h"
#include "gelsim/core/Mass.h"
#include "gelsim/core/Physics.h"

namespace kin::gelsim {

struct TScene {
    Ref<TPhysics> world;
    std::vector<Ref<TMass>> masses;
    std::vector<Ref<TConstraint>> constraints;
    Ref<TBody> body;  // the constraints are assigned through it
    std::vector<Ref<TObject>> held;  // zones and loaded bodies the scene keeps alive

    /// Copies every mass's current and old position into `saved`.
    void SaveState();
    /// Puts every mass back to the saved positions (velocities included).
    void RestoreState();
    /// FNV-1a over the bit patterns of every mass's current and old position.
    uint64_t Hash() const;

    std::vector<float> saved;
};

/// n free discs of radius 5 in a tight start grid above the floor; grid on, 128 cells.
TScene BuildPile(int32_t n);
/// cols x rows soft lattice (spacing 10, neighbour and diagonal constraints, one shared
/// collision group) hanging above the floor; grid on.
TScene BuildLattice(int32_t cols, int32_t rows);
/// n discs of radius 5 hex-packed at spacing 9.5 on the floor: every neighbour overlaps.
TScene BuildHexPile(int32_t n);
/// A mixed scene: soft rings, loose discs of several sizes and weights, frozen pegs; grid
/// on, two passes.
TScene BuildMixedScene();
/// Hilly ground, a ramp and a bowl made of filled zones, with n discs of radius 5 raining
/// onto them from a loose grid; grid on.
TScene BuildTerrain(int32_t n);
/// The ground line of BuildSegmentTerrain: segments + 1 points (x0, y0, x1, y1, ...) from
/// the box's left wall to its right one, rolling between y = 3825 and 3975.
std::vector<float> SegmentTerrainProfile(int32_t segments);
/// n discs of radius 5 raining from a loose grid onto rolling ground made of `segments`
/// straight pieces: one filled zone whose top is SegmentTerrainProfile and whose bottom
/// lies below the box; grid on.
TScene BuildSegmentTerrain(int32_t n, int32_t segments);
/// Body (.plb) and zone (.plz) files in one world: zones keep the position they were saved
/// with, bodies are stacked from the floor upwards in the order given (each moved so that
/// its reference mass sits spacing units above the previous one); every body after the
/// first takes fresh collision groups (masses that shared a group still do), so copies of
/// one file collide. masses lists every active mass afterwards. Raises the loaders' exceptions for damaged files and
/// std::runtime_error for a path that is neither.
TScene BuildFromFiles(const std::vector<std::string>& paths, float spacing = 120.0f);
/// The game's slime structure on its ground: ground.plz three times (the floor and two
/// tilted walls, as the game places them) and slime.plb at its start point, both read
/// from mediaDir.
TScene BuildSlimeStructure(const std::string& mediaDir);
/// Sets the current world's grid to the most cells per side (8 to 128) whose cells are
/// still at least `diameter` wide and tall, so that no two overlapping masses of that
/// diameter or less lie two cells apart (unless the box is under 8 diameters across);
/// returns the cells per side. The builders above use 128 cells (8 x 32 units), which
/// leaves some overlapping pairs of radius-5 discs untested.
int32_t FitGridToDiameter(float diameter);

}  // namespace kin::gelsim
