#pragma once
// Slab storage for the objects the step walks by the thousand (masses, constraints,
// events): fixed-size slots carved from large blocks, each slot starting on a cache line,
// handed out in address order from a fresh block and reused last-freed-first.
//
// Objects made one after another therefore sit side by side, and an object's first 64
// bytes (where its hot fields live) never straddle two cache lines. Blocks are kept for
// the life of the program. One lock guards the free list: worlds may be built in several
// threads at once, and objects are made and freed outside the step. Under AddressSanitizer every object goes to the ordinary heap
// instead, so use-after-free is still caught.
#include <cstddef>
#include <mutex>
#include <new>
#include <vector>

namespace kin::gelsim {

#if defined(__SANITIZE_ADDRESS__)
#define GELSIM_SLAB_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GELSIM_SLAB_HEAP 1
#endif
#endif

template <std::size_t Size>
class Slab {
public:
    static constexpr std::size_t kLine = 64;
    static constexpr std::size_t kSlot = (Size + kLine - 1) / kLine * kLine;
    static constexpr std::size_t kPerBlock = kSlot >= 4096 ? 16 : (64 * 1024) / kSlot;

    static void* Allocate() {
#ifdef GELSIM_SLAB_HEAP
        return ::operator new(Size);
#else
        Slab& s = Instance();
        const std::lock_guard<std::mutex> lock(s.mutex_);
        if (!s.free_) s.Grow();
        Node* n = s.free_;
        s.free_ = n->next;
        return n;
#endif
    }

    static void Free(void* p) noexcept {
        if (!p) return;
#ifdef GELSIM_SLAB_HEAP
        ::operator delete(p);
#else
        Slab& s = Instance();
        const std::lock_guard<std::mutex> lock(s.mutex_);
        Node* n = static_cast<Node*>(p);
        n->next = s.free_;
        s.free_ = n;
#endif
    }

private:
    struct Node {
        Node* next;
    };

    // Never destroyed: objects may be released by other static destructors at exit.
    static Slab& Instance() {
        static Slab* s = new Slab();
        return *s;
    }

    void Grow() {
        auto* block = static_cast<unsigned char*>(::operator new(kSlot * kPerBlock, std::align_val_t{kLine}));
        blocks_.push_back(block);
        // Linked back to front so that the block is handed out in address order.
        for (std::size_t k = kPerBlock; k-- > 0;) {
            Node* n = reinterpret_cast<Node*>(block + k * kSlot);
            n->next = free_;
            free_ = n;
        }
    }

    std::mutex mutex_;
    Node* free_ = nullptr;
    std::vector<unsigned char*> blocks_;
};

/// Defines the class-level allocation that a class declares with GELSIM_SLAB_ALLOCATED
/// (in its public header) through Slab<sizeof(T)>; a size other than sizeof(T) (a derived
/// type) goes to the ordinary heap. Used once, in the class's source file.
#define GELSIM_SLAB_DEFINE(T)                                                      \
    void* T::operator new(std::size_t n) {                                         \
        return n == sizeof(T) ? ::kin::gelsim::Slab<sizeof(T)>::Allocate()        \
                              : ::operator new(n);                                 \
    }                                                                              \
    void T::operator delete(void* p, std::size_t n) noexcept {                    \
        if (n == sizeof(T))                                                        \
            ::kin::gelsim::Slab<sizeof(T)>::Free(p);                               \
        else                                                                       \
            ::operator delete(p);                                                  \
    }

}  // namespace kin::gelsim
