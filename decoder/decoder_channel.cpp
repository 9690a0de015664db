#include "decoder/decoder_channel.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>
#include <span>

#include "common/chip_waveform.h"
#include "decoder/config.h"

namespace {

using HalfKernel = std::array<float, 11>; // taps 0 ... 10; tap 20 - i equals tap i
using Kernel = std::array<float, 21>;

constexpr Kernel symmetric(const HalfKernel& half) {
    Kernel taps{};
    for (size_t i = 0; i < half.size(); ++i) {
        taps[i] = half[i];
        taps[20 - i] = half[i];
    }
    return taps;
}

constexpr Kernel kBandKernel11025 =
    symmetric({0.0018f, 0.0045f, -0.0068f, -0.0013f, -0.0318f, 0.0530f, 0.0037f, 0.0895f, -0.1899f,
               -0.1927f, 0.5432f});
constexpr Kernel kBandKernel16000 =
    symmetric({-0.0007f, -0.0039f, 0.0000f, 0.0133f, 0.0062f, 0.0560f, -0.0542f, 0.0186f, -0.2474f,
               -0.1008f, 0.6240f});
constexpr Kernel kBandKernel22050 =
    symmetric({0.0012f, 0.0035f, 0.0062f, 0.0098f, 0.0049f, -0.0087f, -0.0427f, -0.0833f, -0.1339f,
               -0.1656f, 0.8161f});
constexpr Kernel kBandKernel24000 =
    symmetric({0.0009f, 0.0062f, 0.0000f, 0.0180f, -0.0212f, 0.0161f, -0.0943f, -0.0252f, -0.1988f,
               -0.0752f, 0.7519f});
constexpr Kernel kBandKernel32000 =
    symmetric({0.0028f, 0.0034f, -0.0067f, 0.0021f, -0.0068f, -0.0653f, -0.0158f, -0.0625f,
               -0.2360f, 0.1392f, 0.5606f});
static_assert(kBandKernel22050.size() == 21);

// The anti-aliasing filter of the 2:1 decimation: a half-band low-pass (every second tap but
// the centre is zero) from a Kaiser-windowed sinc. 63 taps with beta 7.3 keep what folds into
// the working band from above a quarter of the input rate more than 70 dB down.
constexpr int32_t kDecimationTaps = 63;
constexpr double kDecimationBeta = 7.3;

// The modified Bessel function of order 0, by its power series.
double bessel_i0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int32_t k = 1; k < 50 && term > 1e-12 * sum; ++k) {
        const double f = x / (2.0 * k);
        term *= f * f;
        sum += term;
    }
    return sum;
}

std::vector<float> half_band_taps() {
    const int32_t centre = kDecimationTaps / 2;
    std::vector<double> h(static_cast<size_t>(kDecimationTaps));
    double sum = 0.0;
    for (int32_t k = 0; k < kDecimationTaps; ++k) {
        const int32_t offset = k - centre;
        double sinc = 0.5;
        if (offset != 0) {
            const double x = 0.5 * std::numbers::pi * offset;
            sinc = offset % 2 == 0 ? 0.0 : std::sin(x) / (std::numbers::pi * offset);
        }
        const double r = static_cast<double>(offset) / centre;
        const double window =
            bessel_i0(kDecimationBeta * std::sqrt(1.0 - r * r)) / bessel_i0(kDecimationBeta);
        h[static_cast<size_t>(k)] = sinc * window;
        sum += sinc * window;
    }
    std::vector<float> taps(h.size());
    for (size_t k = 0; k < h.size(); ++k)
        taps[k] = static_cast<float>(h[k] / sum);
    return taps;
}

// The chip waveform (M samples at the file's rate) as the working signal shows it: for D = 2
// filtered circularly by the decimation filter and taken at every second sample, once for each
// phase of the decimation against the chip's end. For D = 1 both phases are the waveform.
std::array<std::vector<float>, 2> chip_references(const std::vector<float>& waveform, int32_t d,
                                                  int32_t g) {
    const auto m = static_cast<int32_t>(waveform.size());
    std::vector<double> u(waveform.begin(), waveform.end());
    if (d == 2) {
        const std::vector<float> h = half_band_taps();
        const int32_t centre = kDecimationTaps / 2;
        for (int32_t n = 0; n < m; ++n) {
            double sum = 0.0;
            for (int32_t k = 0; k < kDecimationTaps; ++k) {
                const int32_t at = ((n + k - centre) % m + m) % m;
                sum += static_cast<double>(h[static_cast<size_t>(k)]) *
                       static_cast<double>(waveform[static_cast<size_t>(at)]);
            }
            u[static_cast<size_t>(n)] = sum;
        }
    }
    // A chip that ends on input sample f is seen, by the G working samples that end on the
    // first working sample at or after f, at the chip's samples n = phase + rho + D - 1 + D k,
    // where phase = that working sample's input position minus f and rho = M - D G.
    const int32_t rho = m - d * g;
    std::array<std::vector<float>, 2> references;
    for (int32_t phase = 0; phase < 2; ++phase) {
        std::vector<float>& r = references[static_cast<size_t>(phase)];
        r.resize(static_cast<size_t>(g));
        for (int32_t k = 0; k < g; ++k) {
            const int32_t n = (std::min(phase, d - 1) + rho + d - 1 + d * k) % m;
            r[static_cast<size_t>(k)] = static_cast<float>(u[static_cast<size_t>(n)]);
        }
    }
    return references;
}

// The smallest design length the waveform's circular band filter can be primed with.
constexpr int32_t kMinDesignLength = 20;

CombIntegrator comb_create(double period, float feedback) {
    CombIntegrator comb;
    const double whole = std::floor(period);
    const auto fraction = static_cast<float>(period - whole);
    comb.length = static_cast<int32_t>(whole) + 1;
    comb.taps[0] = fraction * feedback;
    comb.taps[1] = (1.0f - fraction) * feedback;
    comb.history.assign(static_cast<size_t>(comb.length), 0.0f);
    return comb;
}

DecoderChannelPtr create(int32_t sampling_rate, std::string_view configuration,
                         std::string_view owner_name) {
    DecoderChannelPtr channel(std::make_unique<DecoderChannel>().release());
    DecoderChannel& ch = *channel;
    if (sampling_rate <= 0)
        return {};
    ch.decimation = 1;
    ch.working_rate = sampling_rate / ch.decimation;

    const std::optional<DecoderConfig> config = decoder_config_parse(configuration);
    if (!config)
        return {};
    const std::optional<LayerKey> key = decoder_layer_key(*config, owner_name);
    if (!key)
        return {};
    ch.rawbr = config->rawbr;
    ch.check_mask = key->check_mask;

    // The encoder's chip lasts M = floor(R / rawbr + 0.5) file samples, so the chip period in
    // working samples is P = M / D, which need not be a whole number. A chip rate must give a
    // chip of at least one working sample, no longer than a frame can show (1.5 chips must fit
    // in one second), and long enough for the waveform design.
    if (!std::isfinite(ch.rawbr) || !(ch.rawbr > 0.0f))
        return {};
    const double rw = static_cast<double>(ch.working_rate);
    const double samples =
        std::floor(static_cast<double>(sampling_rate) / static_cast<double>(ch.rawbr) + 0.5);
    if (!(samples >= static_cast<double>(ch.decimation)) || !(samples <= sampling_rate))
        return {};
    ch.chip_samples = static_cast<int32_t>(samples);
    ch.chip_period = samples / ch.decimation;
    if (sampling_rate == 11025 || sampling_rate == 16000) {
        // No mark is written at these rates: it arrives resampled from one that is, where the
        // chip lasts R / rawbr samples (exactly, at the usual chip rates), so here too.
        ch.chip_period = static_cast<double>(sampling_rate) / static_cast<double>(ch.rawbr);
    }
    const double minimum_frame = std::floor(ch.chip_period * 1.5);
    if (!(minimum_frame <= rw))
        return {};
    ch.chip_length = static_cast<int32_t>(std::floor(ch.chip_period));
    ch.minimum_frame_length = static_cast<int32_t>(minimum_frame);
    if (chip_waveform_design_length(sampling_rate, ch.chip_samples) < kMinDesignLength)
        return {};

    for (ChipTrack& track : ch.tracks) {
        track.values.assign(kTrackCapacity, 0.0f);
        track.average.assign(kTrackCapacity, 0.0f);
    }

    if (ch.decimation == 2) {
        ch.decimation_filter = fir_create(kDecimationTaps, 0, 2, half_band_taps());
        if (!ch.decimation_filter)
            return {};
    }
    if (!whitener_init(ch.whitener, ch.whitening_order))
        return {};

    const int32_t g = ch.chip_length;
    const std::vector<float> waveform =
        chip_waveform_build(sampling_rate, key->seed, ch.chip_samples);
    if (waveform.size() != static_cast<size_t>(ch.chip_samples))
        return {};
    ch.references = chip_references(waveform, ch.decimation, g);
    const int32_t h = std::min(ch.max_head_length, g);
    ch.head_length = h;
    const std::span<const float> wave(ch.references[0]);
    ch.head_correlator = fir_create(h, 0, 1, wave.subspan(static_cast<size_t>(g - h)));
    if (!ch.head_correlator)
        return {};
    // Band-limited samples kept for chip values whose window reaches into earlier frames.
    ch.history_length = g + 2 * kTimingReach + 4;
    ch.work_s.assign(static_cast<size_t>(ch.history_length), 0.0f);

    ch.comb = comb_create(ch.chip_period, ch.comb_feedback);
    ch.peak_picker = PeakPicker{};
    ch.work_capacity = 0;
    return channel;
}

} // namespace

std::vector<float> decoder_band_taps(int32_t working_rate) {
    switch (working_rate) {
    case 11025:
        return {kBandKernel11025.begin(), kBandKernel11025.end()};
    case 16000:
        return {kBandKernel16000.begin(), kBandKernel16000.end()};
    case 22050:
        return {kBandKernel22050.begin(), kBandKernel22050.end()};
    case 24000:
        return {kBandKernel24000.begin(), kBandKernel24000.end()};
    case 32000:
        return {kBandKernel32000.begin(), kBandKernel32000.end()};
    default:
        return {};
    }
}

std::vector<float> decoder_decimation_taps() {
    return half_band_taps();
}

DecoderChannelPtr decoder_create(int32_t sampling_rate, std::string_view configuration,
                                 std::string_view owner_name) noexcept {
    try {
        return create(sampling_rate, configuration, owner_name);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

void decoder_destroy(DecoderChannel* channel) noexcept {
    std::default_delete<DecoderChannel>{}(channel);
}
