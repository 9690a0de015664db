#pragma once
// Which vector instructions the signal kernels may use. Every kernel gives bit-identical results
// on every level (each output is still summed in its own order, one output per vector lane);
// only the speed differs. The kernels are chosen once, in a table (common/kernels.cpp).

#include <optional>
#include <string_view>

enum class SimdLevel : int {
    Plain = 0,    // no vector code: the plain routines only
    Portable = 1, // what every processor of the build's architecture runs (SSE2 on x86-64)
    Avx2 = 2,     // 256-bit vectors
    Avx512 = 3,   // 512-bit vectors and 32 vector registers (AVX-512 F and VL)
};

// The environment variable that caps the level, read once: "plain", "portable", "avx2" or
// "avx512".
inline constexpr const char* kSimdEnvVar = "VEKMRK_SIMD";

// The best level this processor offers and this build can use.
SimdLevel simd_detected() noexcept;

// The level the kernels use: the detected one, capped by VEKMRK_SIMD when that names a level
// (an unknown value is ignored). Computed on the first call.
SimdLevel simd_level() noexcept;

// The level a VEKMRK_SIMD value names; empty for any other text.
std::optional<SimdLevel> simd_level_named(std::string_view name) noexcept;
