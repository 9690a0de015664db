#include "encoder/encoder_channel.h"

#include <cmath>
#include <memory>
#include <new>
#include <optional>
#include <utility>
#include <vector>

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
        std::vector<float> waveform =
            chip_waveform_build(sampling_rate, config->seed, channel->samples_per_chip);
        if (waveform.empty())
            return {};
        channel->chip_waveform = std::make_shared<const std::vector<float>>(std::move(waveform));
        return channel;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

EncoderChannelPtr encoder_create_sibling(const EncoderChannel& sibling) noexcept {
    try {
        EncoderChannelPtr channel(std::make_unique<EncoderChannel>().release());
        channel->sampling_rate = sibling.sampling_rate;
        channel->chip_rate = sibling.chip_rate;
        channel->gain = sibling.gain;
        channel->predictor_order = sibling.predictor_order;
        channel->predictor_measurement_noise = sibling.predictor_measurement_noise;
        channel->predictor_process_noise = sibling.predictor_process_noise;
        channel->check_mask = sibling.check_mask;
        channel->add_time_stamp = sibling.add_time_stamp;
        channel->predictor =
            predictor_create(channel->predictor_order, channel->predictor_measurement_noise,
                             channel->predictor_process_noise);
        if (!channel->predictor)
            return {};
        channel->samples_per_chip = sibling.samples_per_chip;
        channel->chip_waveform = sibling.chip_waveform;
        return channel;
    } catch (const std::bad_alloc&) {
        return {};
    }
}
