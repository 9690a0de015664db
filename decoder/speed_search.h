#pragma once
// The speed search of the decoder ("-speed P"): audio played P percent faster or slower (pitch
// and tempo together) stretches the chip clock beyond what the chip tracks follow. Each branch
// resamples every channel's input by one factor of a grid around 1 and reads the result with
// its own decoder channels; the packets of the branch that reads best are reported, each once
// next to the default reading's.
//
//   SpeedSearch search{rate, frame_length, configuration, owner_name, speed_search_factors(1.0)};
//   search.opening.resize(channels); search.ledger.channels.resize(channels);
//   ... speed_search_frame(search, frames, n, last, [&](int32_t c, const DecodedPacket& p) {});

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "decoder/decoder_channel.h"

// Branch factors of the grid for speeds up to `percent` either way: 1 + k * 0.00004 for
// k = +-1, +-2, ..., nearest to 1 first, reaching to within half a step of 1 / (1 +- percent).
// A factor f reads input sample f * j as branch sample j, so f > 1 undoes a slowing-down and
// f < 1 a speeding-up. Empty for 0.
std::vector<double> speed_search_factors(double percent);

// Streams one channel through a windowed-sinc interpolator (16 taps) at `factor` input samples
// per output sample. Samples before the first are taken as silence.
struct SpeedResampler {
    double factor = 1.0;
    int64_t produced = 0;      // output samples so far; the next is read at produced * factor
    int64_t base = 0;          // input index of buffer[0]
    std::vector<float> buffer; // the input samples still needed
};

SpeedResampler speed_resampler(double factor);

// Appends to `out` every output sample that `in` (the next input samples) completes.
void speed_resampler_run(SpeedResampler& resampler, std::span<const float> in,
                         std::vector<float>& out);

// Packets reported per channel and payload, so that the same packet read by several branches
// (or by a branch and the default reading) is reported once. Each reading matches each
// reported packet at most once, so consecutive packets with the same payload stay apart.
struct PacketLedger {
    struct Entry {
        std::string payload;
        double seconds = 0.0;          // input time at which it was reported
        std::vector<int32_t> readings; // readings that have read it
    };
    std::vector<std::vector<Entry>> channels; // per channel, oldest first
    float rawbr = 50.0f;
};

// True when the packet is new for channel c: not matched by an unmatched entry of the same
// payload within about half a packet's duration (plus the frame step) of `seconds`. Records it
// either way under `reading` (0: the default reading, 1...: the branches).
bool ledger_accept(PacketLedger& ledger, int32_t c, int32_t reading, const DecodedPacket& packet,
                   double seconds);

struct SpeedBranch {
    double factor = 1.0;
    std::vector<SpeedResampler> resamplers;  // per channel
    std::vector<std::vector<float>> pending; // resampled samples not yet decoded, per channel
    std::vector<DecoderChannelPtr> decoders; // per channel
    int64_t decoded = 0;                     // branch samples decoded so far
    int32_t reading = 0;                     // the ledger's number of this branch
    struct Held {
        int32_t channel = 0;
        DecodedPacket packet;
        double seconds = 0.0;
    };
    std::vector<Held> opening_packets; // read in the opening, reported if the branch goes on
};

// The whole search of one file. The opening seconds are read by every branch of the grid, a
// batch of branches at a time over the kept input; only the branch that read the most packets
// there goes on with the rest of the file (one reading more: two readings of one packet are
// told apart far more surely than many), and its opening packets are reported then.
struct SpeedSearch {
    int32_t rate = 0;
    size_t frame_length = 0; // samples per decoder call, as for the default reading
    std::string configuration;
    std::string owner_name;
    std::vector<double> factors;             // the grid
    std::vector<std::vector<float>> opening; // the opening input per channel, while kept
    size_t opening_length = 0;               // samples of input the opening holds
    bool searching = true;                   // the opening is still being collected
    std::vector<SpeedBranch> branches;       // the branches that go on
    PacketLedger ledger;
};

// Opening length in seconds, and branches created at once while the opening is read.
inline constexpr int32_t kOpeningSeconds = 15;
inline constexpr size_t kBranchBatch = 16;

// Reported packets go to `report(channel, packet)`.
using SpeedReport = std::function<void(int32_t, const DecodedPacket&)>;

// Takes one input frame (n samples per channel); `last` when the file ends with it. Branch
// packets go through the ledger, timed at the input second the branch reached. False when a
// branch cannot be created or its buffers cannot grow.
bool speed_search_frame(SpeedSearch& search, std::span<const float* const> frames, size_t n,
                        bool last, const SpeedReport& report);
