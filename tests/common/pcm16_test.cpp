#include "common/pcm16.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "tests/common/kernel_levels.h"
#include "tests/support/float_bits.h"

namespace {

// One sample at a time, written out from the rules: s / 32768, and the low 16 bits of
// floor(scale * x + 0.5) (NaN as 0, the 32-bit range's ends beyond it).
float plain_read(uint8_t lo, uint8_t hi) {
    return static_cast<float>(static_cast<int16_t>(static_cast<uint16_t>(lo | (hi << 8)))) /
           32768.0f;
}

uint16_t plain_write(float x, double scale) {
    const double v = std::floor(scale * static_cast<double>(x) + 0.5);
    int64_t i = 0;
    if (std::isnan(v)) {
        i = 0;
    } else if (v < -2147483648.0) {
        i = INT32_MIN;
    } else if (v > 2147483647.0) {
        i = INT32_MAX;
    } else {
        i = static_cast<int64_t>(v);
    }
    return static_cast<uint16_t>(static_cast<uint64_t>(i) & 0xFFFFu);
}

} // namespace

class Pcm16Level : public KernelLevel {};
VEKMRK_ON_EVERY_KERNEL_LEVEL(Pcm16Level);

// Every 16-bit value, as mono, stereo and three channels, in lengths that leave ends the
// vector code does not cover.
TEST_P(Pcm16Level, ReadsEverySampleValue) {
    std::vector<uint8_t> bytes;
    for (uint32_t v = 0; v < 65536; ++v) {
        bytes.push_back(static_cast<uint8_t>(v & 0xFF));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
    for (const size_t channels : {size_t{1}, size_t{2}, size_t{3}}) {
        for (const size_t frames : {size_t{65536} / channels, size_t{7}, size_t{1}}) {
            SCOPED_TRACE(testing::Message() << channels << " channel(s), " << frames << " frames");
            std::vector<std::vector<float>> planes(channels, std::vector<float>(frames + 5, -9.0f));
            std::vector<float*> pointers;
            for (auto& p : planes)
                pointers.push_back(p.data());
            pcm16_to_planar(bytes.data(), frames, pointers, 5, level());
            for (size_t c = 0; c < channels; ++c) {
                std::vector<float> want(5, -9.0f);
                for (size_t i = 0; i < frames; ++i) {
                    const size_t at = 2 * (channels * i + c);
                    want.push_back(plain_read(bytes[at], bytes[at + 1]));
                }
                EXPECT_EQ(fixture::float_bits(planes[c]), fixture::float_bits(want));
            }
        }
    }
}

// Random samples and the awkward ones: halves that round up (at scale 1 and 2: -2.5 gives -2,
// 2.5 gives 3), both zeros, full scale and beyond (whose low 16 bits are kept), values past the
// 32-bit range, infinities and NaN.
TEST_P(Pcm16Level, WritesWhatOneSampleAtATimeWrites) {
    std::mt19937 draw(5);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const float awkward[] = {0.0f,
                             -0.0f,
                             1.0f,
                             -1.0f,
                             0.5f / 32767.0f,
                             -0.5f / 32767.0f,
                             1.5f / 32767.0f,
                             -2.5f / 32767.0f,
                             1.25f,
                             -1.7f,
                             70000.0f,
                             -1e12f,
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::quiet_NaN(),
                             0.999969482421875f,
                             0.5f,
                             -0.5f,
                             2.5f,
                             -2.5f,
                             0.25f,
                             -1.25f};
    const double scales[] = {32767.0, static_cast<double>(static_cast<float>(0.8 * 32767.0)), 1e9,
                             1.0, 2.0};
    for (const size_t channels : {size_t{1}, size_t{2}, size_t{3}}) {
        for (const double scale : scales) {
            for (const size_t frames : {size_t{1000}, size_t{5}}) {
                SCOPED_TRACE(testing::Message() << channels << " channel(s), scale " << scale
                                                << ", " << frames << " frames");
                std::vector<std::vector<float>> planes(channels, std::vector<float>(frames + 3));
                size_t k = 0;
                for (auto& p : planes) {
                    for (float& v : p) {
                        v = (k++ % 3 == 1) ? awkward[(k / 3) % std::size(awkward)] : unit(draw);
                    }
                }
                std::vector<const float*> pointers;
                for (const auto& p : planes)
                    pointers.push_back(p.data());
                std::vector<uint8_t> got(2 * channels * frames, 0xEE);
                pcm16_from_planar(pointers, 3, frames, scale, got.data(), level());
                std::vector<uint8_t> want;
                for (size_t i = 0; i < frames; ++i) {
                    for (size_t c = 0; c < channels; ++c) {
                        const uint16_t v = plain_write(planes[c][3 + i], scale);
                        want.push_back(static_cast<uint8_t>(v & 0xFF));
                        want.push_back(static_cast<uint8_t>(v >> 8));
                    }
                }
                EXPECT_EQ(got, want);
            }
        }
    }
}
