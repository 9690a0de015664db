#pragma once
// The modulator: adds one channel's watermark to its audio, block by block, in place. The chips
// are a lead-in of kLeadInChips "1" chips, then packets back to back until the audio ends; each
// chip is the chip waveform times +gain (chip "1") or -gain (chip "0") times the envelope of
// the audio's prediction error, so that the mark hides under the sound.

#include <cstdint>
#include <span>
#include <string_view>

#include "encoder/encoder_channel.h"

// Where the very first chip starts within the chip waveform: (S * M) >> 8, S being the sum of
// the payload text's bytes modulo 256. The first chip is shortened by that many samples.
int32_t lead_in_start_position(std::string_view payload, int32_t samples_per_chip) noexcept;

// Watermarks `samples` in place and returns the number of packets begun during the block (0 or
// more), or -1 when memory runs short (the block may then be partly watermarked). `payload` is
// the padded hexadecimal payload, the same in every call. The first call, even with no
// samples, sets up the lead-in.
int32_t encoder_process(EncoderChannel& channel, std::span<float> samples,
                        std::string_view payload) noexcept;

// encoder_process on the same block of every channel: channels[c] watermarks its n samples at
// blocks[c] in place and stores its count of packets begun in begun[c]. The samples and counts
// are those of one encoder_process call per channel in channel order; the predictors of two
// channels run side by side, which takes little more time than one. Returns the index of the
// first channel whose encoder failed (its count is then -1, and channels after it may be left
// unprocessed), or -1 when every channel succeeded.
int32_t encoder_process_channels(std::span<EncoderChannel* const> channels,
                                 std::span<float* const> blocks, size_t n, std::string_view payload,
                                 std::span<int32_t> begun) noexcept;

// The two halves of encoder_process, for callers that run them on different threads. First the
// masking envelopes of one block of every channel (the predictors' work, the costly half):
// envelopes[c] receives n values computed from blocks[c], which is only read; the predictors
// of two channels run side by side. A block that is not `last_of_call` is continued by the next
// one as if both were one call of encoder_process.
void encoder_envelope_channels(std::span<EncoderChannel* const> channels,
                               std::span<const float* const> blocks, size_t n,
                               std::span<float* const> envelopes, bool last_of_call) noexcept;

// Then the chips added to the block under its envelope, in place: the samples and the count of
// packets begun (or -1) are those of encoder_process on the same block.
int32_t encoder_modulate(EncoderChannel& channel, std::span<float> samples,
                         std::span<const float> envelope, std::string_view payload) noexcept;
