#pragma once
// Conversion between interleaved 16-bit PCM samples (little-endian bytes, as in a WAV file's
// data chunk) and planar single-precision arrays, one per channel. A sample s reads as
// s / 32768; a float x is written as floor(scale * x + 0.5) in double precision, converted to
// an integer (NaN as 0, values beyond the 32-bit range as its nearest end), of which the low
// 16 bits are kept. Mono and stereo run several samples per vector instruction on x86-64 (the
// kernels of `level`, capped at what the processor has); the results are those of one sample at
// a time.

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/simd.h"

// bytes holds `frames` frames of planes.size() samples each; sample c of frame i goes to
// planes[c][offset + i].
void pcm16_to_planar(const uint8_t* bytes, size_t frames, std::span<float* const> planes,
                     size_t offset, SimdLevel level = simd_level()) noexcept;

// The inverse: planes[c][offset + i] becomes sample c of frame i in bytes.
void pcm16_from_planar(std::span<const float* const> planes, size_t offset, size_t frames,
                       double scale, uint8_t* bytes, SimdLevel level = simd_level()) noexcept;

// The 16-bit value written for x at this scale: the low 16 bits of the rounded integer.
uint16_t pcm16_sample(float x, double scale) noexcept;
