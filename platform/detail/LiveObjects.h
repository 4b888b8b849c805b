#pragma once
// The addresses of every object alive, kept only in checked builds (GELSIM_CHECKED): an
// interface that receives object handles from outside the program (the C interface) can
// then refuse a handle whose object was released or never existed, instead of following
// it. TObject's constructor and destructor keep the set.
//
// The table lives on the C heap, so the test programs that count operator new see only
// what the code under test allocates, and it grows by doubling, so adding an object costs
// no allocation of its own most of the time. The lock is there because nothing stops a
// program from making objects on more than one thread.
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

namespace kin::detail {

class TLiveObjects {
public:
    /// Records p as alive; aborts when the table cannot grow (checked builds only).
    void Add(const void* p) noexcept {
        const std::lock_guard<std::mutex> lock(mutex_);
        if ((used_ + 1) * 2 > cap_) Grow();
        const size_t at = Find(Key(p), true);
        if (slots_[at] == kFree) ++used_;
        slots_[at] = Key(p);
        ++live_;
    }
    /// Forgets p.
    void Remove(const void* p) noexcept {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!cap_) return;
        const size_t at = Find(Key(p), false);
        if (slots_[at] != Key(p)) return;
        slots_[at] = kGone;  // the slot stays used: later keys may have probed past it
        --live_;
    }
    /// True while the object at p is alive.
    bool Contains(const void* p) noexcept {
        const std::lock_guard<std::mutex> lock(mutex_);
        return cap_ && slots_[Find(Key(p), false)] == Key(p);
    }

private:
    static constexpr uintptr_t kFree = 0, kGone = 1;
    // Objects are at least pointer-aligned, so no key is 0 or 1.
    static uintptr_t Key(const void* p) noexcept { return reinterpret_cast<uintptr_t>(p); }
    size_t Home(uintptr_t k) const noexcept {
        uint64_t h = static_cast<uint64_t>(k >> 4) * 0x9E3779B97F4A7C15ull;
        return static_cast<size_t>(h ^ (h >> 32)) & (cap_ - 1);
    }
    // The slot holding k, or the free (or, when adding, the first reusable) slot where the
    // search for k ends. The table always has free slots, so the search ends.
    size_t Find(uintptr_t k, bool adding) const noexcept {
        size_t reuse = cap_;
        for (size_t at = Home(k);; at = (at + 1) & (cap_ - 1)) {
            if (slots_[at] == k) return at;
            if (slots_[at] == kGone && adding && reuse == cap_) reuse = at;
            if (slots_[at] == kFree) return reuse != cap_ ? reuse : at;
        }
    }
    // Rebuilds the table with room for twice the live objects, dropping the gone slots.
    void Grow() noexcept {
        size_t cap = 1024;
        while (cap < (live_ + 1) * 4) cap *= 2;
        auto* slots = static_cast<uintptr_t*>(std::calloc(cap, sizeof(uintptr_t)));
        if (!slots) std::abort();
        uintptr_t* old = slots_;
        const size_t oldCap = cap_;
        slots_ = slots, cap_ = cap, used_ = 0;
        for (size_t i = 0; i < oldCap; ++i)
            if (old[i] != kFree && old[i] != kGone) {
                slots_[Find(old[i], true)] = old[i];
                ++used_;
            }
        std::free(old);
    }

    std::mutex mutex_;
    uintptr_t* slots_ = nullptr;
    size_t cap_ = 0;   // a power of two, or 0 before the first object
    size_t used_ = 0;  // slots not free: live and gone
    size_t live_ = 0;
};

/// The program's set; never destroyed, so objects that outlive static destruction can
/// still leave it.
inline TLiveObjects& LiveObjects() noexcept {
    static TLiveObjects* set = [] {
        void* at = std::malloc(sizeof(TLiveObjects));
        if (!at) std::abort();
        return new (at) TLiveObjects;
    }();
    return *set;
}

}  // namespace kin::detail
