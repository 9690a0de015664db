#include "encoder/encoder_channel.h"

#include <cmath>
#include <memory>
#include <new>
#include <optional>

#include "common/chip_waveform.h"
#include "encoder/config.h"

void encoder_destroy(EncoderChannel* channel) noexcept {
    std::unique_ptr<EncoderChannel> owned(channel);
}

int32_t encoder_samples_per_chip(int32_t sampling_rate, float chip_rate) noexcept {
    const double samples =
        std::floor(static_cast<double>(sampling_rate) / static_cast<double>(chip_rate) + 0.5);
    if (!(samples >= 1.0) || samples > static_cast<double>(kMaxSamplesPerChip))
        return 0;
    return static_cast<int32_t>(samples);
}

EncoderChannelPtr encoder_create(int32_t sampling_rate, std::string_view configuration,
                                 std::string_view owner_name) noexcept {
    try {
        const std::optional<EncoderConfig> config = encoder_config_parse(configuration, owner_name);
        if (!config)
            return {};
        EncoderChannelPtr channel(std::make_unique<EncoderChannel>().release());
        channel->sampling_rate = sampling_rate;
        channel->chip_rate = config->chip_rate;
        channel->gain = config->gain;
        channel->check_mask = config->check_mask;
        channel->add_time_stamp = config->add_time_stamp;

        channel->predictor =
            predictor_create(channel->predictor_order, channel->predictor_measurement_noise,
                             channel->predictor_process_noise);
        if (!channel->predictor)
            return {};
        channel->samples_per_chip = encoder_samples_per_chip(sampling_rate, channel->chip_rate);
        if (channel->samples_per_chip < 1)
            return {};
        channel->chip_waveform =
            chip_waveform_build(sampling_rate, config->seed, channel->samples_per_chip);
        if (channel->chip_waveform.empty())
            return {};
        return channel;
    } catch (const std::bad_alloc&) {
        return {};
    }
}
