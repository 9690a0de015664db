#include "decoder/whitening.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

namespace {

// Blocks of about this many samples, the frame cut into equal parts.
constexpr size_t kBlockTarget = 4096;
// Added to the block's power before the fit, relative to it: keeps the fit stable on
// silent or purely tonal blocks and bounds the whitening gain at about 90 dB.
constexpr double kPowerFloor = 1e-9;
// Partial sums side by side in the autocorrelation, added up in a fixed order.
constexpr size_t kLanes = 4;

const std::vector<double>& hann(std::array<std::vector<double>, 2>& windows, size_t length) {
    for (const std::vector<double>& w : windows) {
        if (w.size() == length)
            return w;
    }
    // Keep the window of the other length a frame uses (lengths differ by at most one).
    std::vector<double>& w = windows[0].size() + 1 == length || windows[0].size() == length + 1
                                 ? windows[1]
                                 : windows[0];
    w.resize(length);
    for (size_t i = 0; i < length; ++i) {
        w[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (static_cast<double>(i) + 0.5) /
                                    static_cast<double>(length));
    }
    return w;
}

} // namespace

bool whitener_init(BlockWhitener& w, int32_t order) noexcept {
    try {
        w.order = order;
        w.coefficients.assign(static_cast<size_t>(order) + 1, 0.0);
        w.coefficients[0] = 1.0;
        std::vector<float> taps(static_cast<size_t>(order) + 1, 0.0f);
        taps.back() = 1.0f;
        w.forward = fir_create(order + 1, 0, 1, taps);
        w.backward = fir_create(order + 1, 0, 1, taps);
        w.level = 0.0;
        return w.forward && w.backward;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void whitener_fit(std::span<const float> block, std::span<const double> window,
                  std::span<double> windowed, std::span<double> a) {
    const size_t p = a.size() - 1;
    const size_t n = block.size();
    double* const x = windowed.data();
    for (size_t i = 0; i < n; ++i)
        x[i] = static_cast<double>(block[i]) * window[i];
    std::array<double, 64> r{};
    for (size_t k = 0; k <= p && k < n && k < r.size(); ++k) {
        std::array<double, kLanes> lanes{};
        size_t i = k;
        for (; i + kLanes <= n; i += kLanes) {
            for (size_t l = 0; l < kLanes; ++l)
                lanes[l] += x[i + l] * x[i + l - k];
        }
        for (; i < n; ++i)
            lanes[0] += x[i] * x[i - k];
        r[k] = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
    }
    std::fill(a.begin(), a.end(), 0.0);
    a[0] = 1.0;
    double error = r[0] * (1.0 + kPowerFloor);
    if (!(error > 0.0))
        return;
    // Levinson-Durbin recursion.
    std::array<double, 64> previous{};
    for (size_t i = 1; i <= p && i < r.size(); ++i) {
        double acc = r[i];
        for (size_t j = 1; j < i; ++j)
            acc += a[j] * r[i - j];
        const double k = -acc / error;
        std::copy(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(i), previous.begin());
        for (size_t j = 1; j < i; ++j)
            a[j] = previous[j] + k * previous[i - j];
        a[i] = k;
        error *= 1.0 - k * k;
        if (!(error > 0.0))
            break;
    }
}

void whitener_run(BlockWhitener& w, double floor, std::span<const float> input,
                  std::span<float> output) {
    const auto p = static_cast<size_t>(w.order);
    const size_t n = std::min(input.size(), output.size());
    if (n == 0)
        return;
    if (w.windowed.size() < n) {
        w.windowed.resize(n);
        w.residual.resize(n);
    }
    const size_t blocks = std::max<size_t>(1, (n + kBlockTarget / 2) / kBlockTarget);
    double level = w.level;
    for (size_t b = 0; b < blocks; ++b) {
        const size_t begin = n * b / blocks;
        const size_t length = n * (b + 1) / blocks - begin;
        const std::span<const float> in = input.subspan(begin, length);
        const std::span<float> out = output.subspan(begin, length);
        whitener_fit(in, hann(w.windows, length), w.windowed, w.coefficients);
        const double* a = w.coefficients.data();
        double power = 0.0;
        for (size_t k = 0; k <= p; ++k) {
            w.forward->coefficients[p - k] = static_cast<float>(a[k]);
            power += a[k] * a[k];
        }
        // Scaled to unit power gain, so that every block's output has the level of the
        // divided error.
        const double scale = 1.0 / std::sqrt(power);
        for (size_t k = 0; k <= p; ++k)
            w.backward->coefficients[k] = static_cast<float>(a[k] * scale);
        // Prediction error, divided by its level.
        const std::span<float> residual = std::span<float>(w.residual).first(length);
        fir_run(*w.forward, in, residual);
        for (float& v : residual) {
            const double e = static_cast<double>(v);
            const double m = std::fabs(e);
            level = m >= level ? m : level + 0.1 * (m - level);
            v = static_cast<float>(e / std::max(level, floor));
        }
        // The error filter backwards: output i sums a[k] times the divided error p - k samples
        // back.
        fir_run(*w.backward, residual, out);
    }
    w.level = level;
}
