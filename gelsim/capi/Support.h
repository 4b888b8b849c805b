#pragma once
// What the C functions are made of: the thread's error state, handle conversions, and the
// conversions of strings, arrays and out-parameters. Used by the generated definitions
// (CRows.cpp in the build tree) and by CApi.cpp.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "gelsim.h"
#include "gelsim/bodies/Procedural.h"
#include "gelsim/capi/CTypes.h"
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
/// Raises the failure of fn whose event callback returned something that is not an event.
[[noreturn]] void ThrowCallbackFault(const char* fn);

// Handles point at the object's TObject part, so a handle of a derived kind can be passed
// where a handle of its base kind is expected.
//
// Every handle is checked on entry, before it is followed: NULL where an object is needed,
// an object of another kind (a wrong cast), and in checked builds an object that is not
// alive (released, freed, or a pointer that was never a handle). In other builds a
// dangling pointer cannot be told from a live object without following it, so using one
// is undefined behaviour, as with any C library.

/// True when the object at o is alive (always true outside checked builds).
inline bool IsLive(const TObject* o) noexcept {
#ifdef GELSIM_CHECKED
    return ::kin::detail::LiveObjects().Contains(o);
#else
    (void)o;
    return true;
#endif
}

/// The last type derived from T that was accepted as a T (an indexed body where a base body
/// is expected), remembered so that the next such handle is accepted as fast as a T.
template <class T>
inline std::atomic<const std::type_info*> tDerivedKind{nullptr};

/// True when the live object o is a T: its dynamic type is T or the derived type last seen,
/// one or two comparisons of its type's address; any other type takes the full cast.
template <class T>
bool IsKind(TObject* o) noexcept {
    if constexpr (std::is_same_v<T, TObject>) {
        return true;
    } else {
        const std::type_info* t = &typeid(*o);
        if (t == &typeid(T) || t == tDerivedKind<T>.load(std::memory_order_relaxed)) return true;
        if (!dynamic_cast<T*>(o)) return false;
        tDerivedKind<T>.store(t, std::memory_order_relaxed);
        return true;
    }
}

/// Refusals of a call, recorded as its failure; each returns false. fn is the C function's
/// name, param the parameter's.
bool RefuseNull(const char* fn, const char* param) noexcept;
bool RefuseDead(const char* fn, const char* param) noexcept;
bool RefuseKind(const char* fn, const char* param, const char* kind, TObject* o) noexcept;
bool RefuseNoWorld(const char* fn) noexcept;

/// Ends a call to a method that answers -1 when the object, or one it would bring along,
/// belongs to another world than the current one: GELSIM_OK, or GELSIM_ERROR with the
/// failure "what (fn)".
int32_t RefusedByWorld(int32_t answer, const char* what, const char* fn) noexcept;

/// Check's slow path: NULL, an object that is not alive, a derived type or another kind.
template <class T>
[[gnu::noinline]] bool CheckSlowly(TObject* o, bool required, const char* fn, const char* param) noexcept {
    if (!o) return !required || RefuseNull(fn, param);
    if (!IsLive(o)) return RefuseDead(fn, param);
    if (!IsKind<T>(o)) return RefuseKind(fn, param, Kind<T>::handle, o);
    return true;
}

/// Checks handle, parameter param of fn, as an object of kind T (NULL allowed unless
/// required); records the failure and returns false when it is refused. Inlined into
/// every C function: a live object of exactly the kind costs a load and a comparison.
template <class T, class H>
[[gnu::always_inline]] inline bool Check(H* handle, bool required, const char* fn, const char* param) noexcept {
    TObject* o = reinterpret_cast<TObject*>(handle);
    if (o && IsLive(o)) [[likely]] {
        if constexpr (std::is_same_v<T, TObject>)
            return true;
        else if (&typeid(*o) == &typeid(T))
            return true;
    }
    return CheckSlowly<T>(o, required, fn, param);
}

/// True when there is a current world; otherwise records "no current world" for fn.
inline bool HasWorld(const char* fn) noexcept {
    return TPhysics::currentWorld.Get() != nullptr || RefuseNoWorld(fn);
}

/// Event-callback results that were refused (not NULL, not the event handed over and not
/// a live event) on this thread so far. A call that can run callbacks compares the count
/// before and after and fails when it grew (Watched).
inline thread_local uint32_t tCallbackFaults = 0;

/// v, the result of fn's C++ call; raises when an event callback's result was refused
/// during the call (faults is tCallbackFaults from before the call).
template <class T>
T&& Watched(T&& v, uint32_t faults, const char* fn) {
    if (tCallbackFaults != faults) [[unlikely]]
        ThrowCallbackFault(fn);
    return std::forward<T>(v);
}

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
