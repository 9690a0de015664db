#include "decoder/decoder_channel.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <span>

#include "common/chip_waveform.h"
#include "decoder/config.h"

namespace {

// The chip waveform (M samples) as the reference of a chip that ends on a sample: its last
// G = floor(P) samples, where P is the chip period (G = M but at 11025 and 16000 Hz, whose
// fractional period is one sample short of the rounded chip). Both phases are the same.
std::array<std::vector<float>, 2> chip_references(const std::vector<float>& waveform, int32_t g) {
    const auto m = static_cast<int32_t>(waveform.size());
    const int32_t rho = m - g;
    std::array<std::vector<float>, 2> references;
    for (std::vector<float>& r : references) {
        r.resize(static_cast<size_t>(g));
        for (int32_t k = 0; k < g; ++k)
            r[static_cast<size_t>(k)] = waveform[static_cast<size_t>((rho + k) % m)];
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

    if (!whitener_init(ch.whitener, ch.whitening_order))
        return {};

    const int32_t g = ch.chip_length;
    const std::vector<float> waveform =
        chip_waveform_build(sampling_rate, key->seed, ch.chip_samples);
    if (waveform.size() != static_cast<size_t>(ch.chip_samples))
        return {};
    ch.references = chip_references(waveform, g);
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
