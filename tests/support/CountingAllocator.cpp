// Every plain, array and nothrow form of operator new and delete, replaced so that whatever
// the program or the standard library asks for is counted and handed back to the same
// allocator (a sanitizer's own nothrow form, say, would not pair with the plain delete).
#include "tests/support/CountingAllocator.h"

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace {

long gAllocations = 0;
long long gBytes = 0, gPeak = 0;
bool gCounting = false;

void* Allocate(std::size_t n) noexcept {
    void* p = std::malloc(n ? n : 1);
    if (p && gCounting) {
        ++gAllocations;
        gBytes += static_cast<long long>(malloc_usable_size(p));
        if (gBytes > gPeak) gPeak = gBytes;
    }
    return p;
}

void Release(void* p) noexcept {
    if (gCounting && p) gBytes -= static_cast<long long>(malloc_usable_size(p));
    std::free(p);
}

}  // namespace

void* operator new(std::size_t n) {
    if (void* p = Allocate(n)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }

namespace kin::test {

THeapCount::THeapCount() : wasCounting_(gCounting) {
    gAllocations = 0;
    gBytes = gPeak = 0;
    gCounting = true;
}

THeapCount::~THeapCount() { gCounting = wasCounting_; }

THeapUse THeapCount::Use() const { return {gPeak, gBytes, gAllocations}; }

THeapUse MeasureHeap(const std::function<void()>& f) {
    THeapCount count;
    f();
    return count.Use();
}

}  // namespace kin::test
