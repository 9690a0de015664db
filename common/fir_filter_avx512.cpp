// fir_sum_products_plain with 8 outputs per vector instruction (AVX-512).

#include "common/kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include "common/fir_filter_kernel.h"

__attribute__((target("avx512f,avx512vl"))) void fir_sum_products_avx512(FirRows z, const double* h,
                                                                         size_t taps, float* out) {
    fir_kernel::sum_products<simd::f64x8, 8>(z, h, taps, out);
}
#endif
