#pragma once
// One channel of the decoder: settings, filters, chip tracks and packet array, kept from one
// one-second frame to the next.
//
//   DecoderChannelPtr ch = decoder_create(44100, " -layer private", owner_name);
//   if (!ch) { /* bad configuration, unusable owner name or no memory */ }
//   std::vector<float> frame(44100);                  // one second, samples / 32768
//   while (/* frames remain */) {
//       int32_t k = decoder_process(*ch, frame);      // detector.h; -1: no memory
//       for (int32_t i = 0; i < k; ++i) use(ch->packets[i]);   // payload, time stamp
//   }
//   // ch is destroyed by decoder_destroy when it goes out of scope.
//
// The chain runs at the file's rate (D = 1): the band above a quarter of the rate carries the
// part of the mark that band-limited recordings leave clear.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/fir_filter.h"
#include "decoder/whitening.h"

// Chip values a track holds: two of the longest packets the encoder writes (98 payload digits
// with a time stamp, 852 chips each) and a sync.
inline constexpr int32_t kTrackCapacity = 2048;
inline constexpr int32_t kTrackDrop = 50;      // oldest values dropped from a full track
inline constexpr int32_t kTrackCount = 10;     // chip track slots
inline constexpr int32_t kPacketCapacity = 20; // most packets one frame returns
inline constexpr int32_t kMaxHeadLength = 128; // most taps of the head correlator
// Offsets, in input samples on either side of a track's predicted chip instant, at which the
// chip value is measured to find the best instant.
inline constexpr int32_t kTimingReach = 1;

struct DecodedPacket {
    std::string payload;     // upper-case hexadecimal digits, check digits removed
    int32_t time_stamp = -1; // 0 ... 4095 quarter minutes, -1 when none or unreliable
};

// An accepted packet waiting for confirmation, and the readings it came from: the bodies
// averaged in `generation` up to the `total`-th.
struct HeldPacket {
    DecodedPacket packet;
    int32_t generation = 0;
    int32_t total = 0;
    int32_t chip = 0;       // the track's chips read when it was
    bool confirmed = false; // confirmed, waiting only for room in the packet array
};

// How one packet's reading shows its time stamp: for each of the 12 stamp bits, half the
// log-likelihood of its being 1 rather than 0; and the track's chip at which the packet ended.
struct StampReading {
    int32_t chip = 0;
    std::array<float, 12> weight{};
};

// One candidate chip clock and the chip values read at its instants.
struct ChipTrack {
    int32_t capacity = kTrackCapacity;
    int32_t count = 0;           // chip values stored; active while count > 0
    int32_t average_length = 0;  // E: length of the body held in `average`
    int32_t average_count = 0;   // bodies averaged into `average`
    float lock_polarity = 0.0f;  // +-1 while the track reads packets of length E, else 0
    int32_t lock_misses = 0;     // bodies in a row that did not decode while locked
    std::vector<float> values;   // chip values, oldest first
    std::vector<float> average;  // running average of the last bodies of length E
    int32_t search_position = 0; // index in values where the sync search resumes
    double next_instant = 0.0;   // next chip instant, in input samples from the frame's start
    double period = 0.0;         // the track's chip period in input samples
    float level = 0.0f;          // smoothed comb output at the track's instants
    // Smoothed chip value magnitudes one input sample before, at and after the instants.
    double timing_early = 0.0;
    double timing_level = 0.0;
    double timing_late = 0.0;
    int32_t chips_read = 0; // chip instants read since the track started
    // Packets held back until another reading confirms their payload, and the payloads this
    // slot has confirmed; both outlive the clocks that come and go in the slot (recovery.h).
    std::vector<HeldPacket> held;
    std::vector<StampReading> stamp_readings; // the latest packets' stamps, oldest first
    std::vector<std::string> confirmed;
    int32_t average_generation = 0; // counts the fresh starts of `average`
    int32_t average_total = 0;      // bodies averaged in since its latest fresh start
};

// Sums the correlation magnitude one chip period apart (fractional delay P = Rw / rawbr).
struct CombIntegrator {
    int32_t length = 0;          // N = floor(P) + 1
    std::array<float, 2> taps{}; // weights of the outputs N and N - 1 samples back
    std::vector<float> history;  // the last N outputs, oldest first
};

// Finds the peaks of the comb output; its statistics adapt over about 10000 samples.
struct PeakPicker {
    float peak_fraction = 0.8f;
    float deviation_factor = 3.0f;
    float adaptation_rate = 0.0001f;
    int32_t half_width = 8;
    float level = 100.0f;
    float mean = 100.0f;
    float deviation = 20.0f;
};

struct DecoderChannel {
    int32_t decimation = 1;           // D: input samples per working sample
    int32_t working_rate = 0;         // Rw = file rate / D
    int32_t minimum_frame_length = 0; // frames with fewer working samples are skipped
    float rawbr = 50.0f;              // chips per second
    float level_floor_db = -55.0f;    // whitening never divides by less than 10^(floor/20)
    int32_t max_head_length = kMaxHeadLength;
    float comb_feedback = 0.995f;
    int32_t track_capacity = kTrackCapacity;
    int32_t track_count = kTrackCount;
    int32_t replacement_slot = 0; // slot a new chip clock takes
    std::array<ChipTrack, kTrackCount> tracks;
    uint16_t check_mask = 0;
    int32_t packet_capacity = kPacketCapacity;
    std::array<DecodedPacket, kPacketCapacity> packets; // packets of the current frame
    int32_t whitening_order = 16;
    BlockWhitener whitener;
    FirFilterPtr head_correlator; // last H samples of the phase-0 reference
    CombIntegrator comb;
    PeakPicker peak_picker;
    int32_t chip_samples = 0; // M: the encoder's chip length in input samples
    double chip_period = 0.0; // P = M / D: the chip period in working samples
    int32_t chip_length = 0;  // G = floor(P): reference length in working samples
    int32_t head_length = 0;  // H = min(128, G)
    // The last G samples of the chip waveform, for a chip that ends on a working sample
    // (phase 0) or one input sample before it (phase 1, the same at D = 1); G values each.
    std::array<std::vector<float>, 2> references;
    int32_t history_length = 0;      // whitened samples kept from earlier frames in work_s
    int32_t work_capacity = 0;       // length of the work buffers
    std::vector<float> work_a;       // stage outputs, then the head correlation
    std::vector<float> work_b;       // the comb output
    std::vector<float> work_s;       // the last history_length whitened samples of the
                                     // earlier frames, then the current frame's
    std::vector<int32_t> work_peaks; // peak positions of the frame
};

void decoder_destroy(DecoderChannel* channel) noexcept; // accepts nullptr
struct DecoderChannelDeleter {
    void operator()(DecoderChannel* c) const noexcept { decoder_destroy(c); }
};
using DecoderChannelPtr = std::unique_ptr<DecoderChannel, DecoderChannelDeleter>;

// A channel for a file at `sampling_rate` Hz configured by `configuration` ("-layer",
// "-rawbr"); "private" keys with `owner_name`. Empty on a missing option value, an unusable
// owner name, a chip rate that is not a positive finite number or whose chip is shorter than
// one working sample, longer than a frame or too short for the waveform design, a rate with no
// chip waveform, or short memory.
DecoderChannelPtr decoder_create(int32_t sampling_rate, std::string_view configuration,
                                 std::string_view owner_name) noexcept;
