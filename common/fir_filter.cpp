#include "common/fir_filter.h"

#include <algorithm>
#include <array>
#include <new>

#include "common/simd_vectors.h"

namespace {

// 21-tap symmetric band-limiting kernels designed at 44100 Hz, named by their upper band edge.
constexpr std::array<float, 21> kBandKernel11000 = {
    -0.0006f, 0.0016f, -0.0052f, -0.0233f, -0.0203f, 0.0004f, -0.0498f,
    -0.1501f, -0.0769f, 0.2225f,  0.4060f,  0.2225f,  -0.0769f, -0.1501f,
    -0.0498f, 0.0004f, -0.0203f, -0.0233f, -0.0052f, 0.0016f,  -0.0006f};
constexpr std::array<float, 21> kBandKernel7000 = {
    -0.0023f, -0.0005f, 0.0017f, -0.0037f, -0.0303f, -0.0749f, -0.1004f,
    -0.0581f, 0.0602f,  0.1940f, 0.2530f,  0.1940f,  0.0602f,  -0.0581f,
    -0.1004f, -0.0749f, -0.0303f, -0.0037f, 0.0017f, -0.0005f, -0.0023f};
constexpr std::array<float, 21> kBandKernel5000 = {
    0.0018f,  -0.0023f, -0.0134f, -0.0353f, -0.0615f, -0.0738f, -0.0517f,
    0.0118f,  0.1003f,  0.1780f,  0.2089f,  0.1780f,  0.1003f,  0.0118f,
    -0.0517f, -0.0738f, -0.0615f, -0.0353f, -0.0134f, -0.0023f, 0.0018f};
static_assert(kBandKernel11000.size() == 21 && kBandKernel7000.size() == 21 &&
              kBandKernel5000.size() == 21);

// The number of input samples the history keeps: N + A - 1.
size_t kept_inputs(const FirFilter& filter)
{
    return static_cast<size_t>(filter.taps) + static_cast<size_t>(filter.extra_history) - 1;
}

}  // namespace

void fir_destroy(FirFilter* filter) noexcept
{
    std::unique_ptr<FirFilter> owned(filter);
}

FirFilterPtr fir_create(int32_t n, int32_t a, int32_t d, std::span<const float> coefficients) noexcept
{
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

FirFilterPtr band_filter_create(int32_t band_edge) noexcept
{
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

void fir_prime(FirFilter& filter, std::span<const float> input) noexcept
{
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
void run_direct(FirFilter& filter, std::span<const float> input, std::span<float> output)
{
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

// The samples of a block as fir_run lays them out: z is the last N - 1 inputs before the block
// followed by the block, as doubles, stored split by position modulo the step D (phase p holds
// z[p], z[p + D], ...), so that the samples that tap k meets in consecutive outputs lie side by
// side: output j meets z[D j + k] = phase (k mod D) at j + k / D.
struct Phases {
    const double* z;      // phase 0; phase p starts at z + p * length
    size_t length;        // values per phase
    size_t step;          // D
};

// out[j] = sum over k of h[k] * z[D j + k], from 0.0 with k ascending, stored as float, for
// j = 0 ... outputs-1: one output per vector lane, U vectors of outputs at a time so that the
// additions of different outputs overlap. Returns how many outputs it wrote (all but fewer than
// one vector's worth at the end).
template <typename V, int U>
[[gnu::always_inline]] inline size_t sum_products(Phases z, const double* h, size_t taps,
                                                  float* out, size_t outputs)
{
    constexpr size_t kLanes = simd::lanes<V>;
    size_t j = 0;
    for (; j + U * kLanes <= outputs; j += U * kLanes) {
        V acc[U] = {};
        size_t phase = 0;
        const double* tap_source = z.z + j;
        for (size_t k = 0; k < taps; ++k) {
            const double* from = tap_source + phase * z.length;
            const double hk = h[k];
            for (int u = 0; u < U; ++u) {
                acc[u] += simd::load<V>(from + u * kLanes) * hk;
            }
            if (++phase == z.step) {
                phase = 0;
                ++tap_source;
            }
        }
        for (int u = 0; u < U; ++u) {
            simd::store(out + j + u * kLanes, simd::to_float(acc[u]));
        }
    }
    for (; j + kLanes <= outputs; j += kLanes) {
        V acc = {};
        for (size_t k = 0; k < taps; ++k) {
            acc += simd::load<V>(z.z + (k % z.step) * z.length + k / z.step + j) * h[k];
        }
        simd::store(out + j, simd::to_float(acc));
    }
    return j;
}

size_t sum_products_portable(Phases z, const double* h, size_t taps, float* out, size_t outputs)
{
    return sum_products<simd::f64x2, 8>(z, h, taps, out, outputs);
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) size_t sum_products_avx2(Phases z, const double* h, size_t taps,
                                                         float* out, size_t outputs)
{
    return sum_products<simd::f64x4, 8>(z, h, taps, out, outputs);
}

__attribute__((target("avx512f,avx512vl"))) size_t sum_products_avx512(Phases z, const double* h,
                                                             size_t taps, float* out,
                                                             size_t outputs)
{
    return sum_products<simd::f64x8, 8>(z, h, taps, out, outputs);
}
#endif

size_t sum_products_at(SimdLevel level, Phases z, const double* h, size_t taps, float* out,
                       size_t outputs)
{
#if defined(__x86_64__) && defined(__GNUC__)
    switch (std::min(level, simd_detected())) {
    case SimdLevel::Avx512:
        return sum_products_avx512(z, h, taps, out, outputs);
    case SimdLevel::Avx2:
        return sum_products_avx2(z, h, taps, out, outputs);
    case SimdLevel::Portable:
        break;
    }
#else
    (void)level;
#endif
    return sum_products_portable(z, h, taps, out, outputs);
}

}  // namespace

void fir_run(FirFilter& filter, std::span<const float> input, std::span<float> output) noexcept
{
    fir_run_at(filter, input, output, simd_level());
}

void fir_run_at(FirFilter& filter, std::span<const float> input, std::span<float> output,
                SimdLevel level) noexcept
{
    const auto taps = static_cast<size_t>(filter.taps);
    const auto step = static_cast<size_t>(filter.step);
    const size_t count = input.size();
    const size_t outputs = std::min(output.size(), (count + step - 1) / step);
    const size_t past = taps - 1;
    const size_t z_length = past + count;
    const size_t phase_length = (z_length + step - 1) / step;
    // The work copy holds the coefficients as doubles, then the phases of z.
    try {
        if (filter.work.size() < taps + phase_length * step) {
            filter.work.resize(taps + phase_length * step);
        }
    } catch (const std::bad_alloc&) {
        run_direct(filter, input, output);
        fir_prime(filter, input);
        return;
    }
    double* const h = filter.work.data();
    double* const z = h + taps;
    for (size_t k = 0; k < taps; ++k) {
        h[k] = static_cast<double>(filter.coefficients[k]);
    }
    const float* const history = filter.history.data() + (kept_inputs(filter) - past);
    for (size_t i = 0; i < past; ++i) {
        z[(i % step) * phase_length + i / step] = static_cast<double>(history[i]);
    }
    for (size_t p = 0; p < step; ++p) {
        // The first input in phase p, and its place there.
        const size_t first = (p + step - past % step) % step;
        double* to = z + p * phase_length + (past + first) / step;
        for (size_t c = first; c < count; c += step) {
            *to++ = static_cast<double>(input[c]);
        }
    }

    const Phases phases{z, phase_length, step};
    size_t j = sum_products_at(level, phases, h, taps, output.data(), outputs);
    for (; j < outputs; ++j) {
        double sum = 0.0;
        for (size_t k = 0; k < taps; ++k) {
            sum += h[k] * z[(k % step) * phase_length + k / step + j];
        }
        output[j] = static_cast<float>(sum);
    }
    fir_prime(filter, input);
}
