#pragma once
// TBody: a name and the constraints assigned to the simulation on its behalf. The
// indexed body derives from it.
#include <cstdint>
#include <string>

#include "platform/List.h"
#include "platform/Object.h"

namespace kin::gelsim {

class TPhysics;
namespace detail {
struct WorldAccess;
}

class TBody : public TObject {
public:
    std::string name = "Body";
    Ref<TList> conList = MakeRef<TList>();  // assigned constraints, in order of assignment

    TBody() = default;
    /// Counts out every constraint still assigned through this body.
    ~TBody() override;

    virtual int32_t SetName(const std::string& n);
    virtual std::string GetName() const;
    /// A new list with the assigned constraints (a copy; the caller owns it).
    virtual Ref<TList> GetConstraints() const;
    /// Counts out every assigned constraint in list order, then empties the list.
    virtual int32_t Free();
    /// Same as the base Free.
    virtual int32_t Clear();
    /// Told by the world when the registry that holds this body ends (the world is freed
    /// or destroyed) while something else still holds the body: it no longer has an id.
    virtual void LeaveRegistry() { world_ = nullptr; }
    /// The world whose body registry holds this body (borrowed), or null; a plain body is
    /// in none.
    TPhysics* GetWorld() const { return world_; }

protected:
    int32_t ReleaseConstraints();

private:
    friend class TConstraint;
    friend class TPhysics;
    friend struct detail::WorldAccess;
    TPhysics* world_ = nullptr;  // set and cleared by the world's body registry
    // Entries of conList that Assign appended and Free has not removed. While they are all
    // of the list's entries, a constraint's own record of the lists holding it answers
    // whether this body holds it, without a walk over the list.
    const TList* assignedIn_ = nullptr;
    int32_t assigned_ = 0;
    bool OnlyAssigned() {
        if (!conList) return false;
        if (assignedIn_ != conList.Get() && conList->IsEmpty()) {
            assignedIn_ = conList.Get();
            assigned_ = 0;
        }
        return assignedIn_ == conList.Get() && assigned_ == conList->Count();
    }
};

}  // namespace kin::gelsim
