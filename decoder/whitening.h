#pragma once
// The decoder's whitening: a linear predictor fitted to each block of the signal (about 93 ms
// at 44100 Hz), whose prediction error, divided by its own level, is filtered once more by the
// same error filter run backwards. The two passes weight every frequency by the inverse of the
// audio's power there, so that the correlation with the plain chip waveform sums the mark from
// where the audio leaves room for it: the band above a band-limited recording's edge, the
// gaps between loud partials.
//
//   BlockWhitener w;
//   whitener_init(w, 8);
//   whitener_run(w, floor, frame, out);  // per frame; out lags the input by `order` samples

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "common/fir_filter.h"

struct BlockWhitener {
    int32_t order = 0;
    std::vector<double> coefficients; // a[0] = 1, a[1] ... a[order] of the current block
    FirFilterPtr forward;             // the error filter: taps a[order] ... a[0]
    FirFilterPtr backward;            // run backwards, scaled: taps a[0] ... a[order]
    // Hann windows for the two block lengths a frame is cut into, and the windowed block.
    std::array<std::vector<double>, 2> windows;
    std::vector<double> windowed;
    std::vector<float> residual; // the block's divided error
    double level = 0.0;          // the error's level: rises at once, falls by a tenth per sample
};

// Sets up a whitener of the given order; false when memory is short.
bool whitener_init(BlockWhitener& whitener, int32_t order) noexcept;

// Whitens input into output (same length, at most what the buffers can grow to); the state
// carries over, so a signal cut into frames gives the result of one long call (but for the
// block boundaries, which follow the frames). Never divides by less than `floor`.
void whitener_run(BlockWhitener& whitener, double floor, std::span<const float> input,
                  std::span<float> output);

// whitener_run on two whiteners at once, with the results of two separate calls; the two
// level chains run side by side. Inputs and outputs of different lengths make two calls.
void whitener_run_pair(BlockWhitener& first, BlockWhitener& second, double floor,
                       std::span<const float> first_input, std::span<const float> second_input,
                       std::span<float> first_output, std::span<float> second_output);

// The predictor coefficients a[0] = 1 ... a[order] that minimise the error of the windowed
// block (autocorrelation method); a[k] = 0 for k >= 1 when the block is silent. `windowed` is
// scratch of the block's length.
void whitener_fit(std::span<const float> block, std::span<const double> window,
                  std::span<double> windowed, std::span<double> coefficients);
