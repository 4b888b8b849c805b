#include "platform/List.h"

namespace kin {

TLink::~TLink() {
    // A list-owned link is only destroyed after its list let go of it; an embedded link
    // can die while still linked (its owner is being destroyed), so take it out first.
    Remove();
}

TLink* TLink::NextLink() const noexcept {
    if (!list_ || next_ == &list_->head_) return nullptr;
    return next_;
}

TLink* TLink::PrevLink() const noexcept {
    if (!list_ || prev_ == &list_->head_) return nullptr;
    return prev_;
}

void TLink::Remove() noexcept {
    if (list_) list_->Unlink(this);
}

TList::TList() noexcept {
    head_.prev_ = &head_;
    head_.next_ = &head_;
}

TList::~TList() { Clear(); }

void TList::Link(TLink* link, TLink* before) noexcept {
    link->list_ = this;
    link->next_ = before;
    link->prev_ = before->prev_;
    before->prev_->next_ = link;
    before->prev_ = link;
    ++count_;
}

void TList::Unlink(TLink* link) noexcept {
    link->prev_->next_ = link->next_;
    link->next_->prev_ = link->prev_;
    link->prev_ = link->next_ = nullptr;
    link->list_ = nullptr;
    --count_;
    if (link->counted_) {
        // The link may outlive the list entry (a caller holds its Ref); it keeps nothing.
        TObject* value = link->value_;
        link->value_ = nullptr;
        link->counted_ = false;
        if (value) value->Release();
        link->Release();
    }
}

Ref<TLink> TList::AddLast(TObject* obj) {
    Ref<TLink> link = MakeRef<TLink>();
    link->value_ = obj;
    link->counted_ = true;
    if (obj) obj->Retain();
    link->Retain();  // the list's own reference
    Link(link.Get(), &head_);
    return link;
}

Ref<TLink> TList::AddFirst(TObject* obj) {
    Ref<TLink> link = MakeRef<TLink>();
    link->value_ = obj;
    link->counted_ = true;
    if (obj) obj->Retain();
    link->Retain();
    Link(link.Get(), head_.next_);
    return link;
}

void TList::AddLast(TLink& link, TObject* obj) noexcept {
    link.Remove();
    link.value_ = obj;
    link.counted_ = false;
    Link(&link, &head_);
}

void TList::Remove(TLink* link) noexcept {
    if (link && link->list_ == this) Unlink(link);
}

bool TList::Remove(TObject* obj) noexcept {
    TLink* link = FindLink(obj);
    if (!link) return false;
    Unlink(link);
    return true;
}

void TList::Clear() noexcept {
    while (head_.next_ != &head_) Unlink(head_.next_);
}

TLink* TList::FindLink(const TObject* obj) const noexcept {
    for (TLink* l = head_.next_; l != &head_; l = l->next_)
        if (l->value_ == obj) return l;
    return nullptr;
}

Ref<TList> TList::Copy() const {
    Ref<TList> out = MakeRef<TList>();
    for (TObject* o : *this) out->AddLast(o);
    return out;
}

}  // namespace kin
