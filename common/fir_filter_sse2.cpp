// fir_sum_products_plain with 2 outputs per vector instruction (SSE2, which every x86-64 processor
// has).

#include "common/kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include "common/fir_filter_kernel.h"

void fir_sum_products_sse2(FirRows z, const double* h, size_t taps, float* out) {
    fir_kernel::sum_products<simd::f64x2, 8>(z, h, taps, out);
}
#endif
