#include "common/predictor.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "common/predictor_kernel.h"
#include "common/simd.h"

void predictor_destroy(AdaptivePredictor* predictor) noexcept {
    std::unique_ptr<AdaptivePredictor> owned(predictor);
}

AdaptivePredictorPtr predictor_create(int32_t order, float r, float q) noexcept {
    if (order < 1 || order > 4096) {
        return {};
    }
    try {
        AdaptivePredictorPtr predictor(std::make_unique<AdaptivePredictor>().release());
        const auto n = static_cast<size_t>(order);
        predictor->order = order;
        predictor->r = r;
        predictor->q = q;
        predictor->storage.assign(4 * n + n * n, 0.0f);
        float* block = predictor->storage.data();
        predictor->x = block;
        predictor->s = block + n;
        predictor->w = block + 2 * n;
        predictor->k = block + 3 * n;
        predictor->p = block + 4 * n;
        for (size_t i = 0; i < n; ++i) {
            predictor->p[i * n + i] = q;
        }
        return predictor;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

double predictor_update(AdaptivePredictor& predictor, float d) noexcept {
    const auto n = static_cast<size_t>(predictor.order);
    float* const x = predictor.x;
    float* const s = predictor.s;
    float* const w = predictor.w;
    float* const k = predictor.k;
    float* const p = predictor.p;

    // Gain: k = P x / (r + x^T P x), the denominator summed from the unrounded rows of P x.
    double den = static_cast<double>(predictor.r);
    for (size_t i = 0; i < n; ++i) {
        double row = 0.0;
        for (size_t m = 0; m < n; ++m) {
            row += static_cast<double>(p[i * n + m]) * static_cast<double>(x[m]);
        }
        k[i] = static_cast<float>(row);
        den += row * static_cast<double>(x[i]);
    }
    const float g = static_cast<float>(1.0 / den);
    for (size_t i = 0; i < n; ++i) {
        k[i] = static_cast<float>(static_cast<double>(g) * static_cast<double>(k[i]));
    }

    // Prediction error, kept in double.
    double e = static_cast<double>(d);
    for (size_t m = 0; m < n; ++m) {
        e -= static_cast<double>(w[m]) * static_cast<double>(x[m]);
    }

    for (size_t m = 0; m < n; ++m) {
        w[m] = static_cast<float>(static_cast<double>(w[m]) + e * static_cast<double>(k[m]));
    }

    // Covariance: P = P - k (x^T P) + q I, with x^T P taken before P changes.
    for (size_t i = 0; i < n; ++i) {
        double column = 0.0;
        for (size_t m = 0; m < n; ++m) {
            column += static_cast<double>(p[m * n + i]) * static_cast<double>(x[m]);
        }
        s[i] = static_cast<float>(column);
    }
    const auto q = static_cast<double>(predictor.q);
    for (size_t i = 0; i < n; ++i) {
        float* const row = p + i * n;
        const auto ki = static_cast<double>(k[i]);
        for (size_t m = 0; m < n; ++m) {
            row[m] =
                static_cast<float>(static_cast<double>(row[m]) - static_cast<double>(s[m]) * ki);
        }
        row[i] = static_cast<float>(q + static_cast<double>(row[i]));
    }

    for (size_t m = 0; m + 1 < n; ++m) {
        x[m] = x[m + 1];
    }
    x[n - 1] = d;
    return e;
}

namespace {

constexpr auto kRelease = static_cast<double>(0.1f);

// The encoder's output form: the level of the prediction error, which rises at once to |e| and
// falls by a tenth of the gap per sample.
struct EnvelopeForm {
    template <typename L> [[gnu::always_inline]] inline L step(L& level, L e) const {
        using predictor_kernel::where;
        const L diff = predictor_kernel::magnitude(e) - level;
        level = level + where(diff < 0.0, diff * kRelease, diff);
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
    double floor;
    template <typename L> [[gnu::always_inline]] inline L step(L& level, L e) const {
        using predictor_kernel::where;
        const L magnitude = predictor_kernel::magnitude(e);
        level = where(magnitude >= level, magnitude, level + kRelease * (magnitude - level));
        const L bound = L{} + floor;
        const L divisor = where(level > floor, level, bound);
        return e * ((L{} + 1.0) / divisor);
    }
    double plain_step(double& level, double e) const {
        const double magnitude = std::fabs(e);
        if (magnitude >= level) {
            level = magnitude;
        } else {
            level = level + kRelease * (magnitude - level);
        }
        const double divisor = level > floor ? level : floor;
        return e * (1.0 / divisor);
    }
};

// The level is carried unrounded within the call and stored as float at its end.
template <typename L>
[[gnu::always_inline]] inline L
start_level(const std::array<AdaptivePredictor*, predictor_kernel::Lanes<L>::kCount>& predictors) {
    std::array<double, predictor_kernel::Lanes<L>::kCount> start{};
    for (size_t c = 0; c < start.size(); ++c) {
        start[c] = static_cast<double>(predictors[c]->level);
    }
    return predictor_kernel::gather<L>(start);
}

template <typename L>
[[gnu::always_inline]] inline void
store_level(const std::array<AdaptivePredictor*, predictor_kernel::Lanes<L>::kCount>& predictors,
            L level) {
    for (size_t c = 0; c < predictor_kernel::Lanes<L>::kCount; ++c) {
        predictors[c]->level = static_cast<float>(predictor_kernel::lane(level, c));
    }
}

// What each sample's prediction errors become: the form's output, stored in single precision.
template <typename L, typename Form>
[[gnu::always_inline]] inline auto
output_sink(L& level, const Form& form,
            const std::array<float*, predictor_kernel::Lanes<L>::kCount>& outputs) {
    return [&level, &form, &outputs ](size_t t, L e) __attribute__((always_inline)) {
        const auto single = predictor_kernel::to_half(form.step(level, e));
        for (size_t c = 0; c < predictor_kernel::Lanes<L>::kCount; ++c) {
            outputs[c][t] = predictor_kernel::lane(single, c);
        }
    };
}

template <size_t N, typename L, typename Form>
[[gnu::always_inline]] inline void
run_form(const std::array<AdaptivePredictor*, predictor_kernel::Lanes<L>::kCount>& predictors,
         const std::array<const float*, predictor_kernel::Lanes<L>::kCount>& inputs,
         const std::array<float*, predictor_kernel::Lanes<L>::kCount>& outputs, size_t count,
         const Form& form) {
    L level = start_level<L>(predictors);
    predictor_kernel::run<N, L>(predictors, inputs, count, output_sink(level, form, outputs));
    store_level(predictors, level);
}

#if defined(__x86_64__) && defined(__GNUC__)
// run_form on 256-bit vectors: a single predictor of order 4 on Columns4 (about 15% faster
// than one lane per predictor); two predictors side by side keep one lane each, which
// measured faster here than two Columns4 streams, and other orders are as run_form.
template <size_t N, typename L, typename Form>
__attribute__((always_inline, target("avx2"))) inline void
run_form_wide(const std::array<AdaptivePredictor*, predictor_kernel::Lanes<L>::kCount>& predictors,
              const std::array<const float*, predictor_kernel::Lanes<L>::kCount>& inputs,
              const std::array<float*, predictor_kernel::Lanes<L>::kCount>& outputs, size_t count,
              const Form& form) {
    if constexpr (N == 4 && predictor_kernel::Lanes<L>::kCount == 1) {
        L level = start_level<L>(predictors);
        predictor_kernel::run_columns4<L>(predictors, inputs, count,
                                          output_sink(level, form, outputs));
        store_level(predictors, level);
    } else {
        run_form<N, L>(predictors, inputs, outputs, count, form);
    }
}
#endif

// One order, lane type and output form, compiled for each instruction set: the wider sets bring
// three-operand instructions and, with AVX-512, 32 registers, so that more of the state stays
// in registers.
template <size_t N, typename L, typename Form> struct Kernel {
    static constexpr size_t kLanes = predictor_kernel::Lanes<L>::kCount;
    using Predictors = std::array<AdaptivePredictor*, kLanes>;
    using Inputs = std::array<const float*, kLanes>;
    using Outputs = std::array<float*, kLanes>;

    static void portable(const Predictors& p, const Inputs& in, const Outputs& out, size_t count,
                         const Form& form) {
        run_form<N, L>(p, in, out, count, form);
    }
#if defined(__x86_64__) && defined(__GNUC__)
    __attribute__((target("avx2"))) static void avx2(const Predictors& p, const Inputs& in,
                                                     const Outputs& out, size_t count,
                                                     const Form& form) {
        run_form_wide<N, L>(p, in, out, count, form);
    }
    __attribute__((target("avx512f,avx512vl"))) static void avx512(const Predictors& p,
                                                                   const Inputs& in,
                                                                   const Outputs& out, size_t count,
                                                                   const Form& form) {
        if constexpr (N == 4 && kLanes == 1) {
            // Columns4 measured faster with the AVX2 encoding.
            avx2(p, in, out, count, form);
        } else {
            run_form<N, L>(p, in, out, count, form);
        }
    }
#endif
    static void at(SimdLevel level, const Predictors& p, const Inputs& in, const Outputs& out,
                   size_t count, const Form& form) {
#if defined(__x86_64__) && defined(__GNUC__)
        switch (std::min(level, simd_detected())) {
        case SimdLevel::Avx512:
            return avx512(p, in, out, count, form);
        case SimdLevel::Avx2:
            return avx2(p, in, out, count, form);
        case SimdLevel::Portable:
            break;
        }
#else
        (void)level;
#endif
        portable(p, in, out, count, form);
    }
};

// Any order: one plain update per sample.
template <typename Form>
void run_any_order(AdaptivePredictor& predictor, std::span<const float> input,
                   std::span<float> output, size_t count, const Form& form) {
    double level = static_cast<double>(predictor.level);
    for (size_t i = 0; i < count; ++i) {
        const double e = predictor_update(predictor, input[i]);
        output[i] = static_cast<float>(form.plain_step(level, e));
    }
    predictor.level = static_cast<float>(level);
}

template <typename Form>
void run_one(SimdLevel level, AdaptivePredictor& predictor, std::span<const float> input,
             std::span<float> output, const Form& form) {
    const size_t count = std::min(input.size(), output.size());
    switch (predictor.order) {
    case 2:
        Kernel<2, double, Form>::at(level, {&predictor}, {input.data()}, {output.data()}, count,
                                    form);
        break;
    case 4:
        Kernel<4, double, Form>::at(level, {&predictor}, {input.data()}, {output.data()}, count,
                                    form);
        break;
    default:
        run_any_order(predictor, input, output, count, form);
        break;
    }
}

template <typename Form>
void run_two(SimdLevel level, AdaptivePredictor& first, AdaptivePredictor& second,
             std::span<const float> first_input, std::span<const float> second_input,
             std::span<float> first_output, std::span<float> second_output, const Form& form) {
    const size_t count = first_input.size();
    if (first.order != second.order || (first.order != 2 && first.order != 4) ||
        second_input.size() != count || first_output.size() < count ||
        second_output.size() < count) {
        run_one(level, first, first_input, first_output, form);
        run_one(level, second, second_input, second_output, form);
        return;
    }
    const std::array<AdaptivePredictor*, 2> both{&first, &second};
    const std::array<const float*, 2> inputs{first_input.data(), second_input.data()};
    const std::array<float*, 2> outputs{first_output.data(), second_output.data()};
    if (first.order == 2) {
        Kernel<2, simd::f64x2, Form>::at(level, both, inputs, outputs, count, form);
    } else {
        Kernel<4, simd::f64x2, Form>::at(level, both, inputs, outputs, count, form);
    }
}

} // namespace

void predictor_envelope(AdaptivePredictor& predictor, std::span<const float> input,
                        std::span<float> output, SimdLevel level) noexcept {
    run_one(level, predictor, input, output, EnvelopeForm{});
}

void predictor_envelope_pair(AdaptivePredictor& first, AdaptivePredictor& second,
                             std::span<const float> first_input,
                             std::span<const float> second_input, std::span<float> first_output,
                             std::span<float> second_output, SimdLevel level) noexcept {
    run_two(level, first, second, first_input, second_input, first_output, second_output,
            EnvelopeForm{});
}

void predictor_whiten(AdaptivePredictor& predictor, double floor, std::span<const float> input,
                      std::span<float> output, SimdLevel level) noexcept {
    run_one(level, predictor, input, output, WhitenForm{floor});
}

void predictor_whiten_pair(AdaptivePredictor& first, AdaptivePredictor& second, double floor,
                           std::span<const float> first_input, std::span<const float> second_input,
                           std::span<float> first_output, std::span<float> second_output,
                           SimdLevel level) noexcept {
    run_two(level, first, second, first_input, second_input, first_output, second_output,
            WhitenForm{floor});
}
