#include "gelsim/core/Body.h"

#include "gelsim/core/Constraint.h"

namespace kin::gelsim {

TBody::~TBody() { ReleaseConstraints(); }

int32_t TBody::SetName(const std::string& n) {
    name = n;
    return 0;
}

std::string TBody::GetName() const { return name; }

Ref<TList> TBody::GetConstraints() const { return conList ? conList->Copy() : MakeRef<TList>(); }

int32_t TBody::Free() { return ReleaseConstraints(); }

int32_t TBody::Clear() { return ReleaseConstraints(); }

int32_t TBody::ReleaseConstraints() {
    if (!conList) return 0;
    // The list holds its constraints while they are counted out; it is emptied after.
    for (TObject* o : *conList)
        if (auto* c = As<TConstraint>(o)) c->SubRef();
    conList->Clear();
    assignedIn_ = conList.Get();
    assigned_ = 0;
    return 0;
}

}  // namespace kin::gelsim
