// The predictor kernels compiled for AVX2: orders 2 and 4, alone and two side by side (one
// predictor per lane), and for a single predictor of order 4 a kernel of its own that holds the
// covariance by columns in 256-bit vectors.

#include "common/kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

#include "common/predictor_kernel.h"

namespace {

using predictor_kernel::EnvelopeForm;
using predictor_kernel::WhitenForm;

// Order 4 with the covariance's columns in the four lanes of a vector, for a single predictor.
// Column m holds
// P[i][m] in lane i, so that P x is four vector products and sums, all rows at once, each lane
// summing its row in the plain order; x^T P takes the products P[m][i] x[m] by columns and
// turns them into rows (a 4 x 4 transpose) to sum them, in lane i, for m ascending. Far fewer
// instructions than one lane per predictor, which the processor's adders otherwise limit
// (about 15% faster).
#define VEKMRK_AVX2_INLINE __attribute__((always_inline, target("avx2"))) inline
struct Columns4 {
    __m256d column[4]; // column m: P[i][m] in lane i
    __m256d x;         // window, lane m
    __m256d w;         // weights, lane m
    __m256d s;         // row x^T P of the latest update
    __m128 k;          // gain vector of the latest update
    double r;
    __m128 q_at[4]; // q in lane m and -0.0 elsewhere: adding it to a column touches the
                    // diagonal only (x + -0.0 is x for every x)

    VEKMRK_AVX2_INLINE static __m256d round_single(__m256d v) {
        return _mm256_cvtps_pd(_mm256_cvtpd_ps(v));
    }
    // The four lanes, lowest first.
    VEKMRK_AVX2_INLINE static void lanes(__m256d v, double& a, double& b, double& c, double& d) {
        const __m128d low = _mm256_castpd256_pd128(v);
        const __m128d high = _mm256_extractf128_pd(v, 1);
        a = _mm_cvtsd_f64(low);
        b = _mm_cvtsd_f64(_mm_unpackhi_pd(low, low));
        c = _mm_cvtsd_f64(high);
        d = _mm_cvtsd_f64(_mm_unpackhi_pd(high, high));
    }

    VEKMRK_AVX2_INLINE void load(const AdaptivePredictor& a) {
        alignas(32) double values[4];
        for (int m = 0; m < 4; ++m) {
            for (int i = 0; i < 4; ++i) {
                values[i] = static_cast<double>(a.p[i * 4 + m]);
            }
            column[m] = _mm256_load_pd(values);
            alignas(16) float q[4] = {-0.0f, -0.0f, -0.0f, -0.0f};
            q[m] = a.q;
            q_at[m] = _mm_load_ps(q);
        }
        x = _mm256_cvtps_pd(_mm_loadu_ps(a.x));
        w = _mm256_cvtps_pd(_mm_loadu_ps(a.w));
        s = _mm256_cvtps_pd(_mm_loadu_ps(a.s));
        k = _mm_loadu_ps(a.k);
        r = static_cast<double>(a.r);
    }

    VEKMRK_AVX2_INLINE void store(AdaptivePredictor& a) const {
        alignas(16) float values[4];
        for (int m = 0; m < 4; ++m) {
            _mm_store_ps(values, _mm256_cvtpd_ps(column[m]));
            for (int i = 0; i < 4; ++i) {
                a.p[i * 4 + m] = values[i];
            }
        }
        _mm_storeu_ps(a.x, _mm256_cvtpd_ps(x));
        _mm_storeu_ps(a.w, _mm256_cvtpd_ps(w));
        _mm_storeu_ps(a.s, _mm256_cvtpd_ps(s));
        _mm_storeu_ps(a.k, k);
    }

    template <bool Keep> VEKMRK_AVX2_INLINE double update(double d) {
        // Gain: row i of P x in lane i, the denominator from the unrounded rows.
        __m256d row = _mm256_setzero_pd();
        row = _mm256_add_pd(row, _mm256_mul_pd(column[0], _mm256_permute4x64_pd(x, 0x00)));
        row = _mm256_add_pd(row, _mm256_mul_pd(column[1], _mm256_permute4x64_pd(x, 0x55)));
        row = _mm256_add_pd(row, _mm256_mul_pd(column[2], _mm256_permute4x64_pd(x, 0xAA)));
        row = _mm256_add_pd(row, _mm256_mul_pd(column[3], _mm256_permute4x64_pd(x, 0xFF)));
        double t0, t1, t2, t3;
        lanes(_mm256_mul_pd(row, x), t0, t1, t2, t3);
        double den = r;
        den = den + t0;
        den = den + t1;
        den = den + t2;
        den = den + t3;
        const float g = static_cast<float>(1.0 / den);
        const __m128 gain = _mm_mul_ps(_mm256_cvtpd_ps(row), _mm_set1_ps(g));
        const __m256d kd = _mm256_cvtps_pd(gain);

        double p0, p1, p2, p3;
        lanes(_mm256_mul_pd(w, x), p0, p1, p2, p3);
        double e = d;
        e = e - p0;
        e = e - p1;
        e = e - p2;
        e = e - p3;
        w = round_single(_mm256_add_pd(w, _mm256_mul_pd(_mm256_set1_pd(e), kd)));

        // x^T P: y_i holds P[m][i] x[m] in lane m; transposed, lane i of product row m.
        const __m256d y0 = _mm256_mul_pd(column[0], x);
        const __m256d y1 = _mm256_mul_pd(column[1], x);
        const __m256d y2 = _mm256_mul_pd(column[2], x);
        const __m256d y3 = _mm256_mul_pd(column[3], x);
        const __m256d a0 = _mm256_unpacklo_pd(y0, y1); // y0[0] y1[0] y0[2] y1[2]
        const __m256d a1 = _mm256_unpackhi_pd(y0, y1); // y0[1] y1[1] y0[3] y1[3]
        const __m256d a2 = _mm256_unpacklo_pd(y2, y3);
        const __m256d a3 = _mm256_unpackhi_pd(y2, y3);
        __m256d sum = _mm256_setzero_pd();
        sum = _mm256_add_pd(sum, _mm256_permute2f128_pd(a0, a2, 0x20)); // products of x[0]
        sum = _mm256_add_pd(sum, _mm256_permute2f128_pd(a1, a3, 0x20)); // of x[1]
        sum = _mm256_add_pd(sum, _mm256_permute2f128_pd(a0, a2, 0x31)); // of x[2]
        sum = _mm256_add_pd(sum, _mm256_permute2f128_pd(a1, a3, 0x31)); // of x[3]
        const __m256d xp = round_single(sum);
        if constexpr (Keep) {
            s = xp;
            k = gain;
        }

        // Covariance: column m loses k s[m] (lane i: k[i] s[m]), then q on the diagonal.
        const __m256d s_lane[4] = {_mm256_permute4x64_pd(xp, 0x00), _mm256_permute4x64_pd(xp, 0x55),
                                   _mm256_permute4x64_pd(xp, 0xAA),
                                   _mm256_permute4x64_pd(xp, 0xFF)};
        for (int m = 0; m < 4; ++m) {
            const __m256d kept = _mm256_sub_pd(column[m], _mm256_mul_pd(kd, s_lane[m]));
            column[m] = _mm256_cvtps_pd(_mm_add_ps(_mm256_cvtpd_ps(kept), q_at[m]));
        }

        // The window moves on: x[1], x[2], x[3], d.
        const __m256d next = _mm256_permute4x64_pd(x, 0x39); // x1 x2 x3 x0
        x = _mm256_blend_pd(next, _mm256_set1_pd(d), 0x8);
        return e;
    }
};
#undef VEKMRK_AVX2_INLINE

// A PredictorBlock of one predictor of order 4 on Columns4.
template <typename Form>
__attribute__((target("avx2"))) void run_columns4(AdaptivePredictor* const* p,
                                                  const float* const* in, float* const* out,
                                                  size_t count, double floor) {
    using predictor_kernel::output_sink;
    const predictor_kernel::Block<double> block(p, in, out);
    const Form form(floor);
    double level = predictor_kernel::start_level<double>(block.predictors);
    auto sink = output_sink(level, form, block.outputs);
    Columns4 a;
    a.load(*block.predictors[0]);
    const float* input = block.inputs[0];
    if (count > 0) {
        for (size_t t = 0; t + 1 < count; ++t) {
            sink(t, a.update<false>(static_cast<double>(input[t])));
        }
        sink(count - 1, a.update<true>(static_cast<double>(input[count - 1])));
    }
    a.store(*block.predictors[0]);
    predictor_kernel::store_level(block.predictors, level);
}

template <size_t N, typename L, typename Form>
__attribute__((target("avx2"))) void run(AdaptivePredictor* const* p, const float* const* in,
                                         float* const* out, size_t count, double floor) {
    predictor_kernel::run_form<N, L, Form>(p, in, out, count, floor);
}

// Two predictors side by side keep one lane each, which measured faster than two Columns4
// streams.
template <typename Form> PredictorKernels kernels() {
    return {run<2, double, Form>, run_columns4<Form>, run<2, simd::f64x2, Form>,
            run<4, simd::f64x2, Form>};
}

} // namespace

PredictorKernels predictor_envelope_avx2() {
    return kernels<EnvelopeForm>();
}

PredictorKernels predictor_whiten_avx2() {
    return kernels<WhitenForm>();
}
#endif
