// The detector's pieces: whitening floor, comb, peak picker, chip tracks, track association,
// chip values across frames, and whole frames of silence and odd length.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <random>

#include "common/chip_waveform.h"
#include "common/predictor.h"
#include "decoder/decoder_channel.h"
#include "decoder/detector.h"

namespace {

std::vector<float> noise(size_t n, uint32_t seed, float scale = 1.0f) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-scale, scale);
    std::vector<float> v(n);
    for (float& x : v)
        x = dist(gen);
    return v;
}

// A channel whose work buffers hold a frame of `count` samples with a flat comb output.
DecoderChannelPtr channel_with_frame(int32_t rate, int32_t count) {
    DecoderChannelPtr ch = decoder_create(rate, "", "");
    ch->work_capacity = count;
    ch->work_a.assign(static_cast<size_t>(count), 0.5f);
    ch->work_b.assign(static_cast<size_t>(count), 1.0f);
    ch->work_s.assign(static_cast<size_t>(count + ch->history_length), 0.0f);
    return ch;
}

void activate(ChipTrack& track, int32_t next_instant, float level, double period) {
    track.count = 1;
    track.next_instant = next_instant;
    track.period = period;
    track.level = level;
}

TEST(Whitening, DividesByTheLevelButNeverByLessThanTheFloor) {
    // First sample: the window is empty, so e = d and the level becomes |d|.
    const struct {
        float input;
        double expected;
    } cases[] = {
        {0.5f, 1.0},                                  // level 0.5 is above the floor
        {1e-5f, 1e-5 / std::pow(10.0, -55.0 / 20.0)}, // level below the floor of -55 dB
        {0.0f, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const AdaptivePredictorPtr p = predictor_create(2, 0.01f, 0.001f);
        float out = -1.0f;
        predictor_whiten(*p, whitening_floor(-55.0f), std::span<const float>(&c.input, 1),
                         std::span<float>(&out, 1));
        EXPECT_NEAR(out, c.expected, 1e-6);
    }
}

TEST(Whitening, SilenceStaysSilent) {
    const AdaptivePredictorPtr p = predictor_create(2, 0.01f, 0.001f);
    const std::vector<float> in(1000, 0.0f);
    std::vector<float> out(1000, 1.0f);
    predictor_whiten(*p, whitening_floor(-55.0f), in, out);
    for (const float v : out)
        ASSERT_EQ(v, 0.0f);
}

TEST(Comb, ImpulseReturnsOnceAChipPeriodLaterAcrossFrames) {
    const auto ch = decoder_create(11025, "", ""); // N = 221, taps 0.4975 and 0.4975
    CombIntegrator comb = ch->comb;
    std::vector<float> frame1(300, 0.0f), frame2(300, 0.0f);
    frame1[250] = 1.0f;
    comb_run(comb, frame1);
    comb_run(comb, frame2);
    // 250 + 220 = 470 and 250 + 221 = 471 lie in the second frame, at 170 and 171.
    EXPECT_FLOAT_EQ(frame2[170], 0.4975f);
    EXPECT_FLOAT_EQ(frame2[171], 0.4975f);
    EXPECT_EQ(frame2[169], 0.0f);
    EXPECT_EQ(frame2[172], 0.0f);
}

TEST(Comb, BlockSizeDoesNotChangeTheOutput) {
    const auto ch = decoder_create(22050, "", "");
    const std::vector<float> input = noise(3000, 7);
    CombIntegrator whole = ch->comb;
    std::vector<float> a = input;
    comb_run(whole, a);
    CombIntegrator split = ch->comb;
    std::vector<float> b1(input.begin(), input.begin() + 1700),
        b2(input.begin() + 1700, input.end());
    comb_run(split, b1);
    comb_run(split, b2);
    b1.insert(b1.end(), b2.begin(), b2.end());
    EXPECT_EQ(a, b1);
}

// The comb against its recursion written out one output at a time over the whole signal, bit
// for bit: delays too short for four outputs at a time (N = 3, 4), just long enough (5) and
// the usual ones, with fractional taps, in frames of several sizes.
TEST(Comb, MatchesThePlainRecursionBitForBit) {
    for (const int32_t length : {3, 4, 5, 6, 221, 442}) {
        SCOPED_TRACE(length);
        CombIntegrator comb;
        comb.length = length;
        comb.taps = {0.3f * 0.995f, 0.7f * 0.995f};
        comb.history.assign(static_cast<size_t>(length), 0.0f);
        const std::vector<float> input = noise(5000, static_cast<uint32_t>(length));
        // y[i] = x[i] + tap0 y[i - N] + tap1 y[i - N + 1], summed in double from x[i].
        std::vector<float> plain(input.size());
        for (size_t i = 0; i < input.size(); ++i) {
            const auto at = [&](size_t back) {
                return i >= back ? static_cast<double>(plain[i - back]) : 0.0;
            };
            double sum = static_cast<double>(input[i]);
            sum += static_cast<double>(comb.taps[0]) * at(static_cast<size_t>(length));
            sum += static_cast<double>(comb.taps[1]) * at(static_cast<size_t>(length) - 1);
            plain[i] = static_cast<float>(sum);
        }
        // Frames are never shorter than the delay: the shortest here is exactly that long.
        const auto shortest = static_cast<size_t>(length);
        std::vector<float> got;
        size_t at = 0;
        for (const size_t n :
             {shortest, size_t{1001}, shortest, input.size() - 1001 - 2 * shortest}) {
            std::vector<float> frame(input.begin() + static_cast<std::ptrdiff_t>(at),
                                     input.begin() + static_cast<std::ptrdiff_t>(at + n));
            at += n;
            comb_run(comb, frame);
            got.insert(got.end(), frame.begin(), frame.end());
        }
        ASSERT_EQ(got.size(), plain.size());
        EXPECT_EQ(std::memcmp(got.data(), plain.data(), got.size() * sizeof(float)), 0);
    }
}

TEST(PeakPicker, PeaksMustStandAboveEightNeighboursOnEachSide) {
    std::vector<float> b(200, 100.0f);
    b[50] = 400.0f;  // a peak
    b[100] = 400.0f; // a plateau: not strictly above its neighbour
    b[101] = 400.0f;
    b[150] = 400.0f; // beaten by a neighbour 8 samples on
    b[158] = 401.0f;
    b[3] = 1000.0f;   // within the first 8 samples
    b[195] = 1000.0f; // within the last 8 samples
    PeakPicker picker;
    std::vector<int32_t> peaks;
    EXPECT_EQ(peak_picker_run(picker, b, peaks), 2);
    EXPECT_EQ(peaks, (std::vector<int32_t>{50, 158}));
}

TEST(PeakPicker, WeakBumpsAreNoPeaks) {
    std::vector<float> b(200, 100.0f);
    b[60] = 150.0f; // below mean + 3 deviations (100 + 60)
    PeakPicker picker;
    std::vector<int32_t> peaks;
    EXPECT_EQ(peak_picker_run(picker, b, peaks), 0);
}

TEST(ChipTrack, AFullTrackDropsTheFiftyOldest) {
    ChipTrack track;
    track.values.assign(kTrackCapacity, 0.0f);
    for (int32_t i = 0; i < kTrackCapacity; ++i)
        track_push(track, static_cast<float>(i), 0.0f);
    ASSERT_EQ(track.count, kTrackCapacity);
    track.search_position = 120;
    track_push(track, -1.0f, 0.0f);
    EXPECT_EQ(track.count, kTrackCapacity - 49);
    EXPECT_EQ(track.values[0], 50.0f);
    EXPECT_EQ(track.values[static_cast<size_t>(kTrackCapacity - 50)], -1.0f);
    EXPECT_EQ(track.search_position, 70);
    track.count = kTrackCapacity;
    track.search_position = 30;
    track_push(track, 1.0f, 0.0f);
    EXPECT_EQ(track.search_position, 0); // never below 0
}

TEST(ChipTrack, LevelFollowsTheLevelSampleByThreeTenths) {
    ChipTrack track;
    track.values.assign(kTrackCapacity, 0.0f);
    track.level = 10.0f;
    track_push(track, 0.0f, 20.0f);
    EXPECT_FLOAT_EQ(track.level, 13.0f);
}

TEST(ReplacementSlot, LowestLevelFirstOfEqualOnesAndInactiveSlotsAtOnce) {
    auto ch = decoder_create(22050, "", "");
    const struct {
        std::array<float, 10> levels;
        int32_t slot;
    } cases[] = {
        {{5, 4, 3, 7, 3, 9, 9, 9, 9, 9}, 2}, // all active: first of the lowest
        {{5, 4, 3, 0, 1, 9, 9, 9, 9, 9}, 3}, // an inactive slot is taken
        {{0, 4, 3, 7, 3, 9, 9, 9, 9, 9}, 0},
        {{5, 5, 5, 5, 5, 5, 5, 5, 5, 5}, 0},
    };
    for (const auto& c : cases) {
        for (size_t j = 0; j < 10; ++j)
            ch->tracks[j].level = c.levels[j];
        EXPECT_EQ(replacement_slot(*ch), c.slot);
    }
}

TEST(TrackAssociation, ToleranceIsTwentyTwoSamplesAt22050) {
    // G = 441, tolerance floor(441 * 0.05) = 22. A claimed peak starts no track.
    for (const int32_t distance : {-21, 21, 22, -22}) {
        SCOPED_TRACE(distance);
        auto ch = channel_with_frame(22050, 2000);
        activate(ch->tracks[0], 1000, 5.0f, 441.0);
        ch->replacement_slot = 1;
        associate_peak(*ch, 1000 + distance, 2000);
        const bool claimed = std::abs(distance) < 22;
        EXPECT_EQ(ch->tracks[0].count, 1);
        EXPECT_EQ(ch->tracks[1].count, claimed ? 0 : 1);
        if (!claimed) {
            EXPECT_EQ(ch->tracks[1].next_instant, 1000 + distance + 441);
        }
    }
}

TEST(TrackAssociation, ToleranceIsElevenSamplesAt11025) {
    for (const int32_t distance : {10, 11}) {
        SCOPED_TRACE(distance);
        auto ch = channel_with_frame(11025, 1000);
        activate(ch->tracks[0], 500, 5.0f, 220.5);
        ch->replacement_slot = 1;
        associate_peak(*ch, 500 + distance, 1000);
        EXPECT_EQ(ch->tracks[1].count, distance < 11 ? 0 : 1);
    }
}

TEST(TrackAssociation, TracksReadInstantsMoreThanHalfAChipBeforeThePeak) {
    auto ch = channel_with_frame(22050, 3000);
    activate(ch->tracks[0], 100, 5.0f, 441.0);
    ch->replacement_slot = 1;
    // 100, 541 and 982 lie more than 220 samples before 1500; 1423 is 77 before it but out of
    // tolerance, so the peak starts a new track, which reads its first chip there.
    associate_peak(*ch, 1500, 3000);
    EXPECT_EQ(ch->tracks[0].count, 4);
    EXPECT_EQ(ch->tracks[0].next_instant, 1423);
    EXPECT_EQ(ch->tracks[1].count, 1);
    EXPECT_EQ(ch->tracks[1].next_instant, 1500 + 441);
    EXPECT_EQ(ch->tracks[1].level, 1.0f); // the comb output, taken as it is
}

TEST(TrackAssociation, NewTrackTakesTheReplacementSlot) {
    auto ch = channel_with_frame(22050, 2000);
    for (size_t j = 0; j < 10; ++j)
        activate(ch->tracks[j], 1900, 10.0f + static_cast<float>(j), 441.0);
    ch->tracks[4].level = 2.0f;
    ch->tracks[4].average_length = 96;
    ch->replacement_slot = replacement_slot(*ch);
    ASSERT_EQ(ch->replacement_slot, 4);
    ch->work_b[500] = 50.0f;
    associate_peak(*ch, 500, 2000);
    EXPECT_EQ(ch->tracks[4].count, 1);
    EXPECT_EQ(ch->tracks[4].average_length, 0);
    EXPECT_EQ(ch->tracks[4].level, 50.0f);
    EXPECT_EQ(ch->replacement_slot, 0); // slot 0 now has the lowest level, 10
}

TEST(ChipValue, IsTheFullCorrelationAcrossFrames) {
    // The chip value at i correlates the whole waveform with the band-limited signal ending
    // at i, part of which lies in the previous frames.
    auto ch = channel_with_frame(22050, 800);
    const std::vector<float> w = chip_waveform_build(22050, 0, 441);
    const auto kept = static_cast<size_t>(ch->history_length);
    const std::vector<float> signal = noise(kept + 800, 3);
    ch->work_s = signal; // the kept samples, then the frame
    for (const int32_t i : {-2, 0, 1, 200, 440, 441, 799}) {
        SCOPED_TRACE(i);
        double direct = 0.0;
        for (int32_t m = 0; m < 441; ++m) {
            const auto at = static_cast<size_t>(static_cast<int32_t>(kept) + i - 440 + m);
            direct += static_cast<double>(w[static_cast<size_t>(m)]) * signal[at];
        }
        EXPECT_NEAR(chip_value(*ch, i), direct, 1e-4);
    }
}

TEST(DecoderProcess, SilenceStartsNoTrackAndFindsNothing) {
    for (const int32_t rate : {11025, 44100, 48000}) {
        SCOPED_TRACE(rate);
        auto ch = decoder_create(rate, "", "");
        const std::vector<float> frame(static_cast<size_t>(rate), 0.0f);
        for (int f = 0; f < 4; ++f)
            EXPECT_EQ(decoder_process(*ch, frame), 0);
        for (const ChipTrack& t : ch->tracks)
            EXPECT_EQ(t.count, 0);
    }
}

TEST(DecoderProcess, ShortFramesAreIgnoredWithoutAnyChange) {
    auto ch = decoder_create(44100, "", "");
    const std::vector<float> frame = noise(1321, 5); // 660 working samples, one below 661
    EXPECT_EQ(decoder_process(*ch, frame), 0);
    EXPECT_EQ(ch->work_capacity, 0);
    for (const float h : ch->whitener.forward->history)
        EXPECT_EQ(h, 0.0f);
}

TEST(DecoderProcess, OddFrameLengthGivesTheDecimatorRoomForItsExtraOutput) {
    auto ch = decoder_create(44100, "", "");
    const std::vector<float> frame = noise(44099, 9, 0.3f);
    EXPECT_GE(decoder_process(*ch, frame), 0);
    EXPECT_GE(ch->work_capacity, 44099);
    EXPECT_GE(decoder_process(*ch, std::span<const float>(frame).first(2001)), 0);
}

// What a channel keeps from frame to frame, as bits: whitening, picker, comb, tracks and the
// stored whitened history; and the frame's peaks.
std::vector<uint32_t> channel_bits(const DecoderChannel& ch) {
    std::vector<uint32_t> out;
    auto add = [&out](float v) { out.push_back(std::bit_cast<uint32_t>(v)); };
    for (const float v : ch.whitener.forward->history)
        add(v);
    for (const float v : ch.whitener.backward->history)
        add(v);
    add(static_cast<float>(ch.whitener.level));
    add(ch.peak_picker.level);
    add(ch.peak_picker.mean);
    add(ch.peak_picker.deviation);
    for (const float v : ch.comb.history)
        add(v);
    for (const ChipTrack& t : ch.tracks) {
        out.push_back(static_cast<uint32_t>(t.count));
        const auto instant = std::bit_cast<uint64_t>(t.next_instant);
        out.push_back(static_cast<uint32_t>(instant));
        out.push_back(static_cast<uint32_t>(instant >> 32));
        out.push_back(static_cast<uint32_t>(t.search_position));
        out.push_back(static_cast<uint32_t>(t.average_length));
        add(t.level);
        for (int32_t i = 0; i < t.count; ++i)
            add(t.values[static_cast<size_t>(i)]);
    }
    for (int32_t i = 0; i < ch.history_length; ++i)
        add(ch.work_s[static_cast<size_t>(i)]);
    out.push_back(static_cast<uint32_t>(ch.replacement_slot));
    for (const int32_t p : ch.work_peaks)
        out.push_back(static_cast<uint32_t>(p));
    return out;
}

// Noise with a short burst once per chip period (50 per second), which the comb builds up
// into peaks that tracks follow.
std::vector<float> bursts(size_t n, int32_t rate, size_t start, uint32_t seed) {
    std::vector<float> v = noise(n, seed, 0.1f);
    const auto period = static_cast<size_t>(rate / 50);
    for (size_t i = 0; i < n; ++i) {
        const size_t t = start + i;
        if (t % period < 20)
            v[i] += ((t * 7919) % 13 < 6) ? 0.3f : -0.3f;
    }
    return v;
}

// All channels of a frame at once leave every channel as one decoder_process call per channel
// does, bit for bit, for one to four channels (pairs and one left over), at a rate that is
// halved and one that is not, with an odd frame length and a frame too short to be read;
// the channels carry periodic bursts, so that peaks and tracks are found.
TEST(DecoderProcess, ChannelsTogetherMatchOneCallPerChannel) {
    for (const int32_t rate : {44100, 32000}) {
        for (size_t count = 1; count <= 4; ++count) {
            SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(count) + " channel(s)");
            std::vector<DecoderChannelPtr> single, joint;
            std::vector<DecoderChannel*> channels;
            for (size_t c = 0; c < count; ++c) {
                single.push_back(decoder_create(rate, "", ""));
                joint.push_back(decoder_create(rate, "", ""));
                channels.push_back(joint.back().get());
            }
            size_t peaks_seen = 0;
            const size_t lengths[] = {static_cast<size_t>(rate), static_cast<size_t>(rate),
                                      static_cast<size_t>(rate) - 1, 500,
                                      static_cast<size_t>(rate)};
            uint32_t seed = 1;
            size_t start = 0;
            for (const size_t n : lengths) {
                std::vector<std::vector<float>> frames;
                std::vector<const float*> pointers;
                for (size_t c = 0; c < count; ++c) {
                    frames.push_back(bursts(n, rate, start + 97 * c, seed++));
                    pointers.push_back(frames.back().data());
                }
                start += n;
                std::vector<int32_t> found(count, -7);
                ASSERT_EQ(decoder_process_channels(channels, pointers, n, found), -1);
                for (size_t c = 0; c < count; ++c) {
                    EXPECT_EQ(found[c], decoder_process(*single[c], frames[c]));
                    peaks_seen += joint[c]->work_peaks.size();
                    EXPECT_EQ(channel_bits(*joint[c]), channel_bits(*single[c])) << "channel " << c;
                }
            }
            EXPECT_GT(peaks_seen, 100u);
        }
    }
}

} // namespace
