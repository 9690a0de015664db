#include "encoder/encoder_channel.h"

#include <gtest/gtest.h>

#include "common/chip_waveform.h"

TEST(EncoderChannel, SamplesPerChipAtEveryAcceptedRate) {
    // Default 50 chips per second: 441, 480, 640, 882 and 960 samples.
    const std::pair<int32_t, int32_t> cases[] = {
        {22050, 441}, {24000, 480}, {32000, 640}, {44100, 882}, {48000, 960}};
    for (const auto& [rate, samples] : cases) {
        SCOPED_TRACE(rate);
        const EncoderChannelPtr channel = encoder_create(rate, "", "");
        ASSERT_TRUE(channel);
        EXPECT_EQ(channel->samples_per_chip, samples);
        EXPECT_EQ(channel->chip_waveform->size(), static_cast<size_t>(samples));
        EXPECT_EQ(channel->position_in_chip, 0);
        EXPECT_EQ(channel->samples_processed, 0);
        EXPECT_TRUE(channel->chip_string.empty());
        EXPECT_TRUE(channel->predictor);
    }
    // floor(22050 / 45 + 0.5) = 490.
    const EncoderChannelPtr channel = encoder_create(22050, " -rawbr 45", "");
    ASSERT_TRUE(channel);
    EXPECT_EQ(channel->samples_per_chip, 490);
    EXPECT_EQ(channel->chip_rate, 45.0f);
}

TEST(EncoderChannel, RefusesChipRatesWithoutAUsableChip) {
    struct Case {
        int32_t rate;
        const char* configuration;
    };
    const Case cases[] = {
        {44100, " -rawbr 100000"},   // under one sample per chip
        {44100, " -rawbr 3000"},     // 15 samples: design length below 20
        {44100, " -rawbr 0.000001"}, // chips of many hours
        {8000, ""},                  // no chip waveform at this rate
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.configuration);
        EXPECT_FALSE(encoder_create(c.rate, c.configuration, ""));
    }
    // The shortest accepted chips: 20 samples at 44100 Hz; 18 samples at 22050 Hz, whose
    // design length at 44100 Hz is 36.
    const EncoderChannelPtr shortest = encoder_create(44100, " -rawbr 2205", "");
    ASSERT_TRUE(shortest);
    EXPECT_EQ(shortest->samples_per_chip, 20);
    const EncoderChannelPtr half_rate = encoder_create(22050, " -rawbr 1200", "");
    ASSERT_TRUE(half_rate);
    EXPECT_EQ(half_rate->samples_per_chip, 18);
}

TEST(EncoderChannel, LayerSelectsWaveformAndMask) {
    const EncoderChannelPtr open = encoder_create(44100, "", "abc");
    const EncoderChannelPtr keyed = encoder_create(44100, " -layer private -addts 1", "abc");
    ASSERT_TRUE(open);
    ASSERT_TRUE(keyed);
    EXPECT_EQ(*open->chip_waveform, chip_waveform_build(44100, 0, 882));
    EXPECT_EQ(*keyed->chip_waveform, chip_waveform_build(44100, 683, 882));
    // A sibling is configured alike, with the same waveform and a fresh state.
    const EncoderChannelPtr sibling = encoder_create_sibling(*keyed);
    ASSERT_TRUE(sibling);
    EXPECT_EQ(sibling->chip_waveform, keyed->chip_waveform);
    EXPECT_EQ(sibling->check_mask, 0x3472);
    EXPECT_EQ(sibling->add_time_stamp, 1);
    EXPECT_EQ(sibling->samples_per_chip, 882);
    EXPECT_TRUE(sibling->chip_string.empty());
    EXPECT_EQ(open->check_mask, 0);
    EXPECT_EQ(keyed->check_mask, 0x3472);
    EXPECT_EQ(keyed->add_time_stamp, 1);
    EXPECT_FALSE(encoder_create(44100, " -layer secret", "abc"));
}
