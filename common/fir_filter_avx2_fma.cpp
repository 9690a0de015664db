// fir_sum_products_plain with 4 outputs per vector instruction and fused multiply-adds (AVX2
// and FMA): the same sums as the separate multiply and add (fir_filter_kernel.h).

#include "common/kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)
// Everything in this file, the kernel template included, is compiled for AVX2 and FMA.
#pragma GCC target("avx2,fma")
#include <immintrin.h>

#include "common/fir_filter_kernel.h"

namespace {

struct FusedMulAdd {
    [[gnu::always_inline]] static simd::f64x4 apply(simd::f64x4 acc, simd::f64x4 x, double h) {
        return reinterpret_cast<simd::f64x4>(_mm256_fmadd_pd(
            reinterpret_cast<__m256d>(x), _mm256_set1_pd(h), reinterpret_cast<__m256d>(acc)));
    }
};

} // namespace

void fir_sum_products_avx2_fma(FirRows z, const double* h, size_t taps, float* out) {
    fir_kernel::sum_products<simd::f64x4, 8, FusedMulAdd>(z, h, taps, out);
}
#endif
