#pragma once
// The storage behind one index table of a body.
//
// Entries below size() sit in one contiguous run, which is what a table built by adding
// has: the run doubles when an addition reaches its end. Entries past the run are kept one
// by one, in index order. Only a table read from a file (or copied from one) has those: a
// file can declare a count far above the entries it fills (a table that grew large and was
// mostly emptied again before saving), and such a table takes memory for what it holds,
// not for its count. Walking a table visits every index of the run and then only the
// indices held past it, so a count of a billion with two entries is walked in two steps.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <map>
#include <utility>
#include <vector>

#include "gelsim/core/Assert.h"
#include "platform/Object.h"

namespace kin::gelsim {

template <class T>
class TSlots {
public:
    /// Length of the contiguous run: the table's storage length as far as it is one array.
    size_t size() const { return run_.size(); }
    /// Number of entries held one by one past the run.
    size_t Scattered() const { return scattered_.size(); }

    /// The entry at i (borrowed), or null for an empty entry or a negative index.
    T* Get(int32_t i) const {
        if (i < 0) return nullptr;
        if (static_cast<size_t>(i) < run_.size()) return run_[static_cast<size_t>(i)].Get();
        auto it = scattered_.find(i);
        GELSIM_ASSERT(it == scattered_.end() || it->second);  // only entries that hold something are kept
        return it == scattered_.end() ? nullptr : it->second.Get();
    }

    /// Stores e at i (null empties the entry); a negative index is ignored. The entry that
    /// was there is released after the table is consistent again.
    void Set(int32_t i, Ref<T> e) {
        if (i < 0) return;
        if (static_cast<size_t>(i) < run_.size()) {
            std::swap(run_[static_cast<size_t>(i)], e);
            return;
        }
        auto it = scattered_.find(i);
        if (it == scattered_.end()) {
            if (e) scattered_.emplace(i, std::move(e));
            return;
        }
        std::swap(it->second, e);
        if (!it->second) scattered_.erase(it);
        GELSIM_ASSERT(Consistent());
    }

    /// Lengthens the run to n entries (never shortens it); entries held past the old run
    /// and below n move into it.
    void Grow(size_t n) {
        if (n <= run_.size()) return;
        run_.resize(n);
        while (!scattered_.empty() && static_cast<size_t>(scattered_.begin()->first) < n) {
            auto node = scattered_.extract(scattered_.begin());
            run_[static_cast<size_t>(node.key())] = std::move(node.mapped());
        }
        GELSIM_ASSERT(Consistent());
    }

    /// Empties the table, leaving a run of n empty entries.
    void Reset(size_t n) {
        std::map<int32_t, Ref<T>> old;
        old.swap(scattered_);
        std::vector<Ref<T>> oldRun(n);
        oldRun.swap(run_);
    }

    /// The smallest index above i that can hold an entry: the next index of the run, else
    /// the next index held past it; INT32_MAX when there is none.
    int32_t Next(int32_t i) const {
        const int64_t n = int64_t(i) + 1;
        if (n < 0) return First();
        if (n < static_cast<int64_t>(run_.size())) return static_cast<int32_t>(n);
        GELSIM_ASSERT(Consistent());
        auto it = scattered_.upper_bound(i);
        return it == scattered_.end() ? std::numeric_limits<int32_t>::max() : it->first;
    }
    int32_t First() const {
        if (!run_.empty()) return 0;
        return scattered_.empty() ? std::numeric_limits<int32_t>::max() : scattered_.begin()->first;
    }

    /// The indices below count (read afresh at every step) that can hold an entry, rising.
    /// Entries added or removed during the walk are seen as it goes on.
    class Walk {
    public:
        struct Cursor {
            const TSlots* slots;
            const int32_t* count;
            int32_t index;
            int32_t operator*() const { return index; }
            Cursor& operator++() {
                index = slots->Next(index);
                return *this;
            }
            bool operator!=(std::default_sentinel_t) const { return index < *count; }
        };
        Walk(const TSlots* slots, const int32_t* count) : slots_(slots), count_(count) {}
        Cursor begin() const { return {slots_, count_, slots_->First()}; }
        std::default_sentinel_t end() const { return {}; }

    private:
        const TSlots* slots_;
        const int32_t* count_;
    };
    Walk Below(const int32_t& count) const { return Walk(this, &count); }

    /// Calls f(entry) for every entry held, in index order.
    template <class F>
    void ForEach(F&& f) const {
        for (const Ref<T>& e : run_)
            if (e) f(e.Get());
        for (const auto& [i, e] : scattered_) f(e.Get());
    }

private:
    /// Every entry held one by one lies past the run.
    bool Consistent() const { return scattered_.empty() || static_cast<size_t>(scattered_.begin()->first) >= run_.size(); }

    std::vector<Ref<T>> run_;
    std::map<int32_t, Ref<T>> scattered_;  // indices at or past the end of the run
};

}  // namespace kin::gelsim
