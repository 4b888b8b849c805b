#pragma once
// The object model shared by the platform services, the gelsim library and the game.
//
// Ownership rule, stated once for the whole code base:
//   * Every shared object derives from TObject and carries a non-atomic intrusive
//     reference count. Everything runs on the one program thread, so the count is a
//     plain int.
//   * Ref<T> is the owning handle: holding one keeps the object alive. An object is
//     deleted when its last Ref goes.
//   * A raw T* never owns. It is used for arguments ("borrowed for the duration of the
//     call"), for back-pointers whose lifetime is guaranteed by someone else, and for
//     walking hot tables (the world's step must not touch counts in its inner loops).
//   * Participation counts of simulation objects (masses, constraints) are separate,
//     explicit counters of their own; they are not reference counts.
//   * Types are tested with Is<T>(obj) / As<T>(obj) ("obj2 is a TMass").
#include <cstdint>
#include <utility>

#ifdef GELSIM_CHECKED
#include "platform/LiveObjects.h"
#endif

namespace kin {

class TObject {
public:
#ifdef GELSIM_CHECKED
    // Checked builds keep the set of live objects, so that handles from outside the
    // program can be checked before they are followed.
    TObject() noexcept { detail::LiveObjects().Add(this); }
    virtual ~TObject() { detail::LiveObjects().Remove(this); }
#else
    TObject() = default;
    virtual ~TObject() = default;
#endif
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;

    /// Adds one owner.
    void Retain() const noexcept { ++refs_; }
    /// Drops one owner; deletes the object when none is left.
    void Release() const noexcept {
        if (--refs_ == 0) delete this;
    }
    /// Current number of owners (for tests and diagnostics).
    int32_t RefCount() const noexcept { return refs_; }

private:
    mutable int32_t refs_ = 0;
};

/// Owning handle with an intrusive, non-atomic count.
template <class T>
class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}
    Ref(T* p) noexcept : p_(p) {
        if (p_) p_->Retain();
    }
    Ref(const Ref& o) noexcept : Ref(o.p_) {}
    Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    template <class U>
    Ref(const Ref<U>& o) noexcept : Ref(static_cast<T*>(o.Get())) {}
    template <class U>
    Ref(Ref<U>&& o) noexcept : p_(o.Detach()) {}
    ~Ref() {
        if (p_) p_->Release();
    }

    Ref& operator=(const Ref& o) noexcept {
        Reset(o.p_);
        return *this;
    }
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            T* old = p_;
            p_ = o.p_;
            o.p_ = nullptr;
            if (old) old->Release();
        }
        return *this;
    }
    Ref& operator=(T* p) noexcept {
        Reset(p);
        return *this;
    }
    Ref& operator=(std::nullptr_t) noexcept {
        Reset(nullptr);
        return *this;
    }

    /// Replaces the held object; the new one is retained before the old one is released,
    /// so assigning an object to the handle that already holds it is safe.
    void Reset(T* p = nullptr) noexcept {
        if (p) p->Retain();
        T* old = p_;
        p_ = p;
        if (old) old->Release();
    }
    /// Gives up ownership without releasing; the caller now owns one count.
    T* Detach() noexcept {
        T* p = p_;
        p_ = nullptr;
        return p;
    }

    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    operator T*() const noexcept { return p_; }

private:
    T* p_ = nullptr;
};

/// Creates an object and hands back its first owning handle.
template <class T, class... A>
Ref<T> MakeRef(A&&... args) {
    return Ref<T>(new T(std::forward<A>(args)...));
}

/// True when obj is non-null and of type T (or derived from it).
template <class T>
bool Is(const TObject* obj) noexcept {
    return obj && dynamic_cast<const T*>(obj) != nullptr;
}
/// obj as a T*, or null when it is null or of another type. Borrowed, not owned.
template <class T>
T* As(TObject* obj) noexcept {
    return obj ? dynamic_cast<T*>(obj) : nullptr;
}

}  // namespace kin
