#include "decoder/speed_search.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <new>

#include "decoder/detector.h"

namespace {

// Grid step of the factors: on music the default reading loses packets from a speed change of
// about 0.0025 %, so a step of 0.004 % leaves no speed more than 0.002 % from a branch; the
// best branch is then refined by half a step.
constexpr double kGridStep = 0.00004;

constexpr int32_t kHalfTaps = 8; // taps on each side of the interpolated instant
constexpr int32_t kTaps = 2 * kHalfTaps;
constexpr int32_t kPhases = 1024; // fractional positions of the table

using TapTable = std::vector<std::array<float, kTaps>>;

// taps[p][k] weighs input sample i - 7 + k for the instant i + p / kPhases: the sinc under a
// Blackman window 16 samples wide.
const TapTable& tap_table() {
    static const TapTable table = [] {
        const double pi = std::acos(-1.0);
        TapTable t(kPhases + 1);
        for (int32_t p = 0; p <= kPhases; ++p) {
            const double u = static_cast<double>(p) / kPhases;
            for (int32_t k = 0; k < kTaps; ++k) {
                const double x = u - static_cast<double>(k - (kHalfTaps - 1));
                const double sinc = x == 0.0 ? 1.0 : std::sin(pi * x) / (pi * x);
                const double w = (x + kHalfTaps) / kTaps; // 0 ... 1 across the window
                const double window =
                    0.42 - 0.5 * std::cos(2.0 * pi * w) + 0.08 * std::cos(4.0 * pi * w);
                t[static_cast<size_t>(p)][static_cast<size_t>(k)] =
                    static_cast<float>(sinc * window);
            }
        }
        return t;
    }();
    return table;
}

// Longest time, in seconds, one packet of this payload takes: sync, time stamp, digits and
// check digits, two chips per bit.
double packet_seconds(const std::string& payload, float rawbr) {
    const double chips = 12.0 + 24.0 + 8.0 * (static_cast<double>(payload.size()) + 4.0);
    return chips / static_cast<double>(rawbr);
}

} // namespace

std::vector<double> speed_search_factors(double percent) {
    std::vector<double> factors;
    if (!(percent > 0.0))
        return factors;
    // Audio played at speed s needs the factor 1 / s: from 1 / (1 + P) to 1 / (1 - P).
    const double low = 1.0 / (1.0 + percent / 100.0);
    const double high = 1.0 / (1.0 - percent / 100.0);
    for (int32_t k = 1;; ++k) {
        const double up = 1.0 + k * kGridStep;
        const double down = 1.0 - k * kGridStep;
        const bool up_in = up - 0.5 * kGridStep <= high;
        const bool down_in = down + 0.5 * kGridStep >= low;
        if (!up_in && !down_in)
            break;
        if (up_in)
            factors.push_back(up);
        if (down_in)
            factors.push_back(down);
    }
    return factors;
}

SpeedResampler speed_resampler(double factor) {
    SpeedResampler r;
    r.factor = factor;
    // Silence before the first sample, so that the first instants have their left taps.
    r.base = -kHalfTaps;
    r.buffer.assign(static_cast<size_t>(kHalfTaps), 0.0f);
    return r;
}

void speed_resampler_run(SpeedResampler& r, std::span<const float> in, std::vector<float>& out) {
    const TapTable& table = tap_table();
    r.buffer.insert(r.buffer.end(), in.begin(), in.end());
    const int64_t end = r.base + static_cast<int64_t>(r.buffer.size()); // one past the last
    for (;;) {
        const double at = static_cast<double>(r.produced) * r.factor;
        const auto i = static_cast<int64_t>(std::floor(at));
        if (i + kHalfTaps >= end)
            break;
        const auto phase =
            static_cast<size_t>(std::lround((at - static_cast<double>(i)) * kPhases));
        const std::array<float, kTaps>& taps = table[phase];
        const float* x = r.buffer.data() + (i - (kHalfTaps - 1) - r.base);
        float sum = 0.0f;
        for (int32_t k = 0; k < kTaps; ++k)
            sum += taps[static_cast<size_t>(k)] * x[k];
        out.push_back(sum);
        ++r.produced;
    }
    // Keep what the next instant's left taps need.
    const auto next = static_cast<int64_t>(std::floor(static_cast<double>(r.produced) * r.factor));
    const int64_t drop = std::clamp<int64_t>(next - (kHalfTaps - 1) - r.base, 0,
                                             static_cast<int64_t>(r.buffer.size()));
    r.buffer.erase(r.buffer.begin(), r.buffer.begin() + drop);
    r.base += drop;
}

bool ledger_accept(PacketLedger& ledger, int32_t c, int32_t reading, const DecodedPacket& packet,
                   double seconds) {
    std::vector<PacketLedger::Entry>& entries = ledger.channels[static_cast<size_t>(c)];
    // Readings of one packet differ by where it is confirmed and by the one-second frames.
    const double reach = 0.5 * packet_seconds(packet.payload, ledger.rawbr) + 1.5;
    PacketLedger::Entry* best = nullptr;
    double best_distance = std::numeric_limits<double>::infinity();
    for (PacketLedger::Entry& e : entries) {
        const double distance = std::abs(e.seconds - seconds);
        if (e.payload != packet.payload || distance > reach || distance >= best_distance ||
            std::find(e.readings.begin(), e.readings.end(), reading) != e.readings.end())
            continue;
        best = &e;
        best_distance = distance;
    }
    if (best) {
        best->readings.push_back(reading);
        return false;
    }
    // Entries far behind can no longer match anything (the opening's branches go back at most
    // its length).
    const double horizon = seconds - 4.0 * reach - 2.0 * kOpeningSeconds;
    std::erase_if(entries, [&](const PacketLedger::Entry& e) { return e.seconds < horizon; });
    entries.push_back({packet.payload, seconds, {reading}});
    return true;
}

namespace {

// Resamples n samples per channel into the branch and decodes its whole frames (and, when
// `last`, what remains).
bool branch_run(SpeedSearch& search, SpeedBranch& branch, std::span<const float* const> frames,
                size_t n, bool last, const SpeedReport& report) {
    const size_t channels = frames.size();
    std::vector<const float*> chunk(channels);
    std::vector<DecoderChannel*> decoders(channels);
    std::vector<int32_t> found(channels);
    for (size_t c = 0; c < channels; ++c) {
        speed_resampler_run(branch.resamplers[c], {frames[c], n}, branch.pending[c]);
        decoders[c] = branch.decoders[c].get();
    }
    if (search.frame_length == 0) // an empty file: nothing to decode
        return true;
    // Every channel's resampler has produced the same count.
    size_t done = 0;
    const size_t available = branch.pending[0].size();
    while (available - done >= search.frame_length || (last && available > done)) {
        const size_t count = std::min(search.frame_length, available - done);
        for (size_t c = 0; c < channels; ++c)
            chunk[c] = branch.pending[c].data() + done;
        if (decoder_process_channels(decoders, chunk, count, found) >= 0)
            return false;
        done += count;
        branch.decoded += static_cast<int64_t>(count);
        const double seconds =
            static_cast<double>(branch.decoded) * branch.factor / static_cast<double>(search.rate);
        for (size_t c = 0; c < channels; ++c) {
            for (int32_t i = 0; i < found[c]; ++i) {
                const DecodedPacket& packet = decoders[c]->packets[static_cast<size_t>(i)];
                if (search.searching)
                    branch.opening_packets.push_back({static_cast<int32_t>(c), packet, seconds});
                else if (ledger_accept(search.ledger, static_cast<int32_t>(c), branch.reading,
                                       packet, seconds))
                    report(static_cast<int32_t>(c), packet);
            }
        }
    }
    for (std::vector<float>& p : branch.pending)
        p.erase(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(done));
    return true;
}

// Resamplers and decoder channels for a branch whose factor is set.
bool start_branch(const SpeedSearch& search, SpeedBranch& branch, size_t channels) {
    branch.resamplers.assign(channels, speed_resampler(branch.factor));
    branch.pending.resize(channels);
    for (size_t c = 0; c < channels; ++c) {
        branch.decoders.push_back(
            decoder_create(search.rate, search.configuration, search.owner_name));
        if (!branch.decoders.back())
            return false;
    }
    return true;
}

// Every branch of the grid over the opening, a batch at a time; the one that read the most
// packets there (the nearest to 1 on a tie), or one half a step beside it that reads more,
// goes on, and its packets are reported.
bool run_opening(SpeedSearch& search, bool last, const SpeedReport& report) {
    const size_t channels = search.opening.size();
    std::vector<const float*> frames(channels);
    for (size_t c = 0; c < channels; ++c)
        frames[c] = search.opening[c].data();
    const size_t n = search.opening.empty() ? 0 : search.opening[0].size();
    for (size_t first = 0; first < search.factors.size(); first += kBranchBatch) {
        std::vector<SpeedBranch> batch;
        for (size_t b = first; b < std::min(first + kBranchBatch, search.factors.size()); ++b) {
            SpeedBranch& branch = batch.emplace_back();
            branch.factor = search.factors[b];
            branch.reading = static_cast<int32_t>(b + 1);
            if (!start_branch(search, branch, channels))
                return false;
        }
        for (SpeedBranch& branch : batch) {
            if (!branch_run(search, branch, frames, n, last, report))
                return false;
            // The factors come nearest to 1 first, so a later branch must read more to win.
            if (!branch.opening_packets.empty() &&
                (search.branches.empty() ||
                 branch.opening_packets.size() > search.branches[0].opening_packets.size())) {
                search.branches.clear();
                search.branches.push_back(std::move(branch));
            }
        }
    }
    // Half a step to either side of the best: the speed is then never more than a quarter step
    // from the branch that goes on.
    if (!search.branches.empty()) {
        const double best = search.branches[0].factor;
        for (const double side : {-0.5, 0.5}) {
            SpeedBranch branch;
            branch.factor = best + side * kGridStep;
            branch.reading = static_cast<int32_t>(search.factors.size() + 1);
            if (!start_branch(search, branch, channels) ||
                !branch_run(search, branch, frames, n, last, report))
                return false;
            if (branch.opening_packets.size() > search.branches[0].opening_packets.size())
                search.branches[0] = std::move(branch);
        }
    }
    search.opening.clear();
    search.opening.shrink_to_fit();
    search.searching = false;
    for (SpeedBranch& branch : search.branches) {
        for (const SpeedBranch::Held& held : branch.opening_packets) {
            if (ledger_accept(search.ledger, held.channel, branch.reading, held.packet,
                              held.seconds))
                report(held.channel, held.packet);
        }
        branch.opening_packets.clear();
    }
    return true;
}

} // namespace

bool speed_search_frame(SpeedSearch& search, std::span<const float* const> frames, size_t n,
                        bool last, const SpeedReport& report) {
    try {
        if (search.searching) {
            for (size_t c = 0; c < frames.size(); ++c)
                search.opening[c].insert(search.opening[c].end(), frames[c], frames[c] + n);
            if (last || search.opening[0].size() >= search.opening_length)
                return run_opening(search, last, report);
            return true;
        }
        for (SpeedBranch& branch : search.branches) {
            if (!branch_run(search, branch, frames, n, last, report))
                return false;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}
