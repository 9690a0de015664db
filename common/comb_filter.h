#pragma once
// Two-tap feedback comb over consecutive blocks, in place: output y[i] = b[i] + tap0 y[i - n] +
// tap1 y[i - n + 1], summed in double in that order and stored as float.

#include <span>

#include "common/simd.h"

// Runs the comb over b, replacing each sample by its output. history holds the last n =
// history.size() outputs before the block, oldest first, and the last n outputs (those before
// the block, then the block's) on return. Several outputs per instruction with the kernels of
// `level` (capped at what the processor has); the results are those of one at a time.
void comb_filter_run(std::span<float> b, std::span<float> history, float tap0, float tap1,
                     SimdLevel level = simd_level()) noexcept;
