#include "encoder/modulator.h"

#include <new>
#include <optional>
#include <string>
#include <utility>

#include "common/packet.h"
#include "common/predictor.h"

namespace {

// +gain for the chip "1" under way, -gain for the chip "0".
float chip_amplitude(const EncoderChannel& channel) {
    const int32_t chip = channel.chip_string[static_cast<size_t>(channel.chip_index)] == '1' ? 1 : 0;
    return static_cast<float>(2 * chip - 1) * channel.gain;
}

// The chip string of the packet that starts now, after `samples_processed` samples.
std::optional<std::string> next_packet(const EncoderChannel& channel, std::string_view payload) {
    if (channel.add_time_stamp == 0) return packet_build(payload, -1.0f, 0.0f, channel.check_mask);
    const float time = static_cast<float>(static_cast<double>(channel.samples_processed) /
                                          static_cast<double>(channel.sampling_rate));
    return packet_build(payload, time, channel.chip_rate, channel.check_mask);
}

}  // namespace

int32_t lead_in_start_position(std::string_view payload, int32_t samples_per_chip) noexcept {
    uint32_t byte_sum = 0;
    for (const char c : payload) byte_sum += static_cast<uint8_t>(c);
    byte_sum &= 0xFF;
    return static_cast<int32_t>((static_cast<int64_t>(byte_sum) * samples_per_chip) >> 8);
}

int32_t encoder_process(EncoderChannel& channel, std::span<float> samples,
                        std::string_view payload) noexcept {
    try {
        if (channel.chip_string.empty()) {
            channel.chip_string.assign(static_cast<size_t>(kLeadInChips), '1');
            channel.chip_index = 0;
            channel.position_in_chip =
                lead_in_start_position(payload, channel.samples_per_chip);
        }
        const size_t n = samples.size();
        if (channel.envelope.size() < n) {
            channel.envelope.clear();
            channel.envelope.resize(n);
        }
        const std::span<float> envelope(channel.envelope.data(), n);
        // The envelope follows the audio as it is before any watermark is added.
        predictor_envelope(*channel.predictor, samples, envelope);

        const float* waveform = channel.chip_waveform.data();
        const int32_t samples_per_chip = channel.samples_per_chip;
        int32_t position = channel.position_in_chip;
        int32_t begun = 0;
        float amplitude = chip_amplitude(channel);
        for (size_t t = 0; t < n; ++t) {
            // envelope * waveform * amplitude + sample, in this order, in double precision.
            const double shaped = static_cast<double>(envelope[t]) *
                                  static_cast<double>(waveform[position]);
            const double mark = shaped * static_cast<double>(amplitude);
            samples[t] = static_cast<float>(mark + static_cast<double>(samples[t]));
            ++position;
            ++channel.samples_processed;
            if (position == samples_per_chip) {
                position = 0;
                ++channel.chip_index;
                if (static_cast<size_t>(channel.chip_index) == channel.chip_string.size()) {
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
        channel.position_in_chip = position;
        return begun;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}
