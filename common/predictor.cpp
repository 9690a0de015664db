#include "common/predictor.h"

#include <algorithm>
#include <cmath>
#include <new>

void predictor_destroy(AdaptivePredictor* predictor) noexcept
{
    std::unique_ptr<AdaptivePredictor> owned(predictor);
}

AdaptivePredictorPtr predictor_create(int32_t order, float r, float q) noexcept
{
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

double predictor_update(AdaptivePredictor& predictor, float d) noexcept
{
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
            row[m] = static_cast<float>(static_cast<double>(row[m]) - static_cast<double>(s[m]) * ki);
        }
        row[i] = static_cast<float>(q + static_cast<double>(row[i]));
    }

    for (size_t m = 0; m + 1 < n; ++m) {
        x[m] = x[m + 1];
    }
    x[n - 1] = d;
    return e;
}

void predictor_envelope(AdaptivePredictor& predictor, std::span<const float> input,
                        std::span<float> output) noexcept
{
    const size_t count = std::min(input.size(), output.size());
    constexpr auto kRelease = static_cast<double>(0.1f);
    double level = static_cast<double>(predictor.level);
    for (size_t i = 0; i < count; ++i) {
        const double e = predictor_update(predictor, input[i]);
        double diff = std::fabs(e) - level;
        if (diff < 0.0) {
            diff *= kRelease;
        }
        level += diff;
        output[i] = static_cast<float>(level);
    }
    predictor.level = static_cast<float>(level);
}
