#pragma once
// FIR filter with a history, so that consecutive blocks filter one continuous signal.
// With extra history A > 0 the filter is only a store of its last N + A - 1 inputs (fir_prime).

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "common/simd.h"

struct FirFilter {
    int32_t taps = 0;                // N
    int32_t extra_history = 0;       // A
    int32_t step = 1;                // D: one output every `step` inputs
    std::vector<float> coefficients; // own copy, N values h[0] ... h[N-1]
    std::vector<float> history;      // N + A values; the first N + A - 1 are the latest inputs,
                                     // oldest first
    std::vector<double> work;        // fir_run's copy of the coefficients, the last N - 1 inputs
                                     // and the block, as doubles; grows, never shrinks
};

void fir_destroy(FirFilter* filter) noexcept; // accepts nullptr
struct FirFilterDeleter {
    void operator()(FirFilter* f) const noexcept { fir_destroy(f); }
};
using FirFilterPtr = std::unique_ptr<FirFilter, FirFilterDeleter>;

// Copies the coefficients and zeroes the history. Empty on bad sizes (n < 1, a < 0, d < 1,
// fewer than n coefficients) or short memory.
FirFilterPtr fir_create(int32_t n, int32_t a, int32_t d,
                        std::span<const float> coefficients) noexcept;

// The 21-tap band-limiting kernel for band edge 11000, 7000 or 5000 Hz (designed at 44100 Hz)
// as a filter with no extra history and step 1; empty for any other band edge.
FirFilterPtr band_filter_create(int32_t band_edge) noexcept;

// The history becomes input[count - (N + A - 1)] ... input[count - 1]; with fewer inputs the
// older history is shifted down and the inputs appended.
void fir_prime(FirFilter& filter, std::span<const float> input) noexcept;

// Filters count = input.size() samples: output[j] = sum over k of h[k] * z[c + k] for
// c = 0, D, 2D, ... < count, z being the history followed by the input; sums in double, each
// output stored as float. Writes (count + D - 1) / D outputs (no more than output.size()),
// then primes the history with the whole input. The output counter restarts at 0 in every call,
// so with D > 1 blocks should be multiples of D to filter one continuous signal.
// Meant for filters with no extra history; with A > 0 the newest sample of each sum is still
// input[c], over the last N - 1 stored samples.
// Runs the kernels of simd_level(): several outputs side by side, each summed alone in the order
// above, so every level gives the same floats.
void fir_run(FirFilter& filter, std::span<const float> input, std::span<float> output) noexcept;

// fir_run with the kernels of `level` (capped at what the processor has).
void fir_run_at(FirFilter& filter, std::span<const float> input, std::span<float> output,
                SimdLevel level) noexcept;
