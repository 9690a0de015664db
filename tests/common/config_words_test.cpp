// The configuration words and numbers both programs read, and the layer key.
#include "common/config_words.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

TEST(ConfigWords, SplitAtRunsOfSeparators) {
    EXPECT_EQ(config_words("(-layer,[private])\t-rawbr\n45"),
              (std::vector<std::string_view>{"-layer", "private", "-rawbr", "45"}));
    EXPECT_TRUE(config_words(" ([,])\t\n").empty());
}

TEST(ConfigWords, NumbersAreTheLeadingDecimalText) {
    const struct {
        const char* word;
        double value;
    } reals[] = {
        {"45", 45.0},  {"45.5xyz", 45.5}, {"+30", 30.0}, {"-2", -2.0},  {".5", 0.5},
        {"4e1", 40.0}, {"4e", 4.0},       {"abc", 0.0},  {"inf", 0.0},  {"nan", 0.0},
        {"0x32", 0.0}, {"", 0.0},         {".", 0.0},    {"-.e5", 0.0}, {"2.5E-1dB", 0.25},
    };
    for (const auto& c : reals) {
        SCOPED_TRACE(c.word);
        EXPECT_EQ(config_read_real(c.word), c.value);
    }
    EXPECT_TRUE(std::isinf(config_read_real("1e999")));

    const struct {
        const char* word;
        int32_t value;
    } integers[] = {
        {"1", 1},
        {"-7x", -7},
        {"+12", 12},
        {"yes", 0},
        {"0x1", 0},
        {"", 0},
        {"99999999999", 2147483647},
        {"-99999999999", -2147483647 - 1},
    };
    for (const auto& c : integers) {
        SCOPED_TRACE(c.word);
        EXPECT_EQ(config_read_integer(c.word), c.value);
    }
}

TEST(ConfigWords, LayerKey) {
    // The owner name abc hashes to 683; the mask is (683 XOR 0x36D9) AND 0xFFFF.
    EXPECT_EQ(layer_key("abc").seed, 683);
    EXPECT_EQ(layer_key("abc").check_mask, 0x3472);
    // An empty text hashes to 0 but still masks the check value.
    EXPECT_EQ(layer_key("").seed, 0);
    EXPECT_EQ(layer_key("").check_mask, 0x36D9);
}
