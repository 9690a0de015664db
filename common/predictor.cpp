#include "common/predictor.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "common/kernels.h"
#include "common/predictor_kernel.h"

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

using predictor_kernel::EnvelopeForm;
using predictor_kernel::WhitenForm;

// Any order, on `Count` predictors one after the other: one plain update per sample.
template <typename Form, size_t Count>
void run_plain(AdaptivePredictor* const* predictors, const float* const* inputs,
               float* const* outputs, size_t count, double floor) {
    const Form form(floor);
    for (size_t c = 0; c < Count; ++c) {
        AdaptivePredictor& predictor = *predictors[c];
        double level = std::isnan(predictor.carried) ? static_cast<double>(predictor.level)
                                                     : predictor.carried;
        for (size_t i = 0; i < count; ++i) {
            const double e = predictor_update(predictor, inputs[c][i]);
            outputs[c][i] = static_cast<float>(form.plain_step(level, e));
        }
        predictor.level = static_cast<float>(level);
        predictor.carried = predictor.carry ? level : std::numeric_limits<double>::quiet_NaN();
    }
}

template <typename Form> PredictorKernels plain_kernels() {
    return {run_plain<Form, 1>, run_plain<Form, 1>, run_plain<Form, 2>, run_plain<Form, 2>};
}

bool negative_zero(float v) {
    return v == 0.0f && std::signbit(v);
}

// Orders 2 and 4 run the table's kernels, other orders the plain updates.
void run_one(const PredictorKernels& kernels, PredictorBlock any_order,
             AdaptivePredictor& predictor, std::span<const float> input, std::span<float> output,
             double floor) {
    AdaptivePredictor* const predictors[] = {&predictor};
    const float* const inputs[] = {input.data()};
    float* const outputs[] = {output.data()};
    const size_t count = std::min(input.size(), output.size());
    // The kernels start each row of P x with its first product rather than with 0.0 + that
    // product, which the denominator's sum, starting from r, cannot tell apart unless r is -0.0
    // (-0.0 + -0.0 is -0.0, +0.0 + -0.0 is +0.0).
    const PredictorBlock kernel = negative_zero(predictor.r) ? any_order
                                  : predictor.order == 2     ? kernels.order2
                                  : predictor.order == 4     ? kernels.order4
                                                             : any_order;
    kernel(predictors, inputs, outputs, count, floor);
}

void run_two(const PredictorKernels& kernels, PredictorBlock any_order, AdaptivePredictor& first,
             AdaptivePredictor& second, std::span<const float> first_input,
             std::span<const float> second_input, std::span<float> first_output,
             std::span<float> second_output, double floor) {
    const size_t count = first_input.size();
    if (first.order != second.order || (first.order != 2 && first.order != 4) ||
        negative_zero(first.r) || negative_zero(second.r) || second_input.size() != count ||
        first_output.size() < count || second_output.size() < count) {
        run_one(kernels, any_order, first, first_input, first_output, floor);
        run_one(kernels, any_order, second, second_input, second_output, floor);
        return;
    }
    AdaptivePredictor* const predictors[] = {&first, &second};
    const float* const inputs[] = {first_input.data(), second_input.data()};
    float* const outputs[] = {first_output.data(), second_output.data()};
    const PredictorBlock kernel = first.order == 2 ? kernels.order2_pair : kernels.order4_pair;
    kernel(predictors, inputs, outputs, count, floor);
}

} // namespace

PredictorKernels predictor_envelope_plain() {
    return plain_kernels<EnvelopeForm>();
}

PredictorKernels predictor_whiten_plain() {
    return plain_kernels<WhitenForm>();
}

void predictor_envelope(AdaptivePredictor& predictor, std::span<const float> input,
                        std::span<float> output, SimdLevel level) noexcept {
    run_one(kernels_at(level).envelope, run_plain<EnvelopeForm, 1>, predictor, input, output, 0.0);
}

void predictor_envelope_pair(AdaptivePredictor& first, AdaptivePredictor& second,
                             std::span<const float> first_input,
                             std::span<const float> second_input, std::span<float> first_output,
                             std::span<float> second_output, SimdLevel level) noexcept {
    run_two(kernels_at(level).envelope, run_plain<EnvelopeForm, 1>, first, second, first_input,
            second_input, first_output, second_output, 0.0);
}

void predictor_whiten(AdaptivePredictor& predictor, double floor, std::span<const float> input,
                      std::span<float> output, SimdLevel level) noexcept {
    run_one(kernels_at(level).whiten, run_plain<WhitenForm, 1>, predictor, input, output, floor);
}

void predictor_whiten_pair(AdaptivePredictor& first, AdaptivePredictor& second, double floor,
                           std::span<const float> first_input, std::span<const float> second_input,
                           std::span<float> first_output, std::span<float> second_output,
                           SimdLevel level) noexcept {
    run_two(kernels_at(level).whiten, run_plain<WhitenForm, 1>, first, second, first_input,
            second_input, first_output, second_output, floor);
}
