#include "decoder/whitening.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

namespace {

// Blocks of about this many samples, the frame cut into equal parts.
constexpr size_t kBlockTarget = 4096;
// Added to the block's power before the fit, relative to it: keeps the fit stable on
// silent or purely tonal blocks and bounds the whitening gain at about 55 dB. The bound
// matters after a low-pass filter or a lossy codec: the band they emptied holds only rounding
// noise and no mark, and with an unbounded gain it would outweigh the bands that carry the
// mark (low-pass 8 kHz, MP3 64 kbit/s: nothing read). Lower bounds read such files better
// and unchanged ones worse; this one reads the unchanged files of the yield corpus as well as
// 1e-9 did.
constexpr double kPowerFloor = 3e-6;
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

namespace {

// The block's fit and its prediction error, left in w.residual; sets both error filters.
std::span<float> block_error(BlockWhitener& w, std::span<const float> in) {
    const auto p = static_cast<size_t>(w.order);
    const size_t length = in.size();
    whitener_fit(in, hann(w.windows, length), w.windowed, w.coefficients);
    const double* a = w.coefficients.data();
    double power = 0.0;
    for (size_t k = 0; k <= p; ++k) {
        w.forward->coefficients[p - k] = static_cast<float>(a[k]);
        power += a[k] * a[k];
    }
    // Scaled to unit power gain, so that every block's output has the level of the divided
    // error.
    const double scale = 1.0 / std::sqrt(power);
    for (size_t k = 0; k <= p; ++k)
        w.backward->coefficients[k] = static_cast<float>(a[k] * scale);
    const std::span<float> residual = std::span<float>(w.residual).first(length);
    fir_run(*w.forward, in, residual);
    return residual;
}

// The error divided by its level, in place, for Lanes whiteners side by side: each level
// depends on the one before, a chain of roundings that leaves the processor room for a second
// whitener's chain.
template <size_t Lanes>
void divide_by_level(const std::array<BlockWhitener*, Lanes>& w,
                     const std::array<std::span<float>, Lanes>& residual, double floor) {
    std::array<double, Lanes> level;
    for (size_t c = 0; c < Lanes; ++c)
        level[c] = w[c]->level;
    const size_t n = residual[0].size();
    for (size_t i = 0; i < n; ++i) {
        for (size_t c = 0; c < Lanes; ++c) {
            float& v = residual[c][i];
            const double e = static_cast<double>(v);
            const double m = std::fabs(e);
            level[c] = m >= level[c] ? m : level[c] + 0.1 * (m - level[c]);
            v = static_cast<float>(e / std::max(level[c], floor));
        }
    }
    for (size_t c = 0; c < Lanes; ++c)
        w[c]->level = level[c];
}

size_t block_count(size_t n) {
    return std::max<size_t>(1, (n + kBlockTarget / 2) / kBlockTarget);
}

void reserve_scratch(BlockWhitener& w, size_t n) {
    if (w.windowed.size() < n) {
        w.windowed.resize(n);
        w.residual.resize(n);
    }
}

} // namespace

void whitener_run(BlockWhitener& w, double floor, std::span<const float> input,
                  std::span<float> output) {
    const size_t n = std::min(input.size(), output.size());
    if (n == 0)
        return;
    reserve_scratch(w, n);
    const size_t blocks = block_count(n);
    for (size_t b = 0; b < blocks; ++b) {
        const size_t begin = n * b / blocks;
        const size_t length = n * (b + 1) / blocks - begin;
        const std::span<float> residual = block_error(w, input.subspan(begin, length));
        divide_by_level<1>({&w}, {residual}, floor);
        // The error filter backwards: output i sums a[k] times the divided error p - k samples
        // back.
        fir_run(*w.backward, residual, output.subspan(begin, length));
    }
}

void whitener_run_pair(BlockWhitener& first, BlockWhitener& second, double floor,
                       std::span<const float> first_input, std::span<const float> second_input,
                       std::span<float> first_output, std::span<float> second_output) {
    const size_t n = std::min(first_input.size(), first_output.size());
    if (n != std::min(second_input.size(), second_output.size())) {
        whitener_run(first, floor, first_input, first_output);
        whitener_run(second, floor, second_input, second_output);
        return;
    }
    if (n == 0)
        return;
    reserve_scratch(first, n);
    reserve_scratch(second, n);
    const size_t blocks = block_count(n);
    for (size_t b = 0; b < blocks; ++b) {
        const size_t begin = n * b / blocks;
        const size_t length = n * (b + 1) / blocks - begin;
        const std::span<float> r1 = block_error(first, first_input.subspan(begin, length));
        const std::span<float> r2 = block_error(second, second_input.subspan(begin, length));
        divide_by_level<2>({&first, &second}, {r1, r2}, floor);
        fir_run(*first.backward, r1, first_output.subspan(begin, length));
        fir_run(*second.backward, r2, second_output.subspan(begin, length));
    }
}
