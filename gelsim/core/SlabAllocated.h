#pragma once
// Declares class-level allocation from slab storage (blocks of cache-line slots, see
// gelsim/core/detail/Slab.h); the class's source file defines it with GELSIM_SLAB_DEFINE.
#include <cstddef>

#define GELSIM_SLAB_ALLOCATED(T)                           \
    static void* operator new(std::size_t n);              \
    static void operator delete(void* p, std::size_t n) noexcept;
