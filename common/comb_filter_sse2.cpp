// comb_block_plain two outputs at a time, in 128-bit vectors of doubles (SSE2, which every x86-64
// processor has).

#include "common/kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include "common/simd_vectors.h"

void comb_block_sse2(float* b, size_t n, size_t count, double tap0, double tap1) {
    using simd::f32x2;
    using simd::f64x2;
    size_t i = n;
    // Two outputs reach back n - 1 samples or more, to outputs already made, as long as
    // n - 1 >= 2. Each lane sums as the plain routine does.
    if (n >= 3) {
        for (; i + 2 <= count; i += 2) {
            f64x2 sum = simd::to_double<f64x2>(simd::load<f32x2>(b + i));
            sum += tap0 * simd::to_double<f64x2>(simd::load<f32x2>(b + i - n));
            sum += tap1 * simd::to_double<f64x2>(simd::load<f32x2>(b + i + 1 - n));
            simd::store(b + i, simd::to_float(sum));
        }
    }
    comb_block_plain(b + (i - n), n, count - (i - n), tap0, tap1);
}
#endif
