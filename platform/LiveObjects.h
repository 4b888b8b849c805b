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
        if ((count_ + 1) * 2 > cap_) Grow();
        const size_t at = Find(Key(p));
        if (slots_[at] == kFree) ++count_;
        slots_[at] = Key(p);
    }
    /// Forgets p.
    void Remove(const void* p) noexcept {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!cap_) return;
        size_t hole = Find(Key(p));
        if (slots_[hole] != Key(p)) return;
        // Linear probing without markers for removed keys: every key after the hole in its
        // run that may not stay behind it (its home is not between the hole and itself)
        // moves into it, so that lookups stay as short as the table's load allows.
        for (size_t at = (hole + 1) & (cap_ - 1); slots_[at] != kFree; at = (at + 1) & (cap_ - 1)) {
            const size_t home = Home(slots_[at]);
            const bool stays = hole <= at ? (hole < home && home <= at) : (hole < home || home <= at);
            if (stays) continue;
            slots_[hole] = slots_[at];
            hole = at;
        }
        slots_[hole] = kFree;
        --count_;
    }
    /// True while the object at p is alive.
    bool Contains(const void* p) noexcept {
        const std::lock_guard<std::mutex> lock(mutex_);
        return cap_ && slots_[Find(Key(p))] == Key(p);
    }

private:
    static constexpr uintptr_t kFree = 0;
    static uintptr_t Key(const void* p) noexcept { return reinterpret_cast<uintptr_t>(p); }
    // Multiplicative hashing: the product's top bits, which every bit of the address feeds.
    size_t Home(uintptr_t k) const noexcept {
        return static_cast<size_t>((static_cast<uint64_t>(k) * 0x9E3779B97F4A7C15ull) >> shift_);
    }
    // The slot holding k, or the free slot where the search for k ends (there always is one).
    size_t Find(uintptr_t k) const noexcept {
        size_t at = Home(k);
        while (slots_[at] != k && slots_[at] != kFree) at = (at + 1) & (cap_ - 1);
        return at;
    }
    // Rebuilds the table with room for four times the live objects.
    void Grow() noexcept {
        size_t cap = 1024;
        unsigned shift = 54;
        while (cap < (count_ + 1) * 4) cap *= 2, --shift;
        auto* slots = static_cast<uintptr_t*>(std::calloc(cap, sizeof(uintptr_t)));
        if (!slots) std::abort();
        uintptr_t* old = slots_;
        const size_t oldCap = cap_;
        slots_ = slots, cap_ = cap, shift_ = shift;
        for (size_t i = 0; i < oldCap; ++i)
            if (old[i] != kFree) slots_[Find(old[i])] = old[i];
        std::free(old);
    }

    std::mutex mutex_;
    uintptr_t* slots_ = nullptr;
    size_t cap_ = 0;      // a power of two, or 0 before the first object
    unsigned shift_ = 0;  // 64 - log2(cap_)
    size_t count_ = 0;
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
