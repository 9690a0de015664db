#pragma once
// Tests that run every level's kernels against the plain results: a test suite derived from
// KernelLevel runs once per level, and reports itself skipped on a level the processor lacks.

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "common/simd.h"

inline constexpr SimdLevel kKernelLevels[] = {SimdLevel::Plain, SimdLevel::Portable,
                                              SimdLevel::Avx2, SimdLevel::Avx512};

inline std::string kernel_level_name(SimdLevel level) {
    switch (level) {
    case SimdLevel::Plain:
        return "Plain";
    case SimdLevel::Portable:
        return "Portable";
    case SimdLevel::Avx2:
        return "Avx2";
    case SimdLevel::Avx512:
        return "Avx512";
    }
    return "Unknown";
}

inline std::string kernel_level_test_name(const testing::TestParamInfo<SimdLevel>& info) {
    return kernel_level_name(info.param);
}

// How GoogleTest shows a level in test names and messages.
inline void PrintTo(SimdLevel level, std::ostream* out) {
    *out << kernel_level_name(level);
}

class KernelLevel : public testing::TestWithParam<SimdLevel> {
protected:
    void SetUp() override {
        if (GetParam() > simd_detected()) {
            GTEST_SKIP() << "this processor lacks the instructions of this level";
        }
    }
    SimdLevel level() const { return GetParam(); }
};

// Runs the suite derived from KernelLevel on every level.
#define VEKMRK_ON_EVERY_KERNEL_LEVEL(Suite)                                                        \
    INSTANTIATE_TEST_SUITE_P(Levels, Suite, testing::ValuesIn(kKernelLevels),                      \
                             kernel_level_test_name)
