#pragma once
// The signal kernels, chosen once: a table of function pointers, first set to the plain
// routines, then overridden level by level with the fastest twins the processor runs. Every twin
// gives the plain routine's results to the bit. Private to vekmrk_common.
//
// Each plain routine sits in its module's file (fir_filter.cpp), each twin in a file of its own
// beside it, named after its instruction set (fir_filter_sse2.cpp, fir_filter_avx2.cpp, ...),
// compiled for that set with a target attribute and built on x86-64 only. To add a kernel:
// declare its type and a pointer in KernelTable below, write the plain routine and the twins,
// declare them at the end of this file, assign them level by level in kernels.cpp, and call
// kernels_at(level).name from the module.

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/predictor.h"
#include "common/simd.h"

// The samples of a FIR block laid out for sums over `lanes` outputs at a time: the outputs are
// cut into `lanes` segments of S consecutive outputs, and row i holds z[l D S + i] in lane l, z
// being the last N - 1 inputs before the block followed by the block, as doubles.
struct FirRows {
    const double* z; // row i at z + i * lanes, 64-byte aligned
    size_t segment;  // S: outputs per lane
    size_t step;     // D
};

// out[l S + j] = sum over k of h[k] z[D (l S + j) + k], from 0.0 with k ascending, rounded to
// float, for every lane l and j = 0 ... S-1.
using FirSumProducts = void (*)(FirRows z, const double* h, size_t taps, float* out);

// The predictor update of one order over `count` samples of each predictor's input, writing one
// output form (envelope or whitened, with `floor`) per sample; a pair kernel runs two
// predictors side by side, a single one predictors[0] alone.
using PredictorBlock = void (*)(AdaptivePredictor* const* predictors, const float* const* inputs,
                                float* const* outputs, size_t count, double floor);

struct PredictorKernels {
    PredictorBlock order2;
    PredictorBlock order4;
    PredictorBlock order2_pair;
    PredictorBlock order4_pair;
};

// As pcm16_to_planar and pcm16_from_planar.
using Pcm16ToPlanar = void (*)(const uint8_t* bytes, size_t frames, std::span<float* const> planes,
                               size_t offset);
using Pcm16FromPlanar = void (*)(std::span<const float* const> planes, size_t offset, size_t frames,
                                 double scale, uint8_t* bytes);

// The comb's outputs n ... count-1 of a block, in place, where both samples fed back are in the
// block: b[i] = float(b[i] + tap0 b[i - n] + tap1 b[i - n + 1]), summed in double in that order.
using CombBlock = void (*)(float* b, size_t n, size_t count, double tap0, double tap1);

struct KernelTable {
    size_t fir_lanes;                // outputs that fir_sum_products sums side by side
    FirSumProducts fir_sum_products; // laid out for fir_lanes
    PredictorKernels envelope;       // the encoder's form
    PredictorKernels whiten;         // the decoder's form
    Pcm16ToPlanar pcm16_to_planar;
    Pcm16FromPlanar pcm16_from_planar;
    CombBlock comb;
};

// The table for `level`, capped at what the processor has. All levels are built on the first
// call, so the choice is made once.
const KernelTable& kernels_at(SimdLevel level) noexcept;

// Plain routines.
void fir_sum_products_plain(FirRows z, const double* h, size_t taps, float* out);
PredictorKernels predictor_envelope_plain();
PredictorKernels predictor_whiten_plain();
void pcm16_to_planar_plain(const uint8_t* bytes, size_t frames, std::span<float* const> planes,
                           size_t offset);
void pcm16_from_planar_plain(std::span<const float* const> planes, size_t offset, size_t frames,
                             double scale, uint8_t* bytes);
void comb_block_plain(float* b, size_t n, size_t count, double tap0, double tap1);

// Twins for x86-64: SSE2 (every x86-64 processor), AVX2, AVX-512 F + VL.
void fir_sum_products_sse2(FirRows z, const double* h, size_t taps, float* out);
void fir_sum_products_avx2(FirRows z, const double* h, size_t taps, float* out);
void fir_sum_products_avx512(FirRows z, const double* h, size_t taps, float* out);
PredictorKernels predictor_envelope_sse2();
PredictorKernels predictor_whiten_sse2();
PredictorKernels predictor_envelope_avx2();
PredictorKernels predictor_whiten_avx2();
PredictorKernels predictor_envelope_avx512();
PredictorKernels predictor_whiten_avx512();
void pcm16_to_planar_sse2(const uint8_t* bytes, size_t frames, std::span<float* const> planes,
                          size_t offset);
void pcm16_from_planar_sse2(std::span<const float* const> planes, size_t offset, size_t frames,
                            double scale, uint8_t* bytes);
void comb_block_sse2(float* b, size_t n, size_t count, double tap0, double tap1);
