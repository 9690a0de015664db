#pragma once
// Adaptive linear predictor: recursive least squares in Kalman-filter form (measurement noise r
// in the gain denominator, process noise q added to the covariance diagonal every sample).
// Sums are accumulated in double precision; every stored value is rounded to single precision.
//
//   AdaptivePredictorPtr p = predictor_create(4, 0.01f, 0.001f);
//   predictor_envelope(*p, block, envelope);   // encoder: level of the prediction error
//   predictor_whiten(*p, floor, block, out);   // decoder: error divided by its level
//   double e = predictor_update(*p, x);        // one plain update, its prediction error

#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

#include "common/simd.h"

struct AdaptivePredictor {
    AdaptivePredictor() = default;
    AdaptivePredictor(const AdaptivePredictor&) = delete; // the array pointers point into storage
    AdaptivePredictor& operator=(const AdaptivePredictor&) = delete;

    int32_t order = 0;          // N
    float* x = nullptr;         // input window, N values, oldest first
    float* s = nullptr;         // scratch row x^T P, N values
    float* w = nullptr;         // weights, N values
    float* k = nullptr;         // gain vector, N values
    float r = 0.0f;             // measurement noise
    float q = 0.0f;             // process noise (also the initial covariance diagonal)
    float* p = nullptr;         // covariance, N rows of N values
    float level = 0.0f;         // envelope level L
    std::vector<float> storage; // the one block that x, s, w, k and p point into
    // Calls that continue one another: a call made with `carry` set also keeps its level
    // unrounded in `carried`, and the next call starts from that rather than from `level`, so
    // that a block cut into parts gives the envelope of one call over it. NaN when the latest
    // call was made without `carry`.
    bool carry = false;
    double carried = std::numeric_limits<double>::quiet_NaN();
};

void predictor_destroy(AdaptivePredictor* predictor) noexcept; // accepts nullptr
struct AdaptivePredictorDeleter {
    void operator()(AdaptivePredictor* p) const noexcept { predictor_destroy(p); }
};
using AdaptivePredictorPtr = std::unique_ptr<AdaptivePredictor, AdaptivePredictorDeleter>;

// x, s, w, k and the level 0, P = q * I. Empty for an order outside 1 ... 4096 or short memory.
AdaptivePredictorPtr predictor_create(int32_t order, float r, float q) noexcept;

// One update with input sample d (gain, error, weights, covariance, window); returns the
// prediction error e, unrounded.
double predictor_update(AdaptivePredictor& predictor, float d) noexcept;

// Encoder form: runs the update over input and writes one envelope value per sample into
// output (same size): the level rises at once to |e| and falls by a tenth of the gap per
// sample. The level is carried unrounded within the call and stored as float at its end (see
// `carry` for calls that continue one another).
// Orders 2 and 4 run the kernels of `level` compiled for that order (capped at what the
// processor has); the results are the same on every level.
void predictor_envelope(AdaptivePredictor& predictor, std::span<const float> input,
                        std::span<float> output, SimdLevel level = simd_level()) noexcept;

// predictor_envelope on two predictors, with the same results as two separate calls: for
// orders 2 and 4 the two updates run side by side, each hiding the other's latency. When the
// orders differ or the inputs differ in size (or an output is shorter), the two calls are made
// one after the other.
void predictor_envelope_pair(AdaptivePredictor& first, AdaptivePredictor& second,
                             std::span<const float> first_input,
                             std::span<const float> second_input, std::span<float> first_output,
                             std::span<float> second_output,
                             SimdLevel level = simd_level()) noexcept;

// Decoder form: runs the update over input and writes the prediction error divided by its
// level (the envelope's level, but set to |e| also when equal) or by `floor` when the level is
// not above it, in single precision. Level carried and stored as in the encoder form.
void predictor_whiten(AdaptivePredictor& predictor, double floor, std::span<const float> input,
                      std::span<float> output, SimdLevel level = simd_level()) noexcept;

// predictor_whiten on two predictors side by side, as predictor_envelope_pair.
void predictor_whiten_pair(AdaptivePredictor& first, AdaptivePredictor& second, double floor,
                           std::span<const float> first_input, std::span<const float> second_input,
                           std::span<float> first_output, std::span<float> second_output,
                           SimdLevel level = simd_level()) noexcept;
