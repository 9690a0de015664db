#include "decoder/detector.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>

#include "common/comb_filter.h"
#include "decoder/recovery.h"

namespace {

// How far, in input samples, a peak may lie from a track's next instant to be the track's.
double tolerance(const DecoderChannel& ch) {
    return std::floor(static_cast<double>(ch.chip_length) * 0.05) * ch.decimation;
}

// Smoothing of a track's timing measurements once it has read this many chips; before that,
// their plain mean.
constexpr int32_t kTimingMemory = 32;
// Chips a new track reads before its clock starts to move.
constexpr int32_t kTimingSettle = 6;
// How much the period follows each one-sample step of the clock.
constexpr double kPeriodGain = 0.02;
// How much stronger a neighbouring sample must read than the instant before the clock moves.
constexpr double kTimingMargin = 0.1;

void start_track(DecoderChannel& ch, int32_t p, int32_t count) {
    ChipTrack& track = ch.tracks[static_cast<size_t>(ch.replacement_slot)];
    track.count = 0;
    track.average_length = 0;
    track.average_count = 0;
    track.lock_polarity = 0.0f;
    track.search_position = 0;
    track.next_instant = static_cast<double>(p) * ch.decimation;
    track.period = ch.chip_period * ch.decimation;
    track.timing_early = 0.0;
    track.timing_level = 0.0;
    track.timing_late = 0.0;
    track.chips_read = 0;
    track.level = 0.0f;
    track_read_chip(ch, track, count);
    track.level = ch.work_b[static_cast<size_t>(p)];
    ch.replacement_slot = replacement_slot(ch);
}

void deactivate(ChipTrack& track) {
    track.count = 0;
    track.average_length = 0;
    track.average_count = 0;
    track.lock_polarity = 0.0f;
    track.level = 0.0f;
}

// Grows the four work buffers to hold `size` values; all or nothing.
bool reserve_work(DecoderChannel& ch, int32_t size) noexcept {
    if (size <= ch.work_capacity)
        return true;
    try {
        const auto n = static_cast<size_t>(size);
        std::vector<float> a(n), b(n), s(n + static_cast<size_t>(ch.history_length));
        std::copy(ch.work_s.begin(), ch.work_s.begin() + ch.history_length, s.begin());
        std::vector<int32_t> peaks;
        peaks.reserve(n);
        // The whitening's scratch, so that it never allocates while it runs.
        ch.whitener.windowed.resize(n);
        ch.whitener.residual.resize(n);
        for (std::vector<double>& window : ch.whitener.windows)
            window.reserve(n);
        ch.work_a.swap(a);
        ch.work_b.swap(b);
        ch.work_s.swap(s);
        ch.work_peaks.swap(peaks);
        ch.work_capacity = size;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace

double whitening_floor(float floor_db) noexcept {
    return std::pow(10.0, static_cast<double>(floor_db) / 20.0);
}

void comb_run(CombIntegrator& comb, std::span<float> b) noexcept {
    comb_filter_run(b, comb.history, comb.taps[0], comb.taps[1]);
}

namespace {

// The peak picker on one channel or on two in lockstep: the statistics of every sample depend
// on those of the sample before, a chain of roundings that leaves the processor room for a
// second channel's chain. All frames have the same size. The statistics are carried as doubles
// that floats represent exactly, rounded where the picker's fields are stored.
template <size_t Lanes>
void pick_peaks(const std::array<PeakPicker*, Lanes>& pickers,
                const std::array<std::span<const float>, Lanes>& frames,
                const std::array<std::vector<int32_t>*, Lanes>& peaks) {
    const size_t size = frames[0].size();
    const auto half = static_cast<size_t>(pickers[0]->half_width);
    if (size < 2 * half + 1)
        return;
    auto single = [](double v) { return static_cast<double>(static_cast<float>(v)); };
    std::array<double, Lanes> rate, fraction, factor, mean, deviation, level;
    for (size_t c = 0; c < Lanes; ++c) {
        rate[c] = static_cast<double>(pickers[c]->adaptation_rate);
        fraction[c] = static_cast<double>(pickers[c]->peak_fraction);
        factor[c] = static_cast<double>(pickers[c]->deviation_factor);
        mean[c] = static_cast<double>(pickers[c]->mean);
        deviation[c] = static_cast<double>(pickers[c]->deviation);
        level[c] = static_cast<double>(pickers[c]->level);
    }
    for (size_t i = half; i + half < size; ++i) {
        for (size_t c = 0; c < Lanes; ++c) {
            const float* b = frames[c].data();
            const auto v = static_cast<double>(b[i]);
            const double d = v - mean[c];
            mean[c] = single(mean[c] + d * rate[c]);
            deviation[c] = single(deviation[c] + (std::fabs(d) - deviation[c]) * rate[c]);
            const double m = std::fabs(v);
            level[c] = m >= level[c] ? m : single(level[c] + (m - level[c]) * rate[c]);
            if (!(v > fraction[c] * level[c]) || !(v > mean[c] + factor[c] * deviation[c]))
                continue;
            bool highest = true;
            for (size_t k = 1; k <= half && highest; ++k) {
                highest = b[i] > b[i - k] && b[i] > b[i + k];
            }
            if (highest)
                peaks[c]->push_back(static_cast<int32_t>(i));
        }
    }
    for (size_t c = 0; c < Lanes; ++c) {
        pickers[c]->mean = static_cast<float>(mean[c]);
        pickers[c]->deviation = static_cast<float>(deviation[c]);
        pickers[c]->level = static_cast<float>(level[c]);
    }
}

} // namespace

int32_t peak_picker_run(PeakPicker& picker, std::span<const float> b, std::vector<int32_t>& peaks) {
    const size_t before = peaks.size();
    pick_peaks<1>({&picker}, {b}, {&peaks});
    return static_cast<int32_t>(peaks.size() - before);
}

void track_push(ChipTrack& track, float value, float level_sample) noexcept {
    if (track.count >= track.capacity) {
        std::copy(track.values.begin() + kTrackDrop, track.values.begin() + track.count,
                  track.values.begin());
        track.count -= kTrackDrop;
        // A search that stopped within the dropped values starts again at the oldest kept.
        track.search_position = std::max(0, track.search_position - kTrackDrop);
    }
    track.values[static_cast<size_t>(track.count)] = value;
    ++track.count;
    const double level = static_cast<double>(track.level);
    track.level = static_cast<float>(level + (static_cast<double>(level_sample) - level) *
                                                 static_cast<double>(0.3f));
}

int32_t replacement_slot(const DecoderChannel& channel) noexcept {
    int32_t slot = 0;
    float lowest = channel.tracks[0].level;
    if (lowest <= 0.0f)
        return slot;
    for (int32_t j = 0; j < kTrackCount; ++j) {
        const float level = channel.tracks[static_cast<size_t>(j)].level;
        if (level < lowest) {
            slot = j;
            lowest = level;
        }
        if (lowest <= 0.0f)
            break;
    }
    return slot;
}

float chip_value(const DecoderChannel& channel, int32_t f) noexcept {
    const int32_t d = channel.decimation;
    // The first working sample at or after f, and how many input samples after f it lies.
    const int32_t i = f >= 0 ? (f + d - 1) / d : -(-f / d);
    const int32_t phase = i * d - f;
    const std::vector<float>& reference = channel.references[static_cast<size_t>(phase)];
    const int32_t g = channel.chip_length;
    const float* s = channel.work_s.data() + (channel.history_length + i - g + 1);
    // Eight partial sums side by side (lane k mod 8), added up in a fixed order at the end.
    std::array<double, 8> lanes{};
    const float* r = reference.data();
    int32_t k = 0;
    for (; k + 8 <= g; k += 8) {
        for (size_t l = 0; l < lanes.size(); ++l) {
            const auto at = static_cast<size_t>(k) + l;
            lanes[l] += static_cast<double>(r[at]) * static_cast<double>(s[at]);
        }
    }
    for (; k < g; ++k)
        lanes[0] += static_cast<double>(r[k]) * static_cast<double>(s[k]);
    const double sum = ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) +
                       ((lanes[4] + lanes[5]) + (lanes[6] + lanes[7]));
    return static_cast<float>(sum);
}

void track_read_chip(DecoderChannel& ch, ChipTrack& track, int32_t count) noexcept {
    if (!(track.period > 0.0))
        track.period = ch.chip_period * ch.decimation;
    const auto f = static_cast<int32_t>(std::lround(track.next_instant));
    const float value = chip_value(ch, f);
    const int32_t d = ch.decimation;
    const int32_t level_at = std::clamp(f >= 0 ? (f + d - 1) / d : 0, 0, count - 1);
    track_push(track, value, ch.work_b[static_cast<size_t>(level_at)]);
    ++track.chips_read;

    // The smoothed magnitudes one input sample later and earlier: the clock moves one sample
    // towards the side that reads clearly stronger than the instant itself, and the period
    // follows a little, so that a slowly drifting chip clock is kept.
    const float late = chip_value(ch, f + kTimingReach);
    const float early = chip_value(ch, f - kTimingReach);
    const double rate = 1.0 / std::min(track.chips_read, kTimingMemory);
    track.timing_level += (static_cast<double>(std::fabs(value)) - track.timing_level) * rate;
    track.timing_late += (static_cast<double>(std::fabs(late)) - track.timing_late) * rate;
    track.timing_early += (static_cast<double>(std::fabs(early)) - track.timing_early) * rate;
    if (track.chips_read >= kTimingSettle) {
        const double bar = track.timing_level * (1.0 + kTimingMargin);
        int32_t step = 0;
        if (track.timing_late > bar && track.timing_late >= track.timing_early)
            step = 1;
        else if (track.timing_early > bar)
            step = -1;
        if (step != 0) {
            track.next_instant += step;
            track.period += step * kPeriodGain;
            // What was read one sample towards the step is now the instant itself.
            const double centre = track.timing_level;
            track.timing_level = step > 0 ? track.timing_late : track.timing_early;
            track.timing_late = step > 0 ? track.timing_level : centre;
            track.timing_early = step > 0 ? centre : track.timing_level;
        }
    }
    track.next_instant += track.period;
}

void associate_peak(DecoderChannel& channel, int32_t p, int32_t count) noexcept {
    const double at = static_cast<double>(p) * channel.decimation;
    double best = tolerance(channel);
    int32_t chosen = -1;
    for (int32_t j = 0; j < kTrackCount; ++j) {
        ChipTrack& track = channel.tracks[static_cast<size_t>(j)];
        if (track.count <= 0)
            continue;
        while (at - track.next_instant > track.period / 2)
            track_read_chip(channel, track, count);
        const double u = std::fabs(at - track.next_instant);
        if (u < best) {
            best = u;
            chosen = j;
        }
    }
    if (chosen < 0)
        start_track(channel, p, count);
}

namespace {

// The frame's working length: n / D, or 0 when the frame is shorter than the minimum and is
// to be ignored.
int32_t working_length(const DecoderChannel& ch, size_t n) {
    const int32_t count = static_cast<int32_t>(n) / ch.decimation;
    return count < ch.minimum_frame_length ? 0 : count;
}

// Room for the frame in the work buffers.
bool reserve_frame(DecoderChannel& ch, size_t n) noexcept {
    const auto length = static_cast<int32_t>(n);
    return reserve_work(ch, (length + ch.decimation - 1) / ch.decimation);
}

// After the whitening, whose output is in work_s: head correlation and comb, whose output, the
// level samples, is left in work_b.
void level_samples(DecoderChannel& ch, int32_t count) {
    const auto cnt = static_cast<size_t>(count);
    const std::span<float> a = std::span<float>(ch.work_a).first(cnt);
    const std::span<float> b = std::span<float>(ch.work_b).first(cnt);
    const std::span<float> s =
        std::span<float>(ch.work_s).subspan(static_cast<size_t>(ch.history_length), cnt);
    fir_run(*ch.head_correlator, s, a);
    for (size_t i = 0; i < cnt; ++i)
        b[i] = std::fabs(a[i]);
    comb_run(ch.comb, b);
}

// True when one of the packets found .. found + r - 1 carries the payload of one found before.
bool reads_again(const DecoderChannel& ch, int32_t found, int32_t r) {
    const auto at = [&ch](int32_t i) -> const DecodedPacket& {
        return ch.packets[static_cast<size_t>(i)];
    };
    for (int32_t i = found; i < found + r; ++i) {
        for (int32_t e = 0; e < found; ++e) {
            if (at(e).payload == at(i).payload)
                return true;
        }
    }
    return false;
}

// After the peak picking: the tracks follow the peaks, then the packet search and the choice
// of the tracks to keep. Returns the packets found.
int32_t follow_tracks(DecoderChannel& ch, int32_t count) {
    for (const int32_t p : ch.work_peaks)
        associate_peak(ch, p, count);

    // A chip is read once all the samples around its instant are in: the working sample at or
    // after the latest input instant read, f + kTimingReach, must be one of this frame's.
    const double end = static_cast<double>(count - 1) * ch.decimation - kTimingReach + 0.5;
    for (ChipTrack& track : ch.tracks) {
        if (track.count <= 0)
            continue;
        while (track.next_instant < end)
            track_read_chip(ch, track, count);
        track.next_instant -= static_cast<double>(count) * ch.decimation;
    }

    int32_t found = 0;
    const float threshold = ch.peak_picker.mean + ch.peak_picker.deviation;
    for (size_t j = 0; j < ch.tracks.size() && found < ch.packet_capacity; ++j) {
        ChipTrack& track = ch.tracks[j];
        if (track.count > 0) {
            const std::span<DecodedPacket> free_entries =
                std::span<DecodedPacket>(ch.packets).subspan(static_cast<size_t>(found));
            const int32_t r = packet_search(track, free_entries, ch.check_mask, ch.rawbr);
            if (r > 0 && reads_again(ch, found, r)) {
                // Another track read the same packet in this frame: this one follows the same
                // chips at another offset (a sharp correlation has side peaks that a clock can
                // lock on), and would report every packet twice.
                deactivate(track);
                continue;
            }
            if (r > 0) {
                found += r;
                track.level = ch.peak_picker.level;
            }
        }
        if (track.level < threshold)
            deactivate(track);
    }
    ch.replacement_slot = replacement_slot(ch);
    // Keep the frame's last whitened samples in front of the next frame's.
    const auto kept = static_cast<size_t>(ch.history_length);
    const auto last = ch.work_s.begin() + static_cast<std::ptrdiff_t>(count);
    std::copy(last, last + static_cast<std::ptrdiff_t>(kept), ch.work_s.begin());
    return found;
}

// Whitening into work_s, after the samples kept from earlier frames.
void whiten(DecoderChannel& ch, std::span<const float> input, int32_t count) {
    const auto cnt = static_cast<size_t>(count);
    whitener_run(ch.whitener, whitening_floor(ch.level_floor_db), input.first(cnt),
                 std::span<float>(ch.work_s).subspan(static_cast<size_t>(ch.history_length), cnt));
}

// whiten on two channels at once (the same level floor).
void whiten_pair(DecoderChannel& first, DecoderChannel& second, std::span<const float> first_input,
                 std::span<const float> second_input, int32_t count) {
    const auto cnt = static_cast<size_t>(count);
    const auto at = [cnt](DecoderChannel& ch) {
        return std::span<float>(ch.work_s).subspan(static_cast<size_t>(ch.history_length), cnt);
    };
    whitener_run_pair(first.whitener, second.whitener, whitening_floor(first.level_floor_db),
                      first_input.first(cnt), second_input.first(cnt), at(first), at(second));
}

std::span<const float> level_span(const DecoderChannel& ch, int32_t count) {
    return std::span<const float>(ch.work_b).first(static_cast<size_t>(count));
}

} // namespace

int32_t decoder_process(DecoderChannel& ch, std::span<const float> samples) noexcept {
    const int32_t count = working_length(ch, samples.size());
    if (count == 0)
        return 0;
    if (!reserve_frame(ch, samples.size()))
        return -1;
    whiten(ch, samples, count);
    level_samples(ch, count);
    ch.work_peaks.clear();
    peak_picker_run(ch.peak_picker, level_span(ch, count), ch.work_peaks);
    return follow_tracks(ch, count);
}

int32_t decoder_process_channels(std::span<DecoderChannel* const> channels,
                                 std::span<const float* const> frames, size_t n,
                                 std::span<int32_t> found) noexcept {
    for (size_t c = 0; c < channels.size(); ++c) {
        if (working_length(*channels[c], n) > 0 && !reserve_frame(*channels[c], n)) {
            // As one call per channel would: the channels before it are processed.
            for (size_t before = 0; before < c; ++before) {
                found[before] =
                    decoder_process(*channels[before], std::span<const float>(frames[before], n));
            }
            found[c] = -1;
            return static_cast<int32_t>(c);
        }
    }
    for (size_t c = 0; c < channels.size(); c += 2) {
        DecoderChannel& first = *channels[c];
        const int32_t count = working_length(first, n);
        const bool two = c + 1 < channels.size() && count > 0 &&
                         working_length(*channels[c + 1], n) == count &&
                         first.level_floor_db == channels[c + 1]->level_floor_db &&
                         first.peak_picker.half_width == channels[c + 1]->peak_picker.half_width;
        if (!two) {
            for (size_t k = c; k < std::min(c + 2, channels.size()); ++k) {
                found[k] = decoder_process(*channels[k], std::span<const float>(frames[k], n));
            }
            continue;
        }
        DecoderChannel& second = *channels[c + 1];
        whiten_pair(first, second, std::span<const float>(frames[c], n),
                    std::span<const float>(frames[c + 1], n), count);
        level_samples(first, count);
        level_samples(second, count);
        first.work_peaks.clear();
        second.work_peaks.clear();
        // The two channels' peak pickers side by side too.
        pick_peaks<2>({&first.peak_picker, &second.peak_picker},
                      {level_span(first, count), level_span(second, count)},
                      {&first.work_peaks, &second.work_peaks});
        found[c] = follow_tracks(first, count);
        found[c + 1] = follow_tracks(second, count);
    }
    return -1;
}
