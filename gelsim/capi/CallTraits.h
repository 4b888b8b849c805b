#pragma once
// What code that sweeps every C function (the misuse tests, the C-call fuzz target) needs to
// know of a function from its type alone: the answer it gives when it refuses a call, and
// whether it is a method of a given handle kind.
#include <cstdint>
#include <type_traits>

#include "gelsim.h"

namespace kin::gelsim::capi {

/// The failure value of a C function returning R that only acts (status) or gives an object.
template <class R, class... P>
R FailureOf(R (*)(P...) noexcept) {
    if constexpr (std::is_same_v<R, int32_t>)
        return GELSIM_ERROR;
    else
        return R{};
}

/// True when F is a method of the handle kind H: its first parameter is an H handle.
template <class F, class H>
struct OwnFirst : std::false_type {};
template <class H, class R, class P0, class... P>
struct OwnFirst<R (*)(P0, P...) noexcept, H> : std::is_same<P0, H*> {};

}  // namespace kin::gelsim::capi
