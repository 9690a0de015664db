#include "encoder/config.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

TEST(EncoderConfig, EmptyStringGivesDefaults) {
    const std::optional<EncoderConfig> config = encoder_config_parse("", "abc");
    ASSERT_TRUE(config);
    EXPECT_EQ(config->chip_rate, 50.0f);
    EXPECT_EQ(config->gain, 1.0f);
    EXPECT_EQ(config->seed, 0);
    EXPECT_EQ(config->check_mask, 0);
    EXPECT_EQ(config->add_time_stamp, 0);
    EXPECT_FALSE(config->private_layer);
}

TEST(EncoderConfig, ReadsOptionValues) {
    struct Case {
        const char* text;
        float chip_rate;
        float gain;
        int32_t add_time_stamp;
    };
    const Case cases[] = {
        {" -gain -2", 50.0f, 2.0f, 0}, // the absolute value is kept
        {" -gain 0.7 -rawbr 45", 45.0f, 0.7f, 0},
        {" -addts 1", 50.0f, 1.0f, 1},
        {" -addts yes", 50.0f, 1.0f, 0}, // a word reads as 0
        {" -gain loud", 50.0f, 0.0f, 0},
        {" -gain 2.5dB", 50.0f, 2.5f, 0},              // the leading number counts
        {" -gain inf -addts 0x1", 50.0f, 0.0f, 0},     // only decimal text is a number
        {" stray words -gain 3 here", 50.0f, 3.0f, 0}, // other tokens are ignored
        {"(-gain,[0.5])", 50.0f, 0.5f, 0},             // delimiters: " [](),\t\n"
        {"-gain(4)\t-addts\n7", 50.0f, 4.0f, 7},
        {" -gain 2 -gain 3", 50.0f, 3.0f, 0},    // the last occurrence wins
        {" -rawbr 0 -rawbr 25", 25.0f, 1.0f, 0}, // only the last value must be usable
        {" -GAIN 5", 50.0f, 1.0f, 0},            // names are case-sensitive
        {" -gain -layer", 50.0f, 0.0f, 0},       // the next token is the value
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<EncoderConfig> config = encoder_config_parse(c.text, "");
        ASSERT_TRUE(config);
        EXPECT_EQ(config->chip_rate, c.chip_rate);
        EXPECT_EQ(config->gain, c.gain);
        EXPECT_EQ(config->add_time_stamp, c.add_time_stamp);
    }
}

TEST(EncoderConfig, RefusesBadOrMissingValues) {
    const char* cases[] = {
        " -layer",
        " -layer secret",
        " -layer Public",
        " -layer private -gain",
        " -rawbr",
        " -addts",
        " -rawbr 0",
        " -rawbr -50",
        " -rawbr fast",
        " -rawbr inf",
        " -rawbr 0x32",
        " -rawbr 1e-60",
        " -rawbr 1e300",
        " -gain 1e300",
        " -gain 2 -rawbr 50 -layer",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(encoder_config_parse(text, "abc"));
    }
}

TEST(EncoderConfig, LayerKeysSeedAndCheckMask) {
    // The owner name abc hashes to 683; the mask is (683 XOR 0x36D9) AND 0xFFFF.
    std::optional<EncoderConfig> config = encoder_config_parse(" -layer private", "abc");
    ASSERT_TRUE(config);
    EXPECT_TRUE(config->private_layer);
    EXPECT_EQ(config->seed, 683);
    EXPECT_EQ(config->check_mask, 0x3472);

    // An empty owner name hashes to 0 but still masks the check value.
    config = encoder_config_parse("[-layer,private]", "");
    ASSERT_TRUE(config);
    EXPECT_EQ(config->seed, 0);
    EXPECT_EQ(config->check_mask, 0x36D9);

    config = encoder_config_parse(" -layer private -layer public", "abc");
    ASSERT_TRUE(config);
    EXPECT_FALSE(config->private_layer);
    EXPECT_EQ(config->seed, 0);
    EXPECT_EQ(config->check_mask, 0);

    config = encoder_config_parse(" -layer public -layer private", "abc");
    ASSERT_TRUE(config);
    EXPECT_TRUE(config->private_layer);
    EXPECT_EQ(config->seed, 683);
}
