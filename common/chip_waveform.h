#pragma once
// The chip waveform: one burst of band-limited noise, keyed by the layer's seed, designed at
// 44100 Hz and linearly resampled to the requested rate. Encoder and decoder build it with
// the same code and get bit-identical waveforms.

#include <cstdint>
#include <string_view>
#include <vector>

// 31-bit hash of a text: h = (byte + 2h) AND 0x7FFFFFFF, bytes taken as signed values.
int32_t owner_name_hash(std::string_view text) noexcept;

// samples_per_chip values for a rate of 11025, 16000, 22050, 24000, 32000, 44100 or 48000 Hz.
// Empty for any other rate, for samples_per_chip < 1, for a design length below the band
// filter's 21 taps minus one (20), or when memory is short.
std::vector<float> chip_waveform_build(int32_t sampling_rate, int32_t seed,
                                       int32_t samples_per_chip) noexcept;

// The design length at 44100 Hz: floor(samples_per_chip * 44100 / rate + 0.5); 0 for a rate
// that is not positive, samples_per_chip < 1 or a length beyond 32 bits.
int32_t chip_waveform_design_length(int32_t sampling_rate, int32_t samples_per_chip) noexcept;
