#include "common/simd.h"

#include <algorithm>
#include <cstdlib>

SimdLevel simd_detected() noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
    // The kernels of this level also use 32 registers for 128-bit vectors (VL).
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl")) {
        return SimdLevel::Avx512;
    }
    if (__builtin_cpu_supports("avx2")) {
        return SimdLevel::Avx2;
    }
#endif
    return SimdLevel::Portable;
}

std::optional<SimdLevel> simd_level_named(std::string_view name) noexcept {
    if (name == "portable") {
        return SimdLevel::Portable;
    }
    if (name == "avx2") {
        return SimdLevel::Avx2;
    }
    if (name == "avx512") {
        return SimdLevel::Avx512;
    }
    return std::nullopt;
}

SimdLevel simd_level() noexcept {
    static const SimdLevel level = [] {
        const SimdLevel detected = simd_detected();
        const char* cap = std::getenv(kSimdEnvVar);
        const std::optional<SimdLevel> named =
            cap != nullptr ? simd_level_named(cap) : std::nullopt;
        return named ? std::min(detected, *named) : detected;
    }();
    return level;
}
