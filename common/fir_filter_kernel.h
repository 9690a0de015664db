#pragma once
// The FIR filter's vector sums over the rows of FirRows, for the twins of
// fir_sum_products_plain: each file instantiates sum_products for its vector type inside a
// function compiled for its instruction set.

#include <cstddef>

#include "common/kernels.h"
#include "common/simd_vectors.h"

// The vectors wider than the baseline pass by value only between always-inline functions inside
// a twin compiled for them, never across a call, so the calling convention the compiler warns
// about is unused.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace fir_kernel {

// The plain sums with W = lanes<V> outputs side by side, one per lane, each lane summing its
// output in the plain order: the samples that tap k meets in the outputs j of all segments form
// row D j + k, one aligned vector load per tap and W outputs. U rows of outputs at a time, so
// that the additions of different outputs overlap.
template <typename V, int U>
[[gnu::always_inline]] inline void sum_products(FirRows z, const double* h, size_t taps,
                                                float* out) {
    constexpr size_t kLanes = simd::lanes<V>;
    using Half = typename simd::HalfOf<V>::type; // each lane rounded to float
    const size_t stride = z.step * kLanes;       // from one output row to the next
    size_t j = 0;
    for (; j + U <= z.segment; j += U) {
        V acc[U] = {};
        const double* row = z.z + j * stride;
        for (size_t k = 0; k < taps; ++k) {
            const double hk = h[k];
#pragma GCC unroll 16
            for (int u = 0; u < U; ++u) {
                acc[u] += simd::load<V>(row + u * stride) * hk;
            }
            row += kLanes;
        }
#pragma GCC unroll 16
        for (int u = 0; u < U; ++u) {
            const auto single = __builtin_convertvector(acc[u], Half);
            for (size_t l = 0; l < kLanes; ++l) {
                out[l * z.segment + j + u] = single[l];
            }
        }
    }
    for (; j < z.segment; ++j) {
        V acc = {};
        const double* row = z.z + j * stride;
        for (size_t k = 0; k < taps; ++k) {
            acc += simd::load<V>(row + k * kLanes) * h[k];
        }
        const auto single = __builtin_convertvector(acc, Half);
        for (size_t l = 0; l < kLanes; ++l) {
            out[l * z.segment + j] = single[l];
        }
    }
}

} // namespace fir_kernel

#pragma GCC diagnostic pop
