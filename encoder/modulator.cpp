#include "encoder/modulator.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "common/packet.h"
#include "common/predictor.h"

namespace {

// +gain for the chip "1" under way, -gain for the chip "0".
float chip_amplitude(const EncoderChannel& channel) {
    const int32_t chip =
        channel.chip_string[static_cast<size_t>(channel.chip_index)] == '1' ? 1 : 0;
    return static_cast<float>(2 * chip - 1) * channel.gain;
}

// The chip string of the packet that starts now, after `samples_processed` samples.
std::optional<std::string> next_packet(const EncoderChannel& channel, std::string_view payload) {
    if (channel.add_time_stamp == 0)
        return packet_build(payload, -1.0f, 0.0f, channel.check_mask);
    const float time = static_cast<float>(static_cast<double>(channel.samples_processed) /
                                          static_cast<double>(channel.sampling_rate));
    return packet_build(payload, time, channel.chip_rate, channel.check_mask);
}

} // namespace

int32_t lead_in_start_position(std::string_view payload, int32_t samples_per_chip) noexcept {
    uint32_t byte_sum = 0;
    for (const char c : payload)
        byte_sum += static_cast<uint8_t>(c);
    byte_sum &= 0xFF;
    return static_cast<int32_t>((static_cast<int64_t>(byte_sum) * samples_per_chip) >> 8);
}

namespace {

// The first call sets up the lead-in; every call makes room for the block's envelope (when
// `n` is given). False when memory is short.
bool prepare(EncoderChannel& channel, size_t n, std::string_view payload) {
    try {
        if (channel.chip_string.empty()) {
            channel.chip_string.assign(static_cast<size_t>(kLeadInChips), '1');
            channel.chip_index = 0;
            channel.position_in_chip = lead_in_start_position(payload, channel.samples_per_chip);
        }
        if (channel.envelope.size() < n) {
            channel.envelope.clear();
            channel.envelope.resize(n);
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// Adds the chips to the block, shaped by the envelope computed for it; returns the packets
// begun, -1 when memory is short.
int32_t modulate(EncoderChannel& channel, std::span<float> samples, const float* envelope,
                 std::string_view payload) {
    try {
        const size_t n = samples.size();
        const float* waveform = channel.chip_waveform->data();
        const int32_t samples_per_chip = channel.samples_per_chip;
        int32_t position = channel.position_in_chip;
        int64_t processed = channel.samples_processed;
        int32_t begun = 0;
        float amplitude = chip_amplitude(channel);
        size_t t = 0;
        while (t < n) {
            // The rest of the chip under way, or of the block: one amplitude throughout, so
            // the compiler runs these samples side by side.
            const size_t run = std::min(n - t, static_cast<size_t>(samples_per_chip - position));
            const double a = static_cast<double>(amplitude);
            const float* wave = waveform + position;
            float* out = samples.data() + t;
            const float* level = envelope + t;
            for (size_t j = 0; j < run; ++j) {
                // envelope * waveform * amplitude + sample, in this order, in double precision.
                const double shaped = static_cast<double>(level[j]) * static_cast<double>(wave[j]);
                const double mark = shaped * a;
                out[j] = static_cast<float>(mark + static_cast<double>(out[j]));
            }
            t += run;
            position += static_cast<int32_t>(run);
            processed += static_cast<int64_t>(run);
            if (position == samples_per_chip) {
                position = 0;
                ++channel.chip_index;
                if (static_cast<size_t>(channel.chip_index) == channel.chip_string.size()) {
                    channel.samples_processed = processed; // the new packet's time
                    std::optional<std::string> packet = next_packet(channel, payload);
                    if (!packet || packet->empty()) {
                        channel.position_in_chip = position;
                        return -1;
                    }
                    channel.chip_string = std::move(*packet);
                    channel.chip_index = 0;
                    ++begun;
                }
                amplitude = chip_amplitude(channel);
            }
        }
        channel.samples_processed = processed;
        channel.position_in_chip = position;
        return begun;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

} // namespace

int32_t encoder_process(EncoderChannel& channel, std::span<float> samples,
                        std::string_view payload) noexcept {
    if (!prepare(channel, samples.size(), payload))
        return -1;
    // The envelope follows the audio as it is before any watermark is added.
    predictor_envelope(*channel.predictor, samples,
                       std::span<float>(channel.envelope.data(), samples.size()));
    return modulate(channel, samples, channel.envelope.data(), payload);
}

namespace {

// The envelopes of one block of every channel, the predictors of two channels side by side:
// input(c) is channel c's block, output(c) where its envelope goes.
template <typename Input, typename Output>
void envelopes(std::span<EncoderChannel* const> channels, size_t n, Input input, Output output) {
    // The envelopes follow the audio as it is before any watermark is added.
    for (size_t c = 0; c < channels.size(); c += 2) {
        const std::span<const float> first(input(c), n);
        const std::span<float> first_envelope(output(c), n);
        if (c + 1 < channels.size()) {
            predictor_envelope_pair(*channels[c]->predictor, *channels[c + 1]->predictor, first,
                                    std::span<const float>(input(c + 1), n), first_envelope,
                                    std::span<float>(output(c + 1), n));
        } else {
            predictor_envelope(*channels[c]->predictor, first, first_envelope);
        }
    }
}

} // namespace

int32_t encoder_process_channels(std::span<EncoderChannel* const> channels,
                                 std::span<float* const> blocks, size_t n, std::string_view payload,
                                 std::span<int32_t> begun) noexcept {
    for (size_t c = 0; c < channels.size(); ++c) {
        if (!prepare(*channels[c], n, payload)) {
            begun[c] = -1;
            return static_cast<int32_t>(c);
        }
    }
    envelopes(
        channels, n, [&](size_t c) { return blocks[c]; },
        [&](size_t c) { return channels[c]->envelope.data(); });
    for (size_t c = 0; c < channels.size(); ++c) {
        begun[c] = modulate(*channels[c], std::span<float>(blocks[c], n),
                            channels[c]->envelope.data(), payload);
        if (begun[c] < 0)
            return static_cast<int32_t>(c);
    }
    return -1;
}

void encoder_envelope_channels(std::span<EncoderChannel* const> channels,
                               std::span<const float* const> blocks, size_t n,
                               std::span<float* const> envelopes_out, bool last_of_call) noexcept {
    for (EncoderChannel* channel : channels)
        channel->predictor->carry = !last_of_call;
    envelopes(
        channels, n, [&](size_t c) { return blocks[c]; },
        [&](size_t c) { return envelopes_out[c]; });
}

int32_t encoder_modulate(EncoderChannel& channel, std::span<float> samples,
                         std::span<const float> envelope, std::string_view payload) noexcept {
    if (!prepare(channel, 0, payload))
        return -1;
    return modulate(channel, samples, envelope.data(), payload);
}
