#include "common/chip_waveform.h"

#include <cmath>
#include <new>

#include "common/fir_filter.h"
#include "common/uniform.h"

namespace {

constexpr int32_t kDesignRate = 44100;
constexpr int32_t kBandTaps = 21;

// Band edge of the kernel that shapes the noise at this rate; 0 for a rate with no waveform.
int32_t band_edge_for_rate(int32_t rate) {
    switch (rate) {
    case 11025:
        return 5000;
    case 16000:
        return 7000;
    case 22050:
    case 24000:
    case 32000:
    case 44100:
    case 48000:
        return 11000;
    default:
        return 0;
    }
}

} // namespace

int32_t owner_name_hash(std::string_view text) noexcept {
    uint32_t h = 0;
    for (const char c : text) {
        // Each byte counts as a signed value; unsigned arithmetic gives the same 32-bit result
        // without signed overflow.
        const auto byte = static_cast<int32_t>(static_cast<int8_t>(c));
        h = (static_cast<uint32_t>(byte) + 2u * h) & 0x7FFFFFFFu;
    }
    return static_cast<int32_t>(h);
}

int32_t chip_waveform_design_length(int32_t sampling_rate, int32_t samples_per_chip) noexcept {
    if (sampling_rate <= 0 || samples_per_chip < 1) {
        return 0;
    }
    const double n = std::floor(static_cast<double>(samples_per_chip) * kDesignRate /
                                    static_cast<double>(sampling_rate) +
                                0.5);
    return n > static_cast<double>(INT32_MAX) ? 0 : static_cast<int32_t>(n);
}

std::vector<float> chip_waveform_build(int32_t sampling_rate, int32_t seed,
                                       int32_t samples_per_chip) noexcept {
    const int32_t band_edge = band_edge_for_rate(sampling_rate);
    const int32_t n = chip_waveform_design_length(sampling_rate, samples_per_chip);
    // The circular priming below needs the last 20 values of the design.
    if (band_edge == 0 || n < kBandTaps - 1) {
        return {};
    }
    try {
        FirFilterPtr filter = band_filter_create(band_edge);
        if (!filter) {
            return {};
        }
        const auto length = static_cast<size_t>(n);
        std::vector<float> u(length);
        int32_t state = -seed;
        for (float& value : u) {
            value = static_cast<float>(uniform_next(state));
        }

        // Circular convolution: the noise is one period of a periodic signal, so the filter is
        // primed with its end and the waveform joins smoothly onto itself.
        std::vector<float> v(length);
        fir_prime(*filter, u);
        fir_run(*filter, u, v);
        if (sampling_rate == kDesignRate) {
            return v;
        }

        // Linear resampling with the position accumulated in single precision.
        const auto step = static_cast<float>(static_cast<double>(kDesignRate) / sampling_rate);
        std::vector<float> w(static_cast<size_t>(samples_per_chip));
        float pos = 0.0f;
        for (float& out : w) {
            const float whole = std::floor(pos);
            const float frac = pos - whole;
            const auto g = static_cast<size_t>(whole);
            const size_t i0 = g % length;
            const size_t i1 = (g + 1) % length;
            const double mixed = (1.0 - static_cast<double>(frac)) * static_cast<double>(v[i0]) +
                                 static_cast<double>(frac) * static_cast<double>(v[i1]);
            out = static_cast<float>(mixed);
            pos = static_cast<float>(static_cast<double>(pos) + static_cast<double>(step));
        }
        return w;
    } catch (const std::bad_alloc&) {
        return {};
    }
}
