// Configuration grammar, layer keying and the derived values of a new channel.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "common/chip_waveform.h"
#include "common/fir_filter.h"
#include "decoder/config.h"
#include "decoder/decoder_channel.h"

namespace {

TEST(DecoderConfig, EmptyTextIsPublicLayerAtFiftyChipsPerSecond) {
    const auto config = decoder_config_parse("");
    ASSERT_TRUE(config);
    EXPECT_EQ(config->layer, DecoderLayer::Public);
    EXPECT_EQ(config->rawbr, 50.0f);
    const auto key = decoder_layer_key(*config, "");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->seed, 0);
    EXPECT_EQ(key->check_mask, 0);
}

TEST(DecoderConfig, LastOccurrenceWins) {
    EXPECT_EQ(decoder_config_parse("(-layer,[private]) -layer public")->layer,
              DecoderLayer::Public);
    EXPECT_EQ(decoder_config_parse(" -layer public -layer private")->layer, DecoderLayer::Private);
    EXPECT_EQ(decoder_config_parse(" -rawbr 45 stray -rawbr 40")->rawbr, 40.0f);
    EXPECT_EQ(decoder_config_parse(" -Layer private")->layer,
              DecoderLayer::Public); // case-sensitive
}

TEST(DecoderConfig, OptionWithoutValueFailsAndValueIsNeverAnOptionName) {
    EXPECT_FALSE(decoder_config_parse(" -layer"));
    EXPECT_FALSE(decoder_config_parse(" -rawbr 45 -rawbr"));
    const auto config = decoder_config_parse(" -layer -rawbr");
    ASSERT_TRUE(config);
    EXPECT_EQ(config->layer, DecoderLayer::Code);
    EXPECT_EQ(config->layer_code, "-rawbr");
    EXPECT_EQ(config->rawbr, 50.0f);
}

TEST(DecoderConfig, LayerCodeKeysExactlyAsThatOwnersPrivateLayer) {
    const auto as_code = decoder_layer_key(*decoder_config_parse(" -layer abc"), "someone");
    const auto as_private = decoder_layer_key(*decoder_config_parse(" -layer private"), "abc");
    ASSERT_TRUE(as_code && as_private);
    EXPECT_EQ(as_code->seed, 683); // the hash of "abc"
    EXPECT_EQ(as_code->check_mask, (683 ^ 0x36D9) & 0xFFFF);
    EXPECT_EQ(as_private->seed, as_code->seed);
    EXPECT_EQ(as_private->check_mask, as_code->check_mask);
}

TEST(DecoderConfig, PrivateLayerNeedsAUsableOwnerName) {
    const auto config = decoder_config_parse(" -layer private");
    EXPECT_FALSE(decoder_layer_key(*config, ""));
    EXPECT_FALSE(decoder_layer_key(*config, "two words"));
    EXPECT_FALSE(decoder_create(44100, " -layer private", ""));
    EXPECT_TRUE(decoder_create(44100, " -layer private", "VekTestOwner"));
    // The owner name does not matter on the public layer or with a layer code.
    EXPECT_TRUE(decoder_create(44100, " -layer public", ""));
    EXPECT_TRUE(decoder_create(44100, " -layer VekTestOwner", ""));
}

TEST(DecoderChannel, DerivedValuesPerFileRate) {
    const struct {
        int32_t rate, d, rw, g, h, min_frame, comb_n;
    } cases[] = {
        {11025, 1, 11025, 220, 128, 330, 221},  {16000, 1, 16000, 320, 128, 480, 321},
        {22050, 1, 22050, 441, 128, 661, 442},  {24000, 1, 24000, 480, 128, 720, 481},
        {32000, 1, 32000, 640, 128, 960, 641},  {44100, 1, 44100, 882, 128, 1323, 883},
        {48000, 1, 48000, 960, 128, 1440, 961},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        const auto ch = decoder_create(c.rate, "", "");
        ASSERT_TRUE(ch);
        EXPECT_EQ(ch->decimation, c.d);
        EXPECT_EQ(ch->working_rate, c.rw);
        EXPECT_EQ(ch->chip_length, c.g);
        EXPECT_EQ(ch->head_length, c.h);
        EXPECT_EQ(ch->minimum_frame_length, c.min_frame);
        EXPECT_EQ(ch->comb.length, c.comb_n);
        EXPECT_EQ(ch->replacement_slot, 0);
        for (const ChipTrack& t : ch->tracks)
            EXPECT_EQ(t.count, 0);
    }
    EXPECT_FALSE(decoder_create(8000, "", ""));
    EXPECT_FALSE(decoder_create(96000, "", "")); // no chip waveform at 96000 Hz
}

TEST(DecoderChannel, CombAt11025HasHalfSampleDelay) {
    const auto ch = decoder_create(11025, "", "");
    ASSERT_TRUE(ch);
    // No mark is written at 11025 Hz; one resampled from 22050 Hz has chips of 220.5 samples.
    // Period 220.5 samples: N = 221 and both taps 0.5 * 0.995.
    EXPECT_FLOAT_EQ(ch->comb.taps[0], 0.4975f);
    EXPECT_FLOAT_EQ(ch->comb.taps[1], 0.4975f);
}

TEST(DecoderChannel, AtAnUnhalvedRateTheReferenceIsTheEncodersChip) {
    const auto ch = decoder_create(22050, " -layer abc", "");
    ASSERT_TRUE(ch);
    const std::vector<float> w = chip_waveform_build(22050, 683, 441);
    ASSERT_EQ(w.size(), 441u);
    EXPECT_EQ(ch->references[0], w);
    EXPECT_EQ(ch->head_correlator->coefficients, std::vector<float>(w.end() - 128, w.end()));
}

TEST(DecoderChannel, ChipPeriodIsTheEncodersRoundedChipLength) {
    // 44100 / 40 = 1102.5 rounds to 1103 file samples.
    const auto ch = decoder_create(44100, " -rawbr 40", "");
    ASSERT_TRUE(ch);
    EXPECT_EQ(ch->chip_samples, 1103);
    EXPECT_DOUBLE_EQ(ch->chip_period, 1103.0);
    EXPECT_EQ(ch->chip_length, 1103);
    EXPECT_EQ(ch->comb.length, 1104);
}

TEST(DecoderChannel, UnusableChipRatesAreRefused) {
    const char* refused[] = {
        " -rawbr 0",     " -rawbr -50", " -rawbr abc", " -rawbr 1e999", " -rawbr 0x32",
        " -rawbr 50000", // chip below one working sample
        " -rawbr 2400",  // design length below 20
        " -rawbr 1",     // 1.5 chips no longer fit in a one-second frame
    };
    for (const char* text : refused) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(decoder_create(44100, text, ""));
    }
    const auto short_chips = decoder_create(22050, " -rawbr 200", "");
    ASSERT_TRUE(short_chips); // G = 110: the head correlator holds the whole chip
    EXPECT_EQ(short_chips->head_length, 110);
    EXPECT_TRUE(decoder_create(22050, " -rawbr 45", ""));
    EXPECT_TRUE(decoder_create(22050, " -rawbr 1.5", ""));
}

} // namespace
