#include "common/fir_filter.h"

#include <algorithm>
#include <array>
#include <new>

#include "common/kernels.h"

namespace {

// 21-tap symmetric band-limiting kernels designed at 44100 Hz, named by their upper band edge.
constexpr std::array<float, 21> kBandKernel11000 = {
    -0.0006f, 0.0016f,  -0.0052f, -0.0233f, -0.0203f, 0.0004f,  -0.0498f,
    -0.1501f, -0.0769f, 0.2225f,  0.4060f,  0.2225f,  -0.0769f, -0.1501f,
    -0.0498f, 0.0004f,  -0.0203f, -0.0233f, -0.0052f, 0.0016f,  -0.0006f};
constexpr std::array<float, 21> kBandKernel7000 = {
    -0.0023f, -0.0005f, 0.0017f,  -0.0037f, -0.0303f, -0.0749f, -0.1004f,
    -0.0581f, 0.0602f,  0.1940f,  0.2530f,  0.1940f,  0.0602f,  -0.0581f,
    -0.1004f, -0.0749f, -0.0303f, -0.0037f, 0.0017f,  -0.0005f, -0.0023f};
constexpr std::array<float, 21> kBandKernel5000 = {
    0.0018f,  -0.0023f, -0.0134f, -0.0353f, -0.0615f, -0.0738f, -0.0517f,
    0.0118f,  0.1003f,  0.1780f,  0.2089f,  0.1780f,  0.1003f,  0.0118f,
    -0.0517f, -0.0738f, -0.0615f, -0.0353f, -0.0134f, -0.0023f, 0.0018f};
static_assert(kBandKernel11000.size() == 21 && kBandKernel7000.size() == 21 &&
              kBandKernel5000.size() == 21);

// The number of input samples the history keeps: N + A - 1.
size_t kept_inputs(const FirFilter& filter) {
    return static_cast<size_t>(filter.taps) + static_cast<size_t>(filter.extra_history) - 1;
}

} // namespace

void fir_destroy(FirFilter* filter) noexcept {
    std::unique_ptr<FirFilter> owned(filter);
}

FirFilterPtr fir_create(int32_t n, int32_t a, int32_t d,
                        std::span<const float> coefficients) noexcept {
    if (n < 1 || a < 0 || d < 1 || coefficients.size() < static_cast<size_t>(n) ||
        static_cast<int64_t>(n) + a > INT32_MAX) {
        return {};
    }
    try {
        FirFilterPtr filter(std::make_unique<FirFilter>().release());
        filter->taps = n;
        filter->extra_history = a;
        filter->step = d;
        filter->coefficients.assign(coefficients.begin(), coefficients.begin() + n);
        filter->history.assign(static_cast<size_t>(n) + static_cast<size_t>(a), 0.0f);
        return filter;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

FirFilterPtr band_filter_create(int32_t band_edge) noexcept {
    switch (band_edge) {
    case 11000:
        return fir_create(21, 0, 1, kBandKernel11000);
    case 7000:
        return fir_create(21, 0, 1, kBandKernel7000);
    case 5000:
        return fir_create(21, 0, 1, kBandKernel5000);
    default:
        return {};
    }
}

void fir_prime(FirFilter& filter, std::span<const float> input) noexcept {
    const size_t kept = kept_inputs(filter);
    float* const history = filter.history.data();
    if (input.size() >= kept) {
        std::copy(input.end() - static_cast<std::ptrdiff_t>(kept), input.end(), history);
        return;
    }
    // Fewer new samples than the history holds: the older ones move down to make room.
    const size_t fresh = input.size();
    std::copy(history + fresh, history + kept, history);
    std::copy(input.begin(), input.end(), history + (kept - fresh));
}

namespace {

// The sums one at a time, straight from the history and the input: the way fir_run works when
// it cannot get room for its work copy.
void run_direct(FirFilter& filter, std::span<const float> input, std::span<float> output) {
    const auto taps = static_cast<size_t>(filter.taps);
    const auto step = static_cast<size_t>(filter.step);
    const size_t kept = kept_inputs(filter);
    const float* const h = filter.coefficients.data();
    // With extra history the newest sample of each sum is still input[c]: the sums use the
    // last N - 1 stored samples.
    const float* const history = filter.history.data() + (kept - (taps - 1));
    const size_t past = taps - 1;

    size_t j = 0;
    for (size_t c = 0; c < input.size() && j < output.size(); c += step, ++j) {
        // z[c + k] is history[c + k] while c + k < past, input[c + k - past] from there on.
        const size_t from_history = c < past ? past - c : 0;
        double sum = 0.0;
        for (size_t k = 0; k < from_history; ++k) {
            sum += static_cast<double>(h[k]) * static_cast<double>(history[c + k]);
        }
        const float* z = input.data() + (c + from_history - past);
        for (size_t k = from_history; k < taps; ++k) {
            sum += static_cast<double>(h[k]) * static_cast<double>(*z++);
        }
        output[j] = static_cast<float>(sum);
    }
}

} // namespace

void fir_sum_products_plain(FirRows z, const double* h, size_t taps, float* out) {
    for (size_t j = 0; j < z.segment; ++j) {
        const double* row = z.z + j * z.step;
        double sum = 0.0;
        for (size_t k = 0; k < taps; ++k) {
            sum += row[k] * h[k];
        }
        out[j] = static_cast<float>(sum);
    }
}

void fir_run(FirFilter& filter, std::span<const float> input, std::span<float> output) noexcept {
    fir_run_at(filter, input, output, simd_level());
}

void fir_run_at(FirFilter& filter, std::span<const float> input, std::span<float> output,
                SimdLevel level) noexcept {
    const auto taps = static_cast<size_t>(filter.taps);
    const auto step = static_cast<size_t>(filter.step);
    const size_t count = input.size();
    const size_t outputs = std::min(output.size(), (count + step - 1) / step);
    const size_t past = taps - 1;
    const KernelTable& kernels = kernels_at(level);
    const size_t lanes = kernels.fir_lanes;
    const size_t segment = outputs / lanes;
    const size_t rows = segment == 0 ? 0 : step * (segment - 1) + taps;
    // The work copy holds the coefficients as doubles, then the rows, from a 64-byte boundary.
    constexpr size_t kAlign = 8; // doubles in 64 bytes
    try {
        if (filter.work.size() < taps + kAlign + rows * lanes) {
            filter.work.resize(taps + kAlign + rows * lanes);
        }
    } catch (const std::bad_alloc&) {
        run_direct(filter, input, output);
        fir_prime(filter, input);
        return;
    }
    double* const h = filter.work.data();
    for (size_t k = 0; k < taps; ++k) {
        h[k] = static_cast<double>(filter.coefficients[k]);
    }
    const float* const history = filter.history.data() + (kept_inputs(filter) - past);
    // z[i]: the history before the block, then the block.
    auto z_at = [&](size_t i) { return i < past ? history[i] : input[i - past]; };

    if (segment > 0) {
        const auto misalign = (reinterpret_cast<uintptr_t>(h + taps) / sizeof(double)) % kAlign;
        double* const z = h + taps + (kAlign - misalign) % kAlign;
        // Row by row, so that the stores run through memory once; rows from `past` on draw
        // on the block alone.
        const size_t split = std::min(rows, past);
        for (size_t i = 0; i < split; ++i) {
            for (size_t l = 0; l < lanes; ++l) {
                z[i * lanes + l] = static_cast<double>(z_at(l * step * segment + i));
            }
        }
        const size_t spacing = step * segment;
        for (size_t i = split; i < rows; ++i) {
            const float* from = input.data() + (i - past);
            double* to = z + i * lanes;
            for (size_t l = 0; l < lanes; ++l) {
                to[l] = static_cast<double>(from[l * spacing]);
            }
        }
        kernels.fir_sum_products(FirRows{z, segment, step}, h, taps, output.data());
    }
    // The outputs after the last whole segment, one at a time.
    for (size_t j = lanes * segment; j < outputs; ++j) {
        double sum = 0.0;
        for (size_t k = 0; k < taps; ++k) {
            sum += h[k] * static_cast<double>(z_at(step * j + k));
        }
        output[j] = static_cast<float>(sum);
    }
    fir_prime(filter, input);
}
