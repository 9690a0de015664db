#include "encoder/modulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "common/packet.h"
#include "tests/support/wav_fixture.h"

namespace {

EncoderChannelPtr make_channel(const char* configuration = "", int32_t rate = 44100) {
    EncoderChannelPtr channel = encoder_create(rate, configuration, "abc");
    EXPECT_TRUE(channel);
    return channel;
}

// One channel of the fixture's music-like signal as floats.
std::vector<float> music(double seconds, int32_t rate = 44100) {
    fixture::WavSpec spec;
    spec.rate = rate;
    spec.channels = 1;
    spec.seconds = seconds;
    const fixture::WavData data = fixture::generate(spec);
    std::vector<float> out(data.samples.size());
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<float>(data.samples[i]) / 32768.0f;
    return out;
}

// Feeds `samples` in blocks of the given sizes, cycling through them; returns the packets begun.
int32_t feed(EncoderChannel& channel, std::vector<float>& samples, std::string_view payload,
             const std::vector<size_t>& sizes) {
    int32_t packets = 0;
    size_t at = 0;
    for (size_t k = 0; at < samples.size(); ++k) {
        const size_t n = std::min(sizes[k % sizes.size()], samples.size() - at);
        const int32_t begun =
            encoder_process(channel, std::span<float>(samples).subspan(at, n), payload);
        EXPECT_GE(begun, 0);
        packets += begun;
        at += n;
    }
    return packets;
}

// Chips of a Manchester-coded digit string, written out by hand: bit 1 = "01", bit 0 = "10".
std::string manchester(std::string_view bits) {
    std::string chips;
    for (const char b : bits)
        chips += b == '1' ? "01" : "10";
    return chips;
}

} // namespace

TEST(Modulator, FirstBlockSetsUpLeadIn) {
    // Payload 00FF: byte sum 236, and (236 * 882) >> 8 = 813.
    EXPECT_EQ(lead_in_start_position("00FF", 882), 813);
    EXPECT_EQ(lead_in_start_position("", 882), 0);

    const EncoderChannelPtr channel = make_channel();
    EXPECT_EQ(encoder_process(*channel, {}, "00FF"), 0);
    EXPECT_EQ(channel->chip_string, std::string(40, '1'));
    EXPECT_EQ(channel->chip_index, 0);
    EXPECT_EQ(channel->position_in_chip, 813);
    EXPECT_EQ(channel->samples_processed, 0);
    // A later empty block changes nothing.
    EXPECT_EQ(encoder_process(*channel, {}, "00FF"), 0);
    EXPECT_EQ(channel->position_in_chip, 813);
}

TEST(Modulator, LeadInLastsFortyChipsThenPacketsFollowBackToBack) {
    // The lead-in of 00FF at 44100 Hz ends 39 * 882 + 69 = 34467 samples after the start; the
    // packets that follow have 44 + 8L chips, 76 for L = 4, so one begins every 76 * 882.
    const EncoderChannelPtr channel = make_channel();
    std::vector<float> silence(34466 + 1 + 76 * 882, 0.0f);
    const std::span<float> all(silence);
    EXPECT_EQ(encoder_process(*channel, all.first(34466), "00FF"), 0);
    EXPECT_EQ(channel->chip_index, 39);
    EXPECT_EQ(encoder_process(*channel, all.subspan(34466, 1), "00FF"), 1);
    EXPECT_EQ(channel->chip_index, 0);
    EXPECT_EQ(channel->position_in_chip, 0);
    EXPECT_EQ(channel->chip_string.size(), 76u);
    EXPECT_EQ(channel->chip_string.substr(0, 12), "000111000111");
    EXPECT_EQ(encoder_process(*channel, all.subspan(34467, 76 * 882 - 1), "00FF"), 0);
    EXPECT_EQ(encoder_process(*channel, all.last(1), "00FF"), 1);
    EXPECT_EQ(channel->samples_processed, 34467 + 76 * 882);
}

TEST(Modulator, PacketLengthsFollowPayloadAndTimeStamp) {
    struct Case {
        const char* configuration;
        const char* payload;
        size_t chips;
    };
    const Case cases[] = {
        {"", "AB", 60},
        {" -addts 1", "AB", 84},
        {"", "0123ABCD", 108},
        {" -addts 1", "0123ABCD", 132},
        {" -rawbr 45", "1A20", 76},
        {" -addts 1 -rawbr 100", "1A20", 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.configuration) + " " + c.payload);
        const EncoderChannelPtr channel = make_channel(c.configuration);
        std::vector<float> silence(static_cast<size_t>(41 * channel->samples_per_chip), 0.0f);
        EXPECT_EQ(encoder_process(*channel, silence, c.payload), 1);
        EXPECT_EQ(channel->chip_string.size(), c.chips);
    }
}

TEST(Modulator, TimeStampsCountQuarterMinutesFromTheFileStart) {
    // 00FF with time stamps: packets of 100 chips (2 s) after a lead-in of 34467 samples, so
    // packet k starts at 0.7816 + 2k seconds and its stamp is the packet's end plus one chip
    // (+2.02 s) in quarter minutes, rounded: 0 up to packet 2, 1 from packet 3 (ends at 8.80 s),
    // 2 from packet 10 (ends at 22.80 s). Gray codes: 0 -> 000, 1 -> 001, 2 -> 003.
    const EncoderChannelPtr channel = make_channel(" -layer private -addts 1");
    const auto stamp_chips = [&] { return channel->chip_string.substr(12, 24); };
    const size_t lead_in = 34467;
    const size_t packet = 100 * 882;
    std::vector<float> silence(lead_in + 10 * packet, 0.0f);
    const std::span<float> all(silence);

    ASSERT_EQ(encoder_process(*channel, all.first(lead_in), "00FF"), 1);
    EXPECT_EQ(stamp_chips(), manchester("000000000000"));
    // The check value is masked with the private layer's mask.
    const std::array<char, 4> check = check_digits("00FF", 0x3472);
    std::string check_chips;
    hex_to_chips(std::string_view(check.data(), 4), check_chips);
    EXPECT_EQ(channel->chip_string.substr(100 - 32), check_chips);

    ASSERT_EQ(encoder_process(*channel, all.subspan(lead_in, 2 * packet), "00FF"), 2);
    EXPECT_EQ(stamp_chips(), manchester("000000000000"));
    ASSERT_EQ(encoder_process(*channel, all.subspan(lead_in + 2 * packet, packet), "00FF"), 1);
    EXPECT_EQ(stamp_chips(), manchester("000000000001"));
    ASSERT_EQ(encoder_process(*channel, all.subspan(lead_in + 3 * packet, 7 * packet), "00FF"), 7);
    EXPECT_EQ(stamp_chips(), manchester("000000000011"));
}

TEST(Modulator, SilenceStaysSilent) {
    const EncoderChannelPtr channel = make_channel(" -gain 5");
    std::vector<float> silence(3 * 44100, 0.0f);
    EXPECT_GT(feed(*channel, silence, "0123ABCD", {44100}), 0);
    for (const float x : silence)
        ASSERT_EQ(x, 0.0f);
}

TEST(Modulator, GainZeroLeavesAudioButCountsPackets) {
    const std::vector<float> original = music(6.0);
    std::vector<float> unmarked = original;
    std::vector<float> marked = original;
    const EncoderChannelPtr silent = make_channel(" -gain 0");
    const EncoderChannelPtr normal = make_channel();
    const int32_t silent_packets = feed(*silent, unmarked, "0123ABCD", {44100});
    const int32_t normal_packets = feed(*normal, marked, "0123ABCD", {44100});
    EXPECT_EQ(unmarked, original);
    EXPECT_NE(marked, original);
    // 0123ABCD: byte sum 208, first chip from position 716, so the lead-in ends at
    // 39 * 882 + 166 = 34564; packets of 108 chips (95256 samples) begin at 34564, 129820
    // and 225076 within the 264600 samples.
    EXPECT_EQ(silent_packets, 3);
    EXPECT_EQ(normal_packets, 3);
}

TEST(Modulator, MarkIsEnvelopeShapedWaveformTimesGain) {
    // During the lead-in every chip is "1": the mark added to each sample has the sign of the
    // waveform at its position, and doubling the gain doubles it (up to the rounding of the
    // watermarked sample to single precision).
    const std::vector<float> original = music(1.0);
    std::vector<float> once = original;
    std::vector<float> twice = original;
    const EncoderChannelPtr one = make_channel();
    const EncoderChannelPtr two = make_channel(" -gain -2");
    feed(*one, once, "0123ABCD", {44100});
    feed(*two, twice, "0123ABCD", {44100});
    const size_t start = 716;     // (208 * 882) >> 8 for 0123ABCD
    const size_t lead_in = 34564; // 39 * 882 + 166
    size_t checked = 0;
    for (size_t t = 0; t < lead_in; ++t) {
        const double mark1 = static_cast<double>(once[t]) - static_cast<double>(original[t]);
        const double mark2 = static_cast<double>(twice[t]) - static_cast<double>(original[t]);
        if (std::fabs(mark1) < 1e-5)
            continue;
        const float w = (*one->chip_waveform)[(start + t) % 882];
        EXPECT_EQ(mark1 > 0, w > 0.0f) << "sample " << t;
        EXPECT_NEAR(mark2 / mark1, 2.0, 1e-2) << "sample " << t;
        ++checked;
    }
    EXPECT_GT(checked, 10000u);
}

TEST(Modulator, BlockSizesDoNotChangeTheResult) {
    const std::vector<float> original = music(5.0);
    std::vector<float> whole = original;
    const EncoderChannelPtr reference = make_channel(" -addts 1");
    const int32_t reference_packets = feed(*reference, whole, "C0FFEE", {whole.size()});

    const std::vector<std::vector<size_t>> splits = {{44100}, {1},           {0, 1000, 1},
                                                     {882},   {12345, 0, 7}, {100000, 3}};
    for (const std::vector<size_t>& sizes : splits) {
        SCOPED_TRACE(::testing::PrintToString(sizes));
        std::vector<float> blocks = original;
        const EncoderChannelPtr channel = make_channel(" -addts 1");
        EXPECT_EQ(feed(*channel, blocks, "C0FFEE", sizes), reference_packets);
        EXPECT_EQ(channel->chip_string, reference->chip_string);
        EXPECT_EQ(channel->position_in_chip, reference->position_in_chip);
        // Equal but for the envelope level's single-precision rounding at block ends.
        for (size_t t = 0; t < whole.size(); ++t)
            ASSERT_NEAR(blocks[t], whole[t], 1e-6) << "sample " << t;
    }
}

// All channels of a block at once give what one call per channel gives: the same samples, bit
// for bit, and the same counts, for one to five channels (pairs and a channel left over), time
// stamps on, blocks of any size, empty blocks included.
TEST(Modulator, ChannelsTogetherMatchOneCallPerChannel) {
    const std::vector<size_t> sizes = {44100, 1, 0, 30000, 882, 7};
    for (size_t count = 1; count <= 5; ++count) {
        SCOPED_TRACE(std::to_string(count) + " channel(s)");
        std::vector<std::vector<float>> alone, together;
        std::vector<EncoderChannelPtr> single, joint;
        for (size_t c = 0; c < count; ++c) {
            fixture::WavSpec wav;
            wav.channels = 1;
            wav.seconds = 2.0;
            wav.seed = static_cast<uint32_t>(c + 1);
            wav.signal = c % 2 == 0 ? fixture::Signal::Music : fixture::Signal::Noise;
            const fixture::WavData data = fixture::generate(wav);
            std::vector<float> samples(data.samples.size());
            for (size_t i = 0; i < samples.size(); ++i)
                samples[i] = static_cast<float>(data.samples[i]) / 32768.0f;
            alone.push_back(samples);
            together.push_back(samples);
            single.push_back(make_channel(" -addts 1 -gain 1.5"));
            joint.push_back(make_channel(" -addts 1 -gain 1.5"));
        }
        std::vector<EncoderChannel*> channels;
        for (const EncoderChannelPtr& c : joint)
            channels.push_back(c.get());
        std::vector<int32_t> begun(count);
        const size_t total = alone[0].size();
        size_t at = 0;
        for (size_t k = 0; at < total; ++k) {
            const size_t n = std::min(sizes[k % sizes.size()], total - at);
            std::vector<float*> blocks;
            for (std::vector<float>& samples : together)
                blocks.push_back(samples.data() + at);
            ASSERT_EQ(encoder_process_channels(channels, blocks, n, "0123ABCD", begun), -1);
            for (size_t c = 0; c < count; ++c) {
                EXPECT_EQ(begun[c],
                          encoder_process(*single[c], std::span<float>(alone[c]).subspan(at, n),
                                          "0123ABCD"));
            }
            at += n;
        }
        for (size_t c = 0; c < count; ++c) {
            ASSERT_EQ(alone[c].size(), together[c].size());
            EXPECT_EQ(
                std::memcmp(alone[c].data(), together[c].data(), alone[c].size() * sizeof(float)),
                0)
                << "channel " << c;
        }
    }
}

// The two halves on a second cut into parts, each part continuing the previous one, give the
// floats of encoder_process on the whole second, two channels side by side or one alone; parts
// that each end a call round the envelope's level at every cut, and give other floats.
TEST(Modulator, HalvesOnPartsOfASecondMatchOneCall) {
    const std::vector<float> first = music(2.0);
    const std::vector<float> second(first.rbegin(), first.rend());
    for (const size_t count : {size_t{1}, size_t{2}}) {
        SCOPED_TRACE(count);
        std::vector<std::vector<float>> whole = {first, second};
        std::vector<std::vector<float>> parted = whole;
        std::vector<std::vector<float>> rounded = whole;
        std::vector<EncoderChannelPtr> one, cut, cut_rounded;
        std::vector<EncoderChannel*> cut_channels, rounded_channels;
        for (size_t c = 0; c < count; ++c) {
            one.push_back(make_channel());
            cut.push_back(make_channel());
            cut_rounded.push_back(make_channel());
            cut_channels.push_back(cut.back().get());
            rounded_channels.push_back(cut_rounded.back().get());
        }
        constexpr size_t kSecond = 44100;
        constexpr size_t kPart = 441; // a hundred parts per second
        std::vector<std::vector<float>> envelope(count, std::vector<float>(kPart));
        for (size_t at = 0; at < first.size(); at += kPart) {
            const bool ends_second = (at + kPart) % kSecond == 0;
            for (auto [blocks, channels, last] : {std::tuple(&parted, &cut_channels, ends_second),
                                                  std::tuple(&rounded, &rounded_channels, true)}) {
                std::vector<const float*> in;
                std::vector<float*> out;
                for (size_t c = 0; c < count; ++c) {
                    in.push_back((*blocks)[c].data() + at);
                    out.push_back(envelope[c].data());
                }
                encoder_envelope_channels(*channels, in, kPart, out, last);
                for (size_t c = 0; c < count; ++c) {
                    ASSERT_GE(encoder_modulate(*(*channels)[c],
                                               std::span<float>((*blocks)[c]).subspan(at, kPart),
                                               envelope[c], "0123ABCD"),
                              0);
                }
            }
        }
        for (size_t c = 0; c < count; ++c) {
            for (size_t at = 0; at < first.size(); at += kSecond)
                encoder_process(*one[c], std::span<float>(whole[c]).subspan(at, kSecond),
                                "0123ABCD");
            EXPECT_EQ(std::memcmp(whole[c].data(), parted[c].data(), first.size() * 4), 0);
            EXPECT_NE(std::memcmp(whole[c].data(), rounded[c].data(), first.size() * 4), 0);
        }
    }
}
