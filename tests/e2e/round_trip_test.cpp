// Round trips: generated audio watermarked by vekmrkenc and read back by vekmrkdec.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <vector>

#include "common/packet.h"
#include "tests/e2e/round_trip_support.h"

namespace {

using namespace e2e;

TEST(RoundTrip, PayloadFoundAtEveryEncoderRateMonoAndStereo) {
    fixture::TempDir dir;
    const struct {
        int32_t rate, channels;
        fixture::Signal signal;
    } cases[] = {
        {22050, 1, fixture::Signal::Noise}, {24000, 2, fixture::Signal::Music},
        {32000, 1, fixture::Signal::Music}, {44100, 2, fixture::Signal::Music},
        {48000, 1, fixture::Signal::Noise}, {44100, 1, fixture::Signal::Noise},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " channel(s)");
        const std::string input = write_audio(dir, "in.wav", c.rate, c.channels, 20.0, c.signal);
        const std::string marked = dir.file("marked.wav");
        const int written = encode({}, input, "0123ABCD", marked);
        ASSERT_EQ(written, 9 * c.channels); // 0.8 s lead-in, then a packet every 2.16 s
        const Decoded d = decode({}, marked);
        expect_only(d, "0123ABCD");
        // Of the 9 packets begun per channel the last is cut off by the end of the file, and
        // the first may pass before a chip track has locked on.
        EXPECT_GE(d.packets, 7 * c.channels);
        EXPECT_LE(d.packets, 8 * c.channels);
    }
}

// The audio through a windowed-sinc low-pass (255 taps, Blackman window), as 16-bit samples.
fixture::WavData low_pass(const fixture::WavData& audio, double cutoff_hz) {
    constexpr int kTaps = 255;
    const double cutoff = cutoff_hz / audio.rate;
    std::vector<double> h(kTaps);
    for (int k = 0; k < kTaps; ++k) {
        const double x = k - (kTaps - 1) / 2.0;
        const double sinc =
            x == 0.0 ? 2.0 * cutoff
                     : std::sin(2.0 * std::numbers::pi * cutoff * x) / (std::numbers::pi * x);
        const double t = 2.0 * std::numbers::pi * k / (kTaps - 1);
        h[static_cast<size_t>(k)] = sinc * (0.42 - 0.5 * std::cos(t) + 0.08 * std::cos(2.0 * t));
    }
    const auto step = static_cast<size_t>(audio.channels);
    fixture::WavData limited = audio;
    for (size_t i = 0; i < audio.samples.size(); ++i) {
        double sum = 0.0;
        for (size_t k = 0; k < h.size() && k * step <= i; ++k)
            sum += h[k] * audio.samples[i - k * step];
        limited.samples[i] = static_cast<int16_t>(std::lround(std::clamp(sum, -32768.0, 32767.0)));
    }
    return limited;
}

// Music with nothing above 10 kHz (a recording made at a lower rate) at 48 kHz: the encoder's
// predictor follows such audio closely, so the mark is weak under the music and clear only above
// the music's band edge, where the decoder must look for it.
TEST(RoundTrip, BandLimitedMusicAt48kHzDecodes) {
    fixture::TempDir dir;
    const fixture::WavData music =
        fixture::generate(fixture::settings(48000, 1, 20.0, fixture::Signal::Music));
    const std::string input = dir.file("in.wav");
    ASSERT_TRUE(fixture::write_wav(input, low_pass(music, 10000.0)));
    const std::string marked = dir.file("marked.wav");
    ASSERT_EQ(encode({}, input, "0123ABCD", marked), 9);
    const Decoded d = decode({}, marked);
    expect_only(d, "0123ABCD");
    EXPECT_GE(d.packets, 7);
}

// The marked file low-passed at 8 kHz: the band above holds nothing but rounding noise, which
// the whitening must not raise above the mark below the edge.
TEST(RoundTrip, MarkSurvivesALowPassAt8kHz) {
    fixture::TempDir dir;
    const std::string input = write_audio(dir, "in.wav", 44100, 1, 20.0, fixture::Signal::Music);
    const std::string marked = dir.file("marked.wav");
    ASSERT_EQ(encode({}, input, "0123ABCD", marked), 9);
    const std::optional<fixture::WavData> audio = fixture::read_wav(marked);
    ASSERT_TRUE(audio);
    const std::string filtered = dir.file("filtered.wav");
    ASSERT_TRUE(fixture::write_wav(filtered, low_pass(*audio, 8000.0)));
    const Decoded d = decode({}, filtered);
    expect_only(d, "0123ABCD");
    EXPECT_GE(d.packets, 6);
}

TEST(RoundTrip, TimeStampsMatchWhereThePacketsWereWritten) {
    for (const int32_t rate : {22050, 44100}) {
        SCOPED_TRACE(rate);
        fixture::TempDir dir;
        const double seconds = 40.0;
        const std::string input =
            write_audio(dir, "in.wav", rate, 1, seconds, fixture::Signal::Music, 3);
        const std::string marked = dir.file("marked.wav");
        ASSERT_GT(encode({"-addts", "1"}, input, "BEEF", marked), 0);
        const Decoded d = decode({}, marked, kNoOwner, seconds);
        expect_only(d, "BEEF");
        ASSERT_GE(d.packets, 12);
        int stamped = 0;
        int first = -1;
        int previous = -1;
        for (size_t i = 0; i < d.time_stamps.size(); ++i) {
            const int t = d.time_stamps[i];
            if (t < 0)
                continue; // an averaged time stamp may be unreliable
            ++stamped;
            if (first < 0)
                first = t;
            SCOPED_TRACE("packet " + std::to_string(i) + " at (T " + std::to_string(t) + ")");
            EXPECT_GE(t, previous);
            previous = t;
            // The packet ended within 7.5 s of t quarter minutes and was printed after it ended,
            // at most two packets and a frame later.
            EXPECT_GE(d.report_seconds[i], t * 15.0 - 7.5);
            EXPECT_LE(d.report_seconds[i], t * 15.0 + 7.5 + 6.0);
        }
        // Each packet's stamp is read from its own reading when that shows it clearly, so nearly
        // all packets carry one, also right after the stamp changes.
        EXPECT_GE(stamped * 5, d.packets * 4);
        // Packets of 2 s after a 0.8 s lead-in: the last one read, begun at 36.8 s, ends at 38.8 s,
        // (T 00:45).
        EXPECT_EQ(first, 0);
        EXPECT_EQ(previous, 3);
        EXPECT_NE(d.entries[0].find(" - (T 00:00) through (T 00:45)"), std::string::npos)
            << d.entries[0];
    }
}

// Marks that need the decoder to follow the encoder exactly: a chip of 1103 samples at 44.1 kHz
// and 40 chips per second (551.5 working samples), and the longest payload the encoder takes,
// whose packets of 828 chips last 16.6 s.
TEST(RoundTrip, FractionalChipPeriodAndLongestPayloadDecode) {
    fixture::TempDir dir;
    const std::string input = write_audio(dir, "in.wav", 44100, 1, 36.0, fixture::Signal::Music, 4);
    const std::string marked = dir.file("marked.wav");
    ASSERT_EQ(encode({"-rawbr", "40"}, input, "0123ABCD", marked), 13);
    const Decoded slow = decode({"-rawbr", "40"}, marked);
    expect_only(slow, "0123ABCD");
    EXPECT_GE(slow.packets, 9); // of 12 that end before the file does

    std::string longest;
    for (int i = 0; i < 98; ++i)
        longest += "0123456789ABCDEF"[(i * 7) % 16];
    ASSERT_EQ(encode({}, input, longest, marked), 3);
    const Decoded d = decode({}, marked);
    expect_only(d, longest);
    EXPECT_EQ(d.packets, 2); // the third ends with the file, no sync after it
}

TEST(RoundTrip, PrivateMarkIsReadOnlyWithItsOwnersLayer) {
    fixture::TempDir dir;
    const std::string input = write_audio(dir, "in.wav", 24000, 1, 20.0, fixture::Signal::Music, 5);
    const std::string marked = dir.file("private.wav");
    ASSERT_GT(encode({"-layer", "private"}, input, "0A1B", marked, owner("Alice")), 0);
    {
        SCOPED_TRACE("-layer private, same owner name");
        const Decoded d = decode({"-layer", "private"}, marked, owner("Alice"));
        expect_only(d, "0A1B");
        EXPECT_GE(d.packets, 6);
    }
    {
        SCOPED_TRACE("-layer Alice, no owner name here");
        const Decoded d = decode({"-layer", "Alice"}, marked, kNoOwner);
        expect_only(d, "0A1B");
        EXPECT_GE(d.packets, 6);
    }
    for (const auto& [options, env] :
         std::vector<std::pair<std::vector<std::string>, fixture::EnvChanges>>{
             {{}, owner("Alice")},
             {{"-layer", "public"}, owner("Alice")},
             {{"-layer", "Bob"}, owner("Alice")},
             {{"-layer", "private"}, owner("Bob")},
             {{"-layer", "alice"}, kNoOwner}}) {
        SCOPED_TRACE(options.empty() ? "default layer" : options[1]);
        expect_nothing(decode(options, marked, env));
    }
}

TEST(RoundTrip, PublicMarkIsNotReadOnAPrivateLayer) {
    fixture::TempDir dir;
    const std::string input = write_audio(dir, "in.wav", 22050, 1, 20.0, fixture::Signal::Noise, 6);
    const std::string marked = dir.file("public.wav");
    ASSERT_GT(encode({}, input, "CAFEBABE", marked), 0);
    expect_nothing(decode({"-layer", "private"}, marked, owner("Alice")));
    expect_nothing(decode({"-layer", "Alice"}, marked));
    expect_only(decode({"-layer", "public"}, marked), "CAFEBABE");
}

TEST(RoundTrip, UnmarkedAudioGivesAnEmptySummary) {
    fixture::TempDir dir;
    const std::string input =
        write_audio(dir, "music.wav", 44100, 2, 20.0, fixture::Signal::Music, 7);
    expect_nothing(decode({}, input));
    expect_nothing(decode({"-layer", "private"}, input, owner("Alice")));
}

// The lead-in ends "111" right before the sync "000111000111": read from three chips early
// this is an exact sync of the opposite polarity. Payloads whose check value's last digit
// has its weight-2 bit set (0123ABCD, check B74E) would otherwise lock every track three
// chips off; the others would lose the first packet of every track.
TEST(RoundTrip, LeadInDoesNotCostPacketsForEitherKindOfCheckValue) {
    fixture::TempDir dir;
    const std::string input =
        write_audio(dir, "noise.wav", 22050, 1, 20.0, fixture::Signal::Noise, 8);
    int weight_two_set = 0;
    int weight_two_clear = 0;
    for (const std::string payload : {"0123ABCD", "0A1B", "00FF", "7E"}) {
        const int last = static_cast<int>(kHexDigits.find(check_digits(payload, 0)[3]));
        ((last & 2) ? weight_two_set : weight_two_clear)++;
        for (const std::string gain : {"1", "2"}) {
            SCOPED_TRACE(payload + " at gain " + gain);
            const std::string marked = dir.file("marked.wav");
            const int written = encode({"-gain", gain}, input, payload, marked);
            ASSERT_GT(written, 0);
            const Decoded d = decode({}, marked);
            expect_only(d, payload);
            EXPECT_GE(d.packets, written - 2);
        }
    }
    EXPECT_GT(weight_two_set, 0);
    EXPECT_GT(weight_two_clear, 0);
}

} // namespace
