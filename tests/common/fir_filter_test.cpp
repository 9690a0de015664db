#include "common/fir_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "tests/common/kernel_levels.h"
#include "tests/support/float_bits.h"

namespace {

std::vector<float> ramp_noise(size_t n) {
    std::vector<float> out(n);
    uint32_t state = 7;
    for (size_t i = 0; i < n; ++i) {
        state = state * 1103515245u + 12345u;
        out[i] = static_cast<float>(static_cast<double>(state >> 8) / 16777216.0 - 0.5);
    }
    return out;
}

// Straightforward convolution with zeros before the first sample, summed in the same order
// (oldest sample first) in double.
std::vector<float> reference(const std::vector<float>& h, const std::vector<float>& x,
                             size_t step) {
    std::vector<float> out;
    const auto taps = static_cast<std::ptrdiff_t>(h.size());
    for (size_t c = 0; c < x.size(); c += step) {
        double sum = 0.0;
        for (std::ptrdiff_t k = 0; k < taps; ++k) {
            const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(c) - (taps - 1) + k;
            const double sample = at < 0 ? 0.0 : static_cast<double>(x[static_cast<size_t>(at)]);
            sum += static_cast<double>(h[static_cast<size_t>(k)]) * sample;
        }
        out.push_back(static_cast<float>(sum));
    }
    return out;
}

// Floats of many magnitudes and both signs, so that the sums round often.
std::vector<float> wide_noise(size_t n, uint32_t seed) {
    std::mt19937 draw(seed);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-12, 6);
    std::vector<float> out(n);
    for (float& v : out) {
        v = std::ldexp(unit(draw), exponent(draw));
    }
    return out;
}

// Quarters from -3/4 to 3/4 times 2^-30, 1 or 2^30: products of such values and their sums
// lose small terms and cancel exactly, so that a sum taken in another order ends elsewhere.
std::vector<float> cancelling_noise(size_t n, uint32_t seed) {
    std::mt19937 draw(seed);
    std::uniform_int_distribution<int> quarters(-3, 3);
    std::uniform_int_distribution<int> scale(-1, 1);
    std::vector<float> out(n);
    for (float& v : out) {
        v = std::ldexp(static_cast<float>(quarters(draw)) / 4.0f, 30 * scale(draw));
    }
    return out;
}

} // namespace

TEST(FirFilter, BandKernels) {
    // Tap sums (gain at 0 Hz) of the three band-limiting kernels.
    const struct {
        int32_t edge;
        double sum;
    } cases[] = {{11000, 0.2026}, {7000, 0.2244}, {5000, 0.3167}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.edge);
        FirFilterPtr f = band_filter_create(c.edge);
        ASSERT_TRUE(f);
        ASSERT_EQ(f->taps, 21);
        EXPECT_EQ(f->step, 1);
        double sum = 0.0;
        for (int k = 0; k < 21; ++k) {
            sum += static_cast<double>(f->coefficients[static_cast<size_t>(k)]);
            EXPECT_EQ(f->coefficients[static_cast<size_t>(k)],
                      f->coefficients[static_cast<size_t>(20 - k)]);
        }
        EXPECT_NEAR(sum, c.sum, 1e-6);
    }
    EXPECT_FALSE(band_filter_create(8000));
    EXPECT_FALSE(band_filter_create(0));
}

TEST(FirFilter, RefusesBadSizes) {
    const float h[] = {1.0f, 2.0f, 3.0f};
    EXPECT_FALSE(fir_create(0, 0, 1, h));
    EXPECT_FALSE(fir_create(3, -1, 1, h));
    EXPECT_FALSE(fir_create(3, 0, 0, h));
    EXPECT_FALSE(fir_create(4, 0, 1, h)); // fewer coefficients than taps
    FirFilterPtr f = fir_create(3, 2, 1, h);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->history, std::vector<float>(5, 0.0f));
}

TEST(FirFilter, NewestSampleMeetsTheLastTap) {
    const float h[] = {1.0f, 2.0f, 3.0f};
    FirFilterPtr f = fir_create(3, 0, 1, h);
    const float impulse[] = {1.0f, 0.0f, 0.0f, 0.0f};
    float out[4] = {};
    fir_run(*f, impulse, out);
    EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{3.0f, 2.0f, 1.0f, 0.0f}));
}

TEST(FirFilter, MatchesPlainConvolutionInAnyBlockSize) {
    const std::vector<float> x = ramp_noise(1000);
    FirFilterPtr band = band_filter_create(11000);
    const std::vector<float> h = band->coefficients;
    for (size_t step : {size_t{1}, size_t{2}}) {
        const std::vector<float> expected = reference(h, x, step);
        // The output counter restarts in every call, so with step 2 blocks must be even.
        for (size_t block :
             {size_t{1}, size_t{2}, size_t{6}, size_t{20}, size_t{334}, size_t{1000}}) {
            if (block % step != 0) {
                continue;
            }
            SCOPED_TRACE(testing::Message() << "step " << step << " block " << block);
            FirFilterPtr f = fir_create(21, 0, static_cast<int32_t>(step), h);
            std::vector<float> got;
            for (size_t at = 0; at < x.size(); at += block) {
                const size_t n = std::min(block, x.size() - at);
                std::vector<float> out((n + step - 1) / step);
                fir_run(*f, std::span(x).subspan(at, n), out);
                got.insert(got.end(), out.begin(), out.end());
            }
            EXPECT_EQ(got, expected);
        }
    }
}

// The vectorised sums compute each output in its own lane in the plain order, so every level
// gives the bits of the plain convolution: for any tap count (fewer taps than a vector has
// lanes, the head correlation's 128, more than one block's history), step and block size,
// blocks shorter than the history and than one vector included; on values of many magnitudes,
// and on values whose sums cancel, where a sum taken in another order would end elsewhere.
class FirFilterLevel : public KernelLevel {};
VEKMRK_ON_EVERY_KERNEL_LEVEL(FirFilterLevel);

TEST_P(FirFilterLevel, GivesThePlainConvolutionsBits) {
    for (const bool cancelling : {false, true}) {
        const std::vector<float> x = cancelling ? cancelling_noise(3000, 11) : wide_noise(3000, 11);
        for (const size_t taps : {size_t{1}, size_t{3}, size_t{21}, size_t{128}, size_t{313}}) {
            const auto seed = static_cast<uint32_t>(taps);
            const std::vector<float> h =
                cancelling ? cancelling_noise(taps, seed) : wide_noise(taps, seed);
            for (const size_t step : {size_t{1}, size_t{2}, size_t{3}}) {
                const std::vector<uint32_t> expected = fixture::float_bits(reference(h, x, step));
                for (const size_t block : {step, 7 * step, 60 * step, 1000 * step}) {
                    SCOPED_TRACE(testing::Message()
                                 << (cancelling ? "cancelling, " : "") << taps << " taps, step "
                                 << step << ", block " << block);
                    FirFilterPtr f =
                        fir_create(static_cast<int32_t>(taps), 0, static_cast<int32_t>(step), h);
                    std::vector<float> got;
                    for (size_t at = 0; at < x.size(); at += block) {
                        const size_t n = std::min(block, x.size() - at);
                        std::vector<float> out((n + step - 1) / step);
                        fir_run_at(*f, std::span(x).subspan(at, n), out, level());
                        got.insert(got.end(), out.begin(), out.end());
                    }
                    EXPECT_EQ(fixture::float_bits(got), expected);
                }
            }
        }
    }
}

// With extra history the sums still end at the newest input, over the last N - 1 stored ones.
TEST_P(FirFilterLevel, ExtraHistoryDoesNotShiftTheSums) {
    const std::vector<float> x = wide_noise(500, 5);
    const std::vector<float> h = wide_noise(40, 6);
    const std::vector<uint32_t> expected = fixture::float_bits(reference(h, x, 1));
    FirFilterPtr f = fir_create(40, 100, 1, h);
    std::vector<float> got(x.size());
    fir_run_at(*f, std::span(x).first(250), std::span(got).first(250), level());
    fir_run_at(*f, std::span(x).subspan(250), std::span(got).subspan(250), level());
    EXPECT_EQ(fixture::float_bits(got), expected);
}

TEST(FirFilter, PrimeKeepsTheLatestInputs) {
    const float h[] = {0.5f, 0.5f, 0.5f};
    FirFilterPtr f = fir_create(3, 2, 1, h); // keeps 3 + 2 - 1 = 4 inputs
    const float many[] = {1, 2, 3, 4, 5, 6};
    fir_prime(*f, many);
    EXPECT_EQ(std::vector<float>(f->history.begin(), f->history.begin() + 4),
              (std::vector<float>{3, 4, 5, 6}));
    const float few[] = {7, 8};
    fir_prime(*f, few);
    EXPECT_EQ(std::vector<float>(f->history.begin(), f->history.begin() + 4),
              (std::vector<float>{5, 6, 7, 8}));
    fir_prime(*f, std::span<const float>());
    EXPECT_EQ(std::vector<float>(f->history.begin(), f->history.begin() + 4),
              (std::vector<float>{5, 6, 7, 8}));
}
