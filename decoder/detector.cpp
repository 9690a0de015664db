#include "decoder/detector.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "decoder/recovery.h"

namespace {

int32_t tolerance(const DecoderChannel& ch) {
    return static_cast<int32_t>(std::floor(static_cast<double>(ch.chip_length) * 0.05));
}

void push_at(DecoderChannel& ch, ChipTrack& track, int32_t q) {
    track_push(track, chip_value(ch, q), ch.work_b[static_cast<size_t>(q)], q + ch.chip_length);
}

void start_track(DecoderChannel& ch, int32_t p) {
    ChipTrack& track = ch.tracks[static_cast<size_t>(ch.replacement_slot)];
    track.values[0] = chip_value(ch, p);
    track.count = 1;
    track.average_length = 0;
    track.search_position = 0;
    track.next_instant = p + ch.chip_length;
    track.level = ch.work_b[static_cast<size_t>(p)];
    ch.replacement_slot = replacement_slot(ch);
}

void deactivate(ChipTrack& track) {
    track.count = 0;
    track.average_length = 0;
    track.level = 0.0f;
}

// Grows the four work buffers to hold `size` values; all or nothing.
bool reserve_work(DecoderChannel& ch, int32_t size) noexcept {
    if (size <= ch.work_capacity) return true;
    try {
        const auto n = static_cast<size_t>(size);
        std::vector<float> a(n), b(n), s(n);
        std::vector<int32_t> peaks;
        peaks.reserve(n);
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

}  // namespace

void detector_whiten(AdaptivePredictor& predictor, float floor_db, std::span<const float> input,
                     std::span<float> output) noexcept {
    const double floor = std::pow(10.0, static_cast<double>(floor_db) / 20.0);
    const double tenth = static_cast<double>(0.1f);
    // The level is carried in double within the frame and kept as float between frames, as
    // the encoder does with its envelope.
    double level = static_cast<double>(predictor.level);
    for (size_t i = 0; i < input.size(); ++i) {
        const double e = predictor_update(predictor, input[i]);
        const double magnitude = std::fabs(e);
        if (magnitude >= level) {
            level = magnitude;
        } else {
            level = level + tenth * (magnitude - level);
        }
        const double divisor = level > floor ? level : floor;
        output[i] = static_cast<float>(e * (1.0 / divisor));
    }
    predictor.level = static_cast<float>(level);
}

void comb_run(CombIntegrator& comb, std::span<float> b) noexcept {
    const auto n = static_cast<size_t>(comb.length);
    const auto count = b.size();
    const double tap0 = static_cast<double>(comb.taps[0]);
    const double tap1 = static_cast<double>(comb.taps[1]);
    for (size_t i = 0; i < count; ++i) {
        // Outputs N and N - 1 samples back; before the frame they are in the history, whose
        // index i holds the output N - i samples before the frame's first.
        const float back_n = i < n ? comb.history[i] : b[i - n];
        const float back_n1 = i + 1 < n ? comb.history[i + 1] : b[i + 1 - n];
        double sum = static_cast<double>(b[i]);
        sum += tap0 * static_cast<double>(back_n);
        sum += tap1 * static_cast<double>(back_n1);
        b[i] = static_cast<float>(sum);
    }
    std::copy(b.end() - static_cast<std::ptrdiff_t>(n), b.end(), comb.history.begin());
}

int32_t peak_picker_run(PeakPicker& picker, std::span<const float> b, std::vector<int32_t>& peaks) {
    const auto half = static_cast<size_t>(picker.half_width);
    const double rate = static_cast<double>(picker.adaptation_rate);
    const double fraction = static_cast<double>(picker.peak_fraction);
    const double factor = static_cast<double>(picker.deviation_factor);
    int32_t found = 0;
    if (b.size() < 2 * half + 1) return 0;
    for (size_t i = half; i + half < b.size(); ++i) {
        const double v = static_cast<double>(b[i]);
        const double d = v - static_cast<double>(picker.mean);
        picker.mean = static_cast<float>(static_cast<double>(picker.mean) + d * rate);
        const double dev = static_cast<double>(picker.deviation);
        picker.deviation = static_cast<float>(dev + (std::fabs(d) - dev) * rate);
        const double magnitude = std::fabs(v);
        const double level = static_cast<double>(picker.level);
        picker.level = magnitude >= level ? static_cast<float>(magnitude)
                                          : static_cast<float>(level + (magnitude - level) * rate);
        if (!(v > fraction * static_cast<double>(picker.level))) continue;
        if (!(v > static_cast<double>(picker.mean) + factor * static_cast<double>(picker.deviation))) continue;
        bool highest = true;
        for (size_t k = 1; k <= half && highest; ++k) {
            highest = b[i] > b[i - k] && b[i] > b[i + k];
        }
        if (highest) {
            peaks.push_back(static_cast<int32_t>(i));
            ++found;
        }
    }
    return found;
}

void track_push(ChipTrack& track, float value, float level_sample, int32_t next_instant) noexcept {
    if (track.count >= track.capacity) {
        std::copy(track.values.begin() + kTrackDrop, track.values.begin() + track.count,
                  track.values.begin());
        track.count -= kTrackDrop;
        // A search that stopped within the dropped values starts again at the oldest kept.
        track.search_position = std::max(0, track.search_position - kTrackDrop);
    }
    track.values[static_cast<size_t>(track.count)] = value;
    ++track.count;
    track.next_instant = next_instant;
    const double level = static_cast<double>(track.level);
    track.level = static_cast<float>(level + (static_cast<double>(level_sample) - level) *
                                                 static_cast<double>(0.3f));
}

int32_t replacement_slot(const DecoderChannel& channel) noexcept {
    int32_t slot = 0;
    float lowest = channel.tracks[0].level;
    if (lowest <= 0.0f) return slot;
    for (int32_t j = 0; j < kTrackCount; ++j) {
        const float level = channel.tracks[static_cast<size_t>(j)].level;
        if (level < lowest) {
            slot = j;
            lowest = level;
        }
        if (lowest <= 0.0f) break;
    }
    return slot;
}

float chip_value(const DecoderChannel& channel, int32_t i) noexcept {
    double tail = 0.0;
    if (channel.tail_correlator) {
        const FirFilter& t = *channel.tail_correlator;
        const int32_t g = channel.chip_length;
        const int32_t taps = t.taps;
        const int32_t first = i - g + 1;  // signal position met by tap 0
        const int32_t from_history = std::min(taps, std::max(0, -first));
        const float* w = t.coefficients.data();
        const float* history = t.history.data() + (g - 1 + first);
        int32_t k = 0;
        for (; k < from_history; ++k) {
            tail += static_cast<double>(w[k]) * static_cast<double>(history[k]);
        }
        const float* s = channel.work_s.data() + first;
        for (; k < taps; ++k) {
            tail += static_cast<double>(w[k]) * static_cast<double>(s[k]);
        }
    }
    return static_cast<float>(tail + static_cast<double>(channel.work_a[static_cast<size_t>(i)]));
}

void associate_peak(DecoderChannel& channel, int32_t p) noexcept {
    const int32_t g = channel.chip_length;
    int32_t best = tolerance(channel);
    int32_t chosen = -1;
    for (int32_t j = 0; j < kTrackCount; ++j) {
        ChipTrack& track = channel.tracks[static_cast<size_t>(j)];
        if (track.count <= 0) continue;
        int32_t q = track.next_instant;
        int32_t u = p - q;
        while (u > g / 2) {
            push_at(channel, track, q);
            q += g;
            u -= g;
        }
        if (std::abs(u) < best) {
            best = std::abs(u);
            chosen = j;
        }
    }
    if (chosen >= 0) {
        push_at(channel, channel.tracks[static_cast<size_t>(chosen)], p);
    } else {
        start_track(channel, p);
    }
}

int32_t decoder_process(DecoderChannel& ch, std::span<const float> samples) noexcept {
    const auto n = static_cast<int32_t>(samples.size());
    const int32_t count = n / ch.decimation;
    if (count < ch.minimum_frame_length) return 0;
    // The decimator writes one output per two inputs, (n + 1) / 2 of them for an odd n.
    if (!reserve_work(ch, (n + ch.decimation - 1) / ch.decimation)) return -1;
    const auto cnt = static_cast<size_t>(count);

    std::span<const float> stage_input = samples.first(cnt);
    if (ch.decimation_filter) {
        const auto outputs = static_cast<size_t>((n + 1) / 2);
        fir_run(*ch.decimation_filter, samples, std::span<float>(ch.work_b).first(outputs));
        stage_input = std::span<const float>(ch.work_b).first(cnt);
    }
    const std::span<float> a = std::span<float>(ch.work_a).first(cnt);
    const std::span<float> b = std::span<float>(ch.work_b).first(cnt);
    const std::span<float> s = std::span<float>(ch.work_s).first(cnt);

    detector_whiten(*ch.predictor, ch.level_floor_db, stage_input, a);
    fir_run(*ch.band_filter, a, s);
    fir_run(*ch.head_correlator, s, a);
    for (size_t i = 0; i < cnt; ++i) b[i] = std::fabs(a[i]);
    comb_run(ch.comb, b);
    ch.work_peaks.clear();
    peak_picker_run(ch.peak_picker, b, ch.work_peaks);
    for (const int32_t p : ch.work_peaks) associate_peak(ch, p);

    for (ChipTrack& track : ch.tracks) {
        if (track.count <= 0) continue;
        while (track.next_instant < count) push_at(ch, track, track.next_instant);
        track.next_instant -= count;
    }

    int32_t found = 0;
    const float threshold = ch.peak_picker.mean + ch.peak_picker.deviation;
    for (size_t j = 0; j < ch.tracks.size() && found < ch.packet_capacity; ++j) {
        ChipTrack& track = ch.tracks[j];
        if (track.count > 0) {
            const std::span<DecodedPacket> free_entries =
                std::span<DecodedPacket>(ch.packets).subspan(static_cast<size_t>(found));
            const int32_t r = packet_search(track, free_entries, ch.check_mask);
            if (r > 0) {
                found += r;
                track.level = ch.peak_picker.level;
            }
        }
        if (track.level < threshold) deactivate(track);
    }
    ch.replacement_slot = replacement_slot(ch);
    if (ch.tail_correlator) fir_prime(*ch.tail_correlator, s);
    return found;
}
