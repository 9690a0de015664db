// The predictor kernels compiled for AVX2: orders 2 and 4, alone and two side by side (one
// predictor per lane), and for a single predictor of order 4 a kernel of its own that holds the
// covariance by columns.

#include "common/kernels.h"

#include <algorithm>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

#include "common/predictor_kernel.h"

namespace {

using predictor_kernel::EnvelopeForm;
using predictor_kernel::WhitenForm;

// Order 4 for a single predictor. The covariance is kept by columns, each column's four
// single-precision values in one register (P[i][m] in lane i of column[m]), and worked on in
// double-precision halves: rows 0, 1 and rows 2, 3. P x is then four vector products and sums
// per half, each lane summing its row in the plain order; x^T P takes the products P[m][i] x[m]
// by columns and turns them into rows (a transpose of 2 x 2 blocks) to sum them, in lane i, for
// m ascending. The update is one long chain of dependent operations, so what counts is its
// length: the covariance takes four registers rather than eight, 128-bit conversions between
// double and single precision take less time than 256-bit ones, the rows of P x start from their
// first product, and values needed in both lanes (the denominator, the error) are summed in
// both, which spares a broadcast on the chain.
#define VEKMRK_AVX2_INLINE __attribute__((always_inline, target("avx2"))) inline
struct Halves4 {
    __m128 column[4];           // column m: P[0][m], P[1][m], P[2][m], P[3][m]
    __m128d window01, window23; // window: x[0], x[1] | x[2], x[3]
    __m128d w01, w23;           // weights
    __m128d s01, s23;           // row x^T P of the latest update
    __m128 k;                   // gain vector of the latest update
    __m128d r;                  // r in both lanes
    __m128 q_at[4];             // q in lane m and -0.0 elsewhere: adding it to column m touches the
                                // diagonal only (x + -0.0 is x for every x)

    VEKMRK_AVX2_INLINE static __m128d round_single(__m128d v) {
        return _mm_cvtps_pd(_mm_cvtpd_ps(v));
    }
    VEKMRK_AVX2_INLINE static __m128d low(__m128d v) { return _mm_unpacklo_pd(v, v); }
    VEKMRK_AVX2_INLINE static __m128d high(__m128d v) { return _mm_unpackhi_pd(v, v); }
    // Two floats, unaligned, as doubles; and back.
    VEKMRK_AVX2_INLINE static __m128d pair(const float* v) {
        return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v))));
    }
    VEKMRK_AVX2_INLINE static void store_pair(float* to, __m128d v) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to), _mm_castps_si128(_mm_cvtpd_ps(v)));
    }

    VEKMRK_AVX2_INLINE void load(const AdaptivePredictor& a) {
        for (int m = 0; m < 4; ++m) {
            column[m] = _mm_setr_ps(a.p[m], a.p[4 + m], a.p[8 + m], a.p[12 + m]);
            alignas(16) float q[4] = {-0.0f, -0.0f, -0.0f, -0.0f};
            q[m] = a.q;
            q_at[m] = _mm_load_ps(q);
        }
        window01 = pair(a.x);
        window23 = pair(a.x + 2);
        w01 = pair(a.w);
        w23 = pair(a.w + 2);
        s01 = pair(a.s);
        s23 = pair(a.s + 2);
        k = _mm_loadu_ps(a.k);
        r = _mm_set1_pd(static_cast<double>(a.r));
    }

    VEKMRK_AVX2_INLINE void store(AdaptivePredictor& a) const {
        for (int m = 0; m < 4; ++m) {
            alignas(16) float v[4];
            _mm_store_ps(v, column[m]);
            for (int i = 0; i < 4; ++i) {
                a.p[i * 4 + m] = v[i];
            }
        }
        store_pair(a.x, window01);
        store_pair(a.x + 2, window23);
        store_pair(a.w, w01);
        store_pair(a.w + 2, w23);
        store_pair(a.s, s01);
        store_pair(a.s + 2, s23);
        _mm_storeu_ps(a.k, k);
    }

    // The window of the state moves on: x[1], x[2] | x[3], d.
    VEKMRK_AVX2_INLINE void shift(double d) {
        window01 = _mm_shuffle_pd(window01, window23, 1);
        window23 = _mm_shuffle_pd(window23, _mm_set1_pd(d), 1);
    }
};

// One update of `state` with input d and the window x01 (x[0], x[1]), x23 (x[2], x[3]), which
// the caller passes: from the state, or straight from the input once it holds four samples.
// The covariance's columns and the weights, which change at every update, are the caller's
// local copies, which the compiler can keep in registers (the whole state it keeps in memory).
template <bool Keep>
VEKMRK_AVX2_INLINE double halves4_update(Halves4& state, __m128 (&column)[4], __m128d& w01,
                                         __m128d& w23, double d, const __m128d x01,
                                         const __m128d x23) {
    using H = Halves4;
    const __m128d x[4] = {H::low(x01), H::high(x01), H::low(x23), H::high(x23)};
    __m128d half[4][2]; // column m: rows 0, 1 | rows 2, 3, in double precision
    for (int m = 0; m < 4; ++m) {
        half[m][0] = _mm_cvtps_pd(column[m]);
        half[m][1] = _mm_cvtps_pd(_mm_movehl_ps(column[m], column[m]));
    }
    // Gain: rows 0, 1 of P x in `rows01`, rows 2, 3 in `rows23`. The first product starts
    // each sum: 0.0 + p differs from p only for p = -0.0, which the denominator cannot
    // tell from +0.0 (it starts from r, which is not -0.0: see predictor.cpp), and the gain
    // takes the sum + 0.0, which is the plain sum exactly.
    __m128d rows01 = _mm_mul_pd(half[0][0], x[0]);
    __m128d rows23 = _mm_mul_pd(half[0][1], x[0]);
    for (int m = 1; m < 4; ++m) {
        rows01 = _mm_add_pd(rows01, _mm_mul_pd(half[m][0], x[m]));
        rows23 = _mm_add_pd(rows23, _mm_mul_pd(half[m][1], x[m]));
    }
    const __m128d t01 = _mm_mul_pd(rows01, x01);
    const __m128d t23 = _mm_mul_pd(rows23, x23);
    __m128d den = state.r;
    den = _mm_add_pd(den, H::low(t01));
    den = _mm_add_pd(den, H::high(t01));
    den = _mm_add_pd(den, H::low(t23));
    den = _mm_add_pd(den, H::high(t23));
    const __m128 g = _mm_cvtpd_ps(_mm_div_pd(_mm_set1_pd(1.0), den)); // g in lanes 0, 1
    const __m128d zero = _mm_setzero_pd();
    const __m128 k01 = _mm_mul_ps(_mm_cvtpd_ps(_mm_add_pd(rows01, zero)), g);
    const __m128 k23 = _mm_mul_ps(_mm_cvtpd_ps(_mm_add_pd(rows23, zero)), g);
    const __m128d kd01 = _mm_cvtps_pd(k01);
    const __m128d kd23 = _mm_cvtps_pd(k23);

    // Prediction error, in both lanes.
    const __m128d wx01 = _mm_mul_pd(w01, x01);
    const __m128d wx23 = _mm_mul_pd(w23, x23);
    __m128d e = _mm_set1_pd(d);
    e = _mm_sub_pd(e, H::low(wx01));
    e = _mm_sub_pd(e, H::high(wx01));
    e = _mm_sub_pd(e, H::low(wx23));
    e = _mm_sub_pd(e, H::high(wx23));
    w01 = H::round_single(_mm_add_pd(w01, _mm_mul_pd(e, kd01)));
    w23 = H::round_single(_mm_add_pd(w23, _mm_mul_pd(e, kd23)));

    // x^T P: column i's products P[m][i] x[m] sit in half[i][0] * x01 (m = 0, 1) and
    // half[i][1] * x23 (m = 2, 3); two columns at a time, lane by lane.
    __m128d xp[2];
    for (int c = 0; c < 2; ++c) {
        const __m128d a01 = _mm_mul_pd(half[2 * c][0], x01);
        const __m128d a23 = _mm_mul_pd(half[2 * c][1], x23);
        const __m128d b01 = _mm_mul_pd(half[2 * c + 1][0], x01);
        const __m128d b23 = _mm_mul_pd(half[2 * c + 1][1], x23);
        __m128d sum = _mm_setzero_pd();
        sum = _mm_add_pd(sum, _mm_unpacklo_pd(a01, b01)); // products of x[0]
        sum = _mm_add_pd(sum, _mm_unpackhi_pd(a01, b01)); // of x[1]
        sum = _mm_add_pd(sum, _mm_unpacklo_pd(a23, b23)); // of x[2]
        sum = _mm_add_pd(sum, _mm_unpackhi_pd(a23, b23)); // of x[3]
        xp[c] = H::round_single(sum);
    }
    if constexpr (Keep) {
        state.s01 = xp[0];
        state.s23 = xp[1];
        state.k = _mm_movelh_ps(k01, k23);
    }

    // Covariance: column m loses k s[m] (lane i: k[i] s[m]), then q on the diagonal. The
    // halves in double precision are converted again rather than kept: sixteen registers
    // do not hold them all, and a value that goes through memory waits on the way back.
    const __m128d s_of[4] = {H::low(xp[0]), H::high(xp[0]), H::low(xp[1]), H::high(xp[1])};
    for (int m = 0; m < 4; ++m) {
        __m128 again = column[m];
        // For the compiler: not the values converted above, and not before the gain is
        // known, so that the halves are not held through the whole update.
        asm("" : "+x"(again) : "x"(kd01));
        half[m][0] = _mm_cvtps_pd(again);
        half[m][1] = _mm_cvtps_pd(_mm_movehl_ps(again, again));
    }
    for (int m = 0; m < 4; ++m) {
        const __m128d kept01 = _mm_sub_pd(half[m][0], _mm_mul_pd(kd01, s_of[m]));
        const __m128d kept23 = _mm_sub_pd(half[m][1], _mm_mul_pd(kd23, s_of[m]));
        column[m] =
            _mm_add_ps(_mm_movelh_ps(_mm_cvtpd_ps(kept01), _mm_cvtpd_ps(kept23)), state.q_at[m]);
    }

    return _mm_cvtsd_f64(e);
}

#undef VEKMRK_AVX2_INLINE

// A PredictorBlock of one predictor of order 4 on Halves4.
template <typename Form>
__attribute__((target("avx2"))) void run_halves4(AdaptivePredictor* const* p,
                                                 const float* const* in, float* const* out,
                                                 size_t count, double floor) {
    using predictor_kernel::output_sink;
    const predictor_kernel::Block<double> block(p, in, out);
    const Form form(floor);
    double level = predictor_kernel::start_level<double>(block.predictors);
    auto sink = output_sink(level, form, block.outputs);
    Halves4 a;
    a.load(*block.predictors[0]);
    __m128 column[4] = {a.column[0], a.column[1], a.column[2], a.column[3]};
    __m128d w01 = a.w01;
    __m128d w23 = a.w23;
    const float* input = block.inputs[0];
    // The first four samples take the window from the state; the others read it from the
    // input, which keeps it out of the registers and off the chain of dependent operations.
    const size_t head = std::min<size_t>(count, 4);
    for (size_t t = 0; t < head; ++t) {
        const auto d = static_cast<double>(input[t]);
        sink(t, t + 1 == count
                    ? halves4_update<true>(a, column, w01, w23, d, a.window01, a.window23)
                    : halves4_update<false>(a, column, w01, w23, d, a.window01, a.window23));
        a.shift(d);
    }
    if (count > head) {
        for (size_t t = head; t + 1 < count; ++t) {
            sink(t,
                 halves4_update<false>(a, column, w01, w23, static_cast<double>(input[t]),
                                       Halves4::pair(input + t - 4), Halves4::pair(input + t - 2)));
        }
        const size_t t = count - 1;
        sink(t, halves4_update<true>(a, column, w01, w23, static_cast<double>(input[t]),
                                     Halves4::pair(input + t - 4), Halves4::pair(input + t - 2)));
        a.window01 = Halves4::pair(input + count - 4);
        a.window23 = Halves4::pair(input + count - 2);
    }
    for (int m = 0; m < 4; ++m) {
        a.column[m] = column[m];
    }
    a.w01 = w01;
    a.w23 = w23;
    a.store(*block.predictors[0]);
    predictor_kernel::store_level(block.predictors, level);
}

template <size_t N, typename L, typename Form>
__attribute__((target("avx2"))) void run(AdaptivePredictor* const* p, const float* const* in,
                                         float* const* out, size_t count, double floor) {
    predictor_kernel::run_form<N, L, Form>(p, in, out, count, floor);
}

// Two predictors side by side keep one lane each, which measured faster than two Halves4-like
// streams.
template <typename Form> PredictorKernels kernels() {
    return {run<2, double, Form>, run_halves4<Form>, run<2, simd::f64x2, Form>,
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
