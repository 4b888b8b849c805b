#pragma once
// What a piece of code takes from the heap. A test program that links CountingAllocator.cpp
// has every form of operator new and delete replaced by ones that count while asked to
// (the C allocator is not counted). One program, one counter: counts do not nest.
#include <functional>

namespace kin::test {

struct THeapUse {
    long long peak;    // most bytes held at once while counting, above what was held before
    long long held;    // bytes still held when counting stopped
    long allocations;  // number of allocations made
};

/// Counts from zero for as long as it lives.
class THeapCount {
public:
    THeapCount();
    ~THeapCount();
    THeapCount(const THeapCount&) = delete;
    THeapCount& operator=(const THeapCount&) = delete;
    /// What was counted so far.
    THeapUse Use() const;

private:
    bool wasCounting_;
};

/// Runs f and tells what it took from the heap.
THeapUse MeasureHeap(const std::function<void()>& f);

}  // namespace kin::test
