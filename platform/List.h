#pragma once
// TList / TLink: a doubly linked list of object references.
//
// Two kinds of link live in the same list:
//   * list-owned links, made by AddLast(obj): the list holds a reference to the link and
//     the link holds a reference to the object. The caller may keep the returned
//     Ref<TLink> to remove the entry later in constant time.
//   * embedded links, placed with AddLast(link, obj): a TLink that is a member of some
//     other object (a mass's grid link). Neither the list nor the link counts anything,
//     and nothing is allocated: re-linking is a handful of pointer writes.
// Removing a link that is in no list does nothing, so double removal is safe.
#include <cstdint>

#include "platform/Object.h"

namespace kin {

class TList;

class TLink : public TObject {
public:
    TLink() = default;
    ~TLink() override;

    /// The object this link stands for (borrowed), or null.
    TObject* Value() const noexcept { return value_; }
    /// Next link in the list, or null at the end.
    TLink* NextLink() const noexcept;
    /// Previous link in the list, or null at the start.
    TLink* PrevLink() const noexcept;
    /// The list holding this link, or null once removed.
    TList* List() const noexcept { return list_; }
    /// Unlinks from the list; no-op when the link is in no list.
    void Remove() noexcept;

private:
    friend class TList;
    TLink* prev_ = nullptr;
    TLink* next_ = nullptr;
    TList* list_ = nullptr;
    TObject* value_ = nullptr;
    bool counted_ = false;  // list-owned: value_ is retained and the list retains this link
};

class TList : public TObject {
public:
    TList() noexcept;
    ~TList() override;
    TList(const TList&) = delete;
    TList& operator=(const TList&) = delete;

    /// Appends obj (retained) in a new list-owned link; returns that link.
    Ref<TLink> AddLast(TObject* obj);
    /// Appends obj in front of every other entry; returns the new link.
    Ref<TLink> AddFirst(TObject* obj);
    /// Appends an embedded link standing for obj; nothing is allocated or counted.
    /// The link must not be in a list already.
    void AddLast(TLink& link, TObject* obj) noexcept;
    /// Unlinks link if it belongs to this list; no-op otherwise.
    void Remove(TLink* link) noexcept;
    /// Removes the first link whose value is obj; returns whether one was found.
    bool Remove(TObject* obj) noexcept;
    /// Removes every link.
    void Clear() noexcept;

    /// First link, or null when empty.
    TLink* FirstLink() const noexcept { return head_.next_ == &head_ ? nullptr : head_.next_; }
    /// Last link, or null when empty.
    TLink* LastLink() const noexcept { return head_.prev_ == &head_ ? nullptr : head_.prev_; }
    /// The link holding obj, or null.
    TLink* FindLink(const TObject* obj) const noexcept;
    bool Contains(const TObject* obj) const noexcept { return FindLink(obj) != nullptr; }
    /// Number of entries (constant time).
    int32_t Count() const noexcept { return count_; }
    bool IsEmpty() const noexcept { return count_ == 0; }
    /// A new list holding the same objects in the same order.
    Ref<TList> Copy() const;

    /// In-order iteration over the values: for (TObject* o : list). Removing the current
    /// entry while iterating is allowed (the iterator has already stepped past it).
    class Iterator {
    public:
        Iterator(const TLink* at, const TLink* end) noexcept : at_(at), end_(end) { Settle(); }
        TObject* operator*() const noexcept { return cur_->value_; }
        Iterator& operator++() noexcept {
            Settle();
            return *this;
        }
        bool operator!=(const Iterator& o) const noexcept { return cur_ != o.cur_; }

    private:
        void Settle() noexcept {
            cur_ = at_;
            if (at_ != end_) at_ = at_->next_;
        }
        const TLink* at_;
        const TLink* end_;
        const TLink* cur_ = nullptr;
    };
    Iterator begin() const noexcept { return Iterator(head_.next_, &head_); }
    Iterator end() const noexcept { return Iterator(&head_, &head_); }

private:
    friend class TLink;
    void Link(TLink* link, TLink* before) noexcept;
    void Unlink(TLink* link) noexcept;
    TLink head_;  // sentinel: head_.next_ is the first link, head_.prev_ the last
    int32_t count_ = 0;
};

}  // namespace kin
