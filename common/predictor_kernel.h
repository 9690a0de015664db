#pragma once
// The predictor update of predictor_update(), compiled for one fixed order and run on one
// predictor or on two at once. A "lane" value is a double (one predictor) or a vector of two
// doubles (two predictors, one per lane); every operation is the plain update's operation, in
// its order, on each lane, and every value the plain update stores in single precision is
// rounded to single precision here too (held as a double that a float represents exactly).
// Two predictors in lockstep hide each other's latency: the update of one sample is a long
// chain of dependent operations (sums, a division, roundings) that leaves most of the
// processor idle.
//
// Products of two single-precision values are exact in double precision, and a double sum or
// product of two floats rounded to float equals the float operation (double has more than
// twice the float's precision), so the gain k = float(g * float(row)) and the diagonal step
// P[i][i] = float(q + P[i][i]) are computed as float operations.

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>

#include "common/predictor.h"
#include "common/simd_vectors.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace predictor_kernel {

template <typename L> struct Lanes;
template <> struct Lanes<double> {
    using Half = float;
    static constexpr size_t kCount = 1;
};
// Two single-precision lanes: on x86-64 the low half of a 128-bit vector, which the SSE2
// conversions between two doubles and two floats use directly.
#if defined(__SSE2__)
using f32pair = simd::f32x4;
#else
using f32pair = simd::f32x2;
#endif
template <> struct Lanes<simd::f64x2> {
    using Half = f32pair;
    static constexpr size_t kCount = 2;
};

template <typename L> using HalfOf = typename Lanes<L>::Half;

[[gnu::always_inline]] inline float to_half(double v) {
    return static_cast<float>(v);
}
[[gnu::always_inline]] inline f32pair to_half(simd::f64x2 v) {
#if defined(__SSE2__)
    return reinterpret_cast<f32pair>(_mm_cvtpd_ps(reinterpret_cast<__m128d>(v)));
#else
    return __builtin_convertvector(v, f32pair);
#endif
}
[[gnu::always_inline]] inline double to_lane(float v) {
    return static_cast<double>(v);
}
[[gnu::always_inline]] inline simd::f64x2 to_lane(f32pair v) {
#if defined(__SSE2__)
    return reinterpret_cast<simd::f64x2>(_mm_cvtps_pd(reinterpret_cast<__m128>(v)));
#else
    return __builtin_convertvector(v, simd::f64x2);
#endif
}
// The value rounded to single precision, kept as a double.
template <typename L> [[gnu::always_inline]] inline L round_single(L v) {
    return to_lane(to_half(v));
}

[[gnu::always_inline]] inline double magnitude(double v) {
    return std::fabs(v);
}
[[gnu::always_inline]] inline simd::f64x2 magnitude(simd::f64x2 v) {
    return std::bit_cast<simd::f64x2>(std::bit_cast<simd::i64x2>(v) & INT64_MAX);
}

// a where the condition holds, else b (lane by lane for vectors).
[[gnu::always_inline]] inline double where(bool condition, double a, double b) {
    return condition ? a : b;
}
[[gnu::always_inline]] inline simd::f64x2 where(simd::i64x2 condition, simd::f64x2 a,
                                                simd::f64x2 b) {
    return condition ? a : b;
}

// Lane c of a value, and a lane value made of one double per lane.
[[gnu::always_inline]] inline double lane(double v, size_t) {
    return v;
}
[[gnu::always_inline]] inline double lane(simd::f64x2 v, size_t c) {
    return v[c];
}
[[gnu::always_inline]] inline float lane(float v, size_t) {
    return v;
}
[[gnu::always_inline]] inline float lane(f32pair v, size_t c) {
    return v[c];
}

// Whether a comparison holds in lane c.
[[gnu::always_inline]] inline bool lane_set(bool condition, size_t) {
    return condition;
}
[[gnu::always_inline]] inline bool lane_set(simd::i64x2 condition, size_t c) {
    return condition[c] != 0;
}

template <typename L>
[[gnu::always_inline]] inline L gather(const std::array<double, Lanes<L>::kCount>& values) {
    if constexpr (Lanes<L>::kCount == 1) {
        return values[0];
    } else {
        return L{values[0], values[1]};
    }
}
template <typename L>
[[gnu::always_inline]] inline HalfOf<L>
gather_half(const std::array<float, Lanes<L>::kCount>& values) {
    if constexpr (Lanes<L>::kCount == 1) {
        return values[0];
    } else {
        return HalfOf<L>{values[0], values[1]};
    }
}

// The state of the predictors of all lanes, order N, in registers while a block runs.
template <size_t N, typename L> struct State {
    static constexpr size_t kLanes = Lanes<L>::kCount;
    L x[N];         // input window, oldest first
    L w[N];         // weights
    L s[N];         // row x^T P of the latest update
    HalfOf<L> k[N]; // gain vector of the latest update
    L p[N][N];      // covariance, by rows
    L r;            // measurement noise
    HalfOf<L> q;    // process noise

    void load(const std::array<AdaptivePredictor*, kLanes>& from) {
        std::array<double, kLanes> v{};
        auto take = [&](auto field) {
            for (size_t c = 0; c < kLanes; ++c) {
                v[c] = static_cast<double>(field(*from[c]));
            }
            return gather<L>(v);
        };
        for (size_t m = 0; m < N; ++m) {
            x[m] = take([m](const AdaptivePredictor& a) { return a.x[m]; });
            w[m] = take([m](const AdaptivePredictor& a) { return a.w[m]; });
            s[m] = take([m](const AdaptivePredictor& a) { return a.s[m]; });
            k[m] = to_half(take([m](const AdaptivePredictor& a) { return a.k[m]; }));
            for (size_t i = 0; i < N; ++i) {
                p[m][i] = take([m, i](const AdaptivePredictor& a) { return a.p[m * N + i]; });
            }
        }
        r = take([](const AdaptivePredictor& a) { return a.r; });
        q = to_half(take([](const AdaptivePredictor& a) { return a.q; }));
    }

    void store(const std::array<AdaptivePredictor*, kLanes>& to) const {
        for (size_t c = 0; c < kLanes; ++c) {
            AdaptivePredictor& a = *to[c];
            for (size_t m = 0; m < N; ++m) {
                a.x[m] = static_cast<float>(lane(x[m], c));
                a.w[m] = static_cast<float>(lane(w[m], c));
                a.s[m] = static_cast<float>(lane(s[m], c));
                a.k[m] = lane(k[m], c);
                for (size_t i = 0; i < N; ++i) {
                    a.p[m * N + i] = static_cast<float>(lane(p[m][i], c));
                }
            }
        }
    }

    // One update with the input d of every lane; returns the prediction errors, unrounded.
    // The gain vector and the row x^T P are kept in the state only when `Keep` is set (for the
    // last update of a block): they are not needed from one update to the next.
    template <bool Keep> [[gnu::always_inline]] inline L update(L d) {
        using H = HalfOf<L>;
        // Gain: k = P x / (r + x^T P x), the denominator summed from the unrounded rows of P x.
        L row[N];
        for (size_t i = 0; i < N; ++i) {
            L sum = {};
            for (size_t m = 0; m < N; ++m) {
                sum = sum + p[i][m] * x[m];
            }
            row[i] = sum;
        }
        L den = r;
        for (size_t i = 0; i < N; ++i) {
            den = den + row[i] * x[i];
        }
        const L one = L{} + 1.0;
        const H g = to_half(one / den);
        L kd[N];
        for (size_t i = 0; i < N; ++i) {
            const H ki = g * to_half(row[i]);
            kd[i] = to_lane(ki);
            if constexpr (Keep) {
                k[i] = ki;
            }
        }

        L e = d;
        for (size_t m = 0; m < N; ++m) {
            e = e - w[m] * x[m];
        }
        for (size_t m = 0; m < N; ++m) {
            w[m] = round_single(w[m] + e * kd[m]);
        }

        // Covariance: P = P - k (x^T P) + q I, with x^T P taken before P changes.
        L row_xp[N];
        for (size_t i = 0; i < N; ++i) {
            L column = {};
            for (size_t m = 0; m < N; ++m) {
                column = column + p[m][i] * x[m];
            }
            row_xp[i] = round_single(column);
            if constexpr (Keep) {
                s[i] = row_xp[i];
            }
        }
        for (size_t i = 0; i < N; ++i) {
            for (size_t m = 0; m < N; ++m) {
                if (m == i) {
                    p[i][i] = to_lane(to_half(p[i][i] - row_xp[i] * kd[i]) + q);
                } else {
                    p[i][m] = round_single(p[i][m] - row_xp[m] * kd[i]);
                }
            }
        }

        for (size_t m = 0; m + 1 < N; ++m) {
            x[m] = x[m + 1];
        }
        x[N - 1] = d;
        return e;
    }
};

// Runs the update over count samples of every lane's input and hands each sample's prediction
// errors to sink(t, e). The predictors must all have order N.
template <size_t N, typename L, typename Sink>
[[gnu::always_inline]] inline void
run(const std::array<AdaptivePredictor*, Lanes<L>::kCount>& predictors,
    const std::array<const float*, Lanes<L>::kCount>& inputs, size_t count, Sink&& sink) {
    State<N, L> state;
    state.load(predictors);
    auto input = [&inputs](size_t t) __attribute__((always_inline)) {
        std::array<float, Lanes<L>::kCount> d;
        for (size_t c = 0; c < d.size(); ++c) {
            d[c] = inputs[c][t];
        }
        return to_lane(gather_half<L>(d));
    };
    if (count > 0) {
        for (size_t t = 0; t + 1 < count; ++t) {
            sink(t, state.template update<false>(input(t)));
        }
        sink(count - 1, state.template update<true>(input(count - 1)));
    }
    state.store(predictors);
}

#if defined(__x86_64__) && defined(__GNUC__)
// Order 4 with the covariance's columns in the four lanes of a vector, one predictor per
// instruction stream (two predictors make two streams the processor overlaps). Column m holds
// P[i][m] in lane i, so that P x is four vector products and sums, all rows at once, each lane
// summing its row in the plain order; x^T P takes the products P[m][i] x[m] by columns and
// turns them into rows (a 4 x 4 transpose) to sum them, in lane i, for m ascending. Far fewer
// instructions than one lane per predictor, which the processor's adders otherwise limit.
// AVX2 instructions, for the AVX2 and AVX-512 levels.
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

// run() for order 4 with Columns4: one stream per lane of L.
template <typename L, typename Sink>
__attribute__((always_inline, target("avx2"))) inline void
run_columns4(const std::array<AdaptivePredictor*, Lanes<L>::kCount>& predictors,
             const std::array<const float*, Lanes<L>::kCount>& inputs, size_t count, Sink&& sink) {
    if constexpr (Lanes<L>::kCount == 1) {
        Columns4 a;
        a.load(*predictors[0]);
        const float* in = inputs[0];
        if (count > 0) {
            for (size_t t = 0; t + 1 < count; ++t) {
                sink(t, a.update<false>(static_cast<double>(in[t])));
            }
            sink(count - 1, a.update<true>(static_cast<double>(in[count - 1])));
        }
        a.store(*predictors[0]);
    } else {
        Columns4 a;
        Columns4 b;
        a.load(*predictors[0]);
        b.load(*predictors[1]);
        const float* in_a = inputs[0];
        const float* in_b = inputs[1];
        if (count > 0) {
            for (size_t t = 0; t + 1 < count; ++t) {
                const double ea = a.update<false>(static_cast<double>(in_a[t]));
                const double eb = b.update<false>(static_cast<double>(in_b[t]));
                sink(t, L{ea, eb});
            }
            const double ea = a.update<true>(static_cast<double>(in_a[count - 1]));
            const double eb = b.update<true>(static_cast<double>(in_b[count - 1]));
            sink(count - 1, L{ea, eb});
        }
        a.store(*predictors[0]);
        b.store(*predictors[1]);
    }
}
#endif

} // namespace predictor_kernel
