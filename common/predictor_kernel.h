#pragma once
// The predictor update of predictor_update(), compiled for one fixed order and run on one
// predictor or on two at once, with the encoder's and the decoder's output forms: the code the
// twins of the plain predictor kernels instantiate, each inside functions compiled for its
// instruction set. A "lane" value is a double (one predictor) or a vector of two
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
#include <limits>

#include "common/predictor.h"
#include "common/simd_vectors.h"

#if defined(__SSE2__)
#include <emmintrin.h>
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

// a where v < 0, else v (lane by lane for vectors), without a branch: the sign of the
// difference that chooses flips from sample to sample, which a branch predicts badly.
[[gnu::always_inline]] inline double where_negative(double v, double a) {
#if defined(__SSE2__)
    const __m128d value = _mm_set_sd(v);
    const __m128d negative = _mm_cmplt_sd(value, _mm_setzero_pd());
    return _mm_cvtsd_f64(
        _mm_or_pd(_mm_and_pd(negative, _mm_set_sd(a)), _mm_andnot_pd(negative, value)));
#else
    return v < 0.0 ? a : v;
#endif
}
[[gnu::always_inline]] inline simd::f64x2 where_negative(simd::f64x2 v, simd::f64x2 a) {
    return where(v < 0.0, a, v);
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
        // Each row starts from its first product: 0.0 + p differs from p only for p = -0.0,
        // which the denominator cannot tell from +0.0 (it starts from r, which is not -0.0:
        // see predictor.cpp), and the gain takes the row + 0.0, the plain sum exactly.
        L row[N];
        for (size_t i = 0; i < N; ++i) {
            L sum = p[i][0] * x[0];
            for (size_t m = 1; m < N; ++m) {
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
            const H ki = g * to_half(row[i] + 0.0);
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

constexpr auto kRelease = static_cast<double>(0.1f);

// The encoder's output form: the level of the prediction error, which rises at once to |e| and
// falls by a tenth of the gap per sample.
struct EnvelopeForm {
    explicit EnvelopeForm(double /* the whitened form's floor */) {}
    template <typename L> [[gnu::always_inline]] inline L step(L& level, L e) const {
        const L diff = magnitude(e) - level;
        level = level + where_negative(diff, diff * kRelease);
        return level;
    }
    double plain_step(double& level, double e) const {
        double diff = std::fabs(e) - level;
        if (diff < 0.0) {
            diff *= kRelease;
        }
        level += diff;
        return level;
    }
};

// The decoder's output form: the prediction error divided by the same level, or by the floor
// when the level is not above it.
struct WhitenForm {
    explicit WhitenForm(double floor_value) : floor(floor_value) {}
    double floor;
    template <typename L> [[gnu::always_inline]] inline L step(L& level, L e) const {
        const L m = magnitude(e);
        level = where(m >= level, m, level + kRelease * (m - level));
        const L bound = L{} + floor;
        const L divisor = where(level > floor, level, bound);
        return e * ((L{} + 1.0) / divisor);
    }
    double plain_step(double& level, double e) const {
        const double m = std::fabs(e);
        if (m >= level) {
            level = m;
        } else {
            level = level + kRelease * (m - level);
        }
        const double divisor = level > floor ? level : floor;
        return e * (1.0 / divisor);
    }
};

// The level is carried unrounded within the call and stored as float at its end; with `carry`
// set it is also kept unrounded for the next call to start from.
template <typename L>
[[gnu::always_inline]] inline L
start_level(const std::array<AdaptivePredictor*, Lanes<L>::kCount>& predictors) {
    std::array<double, Lanes<L>::kCount> start{};
    for (size_t c = 0; c < start.size(); ++c) {
        const AdaptivePredictor& p = *predictors[c];
        start[c] = std::isnan(p.carried) ? static_cast<double>(p.level) : p.carried;
    }
    return gather<L>(start);
}

template <typename L>
[[gnu::always_inline]] inline void
store_level(const std::array<AdaptivePredictor*, Lanes<L>::kCount>& predictors, L level) {
    for (size_t c = 0; c < Lanes<L>::kCount; ++c) {
        AdaptivePredictor& p = *predictors[c];
        p.level = static_cast<float>(lane(level, c));
        p.carried = p.carry ? lane(level, c) : std::numeric_limits<double>::quiet_NaN();
    }
}

// What each sample's prediction errors become: the form's output, stored in single precision.
template <typename L, typename Form>
[[gnu::always_inline]] inline auto
output_sink(L& level, const Form& form, const std::array<float*, Lanes<L>::kCount>& outputs) {
    return [&level, &form, &outputs ](size_t t, L e) __attribute__((always_inline)) {
        const auto single = to_half(form.step(level, e));
        for (size_t c = 0; c < Lanes<L>::kCount; ++c) {
            outputs[c][t] = lane(single, c);
        }
    };
}

// The predictors of the lanes of L, as a kernel of the table receives them.
template <typename L> struct Block {
    static constexpr size_t kLanes = Lanes<L>::kCount;
    std::array<AdaptivePredictor*, kLanes> predictors;
    std::array<const float*, kLanes> inputs;
    std::array<float*, kLanes> outputs;

    [[gnu::always_inline]] inline Block(AdaptivePredictor* const* p, const float* const* in,
                                        float* const* out) {
        for (size_t c = 0; c < kLanes; ++c) {
            predictors[c] = p[c];
            inputs[c] = in[c];
            outputs[c] = out[c];
        }
    }
};

// A PredictorBlock of order N on the lanes of L, in the output form Form.
template <size_t N, typename L, typename Form>
[[gnu::always_inline]] inline void run_form(AdaptivePredictor* const* p, const float* const* in,
                                            float* const* out, size_t count, double floor) {
    const Block<L> block(p, in, out);
    const Form form(floor);
    L level = start_level<L>(block.predictors);
    run<N, L>(block.predictors, block.inputs, count, output_sink(level, form, block.outputs));
    store_level(block.predictors, level);
}

} // namespace predictor_kernel
