#include "common/comb_filter.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "tests/common/kernel_levels.h"
#include "tests/support/float_bits.h"

class CombFilterLevel : public KernelLevel {};
VEKMRK_ON_EVERY_KERNEL_LEVEL(CombFilterLevel);

// The comb against its recursion written out one output at a time over the whole signal, bit
// for bit: delays too short for several outputs at a time and the usual ones, with fractional
// taps, in blocks longer and shorter than the delay (a single sample included).
TEST_P(CombFilterLevel, MatchesThePlainRecursionBitForBit) {
    const float tap0 = 0.3f * 0.995f;
    const float tap1 = 0.7f * 0.995f;
    std::mt19937 draw(3);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<float> input(4000);
    for (float& v : input) {
        v = unit(draw);
    }
    for (const size_t delay : {size_t{2}, size_t{3}, size_t{5}, size_t{221}}) {
        SCOPED_TRACE(delay);
        // y[i] = x[i] + tap0 y[i - N] + tap1 y[i - N + 1], summed in double from x[i].
        std::vector<float> want(input.size());
        for (size_t i = 0; i < input.size(); ++i) {
            const auto at = [&](size_t back) {
                return i >= back ? static_cast<double>(want[i - back]) : 0.0;
            };
            double sum = static_cast<double>(input[i]);
            sum += static_cast<double>(tap0) * at(delay);
            sum += static_cast<double>(tap1) * at(delay - 1);
            want[i] = static_cast<float>(sum);
        }
        std::vector<float> history(delay, 0.0f);
        std::vector<float> got;
        size_t at = 0;
        for (const size_t n : {size_t{1}, delay, size_t{1001}, size_t{2}, delay + 1, size_t{7}}) {
            std::vector<float> block(input.begin() + static_cast<std::ptrdiff_t>(at),
                                     input.begin() + static_cast<std::ptrdiff_t>(at + n));
            at += n;
            comb_filter_run(block, history, tap0, tap1, level());
            got.insert(got.end(), block.begin(), block.end());
        }
        want.resize(got.size());
        EXPECT_EQ(fixture::float_bits(got), fixture::float_bits(want));
    }
}
