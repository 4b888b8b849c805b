#pragma once
// What the C functions are made of: the thread's error state, handle conversions, and the
// conversions of strings, arrays and out-parameters. Used by the generated definitions
// (CRows.cpp in the build tree) and by CApi.cpp.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "gelsim.h"
#include "gelsim/bodies/Procedural.h"
#include "gelsim/io/RecordFile.h"

namespace kin::gelsim::capi {

/// The calling thread's error state: whether its latest call failed, and the message.
struct ErrorState {
    bool failed = false;
    char message[512] = {};
};
inline thread_local ErrorState tError;

/// Starts a call that runs no callbacks: forgets the previous failure.
inline void Enter() noexcept { tError.failed = false; }
/// Ends a call that returned v: the call succeeded, whatever calls a callback made inside it.
template <class T>
T Done(T&& v) noexcept {
    tError.failed = false;
    return std::forward<T>(v);
}
/// Records the exception being handled as the failure of the current call. Call only
/// from inside a catch block.
void Fail() noexcept;
/// Records a failure with a message of the interface's own.
void FailWith(const char* message) noexcept;
/// Ends a call that returned a new object: null from a load that found no file, or a file
/// of another kind, is a failure with the library's reason ("PATH: no such file").
template <class T>
Ref<T> Done(Ref<T>&& v) noexcept {
    tError.failed = false;
    if (!v && LastLoadRefusal().status != TRecordRead::READ) FailWith(LastLoadRefusal().message.c_str());
    ForgetLoadRefusal();
    return std::move(v);
}

// Handles point at the object's TObject part, so a handle of a derived kind can be passed
// where a handle of its base kind is expected.

/// The object behind a handle (null for null); the handle must be of kind T or derived.
template <class T, class H>
T* In(H* handle) noexcept {
    return handle ? static_cast<T*>(reinterpret_cast<TObject*>(handle)) : nullptr;
}
/// A borrowed object as a handle.
template <class T>
TObject* Borrow(T* p) noexcept {
    return p;
}
/// A new object as a handle carrying the reference the caller now owns.
template <class T>
TObject* Own(Ref<T>&& r) noexcept {
    return r.Detach();
}

/// A (pointer, length) string; raises for a null pointer with a non-zero length.
std::string Str(const char* p, size_t n);
/// A (pointer, count) array of floats; raises for a null pointer with a non-zero count.
std::vector<float> Floats(const float* p, size_t n);

/// An out-parameter: the caller's variable, or a scratch one when the caller passed null.
template <class T>
struct Slot {
    T* p;
    T scratch{};
    T& Get() noexcept { return p ? *p : scratch; }
};

/// Copies s into buf (at most size - 1 bytes and a NUL; nothing when size is 0); s's length.
size_t CopyOut(const std::string& s, char* buf, size_t size) noexcept;
/// Copies as many values as buf holds; the number of values.
size_t CopyOut(const std::vector<float>& v, float* buf, size_t count) noexcept;

/// A C contact response as the zone's response. Handles are the objects' addresses and the
/// parameters are passed alike, so the zone calls the C function directly.
TZoneResponse ZoneResponse(GelsimZoneResponse fn) noexcept;

}  // namespace kin::gelsim::capi
