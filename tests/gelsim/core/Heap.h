#pragma once
// What a piece of code takes from the heap, counted by the allocator of the gelsim test
// program (AllocationTest.cpp). Only operator new is counted; the C allocator is not.
#include <functional>

namespace kin::gelsim::test {

struct THeapUse {
    long long peak;    // most bytes held at once while f ran, above what was held before
    long long held;    // bytes still held when f returned
    long allocations;  // number of allocations made
};

/// Runs f and tells what it took from the heap.
THeapUse MeasureHeap(const std::function<void()>& f);

}  // namespace kin::gelsim::test
