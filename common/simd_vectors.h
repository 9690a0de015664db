#pragma once
// Vector types of the compiler's vector extension (GCC, Clang) for the signal kernels: an
// operation on them is the same IEEE operation on every lane, so a kernel written with them
// computes each lane exactly as the scalar code would. Code for a wider instruction set is made
// by calling an always-inline kernel from a function with a target attribute, in a twin file of
// the kernel table (common/kernels.h).

#include <cstddef>
#include <cstdint>
#include <cstring>

// Vectors wider than the build's baseline are passed by value only between always-inline
// functions, never across a call, so the calling convention the compiler warns about is unused.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace simd {

using f64x2 = double __attribute__((vector_size(16)));
using f64x4 = double __attribute__((vector_size(32)));
using f64x8 = double __attribute__((vector_size(64)));
using f32x2 = float __attribute__((vector_size(8)));
using f32x4 = float __attribute__((vector_size(16)));
using f32x8 = float __attribute__((vector_size(32)));
using i64x2 = int64_t __attribute__((vector_size(16)));

// The float vector with as many lanes as the double vector V.
template <typename V> struct HalfOf;
template <> struct HalfOf<f64x2> { using type = f32x2; };
template <> struct HalfOf<f64x4> { using type = f32x4; };
template <> struct HalfOf<f64x8> { using type = f32x8; };

template <typename V> constexpr size_t lanes = sizeof(V) / sizeof(double);

// Unaligned load and store of a whole vector.
template <typename V, typename T> [[gnu::always_inline]] inline V load(const T* from) {
    V v;
    std::memcpy(&v, from, sizeof v);
    return v;
}
template <typename V, typename T> [[gnu::always_inline]] inline void store(T* to, const V& v) {
    std::memcpy(to, &v, sizeof v);
}

// Each lane rounded to single precision, as static_cast<float> does to one double.
template <typename V> [[gnu::always_inline]] inline typename HalfOf<V>::type to_float(const V& v) {
    return __builtin_convertvector(v, typename HalfOf<V>::type);
}

// Each float lane widened to double, exactly.
template <typename V, typename H> [[gnu::always_inline]] inline V to_double(const H& h) {
    return __builtin_convertvector(h, V);
}

} // namespace simd

#pragma GCC diagnostic pop
