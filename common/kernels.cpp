// The processor's level and the kernel table of each level.

#include "common/kernels.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "common/simd.h"

namespace {

// The entries a twin set provides; an empty one keeps the kernel of the level below.
void override_with(PredictorKernels& kernels, const PredictorKernels& twins) {
    for (auto entry : {&PredictorKernels::order2, &PredictorKernels::order4,
                       &PredictorKernels::order2_pair, &PredictorKernels::order4_pair}) {
        if (twins.*entry != nullptr) {
            kernels.*entry = twins.*entry;
        }
    }
}

KernelTable build(SimdLevel level) {
    KernelTable table{};
    table.fir_lanes = 1;
    table.fir_sum_products = fir_sum_products_plain;
    table.envelope = predictor_envelope_plain();
    table.whiten = predictor_whiten_plain();
    table.pcm16_to_planar = pcm16_to_planar_plain;
    table.pcm16_from_planar = pcm16_from_planar_plain;
    table.comb = comb_block_plain;
#if defined(__x86_64__) && defined(__GNUC__)
    if (level >= SimdLevel::Portable) {
        table.fir_lanes = 2;
        table.fir_sum_products = fir_sum_products_sse2;
        override_with(table.envelope, predictor_envelope_sse2());
        override_with(table.whiten, predictor_whiten_sse2());
        table.pcm16_to_planar = pcm16_to_planar_sse2;
        table.pcm16_from_planar = pcm16_from_planar_sse2;
        table.comb = comb_block_sse2;
    }
    if (level >= SimdLevel::Avx2) {
        table.fir_lanes = 4;
        table.fir_sum_products = fir_sum_products_avx2;
        override_with(table.envelope, predictor_envelope_avx2());
        override_with(table.whiten, predictor_whiten_avx2());
    }
    if (level >= SimdLevel::Avx512) {
        table.fir_lanes = 8;
        table.fir_sum_products = fir_sum_products_avx512;
        override_with(table.envelope, predictor_envelope_avx512());
        override_with(table.whiten, predictor_whiten_avx512());
    }
#else
    (void)level;
#endif
    return table;
}

} // namespace

SimdLevel simd_detected() noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
    // Safe to repeat; needed if this runs before the runtime's own constructors.
    __builtin_cpu_init();
    // The kernels of this level also use 32 registers for 128-bit vectors (VL).
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl")) {
        return SimdLevel::Avx512;
    }
    if (__builtin_cpu_supports("avx2")) {
        return SimdLevel::Avx2;
    }
    return SimdLevel::Portable;
#else
    // Elsewhere the portable level has no twins: it runs the plain routines.
    return SimdLevel::Portable;
#endif
}

std::optional<SimdLevel> simd_level_named(std::string_view name) noexcept {
    if (name == "plain") {
        return SimdLevel::Plain;
    }
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

const KernelTable& kernels_at(SimdLevel level) noexcept {
    static const std::array<KernelTable, 4> tables = [] {
        const SimdLevel top = simd_detected();
        return std::array<KernelTable, 4>{
            build(SimdLevel::Plain), build(std::min(SimdLevel::Portable, top)),
            build(std::min(SimdLevel::Avx2, top)), build(std::min(SimdLevel::Avx512, top))};
    }();
    return tables[static_cast<size_t>(std::clamp(static_cast<int>(level), 0, 3))];
}
