#include "common/simd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

TEST(Simd, NamedLevelsAndNothingElse) {
    EXPECT_EQ(simd_level_named("plain"), SimdLevel::Plain);
    EXPECT_EQ(simd_level_named("portable"), SimdLevel::Portable);
    EXPECT_EQ(simd_level_named("avx2"), SimdLevel::Avx2);
    EXPECT_EQ(simd_level_named("avx512"), SimdLevel::Avx512);
    EXPECT_FALSE(simd_level_named("AVX2"));
    EXPECT_FALSE(simd_level_named(""));
    EXPECT_FALSE(simd_level_named("sse2"));
}

// The level in use is the processor's, capped by VEKMRK_SIMD when that names a level (ctest also
// runs this with VEKMRK_SIMD=portable), and never beyond what the processor has.
TEST(Simd, EnvironmentCapsTheLevel) {
    const char* cap = std::getenv(kSimdEnvVar);
    const std::optional<SimdLevel> named = cap != nullptr ? simd_level_named(cap) : std::nullopt;
    const SimdLevel expected = named ? std::min(*named, simd_detected()) : simd_detected();
    EXPECT_EQ(simd_level(), expected);
}
