#include "decoder/decoder_channel.h"

#include <algorithm>
#include <cmath>
#include <new>
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

constexpr Kernel kDecimationKernel =
    symmetric({0.0000f, -0.0035f, 0.0039f, 0.0072f, -0.0201f, 0.0000f, 0.0517f, -0.0506f, -0.0855f,
               0.2963f, 0.6009f});
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
static_assert(kDecimationKernel.size() == 21 && kBandKernel22050.size() == 21);

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
    ch.decimation = sampling_rate >= 44100 ? 2 : 1;
    ch.working_rate = sampling_rate / ch.decimation;

    const std::optional<DecoderConfig> config = decoder_config_parse(configuration);
    if (!config)
        return {};
    const std::optional<LayerKey> key = decoder_layer_key(*config, owner_name);
    if (!key)
        return {};
    ch.rawbr = config->rawbr;
    ch.check_mask = key->check_mask;

    // A chip rate must give a chip of at least one working sample, no longer than a frame can
    // show (1.5 chips must fit in one second), and long enough for the waveform design.
    if (!std::isfinite(ch.rawbr) || !(ch.rawbr > 0.0f))
        return {};
    const double rw = static_cast<double>(ch.working_rate);
    const double chip = std::floor(rw / static_cast<double>(ch.rawbr) + 0.5);
    const double minimum_frame = std::floor(rw / static_cast<double>(ch.rawbr) * 1.5);
    if (!(chip >= 1.0) || !(minimum_frame <= rw))
        return {};
    ch.chip_length = static_cast<int32_t>(chip);
    ch.minimum_frame_length = static_cast<int32_t>(minimum_frame);
    if (chip_waveform_design_length(ch.working_rate, ch.chip_length) < kMinDesignLength)
        return {};

    for (ChipTrack& track : ch.tracks) {
        track.values.assign(kTrackCapacity, 0.0f);
        track.average.assign(kTrackCapacity, 0.0f);
    }

    if (ch.decimation == 2) {
        ch.decimation_filter = fir_create(21, 0, 2, kDecimationKernel);
        if (!ch.decimation_filter)
            return {};
    }
    ch.predictor = predictor_create(ch.predictor_order, ch.predictor_measurement_noise,
                                    ch.predictor_process_noise);
    if (!ch.predictor)
        return {};
    const std::vector<float> band = decoder_band_taps(ch.working_rate);
    if (band.empty())
        return {};
    ch.band_filter = fir_create(21, 0, 1, band);
    if (!ch.band_filter)
        return {};

    const int32_t g = ch.chip_length;
    const std::vector<float> waveform = chip_waveform_build(ch.working_rate, key->seed, g);
    if (waveform.size() != static_cast<size_t>(g))
        return {};
    const int32_t h = std::min(ch.max_head_length, g);
    ch.head_length = h;
    const std::span<const float> wave(waveform);
    ch.head_correlator = fir_create(h, 0, 1, wave.subspan(static_cast<size_t>(g - h)));
    if (!ch.head_correlator)
        return {};
    if (g > h) {
        ch.tail_correlator = fir_create(g - h, h, 1, wave.first(static_cast<size_t>(g - h)));
        if (!ch.tail_correlator)
            return {};
    }

    ch.comb = comb_create(rw / static_cast<double>(ch.rawbr), ch.comb_feedback);
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
    return {kDecimationKernel.begin(), kDecimationKernel.end()};
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
