#pragma once
// GELSIM_ASSERT(condition): checks an invariant the library's code relies on (cell lists
// and the pair index agree, table indices in range, back-references right). Active in
// Debug builds and in sanitizer builds (GELSIM_CHECKED), where a broken invariant stops
// the program with the condition and its place; a no-op in Release. Never used for input
// a program may pass: that is clamped or refused as each operation documents.
#if !defined(NDEBUG) || defined(GELSIM_CHECKED)
#define GELSIM_ASSERTS_ACTIVE 1
#define GELSIM_ASSERT(condition) \
    ((condition) ? static_cast<void>(0) : ::kin::gelsim::AssertFailed(#condition, __FILE__, __LINE__))
#else
#define GELSIM_ASSERTS_ACTIVE 0
#define GELSIM_ASSERT(condition) static_cast<void>(0)
#endif

namespace kin::gelsim {

/// Reports a broken invariant on stderr and aborts.
[[noreturn]] void AssertFailed(const char* condition, const char* file, int line);

}  // namespace kin::gelsim
