#include "common/chip_waveform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

TEST(OwnerNameHash, KnownValues) {
    EXPECT_EQ(owner_name_hash("abc"), 683);
    EXPECT_EQ(owner_name_hash(""), 0);
    // Bytes from 0x80 up count as negative: 0xC3 = -61, 0xA9 = -87.
    EXPECT_EQ(owner_name_hash("\xC3\xA9"), 2147483439);
    // Long texts stay within 31 bits.
    EXPECT_GE(owner_name_hash(std::string(1000, '\xFF')), 0);
}

TEST(ChipWaveform, FirstValuesOfThePublicLayer) {
    // Public layer, six significant digits.
    const struct {
        int32_t rate;
        int32_t samples_per_chip;
        double first[4];
    } cases[] = {{44100, 882, {0.160143, 0.100868, 0.0102278, 0.172196}},
                 {48000, 960, {0.160143, 0.105684, 0.0249568, 0.132716}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        const std::vector<float> w = chip_waveform_build(c.rate, 0, c.samples_per_chip);
        ASSERT_EQ(w.size(), static_cast<size_t>(c.samples_per_chip));
        EXPECT_EQ(chip_waveform_design_length(c.rate, c.samples_per_chip), 882);
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(w[static_cast<size_t>(i)], c.first[i], 5e-6 * c.first[i]) << i;
        }
    }
}

TEST(ChipWaveform, SeedSelectsTheWaveform) {
    const std::vector<float> zero = chip_waveform_build(44100, 0, 882);
    EXPECT_EQ(chip_waveform_build(44100, 1, 882), zero);
    EXPECT_NE(chip_waveform_build(44100, 2, 882), zero);
    EXPECT_NE(chip_waveform_build(44100, 683, 882), zero);
    // The same inputs give the same waveform again (the generator restarts).
    EXPECT_EQ(chip_waveform_build(44100, 683, 882), chip_waveform_build(44100, 683, 882));
}

TEST(ChipWaveform, ResamplesTheDesign) {
    const std::vector<float> v = chip_waveform_build(44100, 0, 882);
    // 22050 Hz: step 2.0, so every sample is an even-indexed design value.
    const std::vector<float> half = chip_waveform_build(22050, 0, 441);
    ASSERT_EQ(half.size(), 441u);
    for (size_t i = 0; i < half.size(); ++i) {
        ASSERT_EQ(half[i], v[2 * i]) << i;
    }
    // 48000 Hz: the last sample lies between v[881] and v[0] (the design wraps around).
    const std::vector<float> w = chip_waveform_build(48000, 0, 960);
    ASSERT_EQ(w.size(), 960u);
    EXPECT_NE(v[881], v[0]);
    EXPECT_GT(w[959], std::min(v[881], v[0]));
    EXPECT_LT(w[959], std::max(v[881], v[0]));
}

TEST(ChipWaveform, EveryRateAndItsLimits) {
    for (int32_t rate : {11025, 16000, 22050, 24000, 32000, 44100, 48000}) {
        SCOPED_TRACE(rate);
        const int32_t m = rate / 50;
        const std::vector<float> w = chip_waveform_build(rate, 0, m);
        ASSERT_EQ(w.size(), static_cast<size_t>(m));
        // Band-limited noise on an offset of half the kernel's gain at 0 Hz.
        const double mean = std::accumulate(w.begin(), w.end(), 0.0) / m;
        EXPECT_GT(mean, 0.03);
        EXPECT_LT(mean, 0.25);
        EXPECT_GT(*std::min_element(w.begin(), w.end()), -0.7f);
        EXPECT_LT(*std::max_element(w.begin(), w.end()), 0.9f);
    }
    EXPECT_TRUE(chip_waveform_build(8000, 0, 160).empty());
    EXPECT_TRUE(chip_waveform_build(44100, 0, 0).empty());
    EXPECT_TRUE(chip_waveform_build(44100, 0, -5).empty());
    // The circular priming needs a design length of at least 20.
    EXPECT_TRUE(chip_waveform_build(44100, 0, 19).empty());
    EXPECT_EQ(chip_waveform_build(44100, 0, 20).size(), 20u);
    EXPECT_EQ(chip_waveform_design_length(48000, 21), 19);
    EXPECT_TRUE(chip_waveform_build(48000, 0, 21).empty());
    EXPECT_EQ(chip_waveform_build(48000, 0, 22).size(), 22u);
    // A design length beyond 32 bits is refused, not wrapped.
    EXPECT_EQ(chip_waveform_design_length(11025, INT32_MAX), 0);
}
