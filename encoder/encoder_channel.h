#pragma once
// One channel's watermark encoder: its configuration, chip waveform, predictor and the state of
// the chip stream under way. Channels share nothing; the driver creates one per audio channel
// from the same inputs, so all channels of a file start alike.
//
//   EncoderChannelPtr channel = encoder_create(44100, " -gain 2 -addts 1", owner_name);
//   if (!channel) { /* bad configuration or short memory: exit 4 */ }
//   for (each one-second block of this channel's audio) {
//       int32_t begun = encoder_process(*channel, block, payload);  // block watermarked in place
//       if (begun < 0) { /* short memory: internal error */ }
//       packets += begun;
//   }
//   channel.reset();  // encoder_destroy
//
// encoder_process (modulator.h) carries the chip position, chip string and predictor state from
// one call to the next, so the audio may be cut into blocks of any size.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/predictor.h"

inline constexpr int32_t kPredictorOrder = 4;
inline constexpr float kPredictorMeasurementNoise = 0.01f;
inline constexpr float kPredictorProcessNoise = 0.001f;

// Longest chip accepted, in samples (about six minutes at 44100 Hz): longer chips come only from
// absurd chip rates, and the waveform's length must stay far within the 32-bit range.
inline constexpr int32_t kMaxSamplesPerChip = 1 << 24;

struct EncoderChannel {
    int32_t sampling_rate = 0; // Hz
    float chip_rate = 50.0f;   // chips per second
    float gain = 1.0f;         // never negative
    int32_t predictor_order = kPredictorOrder;
    float predictor_measurement_noise = kPredictorMeasurementNoise;
    float predictor_process_noise = kPredictorProcessNoise;
    uint16_t check_mask = 0;    // 0 on the public layer
    int32_t add_time_stamp = 0; // non-zero: packets carry one
    std::string chip_string;    // "0"/"1" chips of the lead-in or packet under way; empty
                                // before the first block
    int32_t chip_index = 0;     // index in chip_string of the chip under way
    AdaptivePredictorPtr predictor;
    int32_t samples_per_chip = 0; // M
    // M values. Never changed once built, so the channels of one file share one copy.
    std::shared_ptr<const std::vector<float>> chip_waveform;
    int32_t position_in_chip = 0;  // next sample within the waveform
    int64_t samples_processed = 0; // of this channel, so far
    std::vector<float> envelope;   // per-block masking envelope; its size is the capacity and
                                   // never shrinks
};

void encoder_destroy(EncoderChannel* channel) noexcept; // accepts nullptr
struct EncoderChannelDeleter {
    void operator()(EncoderChannel* c) const noexcept { encoder_destroy(c); }
};
using EncoderChannelPtr = std::unique_ptr<EncoderChannel, EncoderChannelDeleter>;

// floor(rate / chip_rate + 0.5) in double precision: the samples of one chip, 0 when that is
// below 1 or above kMaxSamplesPerChip (no such chip can be sent).
int32_t encoder_samples_per_chip(int32_t sampling_rate, float chip_rate) noexcept;

// A channel encoder for audio at `sampling_rate` Hz, configured by `configuration` (config.h)
// with `owner_name` keying "-layer private". Empty when the configuration is invalid, the chip
// rate gives no usable chip length, no chip waveform exists for the rate, or memory is short.
EncoderChannelPtr encoder_create(int32_t sampling_rate, std::string_view configuration,
                                 std::string_view owner_name) noexcept;

// A fresh channel encoder configured as `sibling` (the same rate and configuration), sharing its
// chip waveform: a file with many channels builds and holds that waveform once. Empty when
// memory is short.
EncoderChannelPtr encoder_create_sibling(const EncoderChannel& sibling) noexcept;
