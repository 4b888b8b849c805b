#include "app/Undo.h"

#include "app/Scene.h"
#include "gelsim/bodies/AdvBody.h"
#include "gelsim/core/Physics.h"
#include "gelsim/state/WorldState.h"

namespace slime {

using namespace kin;
using gelsim::TAdvBody;
using gelsim::TPhysics;

namespace {

UndoLevel Present() {
    const SceneState& s = Scene();
    UndoLevel level;
    level.state = gelsim::SaveState(*TPhysics::currentWorld, false);
    level.topRecord = s.topRecord;
    level.viewY = s.viewY;
    return level;
}

// Puts the world and the scene back to a kept moment. The structure's body keeps its id in
// the registry; the object behind it may be a new one.
void Return(const UndoLevel& level) {
    SceneState& s = Scene();
    TPhysics& w = *TPhysics::currentWorld;
    const int32_t id = s.slime->ab->aIndex;
    gelsim::RestoreState(w, level.state.data(), level.state.size());
    if (auto* body = As<TAdvBody>(TPhysics::GetBody(id))) s.slime->ab = body;
    s.topRecord = level.topRecord;
    s.viewY = level.viewY;
}

// Whether the world and the scene can be kept and put back: a world, and a structure
// whose body is registered in it.
bool Usable() {
    const SceneState& s = Scene();
    return TPhysics::currentWorld && s.slime && s.slime->ab && s.slime->ab->aIndex >= 0;
}

}  // namespace

std::size_t UndoHistory::Bytes() const {
    std::size_t n = 0;
    for (const UndoLevel& l : undo) n += l.state.capacity();
    for (const UndoLevel& l : redo) n += l.state.capacity();
    return n;
}

UndoHistory& History() {
    static UndoHistory history;
    return history;
}

void RememberBeforeClick() {
    if (!Usable()) return;
    UndoHistory& h = History();
    h.redo.clear();
    if (h.undo.size() == UNDO_LEVELS) h.undo.pop_front();
    h.undo.push_back(Present());
}

bool Undo() {
    UndoHistory& h = History();
    if (h.undo.empty() || !Usable()) return false;
    h.redo.push_back(Present());
    Return(h.undo.back());
    h.undo.pop_back();
    return true;
}

bool Redo() {
    UndoHistory& h = History();
    if (h.redo.empty() || !Usable()) return false;
    h.undo.push_back(Present());
    Return(h.redo.back());
    h.redo.pop_back();
    return true;
}

void ForgetHistory() { History() = UndoHistory{}; }

}  // namespace slime
