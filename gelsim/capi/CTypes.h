#pragma once
// How the procedural interface's C++ types are spelled in C. The generator prints gelsim.h
// and the definitions behind it with these traits; the interface test checks the C
// functions' arity with the same widths. A parameter or result type without a trait
// below does not compile, so a new row with a new type cannot slip through unmapped.
#include <cstdint>
#include <string>
#include <vector>

#include "gelsim/bodies/Procedural.h"

namespace kin::gelsim::capi {

// Object kinds: each has an opaque C handle type "Gelsim" + Name and retain, release and
// checked-cast functions named with its lower-case name. Name, lower-case name, C++ class.
#define GELSIM_C_KINDS(K)                                 \
    K(Object, object, ::kin::TObject)                     \
    K(Physics, physics, ::kin::gelsim::TPhysics)          \
    K(Mass, mass, ::kin::gelsim::TMass)                   \
    K(Constraint, constraint, ::kin::gelsim::TConstraint) \
    K(Body, body, ::kin::gelsim::TBody)                   \
    K(AdvBody, advbody, ::kin::gelsim::TAdvBody)          \
    K(Rig, rig, ::kin::gelsim::TRig)                      \
    K(Zone, zone, ::kin::gelsim::TZone)                   \
    K(ColEvent, colevent, ::kin::gelsim::TColEvent)       \
    K(List, list, ::kin::TList)                           \
    K(Image, image, ::kin::TImage)

/// The C handle type and the C++ class of an object kind.
template <class T>
struct Kind;
#define GELSIM_C_KIND_TRAIT(Name, lower, Cxx)                      \
    template <>                                                    \
    struct Kind<Cxx> {                                             \
        static constexpr const char* handle = "Gelsim" #Name;      \
        static constexpr const char* cxx = #Cxx;                   \
    };
GELSIM_C_KINDS(GELSIM_C_KIND_TRAIT)
#undef GELSIM_C_KIND_TRAIT

/// A C++ parameter type: how many C parameters it becomes (width), their declaration for
/// a parameter named n, and the C++ expression that rebuilds the argument from them.
template <class P>
struct CParam;

template <class S>
struct CScalarParam {
    static constexpr int width = 1;
    static std::string Decl(const std::string& n) { return std::string(S::c) + " " + n; }
    static std::string Arg(const std::string& n) { return n; }
};
struct CFloatName { static constexpr const char* c = "float"; };
struct CInt32Name { static constexpr const char* c = "int32_t"; };
template <>
struct CParam<float> : CScalarParam<CFloatName> {};
template <>
struct CParam<int32_t> : CScalarParam<CInt32Name> {};

/// A borrowed object.
template <class T>
struct CParam<T*> {
    static constexpr int width = 1;
    static std::string Decl(const std::string& n) { return std::string(Kind<T>::handle) + "* " + n; }
    static std::string Arg(const std::string& n) { return std::string("In<") + Kind<T>::cxx + ">(" + n + ")"; }
    /// The C++ condition that accepts the handle n on entry to the C function fn.
    static std::string Check(const std::string& n, bool required, const std::string& fn) {
        return std::string("Check<") + Kind<T>::cxx + ">(" + n + ", " + (required ? "true" : "false") + ", \"" + fn +
               "\", \"" + n + "\")";
    }
};

/// A string: bytes and their count (not NUL-terminated; null only with a count of 0).
template <>
struct CParam<const std::string&> {
    static constexpr int width = 2;
    static std::string Decl(const std::string& n) { return "const char* " + n + ", size_t " + n + "_len"; }
    static std::string Arg(const std::string& n) { return "Str(" + n + ", " + n + "_len)"; }
};

/// An array of floats: the values and their count.
template <>
struct CParam<const std::vector<float>&> {
    static constexpr int width = 2;
    static std::string Decl(const std::string& n) { return "const float* " + n + ", size_t " + n + "_count"; }
    static std::string Arg(const std::string& n) { return "Floats(" + n + ", " + n + "_count)"; }
};

/// An out-parameter: a pointer to the caller's variable (null: the value is dropped).
template <class S>
struct COutParam {
    static constexpr int width = 1;
    static std::string Decl(const std::string& n) { return std::string(S::c) + "* " + n; }
    static std::string Arg(const std::string& n) { return std::string("Slot<") + S::c + ">{" + n + "}.Get()"; }
};
template <>
struct CParam<float&> : COutParam<CFloatName> {};
template <>
struct CParam<int32_t&> : COutParam<CInt32Name> {};

/// A zone's contact response: a C function of the same shape.
template <>
struct CParam<TZoneResponse> {
    static constexpr int width = 1;
    static std::string Decl(const std::string& n) { return "GelsimZoneResponse " + n; }
    static std::string Arg(const std::string& n) { return "ZoneResponse(" + n + ")"; }
};

/// A C++ result type: its C return type, the C parameters it adds at the end (a caller's
/// buffer), and the statement that returns it from the C++ expression e.
template <class R>
struct CResult;

template <class S>
struct CScalarResult {
    static constexpr int width = 0;
    static std::string Type() { return S::c; }
    static std::string Extra() { return ""; }
    static std::string Return(const std::string& e) { return "return " + e + ";"; }
};
template <>
struct CResult<float> : CScalarResult<CFloatName> {};
template <>
struct CResult<int32_t> : CScalarResult<CInt32Name> {};

/// A new object: the caller receives one reference.
template <class T>
struct CResult<Ref<T>> {
    static constexpr int width = 0;
    static std::string Type() { return std::string(Kind<T>::handle) + "*"; }
    static std::string Extra() { return ""; }
    static std::string Return(const std::string& e) {
        return "return reinterpret_cast<" + Type() + ">(Own(" + e + "));";
    }
};

/// A borrowed object.
template <class T>
struct CResult<T*> {
    static constexpr int width = 0;
    static std::string Type() { return std::string(Kind<T>::handle) + "*"; }
    static std::string Extra() { return ""; }
    static std::string Return(const std::string& e) {
        return "return reinterpret_cast<" + Type() + ">(Borrow(" + e + "));";
    }
};

/// A string: copied into the caller's buffer (NUL-terminated, cut to fit); the full length.
template <>
struct CResult<std::string> {
    static constexpr int width = 2;
    static std::string Type() { return "size_t"; }
    static std::string Extra() { return "char* buf, size_t buf_size"; }
    static std::string Return(const std::string& e) { return "return CopyOut(" + e + ", buf, buf_size);"; }
};

/// An array of floats: copied into the caller's buffer as far as it holds; the full count.
template <>
struct CResult<std::vector<float>> {
    static constexpr int width = 2;
    static std::string Type() { return "size_t"; }
    static std::string Extra() { return "float* buf, size_t buf_count"; }
    static std::string Return(const std::string& e) { return "return CopyOut(" + e + ", buf, buf_count);"; }
};

/// Number of C parameters of the C function for the C++ function type F.
template <class F>
struct CWidth;
template <class R, class... P>
struct CWidth<R(P...)> {
    static constexpr int value = (0 + ... + CParam<P>::width) + CResult<R>::width;
};

}  // namespace kin::gelsim::capi
