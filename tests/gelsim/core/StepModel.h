#pragma once
// A plain model of the world's step, used by the tests as an oracle for TPhysics::Update.
//
// ModelUpdate does what one tick does, written out the slow and obvious way: the tables are
// walked by index with their counts read where the step reads them; the grid is a vector
// of masses per cell, kept in list order by re-placing a mass at the end of its cell; the
// pair search walks the 3 x 3 cells around the handled mass live, in list order, so that a
// mass a callback puts into a cell still ahead of the walk is met and one it takes out is
// not; the group filters read the masses' fields as they stand. The elements' own work (a
// constraint's relaxation, a zone's contact, a mass pair's response, making and emitting
// events) is the library's.
//
// The model keeps its own cells, so a collision callback that changes the grid while a
// model step runs must say so through the helpers below (they do the change and tell the
// model; outside a model step they only do the change). Between steps nothing needs
// telling: every step re-places every active mass before anything looks at the cells.
#include <vector>

#include "gelsim/core/Body.h"
#include "gelsim/core/Constraint.h"
#include "gelsim/core/Mass.h"

namespace kin::gelsim::test {

/// One tick of the current world, done by the model.
void ModelUpdate();

/// The masses of cell (c, r) in list order as the last model step left them.
const std::vector<TMass*>& ModelCell(int32_t c, int32_t r);

/// Counts m in (AddRef); a mass that enters the world takes its cell.
void ModelAddRef(TMass* m);
/// Counts m out (SubRef); a mass that leaves the world leaves its cell.
void ModelSubRef(TMass* m);
/// m.AddToGrid().
void ModelAddToGrid(TMass* m);
/// c.Assign(body): the masses that enter the world take their cells, first mass first.
void ModelAssign(TConstraint* c, TBody* body);
/// c.Free(body): the masses that leave the world leave their cells.
void ModelFree(TConstraint* c, TBody* body);

}  // namespace kin::gelsim::test
